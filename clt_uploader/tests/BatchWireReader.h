// Reads a batch request body back by the protocol-buffer wire rules alone (no generated code and
// no nanopb field size limits), so the tests see exactly what went over the wire.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace clt_testing {

struct WireField {
  std::uint32_t tag = 0;
  int wireType = 0;
  std::uint64_t varint = 0;  // wire types 0, 1 and 5
  std::string bytes;         // wire type 2
};

inline bool readVarint(std::string_view& data, std::uint64_t& value) {
  value = 0;
  for (int shift = 0; shift < 64 && !data.empty(); shift += 7) {
    auto byte = static_cast<unsigned char>(data.front());
    data.remove_prefix(1);
    value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
    if (!(byte & 0x80)) return true;
  }
  return false;
}

// Every field in order; nullopt when the bytes are not a well-formed message.
inline std::optional<std::vector<WireField>> parseMessage(std::string_view data) {
  std::vector<WireField> fields;
  while (!data.empty()) {
    std::uint64_t key = 0;
    if (!readVarint(data, key)) return std::nullopt;
    WireField field;
    field.tag = static_cast<std::uint32_t>(key >> 3);
    field.wireType = static_cast<int>(key & 7);
    switch (field.wireType) {
      case 0:
        if (!readVarint(data, field.varint)) return std::nullopt;
        break;
      case 1:
      case 5: {
        std::size_t width = field.wireType == 1 ? 8 : 4;
        if (data.size() < width) return std::nullopt;
        for (std::size_t i = 0; i < width; ++i) {
          field.varint |= static_cast<std::uint64_t>(static_cast<unsigned char>(data[i]))
                          << (8 * i);
        }
        data.remove_prefix(width);
        break;
      }
      case 2: {
        std::uint64_t length = 0;
        if (!readVarint(data, length) || length > data.size()) return std::nullopt;
        field.bytes = std::string(data.substr(0, length));
        data.remove_prefix(length);
        break;
      }
      default:
        return std::nullopt;
    }
    fields.push_back(std::move(field));
  }
  return fields;
}

struct WireEvent {
  std::optional<std::int64_t> timeMs, uptimeMs, timezoneOffset;
  std::optional<std::int32_t> eventCode;
  std::optional<std::string> payload;
  bool hasConnection = false;
  std::optional<std::int32_t> connectionType;
  std::optional<std::uint32_t> connectionSubtype;
};

struct WireMappingRequest {
  bool hasClient = false;
  std::optional<std::uint32_t> clientKind;
  std::map<std::uint32_t, std::string> device;  // tag to text
  std::optional<std::int32_t> mapping;
  std::vector<WireEvent> events;
  std::optional<std::int64_t> requestTimeMs, requestUptimeMs;
  bool hasTier = false;
};

inline std::optional<WireEvent> parseEvent(std::string_view data) {
  auto fields = parseMessage(data);
  if (!fields) return std::nullopt;
  WireEvent event;
  for (const auto& f : *fields) {
    switch (f.tag) {
      case 1:
        event.timeMs = static_cast<std::int64_t>(f.varint);
        break;
      case 6:
        event.payload = f.bytes;
        break;
      case 11:
        event.eventCode = static_cast<std::int32_t>(f.varint);
        break;
      case 15:  // zigzag
        event.timezoneOffset =
            static_cast<std::int64_t>(f.varint >> 1) ^ -static_cast<std::int64_t>(f.varint & 1);
        break;
      case 17:
        event.uptimeMs = static_cast<std::int64_t>(f.varint);
        break;
      case 23: {
        event.hasConnection = true;
        auto inner = parseMessage(f.bytes);
        if (!inner) return std::nullopt;
        for (const auto& c : *inner) {
          if (c.tag == 1) event.connectionType = static_cast<std::int32_t>(c.varint);
          if (c.tag == 2) event.connectionSubtype = static_cast<std::uint32_t>(c.varint);
        }
        break;
      }
      default:
        break;
    }
  }
  return event;
}

// The mapping requests of a batch request body; nullopt when it does not parse.
inline std::optional<std::vector<WireMappingRequest>> parseBatch(std::string_view body) {
  auto top = parseMessage(body);
  if (!top) return std::nullopt;
  std::vector<WireMappingRequest> requests;
  for (const auto& r : *top) {
    if (r.tag != 1 || r.wireType != 2) continue;
    auto fields = parseMessage(r.bytes);
    if (!fields) return std::nullopt;
    WireMappingRequest request;
    for (const auto& f : *fields) {
      switch (f.tag) {
        case 1: {
          request.hasClient = true;
          auto client = parseMessage(f.bytes);
          if (!client) return std::nullopt;
          for (const auto& c : *client) {
            if (c.tag == 1) request.clientKind = static_cast<std::uint32_t>(c.varint);
            if (c.tag != 4) continue;
            auto device = parseMessage(c.bytes);
            if (!device) return std::nullopt;
            for (const auto& d : *device) request.device[d.tag] = d.bytes;
          }
          break;
        }
        case 2:
          request.mapping = static_cast<std::int32_t>(f.varint);
          break;
        case 3: {
          auto event = parseEvent(f.bytes);
          if (!event) return std::nullopt;
          request.events.push_back(std::move(*event));
          break;
        }
        case 4:
          request.requestTimeMs = static_cast<std::int64_t>(f.varint);
          break;
        case 8:
          request.requestUptimeMs = static_cast<std::int64_t>(f.varint);
          break;
        case 9:
          request.hasTier = true;
          break;
        default:
          break;
      }
    }
    requests.push_back(std::move(request));
  }
  return requests;
}

}  // namespace clt_testing
