#include "VDTCORLibrary/VDTCORConsoleLogger.h"

#include "VDTCORLibrary/VDTCORConstants.h"
#include "platform/dispatch/SystemLog.h"
#include "platform/runtime/Runtime.h"

namespace {

// The threshold is fixed: nothing in the program raises or lowers it.
constexpr long kLoggingLevel = VDTCORLoggingLevelErrors;

platform::LogLevel systemLevelFor(long level) {
  if (level >= VDTCORLoggingLevelErrors) return platform::LogLevel::Error;
  if (level >= VDTCORLoggingLevelWarning) return platform::LogLevel::Warning;
  return platform::LogLevel::Debug;
}

}  // namespace

long VDTCORConsoleLoggerLoggingLevel() { return kLoggingLevel; }

std::string VDTCORMessageCodeEnumToString(long code) { return platform::format("I-VDTCOR%06ld", code); }

void VDTCORLogToConsoleValues(long code, long level, std::string_view format,
                              const std::vector<platform::Value>& args) {
  if (level < kLoggingLevel) return;
  std::string line = platform::format("%@[%@] %@", kVDTCORConsoleLoggerTag,
                                      VDTCORMessageCodeEnumToString(code),
                                      platform::formatValues(format, args));
  platform::SystemLog::write(systemLevelFor(level), line, true);
}

void VDTCORLogAssertionFailureValues(bool fatal, std::string_view file, long line,
                                     std::string_view format,
                                     const std::vector<platform::Value>& args) {
  long code = fatal ? VDTCORMCEFatalAssertion : VDTCORMCEGeneralError;
  std::string text = platform::format("%@[%@] (%@:%ld) : %@", kVDTCORConsoleLoggerTag,
                                      VDTCORMessageCodeEnumToString(code), std::string(file), line,
                                      platform::formatValues(format, args));
  platform::SystemLog::write(platform::LogLevel::Error, text, true);
}

std::function<void()> VDTCORAssertOverrideBlock() {
  namespace rt = platform::runtime;
  rt::Class* helper = rt::classNamed(kVDTCORAssertHelperClassName);
  if (!helper || !rt::respondsToSelector(helper, kVDTCORAssertionBlockSelector)) return {};
  try {
    return rt::msgSend<std::function<void()>>(static_cast<platform::Object*>(helper),
                                              kVDTCORAssertionBlockSelector);
  } catch (const std::exception&) {
    // A helper whose method has another shape supplies no block.
    return {};
  }
}
