// The one log channel of the SDK: one formatted line per message, "<version> - <service>[<code>]
// <text>", written to the system log asynchronously on the serial queue "VTULoggingClientQueue".
// Whether a line is wanted is decided on the caller's thread from the process-wide maximum level
// (5 at start), the debug-mode flag and the per-call force flag; an unwanted line costs no
// formatting. Thread-safe: the level and flag are atomics, the version prefix is lock-guarded.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/base/Format.h"
#include "platform/base/Value.h"

using VTULoggerLevel = long;
inline constexpr VTULoggerLevel kVTULoggerLevelError = 3;
inline constexpr VTULoggerLevel kVTULoggerLevelWarning = 4;
inline constexpr VTULoggerLevel kVTULoggerLevelNotice = 5;
inline constexpr VTULoggerLevel kVTULoggerLevelInfo = 6;
inline constexpr VTULoggerLevel kVTULoggerLevelDebug = 7;

void VTULoggerSetUpSystemLogClient();
void VTULoggerMirrorToStandardError();
void VTULoggerEnableDebugMode();
void VTULoggerSetMaximumLevel(VTULoggerLevel level);
bool VTULoggerIsLevelLoggable(VTULoggerLevel level);
void VTULoggerSetVersionPrefix(const std::string& prefix);

// The core routine. `args` null means "no argument list": the format is written unchanged.
void VTULoggerLogMessage(VTULoggerLevel level, const std::string& service, bool force,
                         const std::string& messageCode, std::string_view format,
                         const std::vector<platform::Value>* args);

// True when a line of this level (and force) passes the logger's own check; runs the set-up.
bool VTULoggerWouldLog(VTULoggerLevel level, bool force);

// The variadic entry points. The arguments are converted only when the line is wanted.
template <class... Args>
void VTULoggerLog(VTULoggerLevel level, const std::string& service, bool force,
                  const std::string& messageCode, std::string_view format, const Args&... args) {
  if (!VTULoggerWouldLog(level, force)) return;
  const std::vector<platform::Value> list{platform::Value(args)...};
  VTULoggerLogMessage(level, service, force, messageCode, format, &list);
}
template <class... Args>
void VTULoggerLogError(const std::string& service, bool force, const std::string& code,
                       std::string_view format, const Args&... args) {
  VTULoggerLog(kVTULoggerLevelError, service, force, code, format, args...);
}
template <class... Args>
void VTULoggerLogWarning(const std::string& service, bool force, const std::string& code,
                         std::string_view format, const Args&... args) {
  VTULoggerLog(kVTULoggerLevelWarning, service, force, code, format, args...);
}
template <class... Args>
void VTULoggerLogNotice(const std::string& service, bool force, const std::string& code,
                        std::string_view format, const Args&... args) {
  VTULoggerLog(kVTULoggerLevelNotice, service, force, code, format, args...);
}
template <class... Args>
void VTULoggerLogInfo(const std::string& service, bool force, const std::string& code,
                      std::string_view format, const Args&... args) {
  VTULoggerLog(kVTULoggerLevelInfo, service, force, code, format, args...);
}
template <class... Args>
void VTULoggerLogDebug(const std::string& service, bool force, const std::string& code,
                       std::string_view format, const Args&... args) {
  VTULoggerLog(kVTULoggerLevelDebug, service, force, code, format, args...);
}

// For callers that hold an argument list already (the core logger, the engine's monitor).
class VTULoggerWrapper {
 public:
  static void logWithLevel(VTULoggerLevel level, const std::string& service,
                           const std::string& code, std::string_view message,
                           const std::vector<platform::Value>* args);
};

// Test seams: what the system-log client was handed, and the client's level filter.
namespace vtu::testing {
struct LoggedLine {
  VTULoggerLevel level;
  std::string line;
};
// Lines handed to the system-log client (before its filter), recorded from now on.
void startCapturingLines();
std::vector<LoggedLine> capturedLines();
// Waits until every queued write has reached the client.
void flushLoggingQueue();
// The client's filter: the highest level it admits.
VTULoggerLevel systemLogFilterLevel();
bool isDebugModeOn();
VTULoggerLevel maximumLevel();
}  // namespace vtu::testing
