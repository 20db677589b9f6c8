#include "clt_uploader/VDTCLTNanopbHelpers.h"

#include <pb_decode.h>
#include <pb_encode.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "VDTCORLibrary/VDTCORClock.h"
#include "VDTCORLibrary/VDTCORConsoleLogger.h"
#include "VDTCORLibrary/VDTCORPlatform.h"
#include "clt_uploader/VDTCLTConstants.h"
#include "clt_uploader/VDTCOREvent+VDTCLTSupport.h"
#include "platform/base/Bundle.h"
#include "platform/base/ProcessInfo.h"

namespace {

// The country of the user's locale ("en_US.UTF-8" gives "US"), if it names one.
std::optional<std::string> localeCountryCode() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (!value || !*value) continue;
    std::string locale(value);
    locale = locale.substr(0, locale.find_first_of(".@"));
    auto separator = locale.find('_');
    if (separator == std::string::npos || separator + 1 >= locale.size()) return std::nullopt;
    return locale.substr(separator + 1);
  }
  return std::nullopt;
}

std::optional<std::string> userLanguage() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (!value || !*value) continue;
    std::string locale(value);
    return locale.substr(0, locale.find_first_of("_.@"));
  }
  return std::nullopt;
}

// The bundle's localizations (its "<name>.lproj" folders), the user's language first.
std::optional<std::string> preferredLocalization() {
  auto bundle = platform::Bundle::mainBundle();
  if (!bundle) return std::nullopt;
  std::vector<std::string> localizations;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(bundle->bundlePath(), ec), end; !ec && it != end;
       it.increment(ec)) {
    if (it->path().extension() == ".lproj") localizations.push_back(it->path().stem().string());
  }
  if (localizations.empty()) return std::nullopt;
  std::sort(localizations.begin(), localizations.end());
  auto language = userLanguage();
  if (language &&
      std::find(localizations.begin(), localizations.end(), *language) != localizations.end()) {
    return language;
  }
  return localizations.front();
}

std::string nanopbError(const char* message) { return message ? message : "(none)"; }

}  // namespace

std::int32_t VDTCLTMappingIntegerValue(const std::string& mappingID) {
  long long value = std::strtoll(mappingID.c_str(), nullptr, 10);
  return static_cast<std::int32_t>(value);
}

namespace {

bool encodeBytes(pb_ostream_t* stream, const pb_field_t* field, const void* data,
                 std::size_t size) {
  return pb_encode_tag_for_field(stream, field) &&
         pb_encode_string(stream, static_cast<const pb_byte_t*>(data), size);
}

bool encodeText(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
  const auto* text = static_cast<const std::string*>(*arg);
  return encodeBytes(stream, field, text->data(), text->size());
}

// The payload straight from the event: present even when empty.
bool encodePayload(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
  const auto* event = static_cast<const VDTCOREvent*>(*arg);
  const auto& bytes = event->serializedDataObjectBytes();
  return encodeBytes(stream, field, bytes ? bytes->data() : nullptr, bytes ? bytes->size() : 0);
}

void setText(pb_callback_t& callback, const std::string& text) {
  callback.funcs.encode = encodeText;
  callback.arg = const_cast<std::string*>(&text);
}

bool encodeEvents(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
  const auto* records = static_cast<const std::vector<VDTCLTEventRecord>*>(*arg);
  for (const auto& record : *records) {
    if (!pb_encode_tag_for_field(stream, field) ||
        !pb_encode_submessage(stream, vdtclt_EventRecord_fields, &record.message)) {
      return false;
    }
  }
  return true;
}

bool encodeRequests(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
  const auto* requests = static_cast<const std::vector<VDTCLTMappingRequest>*>(*arg);
  for (const auto& request : *requests) {
    vdtclt_MappingRequest message = request.message;
    if (message.has_client && message.client.has_device) {
      const VDTCLTDeviceDescription& d = request.device;
      vdtclt_DeviceDescription& device = message.client.device;
      setText(device.os_major_version, d.osMajorVersion);
      setText(device.os_full_version, d.osFullVersion);
      if (d.appBuild) setText(device.app_build, *d.appBuild);
      if (d.country) setText(device.country, *d.country);
      setText(device.model, d.model);
      setText(device.language, d.language);
      setText(device.bundle_id, d.bundleID);
    }
    message.events.funcs.encode = encodeEvents;
    message.events.arg = const_cast<std::vector<VDTCLTEventRecord>*>(&request.events);
    if (!pb_encode_tag_for_field(stream, field) ||
        !pb_encode_submessage(stream, vdtclt_MappingRequest_fields, &message)) {
      return false;
    }
  }
  return true;
}

}  // namespace

VDTCLTDeviceDescription VDTCLTBuildDeviceDescription() {
  VDTCLTDeviceDescription device;
  std::string version = platform::ProcessInfo::processInfo().operatingSystemVersion();
  device.osMajorVersion = version.substr(0, version.find('.'));
  device.osFullVersion = version;
  auto bundle = platform::Bundle::mainBundle();
  if (bundle) {
    const platform::Value& build = bundle->objectForInfoDictionaryKey("CFBundleVersion");
    if (!build.isNil()) device.appBuild = build.description();
  }
  device.country = localeCountryCode();
  device.model = VDTCORHardwareModel();
  device.language = preferredLocalization().value_or(kVDTCLTDefaultLanguage);
  device.bundleID = bundle ? bundle->bundleIdentifier() : "";
  return device;
}

VDTCLTEventRecord VDTCLTBuildEventRecord(const VDTCOREventPtr& eventPtr) {
  VDTCLTEventRecord built;
  built.event = eventPtr;
  const VDTCOREvent& event = *eventPtr;
  vdtclt_EventRecord& record = built.message;
  // The payload is read from the event when encoded; the record keeps the event alive.
  record.payload.funcs.encode = encodePayload;
  record.payload.arg = const_cast<VDTCOREvent*>(&event);
  record.network_connection.connection_type = -1;
  const auto& clock = event.clockSnapshot();
  record.has_event_time_ms = true;
  record.event_time_ms = clock ? clock->timeMillis() : 0;
  record.has_event_uptime_ms = true;
  record.event_uptime_ms = clock ? clock->uptimeMilliseconds() : 0;
  record.has_timezone_offset_seconds = true;
  record.timezone_offset_seconds = clock ? clock->timezoneOffsetSeconds() : 0;
  if (event.customBytes()) {
    auto fields = VDTCLTSupport::requestFields(event);
    if (const auto& blob = fields.networkConnectionInfo) {
      // The blob is the little-endian image of the message with its presence flags; at most its
      // first 16 bytes are read, missing bytes count as zero.
      unsigned char image[16] = {};
      std::memcpy(image, blob->data(), std::min<std::size_t>(blob->size(), sizeof(image)));
      std::int32_t type = 0;
      std::uint32_t subtype = 0;
      for (int i = 3; i >= 0; --i) {
        type = static_cast<std::int32_t>((static_cast<std::uint32_t>(type) << 8) | image[4 + i]);
        subtype = (subtype << 8) | image[12 + i];
      }
      record.has_network_connection = true;
      record.network_connection.has_connection_type = image[0] != 0;
      record.network_connection.connection_type = type;
      record.network_connection.has_connection_subtype = image[8] != 0;
      record.network_connection.connection_subtype = subtype;
    }
    if (const auto& code = fields.eventCode) {
      record.has_event_code = true;
      record.event_code = static_cast<std::int32_t>(*code);
    }
  }
  return built;
}

VDTCLTMappingRequest VDTCLTBuildMappingRequest(std::int32_t mapping,
                                               const std::vector<VDTCOREventPtr>& events) {
  VDTCLTMappingRequest request;
  if (events.empty()) {
    VDTCORLogError(VDTCORMCEGeneralError, "%@", "An empty event set can't be serialized to proto.");
    return request;
  }
  vdtclt_MappingRequest& message = request.message;
  message.has_client = true;
  message.client.has_client_kind = true;
  message.client.client_kind = kVDTCLTClientKind;
  message.client.has_device = true;
  request.device = VDTCLTBuildDeviceDescription();
  message.has_mapping = true;
  message.mapping = mapping;
  request.events.reserve(events.size());
  for (const auto& event : events) request.events.push_back(VDTCLTBuildEventRecord(event));
  auto snapshot = VDTCORClock::snapshot();
  message.has_request_time_ms = true;
  message.request_time_ms = snapshot->timeMillis();
  message.has_request_uptime_ms = true;
  message.request_uptime_ms = snapshot->uptimeMilliseconds();
  return request;
}

VDTCLTBatchRequest VDTCLTBuildBatchRequest(
    const std::map<std::string, std::vector<VDTCOREventPtr>>& eventsByMappingID) {
  VDTCLTBatchRequest batch;
  batch.requests.reserve(eventsByMappingID.size());
  for (const auto& [mappingID, events] : eventsByMappingID) {
    batch.requests.push_back(
        VDTCLTBuildMappingRequest(VDTCLTMappingIntegerValue(mappingID), events));
  }
  return batch;
}

std::optional<platform::Bytes> VDTCLTEncodeBatchRequest(const VDTCLTBatchRequest& request) {
  vdtclt_BatchRequest message = vdtclt_BatchRequest_init_zero;
  message.requests.funcs.encode = encodeRequests;
  message.requests.arg = const_cast<std::vector<VDTCLTMappingRequest>*>(&request.requests);
  pb_ostream_t sizing = PB_OSTREAM_SIZING;
  if (!pb_encode(&sizing, vdtclt_BatchRequest_fields, &message)) {
    VDTCORLogError(VDTCORMCEGeneralError, "Error in nanopb encoding for size: %s",
                   nanopbError(PB_GET_ERROR(&sizing)));
    return std::nullopt;
  }
  platform::Bytes bytes(sizing.bytes_written);
  pb_ostream_t stream = pb_ostream_from_buffer(bytes.data(), bytes.size());
  if (!pb_encode(&stream, vdtclt_BatchRequest_fields, &message) ||
      stream.bytes_written != bytes.size()) {
    VDTCORLogError(VDTCORMCEGeneralError, "Error in nanopb encoding for bytes: %s",
                   nanopbError(PB_GET_ERROR(&stream)));
    return std::nullopt;
  }
  return bytes;
}

vdtclt_UploadResponse VDTCLTDecodeUploadResponse(const platform::Bytes& body,
                                                 platform::ErrorPtr* error) {
  // The settings' entries are never read: with no decoder set, nanopb skips them.
  vdtclt_UploadResponse response = vdtclt_UploadResponse_init_zero;
  pb_istream_t stream = pb_istream_from_buffer(body.data(), body.size());
  if (!pb_decode(&stream, vdtclt_UploadResponse_fields, &response)) {
    platform::setError(error, platform::Error::make(
                                  kVDTCLTURLErrorDomain, -1,
                                  {{kVDTCLTNanopbErrorKey, nanopbError(PB_GET_ERROR(&stream))}}));
    response = vdtclt_UploadResponse_init_zero;
  }
  return response;
}

std::optional<platform::Bytes> VDTCLTEncodedBatchForEvents(
    const std::vector<VDTCOREventPtr>& events) {
  // Most batches hold events of one mapping only: they need no grouping.
  const bool oneMapping =
      !events.empty() && std::all_of(events.begin(), events.end(), [&](const auto& event) {
        return event && event->mappingID() == events.front()->mappingID();
      });
  if (oneMapping) {
    VDTCLTBatchRequest batch;
    batch.requests.push_back(
        VDTCLTBuildMappingRequest(VDTCLTMappingIntegerValue(events.front()->mappingID()), events));
    return VDTCLTEncodeBatchRequest(batch);
  }
  std::map<std::string, std::vector<VDTCOREventPtr>> byMappingID;
  for (const auto& event : events) {
    if (event) byMappingID[event->mappingID()].push_back(event);
  }
  return VDTCLTEncodeBatchRequest(VDTCLTBuildBatchRequest(byMappingID));
}
