// The event transport's console logger and its assertion reporting. Lines go to the system log
// as "[VeltroEventTransport][I-VDTCOR%06ld] text"; only levels at or above the process-wide
// threshold (4) are written. Assertion failures are always written, unless a host supplies an
// override block (class "VDTCORAssertHelper"). Callable from any thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/Format.h"
#include "platform/base/Value.h"

// Levels of the transport's console lines.
enum VDTCORLoggingLevel : long {
  VDTCORLoggingLevelDebug = 1,
  VDTCORLoggingLevelWarning = 3,
  VDTCORLoggingLevelErrors = 4,
};

// Message codes of the transport.
enum VDTCORMessageCode : long {
  VDTCORMCDDebugLog = 0,
  VDTCORMCWReachabilityFailed = 4,
  VDTCORMCETransformerDoesntImplementTransform = 1000,
  VDTCORMCEGeneralError = 1006,
  VDTCORMCEFatalAssertion = 1007,
};

// The threshold below which lines are dropped. Nothing in the program changes it.
long VDTCORConsoleLoggerLoggingLevel();

// "I-VDTCOR%06ld" of the code.
std::string VDTCORMessageCodeEnumToString(long code);

void VDTCORLogToConsoleValues(long code, long level, std::string_view format,
                              const std::vector<platform::Value>& args);

// Formats `format` (a literal) with the arguments and writes the line when `level` is at least
// the threshold.
template <class... Args>
void VDTCORLogToConsole(long code, long level, std::string_view format, const Args&... args) {
  if (level < VDTCORConsoleLoggerLoggingLevel()) return;
  VDTCORLogToConsoleValues(code, level, format, std::vector<platform::Value>{platform::Value(args)...});
}

// Debug lines (code 0, level 1) and error lines (code 1006, level 4).
template <class... Args>
void VDTCORLogDebug(std::string_view format, const Args&... args) {
  VDTCORLogToConsole(VDTCORMCDDebugLog, VDTCORLoggingLevelDebug, format, args...);
}
template <class... Args>
void VDTCORLogError(long code, std::string_view format, const Args&... args) {
  VDTCORLogToConsole(code, VDTCORLoggingLevelErrors, format, args...);
}

void VDTCORLogAssertionFailureValues(bool fatal, std::string_view file, long line,
                                     std::string_view format,
                                     const std::vector<platform::Value>& args);

// Always writes "[VeltroEventTransport][I-VDTCOR001006] (file:line) : text" (001007 when fatal).
template <class... Args>
void VDTCORLogAssertionFailure(bool fatal, std::string_view file, long line,
                               std::string_view format, const Args&... args) {
  VDTCORLogAssertionFailureValues(fatal, file, line, format,
                                  std::vector<platform::Value>{platform::Value(args)...});
}

// The block a host supplies through the runtime class "VDTCORAssertHelper" and its class method
// "assertionBlock", or an empty function.
std::function<void()> VDTCORAssertOverrideBlock();

// A failed check: the override block when there is one, else a non-fatal assertion line.
template <class... Args>
void VDTCORReportAssertion(std::string_view file, long line, std::string_view format,
                           const Args&... args) {
  if (auto block = VDTCORAssertOverrideBlock()) {
    block();
    return;
  }
  VDTCORLogAssertionFailure(false, file.empty() ? std::string_view("<Unknown File>") : file, line,
                            format, args...);
}

// Checks `condition`; on failure reports the message and evaluates to false, so callers can
// apply their own guard: `if (!VDTCORAssert(x, "...")) return nullptr;`.
#define VDTCORAssert(condition, ...) \
  ((condition) ? true : (VDTCORReportAssertion(__FILE__, __LINE__, __VA_ARGS__), false))
