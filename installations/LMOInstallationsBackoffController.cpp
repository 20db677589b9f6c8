#include "installations/LMOInstallationsBackoffController.h"

#include <algorithm>
#include <cmath>

#include "platform/dispatch/Clock.h"
#include "platform/runtime/Crypto.h"

namespace {

constexpr double kUnrecoverableWait = 24 * 60 * 60;
constexpr double kMaxRecoverableWait = 30 * 60;

double intervalFor(LMOInstallationsBackoffEvent type, long count) {
  switch (type) {
    case LMOInstallationsBackoffEvent::UnrecoverableFailure:
      return kUnrecoverableWait;
    case LMOInstallationsBackoffEvent::RecoverableFailure: {
      // Jitter spreads the retries of many installs that failed at the same moment.
      const double jitter = static_cast<double>(platform::crypto::randomUniform(1000)) / 1000.0;
      return std::min(std::pow(2.0, static_cast<double>(count)) + jitter, kMaxRecoverableWait);
    }
    default:
      return 0;
  }
}

}  // namespace

LMOInstallationsCurrentDateProviderBlock LMOInstallationsCurrentDateProvider() {
  return [] { return platform::Clock::current().now(); };
}

LMOInstallationsBackoffEventData::LMOInstallationsBackoffEventData(
    LMOInstallationsBackoffEvent eventType, double lastEventDate, long eventCount)
    : eventType_(eventType),
      lastEventDate_(lastEventDate),
      eventCount_(eventCount),
      backoffTimeInterval_(intervalFor(eventType, eventCount)) {}

LMOInstallationsBackoffController::LMOInstallationsBackoffController()
    : LMOInstallationsBackoffController(LMOInstallationsCurrentDateProvider()) {}

LMOInstallationsBackoffController::LMOInstallationsBackoffController(
    LMOInstallationsCurrentDateProviderBlock provider)
    : currentDateProvider_(std::move(provider)) {}

bool LMOInstallationsBackoffController::isNextRequestAllowed() {
  std::lock_guard lock(mutex_);
  if (!lastEventData_) return true;
  return currentDateProvider_() - lastEventData_->lastEventDate() >=
         lastEventData_->backoffTimeInterval();
}

void LMOInstallationsBackoffController::registerEvent(LMOInstallationsBackoffEvent event) {
  std::lock_guard lock(mutex_);
  const long count =
      lastEventData_ && lastEventData_->eventType() == event ? lastEventData_->eventCount() + 1 : 1;
  lastEventData_ = std::make_shared<const LMOInstallationsBackoffEventData>(
      event, currentDateProvider_(), count);
}

std::shared_ptr<const LMOInstallationsBackoffEventData>
LMOInstallationsBackoffController::lastEventData() const {
  std::lock_guard lock(mutex_);
  return lastEventData_;
}
