#include "core/LMOLogger.h"

#include <memory>
#include <mutex>

#include "core/LMOConstants.h"
#include "platform/base/ProcessInfo.h"
#include "utilities/storage/VTUUserDefaults.h"

namespace {

std::once_flag& setUpOnce() {
  static auto* flag = new std::once_flag;
  return *flag;
}

// Kept after the set-up, as the logger holds on to the defaults it read.
std::shared_ptr<VTUUserDefaults>& keptDefaults() {
  static auto* defaults = new std::shared_ptr<VTUUserDefaults>;
  return *defaults;
}

void ensureSetUp() { std::call_once(setUpOnce(), LMOLoggerSetUp); }

}  // namespace

std::string LMOCoreSDKVersion() { return lmo::kCoreSDKVersion; }

void LMOLoggerSetUp() {
  VTULoggerSetVersionPrefix(lmo::kCoreSDKVersion);
  const auto& info = platform::ProcessInfo::processInfo();
  const bool forceStandardError = info.hasArgument(lmo::kForceStandardErrorArgument);
  auto defaults = VTUUserDefaults::standardUserDefaults();
  keptDefaults() = defaults;
  const bool stored = defaults->boolForKey(lmo::kDebugModeUserDefaultsKey);
  bool debugMode = false;
  if (info.hasArgument(lmo::kDebugDisabledArgument)) {
    defaults->removeObjectForKey(lmo::kDebugModeUserDefaultsKey);
  } else if (info.hasArgument(lmo::kDebugEnabledArgument) || stored) {
    defaults->setBool(true, lmo::kDebugModeUserDefaultsKey);
    debugMode = true;
  }
  VTULoggerSetUpSystemLogClient();
  if (forceStandardError) VTULoggerMirrorToStandardError();
  if (debugMode) VTULoggerEnableDebugMode();
}

void LMOLoggerSetMaximumLevel(VTULoggerLevel level) {
  ensureSetUp();
  VTULoggerSetMaximumLevel(level);
}

void LMOLoggerLogMessage(VTULoggerLevel level, const std::string& service, const std::string& code,
                         std::string_view format, const std::vector<platform::Value>* args) {
  ensureSetUp();
  VTULoggerLogMessage(level, service, false, code, format, args);
}

bool lmo::detail::loggerWouldLog(VTULoggerLevel level) {
  ensureSetUp();
  return VTULoggerWouldLog(level, false);
}

void LMOLoggerWrapper::logWithLevel(VTULoggerLevel level, const std::string& service,
                                    const std::string& code, std::string_view message,
                                    const std::vector<platform::Value>* args) {
  LMOLoggerLogMessage(level, service, code, message, args);
}
