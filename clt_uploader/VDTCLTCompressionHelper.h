// Gzip compression of request bodies (zlib, gzip wrapper) and the gzip magic test. Stateless and
// thread-safe.
#pragma once

#include <optional>

#include "platform/base/Value.h"

class VDTCLTCompressionHelper {
 public:
  // Null for empty input, input longer than 32 bits can count, or a compressor error.
  static std::optional<platform::Bytes> gzippedData(const platform::Bytes& data);
  // At least two bytes, beginning 0x1F 0x8B.
  static bool isGzipped(const platform::Bytes& data);
};
