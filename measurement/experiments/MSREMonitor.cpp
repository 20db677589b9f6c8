#include "measurement/experiments/MSREMonitor.h"

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRMonitor.h"
#include "platform/runtime/Runtime.h"

namespace {

using platform::runtime::Class;
using Message = std::optional<std::string>;

const platform::runtime::ClassRegistrar kMonitorClass(
    kMSREMonitorClassName, platform::runtime::kRootClassName, sizeof(MSREMonitor), [](Class& c) {
      c.addInstanceMethod("logWithLevel:messageCode:message:",
                          [](MSREMonitor& self, std::int64_t level, std::int64_t code,
                             Message message) { self.logWithLevel(level, code, message); });
      c.addInstanceMethod(
          "logWithLevel:messageCode:message:context:",
          [](MSREMonitor& self, std::int64_t level, std::int64_t code, Message message,
             platform::Value context) { self.logWithLevel(level, code, message, context); });
    });

const platform::runtime::ClassRegistrar kManagerClass(
    kMSREManagerClassName, platform::runtime::kRootClassName, sizeof(platform::runtime::RootObject),
    [](Class& c) {
      c.addClassMethod("monitor", [](platform::Object&) -> platform::ObjectPtr {
        return MSREManager::monitor();
      });
    });

}  // namespace

void MSREMonitor::logWithLevel(std::int64_t level, std::int64_t messageCode,
                               const std::optional<std::string>& message) {
  monitor_->logWithLevel(level, messageCode, message);
}

void MSREMonitor::logWithLevel(std::int64_t level, std::int64_t messageCode,
                               const std::optional<std::string>& message,
                               const platform::Value& context) {
  monitor_->logWithLevel(level, messageCode, message, context);
}

std::shared_ptr<MSREMonitor> MSREManager::monitor() {
  static auto* shared =
      new std::shared_ptr<MSREMonitor>(std::make_shared<MSREMonitor>(MSRMeasurement::monitor()));
  return *shared;
}
