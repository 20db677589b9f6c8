// Building, encoding and decoding the upload messages with nanopb. Bytes and repeated fields are
// callback fields, written from the C++ records below, so neither a payload's size nor the number
// of events is bounded by nanopb's field sizes. Synchronous, on the caller's queue.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "VDTCORLibrary/VDTCOREvent.h"
#include "platform/base/Error.h"
#include "platform/base/Value.h"
#include "vdt_clt.pb.h"

// The device's description as text, built afresh for each mapping request.
struct VDTCLTDeviceDescription {
  std::string osMajorVersion;
  std::string osFullVersion;
  std::optional<std::string> appBuild;
  std::optional<std::string> country;
  std::string model;
  std::string language;
  std::string bundleID;
};

// One event record: its fixed fields filled in; its payload is read from the event while the
// body is written, so the event must outlive the encoding.
struct VDTCLTEventRecord {
  vdtclt_EventRecord message = vdtclt_EventRecord_init_zero;
  VDTCOREventPtr event;
};

struct VDTCLTMappingRequest {
  vdtclt_MappingRequest message = vdtclt_MappingRequest_init_zero;
  VDTCLTDeviceDescription device;  // written only when message.has_client
  std::vector<VDTCLTEventRecord> events;
};

struct VDTCLTBatchRequest {
  std::vector<VDTCLTMappingRequest> requests;
};

VDTCLTDeviceDescription VDTCLTBuildDeviceDescription();
VDTCLTEventRecord VDTCLTBuildEventRecord(const VDTCOREventPtr& event);
VDTCLTMappingRequest VDTCLTBuildMappingRequest(std::int32_t mapping,
                                               const std::vector<VDTCOREventPtr>& events);
VDTCLTBatchRequest VDTCLTBuildBatchRequest(
    const std::map<std::string, std::vector<VDTCOREventPtr>>& eventsByMappingID);
// The encoded message, or nullopt (logged) when it could not be encoded whole: a body that lacks
// part of an event must never be sent, or the event would be deleted undelivered.
std::optional<platform::Bytes> VDTCLTEncodeBatchRequest(const VDTCLTBatchRequest& request);
// An all-absent response and an error ("nanopb error:" in its user info) when the body does
// not decode. The response owns no memory.
vdtclt_UploadResponse VDTCLTDecodeUploadResponse(const platform::Bytes& body,
                                                 platform::ErrorPtr* error);

// The whole body of a batch: events grouped by mapping ID, encoded, released.
std::optional<platform::Bytes> VDTCLTEncodedBatchForEvents(
    const std::vector<VDTCOREventPtr>& events);
// The integer value of a mapping ID: its leading decimal integer, 0 when it has none.
std::int32_t VDTCLTMappingIntegerValue(const std::string& mappingID);
