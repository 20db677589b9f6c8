// The analytics collection setting: persists the measurement-enabled state and tells the
// analytics stack through "LMOAnalyticsConfigurationSetEnabledNotification". One shared object;
// thread-safe (the user defaults and notification centre are).
#pragma once

#include <memory>
#include <string>

#include "platform/base/Value.h"
#include "platform/runtime/Runtime.h"

class LMOAnalyticsConfiguration : public platform::runtime::RootObject {
 public:
  static std::shared_ptr<LMOAnalyticsConfiguration> sharedInstance();

  void setAnalyticsCollectionEnabled(bool enabled);  // persisted
  void setAnalyticsCollectionEnabled(bool enabled, bool persistSetting);
  // Posts only for a non-empty name and a present value.
  void postNotificationName(const std::string& name, const platform::Value& value);

  std::string className() const override { return "LMOAnalyticsConfiguration"; }
};
