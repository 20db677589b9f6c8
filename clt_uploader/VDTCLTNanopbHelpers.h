// Building, encoding and decoding the upload messages with nanopb. Every allocation made here is
// freed by pb_release with the message's field table (VDTCLTEncodeBatchRequest and the caller of
// VDTCLTDecodeUploadResponse do that). Synchronous, on the caller's queue.
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

// The UTF-8 bytes of the text as an allocated array (empty for none).
pb_bytes_array_t* VDTCLTBytesFromString(const std::optional<std::string>& string);
// An allocated copy of the bytes (empty for none); null when allocation fails or the bytes are
// longer than a nanopb byte array can count.
pb_bytes_array_t* VDTCLTBytesFromData(const std::optional<platform::Bytes>& data);

vdtclt_DeviceDescription VDTCLTBuildDeviceDescription();
vdtclt_EventRecord VDTCLTBuildEventRecord(const VDTCOREvent& event);
vdtclt_MappingRequest VDTCLTBuildMappingRequest(std::int32_t mapping,
                                                const std::vector<VDTCOREventPtr>& events);
vdtclt_BatchRequest VDTCLTBuildBatchRequest(
    const std::map<std::string, std::vector<VDTCOREventPtr>>& eventsByMappingID);
// The encoded message; what was written so far when encoding fails (logged).
platform::Bytes VDTCLTEncodeBatchRequest(const vdtclt_BatchRequest& request);
// An all-absent response and an error ("nanopb error:" in its user info) when the body does
// not decode. Release the result with pb_release(vdtclt_UploadResponse_fields, &response).
vdtclt_UploadResponse VDTCLTDecodeUploadResponse(const platform::Bytes& body,
                                                 platform::ErrorPtr* error);

// The whole body of a batch: events grouped by mapping ID, encoded, released.
platform::Bytes VDTCLTEncodedBatchForEvents(const std::vector<VDTCOREventPtr>& events);
// The integer value of a mapping ID: its leading decimal integer, 0 when it has none.
std::int32_t VDTCLTMappingIntegerValue(const std::string& mappingID);
