#include "measurement/frontend/LMOAnalytics.h"

#include <cstdio>

#include "measurement/frontend/LMOAnalyticsConstants.h"
#include "platform/runtime/Runtime.h"
#include "utilities/logger/VTULogger.h"

namespace {

// The engine monitor's form until the monitor itself exists: its level 3 maps to the logger's
// warning level, contexts follow ": ", and "%" is doubled because the text goes out unformatted.
void logEventNotLogged(const std::string& eventName) {
  if (!VTULoggerIsLevelLoggable(kVTULoggerLevelWarning)) return;
  std::string text = std::string(lmo_analytics::kEventNotLoggedMessage) + ": " + eventName;
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    escaped += c;
    if (c == '%') escaped += '%';
  }
  char code[32];
  std::snprintf(code, sizeof code, lmo_analytics::kMonitorCodeFormat,
                lmo_analytics::kEventNotLoggedCode);
  VTULoggerLogMessage(kVTULoggerLevelWarning, lmo_analytics::kMonitorLogTag, false, code, escaped,
                      nullptr);
}

}  // namespace

bool LMOAnalytics::isDefaultAppConfigured() {
  platform::runtime::Class* appClass = platform::runtime::classNamed(lmo_analytics::kAppClassName);
  if (!appClass) return false;
  if (!platform::runtime::respondsToSelector(appClass,
                                             lmo_analytics::kIsDefaultAppConfiguredSelector)) {
    return false;
  }
  return platform::runtime::msgSend<bool>(appClass, lmo_analytics::kIsDefaultAppConfiguredSelector);
}

void LMOAnalytics::logEventWithName(const std::string& name,
                                    const std::optional<platform::Value::Dictionary>& parameters) {
  logEventWithOrigin(lmo_analytics::kOriginApp, name, parameters);
}

void LMOAnalytics::logEventWithOrigin(const std::string& /*origin*/, const std::string& name,
                                      const std::optional<platform::Value::Dictionary>&
                                      /*parameters*/) {
  if (!isDefaultAppConfigured()) {
    logEventNotLogged(name);
    return;
  }
  // A configured app's events go to the measurement stack, which does not exist in this build;
  // until it does there is nowhere to record them.
}
