// A named, one-shot, cancellable timer that runs a block on its queue after a delay. No lock:
// schedule and cancel it from the queue it fires on. Scheduling while pending replaces the
// pending timer; the fired block may schedule the alarm again.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/DispatchQueue.h"

class MSRAlarm : public std::enable_shared_from_this<MSRAlarm> {
 public:
  using Block = std::function<void()>;

  MSRAlarm(platform::DispatchQueuePtr queue, const std::string& name);
  static std::shared_ptr<MSRAlarm> initWithDispatchQueue(platform::DispatchQueuePtr queue,
                                                         const std::string& name);
  ~MSRAlarm();

  void runAfterDelay(double delay, Block block);
  void cancel();
  bool hasActiveTimer() const;
  // When the pending timer fires (seconds since 1970); nullopt when none is pending.
  std::optional<double> scheduledTimestamp() const { return scheduledTimestamp_; }
  const std::string& name() const { return name_; }

  // Test seam: makes the next schedule get no timer source, as a platform may.
  void setTimerSourceUnavailableForTesting(bool unavailable) { noSource_ = unavailable; }

 private:
  platform::DispatchQueuePtr queue_;
  platform::DispatchTimerPtr timer_;
  std::string name_;
  std::optional<double> scheduledTimestamp_;
  bool noSource_ = false;
};
