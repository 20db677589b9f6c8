#include "measurement/experiments/MSREMonitor.h"

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRMonitor.h"

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
