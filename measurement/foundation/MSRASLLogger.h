// The sink that writes engine messages through the utilities logger: "%" escaped, the engine
// level mapped onto the logger's levels, the code as "I-ACS%06ld", forced at debug level.
// Stateless; callable from any thread.
#pragma once

#include <cstdint>
#include <string>

#include "measurement/foundation/MSRLogging.h"

class MSRASLLogger : public MSRLogging {
 public:
  // 0..8 map to 3,3,3,4,4,4,5,7,7; anything else to 4.
  static long VTULoggerLevelFromLogLevel(std::int64_t logLevel);

  void logMessage(const std::string& message, const std::string& logTag,
                  std::int64_t messageCode, std::int64_t withLogLevel) override;
};
