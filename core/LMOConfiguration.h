// The SDK-wide configuration: the analytics collection setting and the logger's maximum level.
// One shared object; a runtime class "LMOConfiguration" exists so that the measurement monitor
// can tell that the app core owns the logger level. Thread-safe.
#pragma once

#include <memory>
#include <string>

#include "core/LMOAnalyticsConfiguration.h"
#include "platform/runtime/Runtime.h"

class LMOConfiguration : public platform::runtime::RootObject {
 public:
  static std::shared_ptr<LMOConfiguration> sharedInstance();

  const std::shared_ptr<LMOAnalyticsConfiguration>& analyticsConfiguration() const {
    return analyticsConfiguration_;
  }
  // Levels 3 to 7; another raises an internal-inconsistency exception.
  void setLoggerLevel(long level);

  std::string className() const override { return "LMOConfiguration"; }

  LMOConfiguration();

 private:
  std::shared_ptr<LMOAnalyticsConfiguration> analyticsConfiguration_;
};
