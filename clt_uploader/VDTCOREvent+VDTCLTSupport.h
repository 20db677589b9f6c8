// The per-event extras of the batch uploader, kept as one compact JSON object in an event's
// custom bytes: "needs_network_connection_info", "network_connection_info" (base64 of the
// 16-byte connection blob) and "event_code_info". None of these raises; failures are logged and
// leave the event unchanged. The event is not locked: use it from one thread.
#pragma once

#include <cstdint>
#include <optional>

#include "VDTCORLibrary/VDTCOREvent.h"

namespace VDTCLTSupport {

void setNeedsNetworkConnectionInfoPopulated(VDTCOREvent& event, bool needed);
bool needsNetworkConnectionInfoPopulated(const VDTCOREvent& event);
// Nothing for a missing blob.
void setNetworkConnectionInfoData(VDTCOREvent& event, const std::optional<platform::Bytes>& blob);
std::optional<platform::Bytes> networkConnectionInfoData(const VDTCOREvent& event);
// A missing code removes the key and keeps the others.
void setEventCode(VDTCOREvent& event, std::optional<std::int64_t> code);
std::optional<std::int64_t> eventCode(const VDTCOREvent& event);

// Both values the request reads, from one parse of the custom bytes: what
// networkConnectionInfoData and eventCode give.
struct RequestFields {
  std::optional<platform::Bytes> networkConnectionInfo;
  std::optional<std::int64_t> eventCode;
};
RequestFields requestFields(const VDTCOREvent& event);

}  // namespace VDTCLTSupport
