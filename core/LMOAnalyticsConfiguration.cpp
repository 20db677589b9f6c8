#include "core/LMOAnalyticsConfiguration.h"

#include "core/LMOConstants.h"
#include "platform/base/UserDefaults.h"
#include "platform/dispatch/NotificationCenter.h"

std::shared_ptr<LMOAnalyticsConfiguration> LMOAnalyticsConfiguration::sharedInstance() {
  static auto* shared =
      new std::shared_ptr<LMOAnalyticsConfiguration>(std::make_shared<LMOAnalyticsConfiguration>());
  return *shared;
}

void LMOAnalyticsConfiguration::setAnalyticsCollectionEnabled(bool enabled) {
  setAnalyticsCollectionEnabled(enabled, true);
}

void LMOAnalyticsConfiguration::setAnalyticsCollectionEnabled(bool enabled, bool persistSetting) {
  if (persistSetting) {
    if (auto defaults = platform::UserDefaults::standardUserDefaults()) {
      defaults->setObject(platform::Value(enabled ? lmo::kMeasurementEnabledStateEnabled
                                                  : lmo::kMeasurementEnabledStateDisabled),
                          lmo::kMeasurementEnabledStateKey);
      defaults->synchronize();
    }
  }
  postNotificationName(lmo::kAnalyticsConfigurationSetEnabledNotification,
                       platform::Value(enabled));
}

void LMOAnalyticsConfiguration::postNotificationName(const std::string& name,
                                                     const platform::Value& value) {
  if (name.empty() || value.isNil()) return;
  platform::NotificationCenter::defaultCenter().post(name, platform::Value(shared_from_this()),
                                                     {{name, value}});
}
