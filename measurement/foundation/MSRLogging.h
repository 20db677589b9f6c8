// The monitor's log sink: where a console-bound engine message is finally written. The monitor
// calls it only from its serial queue, so an implementation needs no lock of its own.
#pragma once

#include <cstdint>
#include <string>

class MSRLogging {
 public:
  virtual ~MSRLogging() = default;
  virtual void logMessage(const std::string& message, const std::string& logTag,
                          std::int64_t messageCode, std::int64_t withLogLevel) = 0;
};
