#include "core/LMOConfiguration.h"

#include "core/LMOConstants.h"
#include "core/LMOLogger.h"
#include "platform/base/Error.h"
#include "platform/base/Format.h"

namespace {

// Its existence tells the measurement monitor that the app core owns the logger level.
const platform::runtime::ClassRegistrar kConfigurationClass(
    lmo::kConfigurationClassName, platform::runtime::kRootClassName, sizeof(LMOConfiguration),
    [](platform::runtime::Class& c) {
      c.addClassMethod("sharedInstance",
                       [](platform::Object&) -> std::shared_ptr<LMOConfiguration> {
                         return LMOConfiguration::sharedInstance();
                       });
    });

}  // namespace

LMOConfiguration::LMOConfiguration()
    : analyticsConfiguration_(LMOAnalyticsConfiguration::sharedInstance()) {}

std::shared_ptr<LMOConfiguration> LMOConfiguration::sharedInstance() {
  static auto* shared = new std::shared_ptr<LMOConfiguration>(std::make_shared<LMOConfiguration>());
  return *shared;
}

void LMOConfiguration::setLoggerLevel(long level) {
  if (level < kVTULoggerLevelError || level > kVTULoggerLevelDebug) {
    throw platform::Exception(platform::kInternalInconsistencyException,
                              platform::format(lmo::kInvalidLoggerLevelReason, level));
  }
  LMOLoggerSetMaximumLevel(level);
}
