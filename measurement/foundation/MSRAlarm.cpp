#include "measurement/foundation/MSRAlarm.h"

#include <cstdint>

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRConstants.h"
#include "measurement/foundation/MSRMonitor.h"
#include "platform/base/Saturating.h"
#include "platform/dispatch/Clock.h"

MSRAlarm::MSRAlarm(platform::DispatchQueuePtr queue, const std::string& name)
    : queue_(std::move(queue)), name_(name.empty() ? kMSRDefaultAlarmName : name) {}

std::shared_ptr<MSRAlarm> MSRAlarm::initWithDispatchQueue(platform::DispatchQueuePtr queue,
                                                          const std::string& name) {
  return std::make_shared<MSRAlarm>(std::move(queue), name);
}

MSRAlarm::~MSRAlarm() { cancel(); }

void MSRAlarm::runAfterDelay(double delay, Block block) {
  auto monitor = MSRMeasurement::monitor();
  if (!block) {
    monitor->logWithLevel(1, 2000, name_ + " tried to schedule an empty block");
    return;
  }
  cancel();
  // The delay comes from callers and stored schedules: no number counts as no delay and anything
  // past the 64-bit range of nanoseconds as the farthest time there is. The timer is given the
  // delay itself and truncates it to nanoseconds once.
  const double seconds =
      static_cast<double>(platform::saturatingCast<std::int64_t>(delay * 1e9)) / 1e9;
  scheduledTimestamp_ = platform::Clock::current().now() + seconds;
  platform::DispatchTimerPtr source;
  if (!noSource_ && queue_) source = platform::DispatchTimer::create(queue_);
  if (source) {
    const std::string fired = name_ + " fired";
    // The handler holds the alarm and the block until it has run or the source is cancelled (a
    // cancelled source lets go of its handler), so a pending alarm fires even when its owner has
    // dropped it.
    source->setEventHandler([self = shared_from_this(), block, fired] {
      // Local copies: the block may reschedule this alarm, which replaces this very source.
      Block run = block;
      MSRMeasurement::monitor()->logWithLevel(7, 2001, fired);
      self->cancel();
      run();
    });
    source->schedule(delay, 0, 0);
    source->resume();
  }
  timer_ = source;
  monitor->logWithLevel(7, 2002, name_ + " scheduled to fire in approx. (s)",
                        platform::Value(delay));
}

void MSRAlarm::cancel() {
  if (!scheduledTimestamp_) return;
  auto monitor = MSRMeasurement::monitor();
  monitor->logWithLevel(7, 2003, name_ + " canceled");
  if (hasActiveTimer()) {
    timer_->cancel();
  } else {
    monitor->logWithLevel(4, 2004, name_ + " is not active");
  }
  scheduledTimestamp_.reset();
}

bool MSRAlarm::hasActiveTimer() const { return timer_ && !timer_->isCancelled(); }
