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
  if (language && std::find(localizations.begin(), localizations.end(), *language) !=
                      localizations.end()) {
    return language;
  }
  return localizations.front();
}

std::string nanopbError(const char* message) { return message ? message : "(none)"; }

}  // namespace

pb_bytes_array_t* VDTCLTBytesFromString(const std::optional<std::string>& string) {
  std::string text = string.value_or("");
  return VDTCLTBytesFromData(platform::Bytes(text.begin(), text.end()));
}

pb_bytes_array_t* VDTCLTBytesFromData(const std::optional<platform::Bytes>& data) {
  std::size_t length = data ? data->size() : 0;
  if (length > PB_SIZE_MAX) {
    VDTCORLogError(VDTCORMCEGeneralError, "Bytes of length %lu are too long to encode",
                   static_cast<unsigned long>(length));
    return nullptr;
  }
  auto* array = static_cast<pb_bytes_array_t*>(std::malloc(PB_BYTES_ARRAY_T_ALLOCSIZE(length)));
  if (!array) return nullptr;
  array->size = static_cast<pb_size_t>(length);
  if (length) std::memcpy(array->bytes, data->data(), length);
  return array;
}

std::int32_t VDTCLTMappingIntegerValue(const std::string& mappingID) {
  long long value = std::strtoll(mappingID.c_str(), nullptr, 10);
  return static_cast<std::int32_t>(value);
}

vdtclt_DeviceDescription VDTCLTBuildDeviceDescription() {
  vdtclt_DeviceDescription device = vdtclt_DeviceDescription_init_zero;
  std::string version = platform::ProcessInfo::processInfo().operatingSystemVersion();
  device.os_major_version = VDTCLTBytesFromString(version.substr(0, version.find('.')));
  device.os_full_version = VDTCLTBytesFromString(version);
  auto bundle = platform::Bundle::mainBundle();
  if (bundle) {
    const platform::Value& build = bundle->objectForInfoDictionaryKey("CFBundleVersion");
    if (!build.isNil()) device.app_build = VDTCLTBytesFromString(build.description());
  }
  if (auto country = localeCountryCode()) device.country = VDTCLTBytesFromString(country);
  device.model = VDTCLTBytesFromString(VDTCORHardwareModel());
  device.language =
      VDTCLTBytesFromString(preferredLocalization().value_or(kVDTCLTDefaultLanguage));
  device.bundle_id = VDTCLTBytesFromString(bundle ? bundle->bundleIdentifier() : "");
  return device;
}

vdtclt_EventRecord VDTCLTBuildEventRecord(const VDTCOREvent& event) {
  vdtclt_EventRecord record = vdtclt_EventRecord_init_zero;
  record.network_connection.connection_type = -1;
  const auto& clock = event.clockSnapshot();
  record.has_event_time_ms = true;
  record.event_time_ms = clock ? clock->timeMillis() : 0;
  record.has_event_uptime_ms = true;
  record.event_uptime_ms = clock ? clock->uptimeMilliseconds() : 0;
  record.has_timezone_offset_seconds = true;
  record.timezone_offset_seconds = clock ? clock->timezoneOffsetSeconds() : 0;
  if (event.customBytes()) {
    if (auto blob = VDTCLTSupport::networkConnectionInfoData(event)) {
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
    if (auto code = VDTCLTSupport::eventCode(event)) {
      record.has_event_code = true;
      record.event_code = static_cast<std::int32_t>(*code);
    }
  }
  record.payload = VDTCLTBytesFromData(event.serializedDataObjectBytes());
  return record;
}

vdtclt_MappingRequest VDTCLTBuildMappingRequest(std::int32_t mapping,
                                                const std::vector<VDTCOREventPtr>& events) {
  vdtclt_MappingRequest request = vdtclt_MappingRequest_init_zero;
  if (events.empty()) {
    VDTCORLogError(VDTCORMCEGeneralError, "%@", "An empty event set can't be serialized to proto.");
    return request;
  }
  request.has_client = true;
  request.client.has_client_kind = true;
  request.client.client_kind = kVDTCLTClientKind;
  request.client.has_device = true;
  request.client.device = VDTCLTBuildDeviceDescription();
  request.has_mapping = true;
  request.mapping = mapping;
  if (events.size() > PB_SIZE_MAX) return request;
  auto* records = static_cast<vdtclt_EventRecord*>(
      std::calloc(events.size(), sizeof(vdtclt_EventRecord)));
  if (!records) return request;
  for (std::size_t i = 0; i < events.size(); ++i) records[i] = VDTCLTBuildEventRecord(*events[i]);
  auto snapshot = VDTCORClock::snapshot();
  request.events = records;
  request.events_count = static_cast<pb_size_t>(events.size());
  request.has_request_time_ms = true;
  request.request_time_ms = snapshot->timeMillis();
  request.has_request_uptime_ms = true;
  request.request_uptime_ms = snapshot->uptimeMilliseconds();
  return request;
}

vdtclt_BatchRequest VDTCLTBuildBatchRequest(
    const std::map<std::string, std::vector<VDTCOREventPtr>>& eventsByMappingID) {
  vdtclt_BatchRequest batch = vdtclt_BatchRequest_init_zero;
  if (eventsByMappingID.empty() || eventsByMappingID.size() > PB_SIZE_MAX) return batch;
  auto* requests = static_cast<vdtclt_MappingRequest*>(
      std::calloc(eventsByMappingID.size(), sizeof(vdtclt_MappingRequest)));
  if (!requests) return batch;
  pb_size_t index = 0;
  for (const auto& [mappingID, events] : eventsByMappingID) {
    requests[index++] = VDTCLTBuildMappingRequest(VDTCLTMappingIntegerValue(mappingID), events);
  }
  batch.requests = requests;
  batch.requests_count = index;
  return batch;
}

platform::Bytes VDTCLTEncodeBatchRequest(const vdtclt_BatchRequest& request) {
  pb_ostream_t sizing = PB_OSTREAM_SIZING;
  if (!pb_encode(&sizing, vdtclt_BatchRequest_fields, &request)) {
    VDTCORLogError(VDTCORMCEGeneralError, "Error in nanopb encoding for size: %s",
                   nanopbError(PB_GET_ERROR(&sizing)));
  }
  platform::Bytes bytes(sizing.bytes_written);
  pb_ostream_t stream = pb_ostream_from_buffer(bytes.data(), bytes.size());
  if (!pb_encode(&stream, vdtclt_BatchRequest_fields, &request)) {
    VDTCORLogError(VDTCORMCEGeneralError, "Error in nanopb encoding for bytes: %s",
                   nanopbError(PB_GET_ERROR(&stream)));
  }
  return bytes;
}

vdtclt_UploadResponse VDTCLTDecodeUploadResponse(const platform::Bytes& body,
                                                 platform::ErrorPtr* error) {
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

platform::Bytes VDTCLTEncodedBatchForEvents(const std::vector<VDTCOREventPtr>& events) {
  std::map<std::string, std::vector<VDTCOREventPtr>> byMappingID;
  for (const auto& event : events) {
    if (event) byMappingID[event->mappingID()].push_back(event);
  }
  vdtclt_BatchRequest request = VDTCLTBuildBatchRequest(byMappingID);
  platform::Bytes bytes = VDTCLTEncodeBatchRequest(request);
  pb_release(vdtclt_BatchRequest_fields, &request);
  return bytes;
}
