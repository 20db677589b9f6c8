#include "core/diagnostics/LMOCoreDiagnosticsLog.h"

#include <pb_decode.h>
#include <pb_encode.h>

#include "VDTCORLibrary/VDTCORConsoleLogger.h"
#include "core/LMOConstants.h"

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
  }
  platform::Bytes bytes(sizing.bytes_written);
  pb_ostream_t stream = pb_ostream_from_buffer(bytes.data(), bytes.size());
  if (!pb_encode(&stream, logs_proto_mobilesdk_ios_ICoreConfiguration_fields, &config_)) {
    VDTCORLogToConsole(lmo::kTransportCodeEncodingFailure, lmo::kTransportLogLevel,
                       lmo::kEncodingForBytesFailedMessage,
                       PB_GET_ERROR(&stream) ? PB_GET_ERROR(&stream) : "(none)");
  }
  bytes.resize(stream.bytes_written);
  return bytes;
}
