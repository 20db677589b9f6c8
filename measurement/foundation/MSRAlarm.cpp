#include "measurement/foundation/MSRAlarm.h"

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRConstants.h"
#include "measurement/foundation/MSRMonitor.h"
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
  scheduledTimestamp_ = platform::Clock::current().now() + delay;
  platform::DispatchTimerPtr source;
  if (!noSource_ && queue_) source = platform::DispatchTimer::create(queue_);
  if (source) {
    const std::string fired = name_ + " fired";
    // The handler holds the alarm weakly: an alarm that goes away cancels its timer anyway.
    std::weak_ptr<MSRAlarm> weak = weak_from_this();
    source->setEventHandler([weak, block, fired] {
      auto self = weak.lock();
      if (!self) return;
      // Local copies: the block may reschedule this alarm, which replaces this very source.
      Block run = block;
      MSRMeasurement::monitor()->logWithLevel(7, 2001, fired);
      self->cancel();
      run();
    });
    const double start = static_cast<double>(static_cast<long long>(delay * 1e9)) / 1e9;
    source->schedule(start, 0, 0);
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
