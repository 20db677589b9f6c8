#include "measurement/foundation/MSREventAggregates.h"

#include <limits>

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRDataTypeValidator.h"
#include "measurement/foundation/MSRMonitor.h"

namespace {

void increment(std::int32_t& count, std::int64_t code, const char* message) {
  if (count == std::numeric_limits<std::int32_t>::max()) {
    count = 0;
    MSRMeasurement::monitor()->logWithLevel(5, code, message);
    return;
  }
  ++count;
}

}  // namespace

std::shared_ptr<MSREventAggregates> MSREventAggregates::initWithName(
    const std::string& name, std::int32_t lifetimeCount, std::int32_t currentBundleCount,
    std::int32_t currentSessionCount, double lastFireTimestamp) {
  if (!MSRDataTypeValidator::isValidInternalEventName(platform::Value(name), nullptr)) {
    return nullptr;
  }
  if (lifetimeCount < 0 || currentBundleCount < 0 || currentSessionCount < 0) {
    MSRMeasurement::monitor()->logWithLevel(
        5, 17000, "Failed to create event aggregates object. Received negative count.");
    return nullptr;
  }
  std::shared_ptr<MSREventAggregates> a(new MSREventAggregates());
  a->name_ = name;
  a->lifetimeCount_ = lifetimeCount;
  a->currentBundleCount_ = currentBundleCount;
  a->currentSessionCount_ = currentSessionCount;
  a->lastFireTimestamp_ = lastFireTimestamp;
  return a;
}

void MSREventAggregates::incrementLifetimeCount() {
  increment(lifetimeCount_, 17001, "Lifetime count overflow. Lifetime count reset to 0.");
}

void MSREventAggregates::incrementCurrentBundleCount() {
  increment(currentBundleCount_, 17002, "Bundle count overflow. Bundle count reset to 0.");
}

void MSREventAggregates::incrementCurrentSessionCount() {
  increment(currentSessionCount_, 17003, "Session count overflow. Session count reset to 0.");
}
