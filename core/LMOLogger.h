// The app core's way into the utilities logger, shared with installations. Before the first
// message it sets the version prefix and applies the SDK-wide debug switch (launch arguments and
// the persisted "/veltro/lumo/debug_mode"), exactly once per process. Thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/base/Value.h"
#include "utilities/logger/VTULogger.h"

// "8.10.0".
std::string LMOCoreSDKVersion();

// The one-time set-up; reached through the once guard of the functions below.
void LMOLoggerSetUp();

void LMOLoggerSetMaximumLevel(VTULoggerLevel level);

// `args` null means the format is written as it is.
void LMOLoggerLogMessage(VTULoggerLevel level, const std::string& service, const std::string& code,
                         std::string_view format, const std::vector<platform::Value>* args);

namespace lmo::detail {
// Runs the set-up once and tells whether a line of this level would be written.
bool loggerWouldLog(VTULoggerLevel level);
}  // namespace lmo::detail

// The variadic entry points; arguments are converted only when the line is wanted.
template <class... Args>
void LMOLoggerLog(VTULoggerLevel level, const std::string& service, const std::string& code,
                  std::string_view format, const Args&... args) {
  if (!lmo::detail::loggerWouldLog(level)) return;
  const std::vector<platform::Value> list{platform::Value(args)...};
  LMOLoggerLogMessage(level, service, code, format, &list);
}
template <class... Args>
void LMOLoggerLogError(const std::string& service, const std::string& code, std::string_view format,
                       const Args&... args) {
  LMOLoggerLog(kVTULoggerLevelError, service, code, format, args...);
}
template <class... Args>
void LMOLoggerLogWarning(const std::string& service, const std::string& code,
                         std::string_view format, const Args&... args) {
  LMOLoggerLog(kVTULoggerLevelWarning, service, code, format, args...);
}
template <class... Args>
void LMOLoggerLogInfo(const std::string& service, const std::string& code, std::string_view format,
                      const Args&... args) {
  LMOLoggerLog(kVTULoggerLevelInfo, service, code, format, args...);
}
template <class... Args>
void LMOLoggerLogDebug(const std::string& service, const std::string& code, std::string_view format,
                       const Args&... args) {
  LMOLoggerLog(kVTULoggerLevelDebug, service, code, format, args...);
}

// For callers holding an argument list already.
class LMOLoggerWrapper {
 public:
  static void logWithLevel(VTULoggerLevel level, const std::string& service,
                           const std::string& code, std::string_view message,
                           const std::vector<platform::Value>* args);
};
