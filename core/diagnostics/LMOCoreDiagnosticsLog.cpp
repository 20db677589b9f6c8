#include "core/diagnostics/LMOCoreDiagnosticsLog.h"

#include <pb_decode.h>
#include <pb_encode.h>

#include <algorithm>
#include <atomic>

#include "VDTCORLibrary/VDTCORConsoleLogger.h"
#include "core/LMOConstants.h"

namespace {

std::atomic<std::size_t> gOutputLimit{0};

}  // namespace

void LMOCoreDiagnosticsLog::setOutputLimitForTesting(std::size_t limit) { gOutputLimit = limit; }

LMOCoreDiagnosticsLog::LMOCoreDiagnosticsLog(const LMOCoreConfiguration& config)
    : config_(config) {}

LMOCoreDiagnosticsLog::~LMOCoreDiagnosticsLog() {
  pb_release(logs_proto_mobilesdk_ios_ICoreConfiguration_fields, &config_);
}

void LMOCoreDiagnosticsLog::setConfig(const LMOCoreConfiguration& config) {
  if (&config == &config_) return;
  pb_release(logs_proto_mobilesdk_ios_ICoreConfiguration_fields, &config_);
  config_ = config;
}

std::optional<platform::Bytes> LMOCoreDiagnosticsLog::transportBytes() {
  pb_ostream_t sizing = PB_OSTREAM_SIZING;
  if (!pb_encode(&sizing, logs_proto_mobilesdk_ios_ICoreConfiguration_fields, &config_)) {
    VDTCORLogToConsole(lmo::kTransportCodeEncodingFailure, lmo::kTransportLogLevel,
                       lmo::kEncodingForSizeFailedMessage,
                       PB_GET_ERROR(&sizing) ? PB_GET_ERROR(&sizing) : "(none)");
    return std::nullopt;
  }
  platform::Bytes bytes(sizing.bytes_written);
  const std::size_t limit = gOutputLimit.load();
  pb_ostream_t stream =
      pb_ostream_from_buffer(bytes.data(), limit ? std::min(limit, bytes.size()) : bytes.size());
  if (!pb_encode(&stream, logs_proto_mobilesdk_ios_ICoreConfiguration_fields, &config_)) {
    VDTCORLogToConsole(lmo::kTransportCodeEncodingFailure, lmo::kTransportLogLevel,
                       lmo::kEncodingForBytesFailedMessage,
                       PB_GET_ERROR(&stream) ? PB_GET_ERROR(&stream) : "(none)");
    return std::nullopt;
  }
  bytes.resize(stream.bytes_written);
  return bytes;
}
