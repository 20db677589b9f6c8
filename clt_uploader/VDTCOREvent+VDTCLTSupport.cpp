#include <nlohmann/json.hpp>
#include <string>

#include "VDTCORLibrary/VDTCORConsoleLogger.h"
#include "clt_uploader/VDTCLTConstants.h"
#include "clt_uploader/VDTCOREvent+VDTCLTSupport.h"
#include "platform/runtime/Crypto.h"

namespace VDTCLTSupport {
namespace {

using nlohmann::json;

// The event's JSON object: an empty object without custom bytes; nullopt (after the log line)
// when the bytes are not a JSON object.
std::optional<json> readObject(const VDTCOREvent& event, std::string_view failure) {
  if (!event.customBytes()) return json::object();
  try {
    json parsed = json::parse(event.customBytes()->begin(), event.customBytes()->end());
    if (!parsed.is_object()) throw std::runtime_error("custom bytes are not a JSON object");
    return parsed;
  } catch (const std::exception& e) {
    VDTCORLogToConsole(VDTCORMCDDebugLog, VDTCORLoggingLevelDebug, failure, std::string(e.what()));
    return std::nullopt;
  }
}

void writeObject(VDTCOREvent& event, const json& object, std::string_view failure) {
  try {
    std::string text = object.dump();
    event.setCustomBytes(platform::Bytes(text.begin(), text.end()));
  } catch (const std::exception& e) {
    VDTCORLogToConsole(VDTCORMCDDebugLog, VDTCORLoggingLevelDebug, failure, std::string(e.what()));
    event.setCustomBytes(std::nullopt);
  }
}

}  // namespace

void setNeedsNetworkConnectionInfoPopulated(VDTCOREvent& event, bool needed) {
  constexpr std::string_view failure =
      "Error when setting the event for needs_network_connection_info: %@";
  if (needed) {
    auto object = readObject(event, failure);
    if (!object) return;
    (*object)[kVDTCLTNeedsNetworkConnectionInfoKey] = true;
    writeObject(event, *object, failure);
    return;
  }
  if (!event.customBytes()) return;
  auto object = readObject(event, failure);
  if (!object || !object->contains(kVDTCLTEventCodeInfoKey)) return;
  json only = json::object();
  only[kVDTCLTEventCodeInfoKey] = (*object)[kVDTCLTEventCodeInfoKey];
  writeObject(event, only, failure);
}

bool needsNetworkConnectionInfoPopulated(const VDTCOREvent& event) {
  if (!event.customBytes()) return false;
  auto object =
      readObject(event, "Error when checking the event for needs_network_connection_info: %@");
  if (!object) return false;
  auto it = object->find(kVDTCLTNeedsNetworkConnectionInfoKey);
  return it != object->end() && it->is_boolean() && it->get<bool>();
}

void setNetworkConnectionInfoData(VDTCOREvent& event, const std::optional<platform::Bytes>& blob) {
  if (!blob) return;
  constexpr std::string_view failure = "Error when setting an event's network_connection_info: %@";
  auto object = readObject(event, failure);
  if (!object) return;
  (*object)[kVDTCLTNetworkConnectionInfoKey] = platform::crypto::base64Encode(*blob);
  writeObject(event, *object, failure);
}

std::optional<platform::Bytes> networkConnectionInfoData(const VDTCOREvent& event) {
  if (!event.customBytes()) return std::nullopt;
  auto object = readObject(event, "Error when getting an event's network_connection_info: %@");
  if (!object) return std::nullopt;
  auto it = object->find(kVDTCLTNetworkConnectionInfoKey);
  if (it == object->end() || !it->is_string()) return std::nullopt;
  return platform::crypto::base64Decode(it->get<std::string>());
}

void setEventCode(VDTCOREvent& event, std::optional<std::int64_t> code) {
  constexpr std::string_view failure = "Error when setting an event's event_code: %@";
  if (!code) {
    if (!event.customBytes()) return;
    auto object = readObject(event, failure);
    if (!object) return;
    object->erase(kVDTCLTEventCodeInfoKey);
    writeObject(event, *object, failure);
    return;
  }
  auto object = readObject(event, failure);
  if (!object) return;
  (*object)[kVDTCLTEventCodeInfoKey] = std::to_string(*code);
  writeObject(event, *object, failure);
}

namespace {

std::optional<std::int64_t> eventCodeOf(const json& object) {
  auto it = object.find(kVDTCLTEventCodeInfoKey);
  if (it == object.end() || !it->is_string()) return std::nullopt;
  const std::string text = it->get<std::string>();
  char* end = nullptr;
  long long value = std::strtoll(text.c_str(), &end, 10);
  if (end == text.c_str()) return std::nullopt;
  return value;
}

bool mentions(const platform::Bytes& bytes, std::string_view key) {
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return text.find(key) != std::string_view::npos;
}

}  // namespace

std::optional<std::int64_t> eventCode(const VDTCOREvent& event) {
  if (!event.customBytes()) return std::nullopt;
  auto object = readObject(event, "Error when getting an event's event_code: %@");
  if (!object) return std::nullopt;
  return eventCodeOf(*object);
}

namespace {

// Reads the two top-level string values a request needs without building the whole document:
// a batch reads them for every event. The last occurrence of a key wins, as in a parsed object.
class RequestFieldsReader : public nlohmann::json_sax<json> {
 public:
  std::optional<std::string> networkConnectionInfo, eventCode;
  std::string error;

  bool null() override { return value(); }
  bool boolean(bool) override { return value(); }
  bool number_integer(number_integer_t) override { return value(); }
  bool number_unsigned(number_unsigned_t) override { return value(); }
  bool number_float(number_float_t, const string_t&) override { return value(); }
  bool binary(binary_t&) override { return value(); }
  bool string(string_t& text) override {
    if (depth_ == 1 && current_) *current_ = text;
    current_ = nullptr;
    return true;
  }
  bool start_object(std::size_t) override { return open(); }
  bool end_object() override { return close(); }
  bool start_array(std::size_t) override {
    if (depth_ == 0) return notAnObject();
    return open();
  }
  bool end_array() override { return close(); }
  bool key(string_t& name) override {
    current_ = nullptr;
    if (depth_ != 1) return true;
    if (name == kVDTCLTNetworkConnectionInfoKey) current_ = &networkConnectionInfo;
    if (name == kVDTCLTEventCodeInfoKey) current_ = &eventCode;
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
    error = e.what();
    return false;
  }

 private:
  // A value other than a string for a key of ours: like a parsed object, it gives nothing.
  bool value() {
    if (depth_ == 0) return notAnObject();
    if (depth_ == 1 && current_) current_->reset();
    current_ = nullptr;
    return true;
  }
  bool open() {
    if (depth_ == 1 && current_) current_->reset();
    current_ = nullptr;
    ++depth_;
    return true;
  }
  bool close() {
    --depth_;
    return true;
  }
  bool notAnObject() {
    error = "custom bytes are not a JSON object";
    return false;
  }

  int depth_ = 0;
  std::optional<std::string>* current_ = nullptr;
};

}  // namespace

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The plain form this program writes, an object whose members are all strings without escapes
// ({"event_code_info":"7"}), read in one pass without the general parser. Anything else (an
// escape, a value of another kind, a byte outside that shape) answers false, and the general
// parser reads the bytes instead, so the two always agree.
bool readPlainObject(std::string_view text, std::optional<std::string_view>* networkConnectionInfo,
                     std::optional<std::string_view>* eventCode) {
  std::size_t i = 0;
  auto skipBlanks = [&] {
    while (i < text.size() && isBlank(text[i])) ++i;
  };
  // A string without escapes or control characters, from its opening quote.
  auto plainString = [&](std::string_view* out) {
    if (i >= text.size() || text[i] != '"') return false;
    const std::size_t start = ++i;
    while (i < text.size() && text[i] != '"') {
      const auto c = static_cast<unsigned char>(text[i]);
      if (c == '\\' || c < 0x20 || c >= 0x80) return false;
      ++i;
    }
    if (i >= text.size()) return false;
    *out = text.substr(start, i - start);
    ++i;
    return true;
  };
  skipBlanks();
  if (i >= text.size() || text[i] != '{') return false;
  ++i;
  skipBlanks();
  if (i < text.size() && text[i] == '}') {
    ++i;
  } else {
    for (;;) {
      std::string_view name, value;
      skipBlanks();
      if (!plainString(&name)) return false;
      skipBlanks();
      if (i >= text.size() || text[i] != ':') return false;
      ++i;
      skipBlanks();
      if (!plainString(&value)) return false;
      if (name == kVDTCLTNetworkConnectionInfoKey) *networkConnectionInfo = value;
      if (name == kVDTCLTEventCodeInfoKey) *eventCode = value;
      skipBlanks();
      if (i < text.size() && text[i] == ',') {
        ++i;
        continue;
      }
      if (i < text.size() && text[i] == '}') {
        ++i;
        break;
      }
      return false;
    }
  }
  skipBlanks();
  return i == text.size();
}

}  // namespace

RequestFields requestFields(const VDTCOREvent& event) {
  RequestFields fields;
  const auto& bytes = event.customBytes();
  // Every batch builds a record per event: bytes that name neither key, not even through an
  // escape, are not parsed at all.
  if (!bytes || (!mentions(*bytes, kVDTCLTNetworkConnectionInfoKey) &&
                 !mentions(*bytes, kVDTCLTEventCodeInfoKey) && !mentions(*bytes, "\\"))) {
    return fields;
  }
  std::optional<std::string> networkConnectionInfo, eventCode;
  std::optional<std::string_view> plainInfo, plainCode;
  const std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
  if (readPlainObject(text, &plainInfo, &plainCode)) {
    if (plainInfo) networkConnectionInfo = std::string(*plainInfo);
    if (plainCode) eventCode = std::string(*plainCode);
  } else {
    RequestFieldsReader reader;
    if (!json::sax_parse(bytes->begin(), bytes->end(), &reader) || !reader.error.empty()) {
      VDTCORLogToConsole(VDTCORMCDDebugLog, VDTCORLoggingLevelDebug,
                         "Error when getting an event's custom bytes: %@",
                         reader.error.empty() ? std::string("unreadable") : reader.error);
      return fields;
    }
    networkConnectionInfo = std::move(reader.networkConnectionInfo);
    eventCode = std::move(reader.eventCode);
  }
  if (networkConnectionInfo) {
    fields.networkConnectionInfo = platform::crypto::base64Decode(*networkConnectionInfo);
  }
  if (eventCode) {
    char* end = nullptr;
    long long value = std::strtoll(eventCode->c_str(), &end, 10);
    if (end != eventCode->c_str()) fields.eventCode = value;
  }
  return fields;
}

}  // namespace VDTCLTSupport
