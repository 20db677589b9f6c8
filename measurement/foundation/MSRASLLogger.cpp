#include "measurement/foundation/MSRASLLogger.h"

#include "measurement/foundation/MSRConstants.h"
#include "platform/base/Format.h"
#include "utilities/logger/VTULogger.h"

long MSRASLLogger::VTULoggerLevelFromLogLevel(std::int64_t logLevel) {
  static const long kLevels[] = {3, 3, 3, 4, 4, 4, 5, 7, 7};
  if (logLevel < 0 || logLevel > 8) return 4;
  return kLevels[logLevel];
}

void MSRASLLogger::logMessage(const std::string& message, const std::string& logTag,
                              std::int64_t messageCode, std::int64_t withLogLevel) {
  std::string escaped;
  escaped.reserve(message.size());
  for (char c : message) {
    escaped += c;
    if (c == '%') escaped += '%';
  }
  VTULoggerLogMessage(VTULoggerLevelFromLogLevel(withLogLevel), logTag, withLogLevel == 7,
                      platform::format(kMSRMessageCodeFormat, static_cast<long>(messageCode)),
                      escaped, nullptr);
}
