#include "clt_uploader/VDTCOREvent+VDTCLTSupport.h"

#include <nlohmann/json.hpp>

#include <string>

#include "VDTCORLibrary/VDTCORConsoleLogger.h"
#include "clt_uploader/VDTCLTConstants.h"
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
  auto object = readObject(event, "Error when checking the event for needs_network_connection_info: %@");
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

std::optional<std::int64_t> eventCode(const VDTCOREvent& event) {
  if (!event.customBytes()) return std::nullopt;
  auto object = readObject(event, "Error when getting an event's event_code: %@");
  if (!object) return std::nullopt;
  auto it = object->find(kVDTCLTEventCodeInfoKey);
  if (it == object->end() || !it->is_string()) return std::nullopt;
  const std::string text = it->get<std::string>();
  char* end = nullptr;
  long long value = std::strtoll(text.c_str(), &end, 10);
  if (end == text.c_str()) return std::nullopt;
  return value;
}

}  // namespace VDTCLTSupport
