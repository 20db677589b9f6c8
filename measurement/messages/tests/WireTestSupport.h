// Helpers for the message tests: hand-built protocol-buffer input and owned MessageInfos.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "measurement/messages/MSRPBMessageInfo.h"
#include "measurement/messages/MSRPBSchema.h"

namespace msrpb_test {

using Wire = std::vector<std::uint8_t>;

inline void varint(Wire& out, std::uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<std::uint8_t>(value | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<std::uint8_t>(value));
}
inline void tag(Wire& out, std::uint32_t number, int wireType) {
  varint(out, (static_cast<std::uint64_t>(number) << 3) | static_cast<std::uint32_t>(wireType));
}
inline void varintField(Wire& out, std::uint32_t number, std::uint64_t value) {
  tag(out, number, 0);
  varint(out, value);
}
inline void bytesField(Wire& out, std::uint32_t number, const Wire& value) {
  tag(out, number, 2);
  varint(out, value.size());
  out.insert(out.end(), value.begin(), value.end());
}
inline void stringField(Wire& out, std::uint32_t number, const std::string& value) {
  bytesField(out, number, Wire(value.begin(), value.end()));
}

struct InfoDeleter {
  const MSRPBMessageType* type;
  void operator()(MessageInfo* info) const {
    if (info != nullptr) MSRPBMessageDeallocate(*type, info);
  }
};
using OwnedInfo = std::unique_ptr<MessageInfo, InfoDeleter>;

inline OwnedInfo newInfo(const MSRPBMessageType& type) {
  auto* info = static_cast<MessageInfo*>(std::calloc(1, sizeof(MessageInfo)));
  MSRPBMessageInit(type, info);
  return OwnedInfo(info, InfoDeleter{&type});
}

// Encodes with the type's codec; an empty vector with ok false on failure.
inline Wire encode(const MSRPBMessageType& type, const MessageInfo* info, bool* ok = nullptr) {
  std::uint8_t* output = nullptr;
  const std::int32_t length = MSRPBMessageEncode(type, info, &output);
  if (ok != nullptr) *ok = length >= 0 && output != nullptr;
  Wire bytes;
  if (length > 0 && output != nullptr) bytes.assign(output, output + length);
  std::free(output);
  return bytes;
}

}  // namespace msrpb_test
