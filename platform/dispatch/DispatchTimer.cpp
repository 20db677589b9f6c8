#include <algorithm>
#include <cstdint>
#include <mutex>

#include "platform/dispatch/DispatchInternal.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/SystemLog.h"

namespace platform {

namespace {

class Timer final : public DispatchTimer, public std::enable_shared_from_this<Timer> {
 public:
  explicit Timer(DispatchQueuePtr queue) : queue_(std::move(queue)) {}
  ~Timer() override {
    if (armedId_ != 0) detail::TimerScheduler::shared().cancel(armedId_);
  }

  void setEventHandler(std::function<void()> handler) override {
    std::lock_guard lock(mutex_);
    handler_ = std::make_shared<std::function<void()>>(std::move(handler));
  }

  void setCancelHandler(std::function<void()> handler) override {
    std::lock_guard lock(mutex_);
    cancelHandler_ = std::move(handler);
  }

  void schedule(double start, double interval, double leeway) override {
    std::lock_guard lock(mutex_);
    if (cancelled_) return;
    disarmLocked();
    ++generation_;
    next_ = detail::addSaturating(detail::uptimeNanos(), detail::toNanos(start));
    interval_ = interval > 0 ? std::max<std::int64_t>(detail::toNanos(interval), kMinInterval) : 0;
    // Handlers fire at their deadline, which is within any leeway a caller allows.
    (void)leeway;
    scheduled_ = true;
    if (suspendCount_ == 0) armLocked();
  }

  void resume() override {
    std::lock_guard lock(mutex_);
    if (suspendCount_ == 0) {
      SystemLog::write(LogLevel::Error, "dispatch: timer resumed more often than suspended", true);
      return;
    }
    if (--suspendCount_ == 0 && scheduled_ && !cancelled_) armLocked();
  }

  void suspend() override {
    std::lock_guard lock(mutex_);
    if (suspendCount_++ == 0) disarmLocked();
  }

  void cancel() override {
    std::function<void()> onCancel;
    std::shared_ptr<std::function<void()>> handler;  // released outside the lock
    {
      std::lock_guard lock(mutex_);
      if (cancelled_) return;
      cancelled_ = true;
      disarmLocked();
      onCancel = std::move(cancelHandler_);
      // A cancelled timer never runs its handler again: what the handler holds is let go now
      // (a handler that is running keeps its own reference until it returns).
      handler = std::move(handler_);
    }
    if (onCancel) queue_->async(std::move(onCancel));
  }

  bool isCancelled() const override {
    std::lock_guard lock(mutex_);
    return cancelled_;
  }

 private:
  // Below this a repeating timer would only keep the scheduler spinning.
  static constexpr std::int64_t kMinInterval = 1000;  // 1 microsecond

  void armLocked() {
    std::weak_ptr<Timer> weak = weak_from_this();
    std::uint64_t generation = generation_;
    armedId_ =
        detail::TimerScheduler::shared().schedule(next_, [weak, generation](std::int64_t deadline) {
          if (auto timer = weak.lock()) timer->fired(generation, deadline);
        });
  }

  void disarmLocked() {
    if (armedId_ != 0) detail::TimerScheduler::shared().cancel(armedId_);
    armedId_ = 0;
  }

  void fired(std::uint64_t generation, std::int64_t deadline) {
    std::lock_guard lock(mutex_);
    if (cancelled_ || generation != generation_ || suspendCount_ > 0) return;
    armedId_ = 0;
    if (interval_ > 0) {
      // Fires missed while the process (or a fake clock) jumped ahead collapse into one.
      std::int64_t now = detail::uptimeNanos();
      std::int64_t missed = now > deadline ? (now - deadline) / interval_ : 0;
      next_ = detail::addSaturating(deadline, detail::addSaturating(interval_, missed * interval_));
      armLocked();
    } else {
      scheduled_ = false;
    }
    if (handlerPending_) return;
    handlerPending_ = true;
    std::weak_ptr<Timer> weak = weak_from_this();
    queue_->async([weak] {
      if (auto timer = weak.lock()) timer->runHandler();
    });
  }

  void runHandler() {
    std::shared_ptr<std::function<void()>> handler;
    {
      std::lock_guard lock(mutex_);
      handlerPending_ = false;
      if (cancelled_) return;
      handler = handler_;
    }
    if (handler && *handler) (*handler)();
  }

  DispatchQueuePtr queue_;
  mutable std::mutex mutex_;
  std::shared_ptr<std::function<void()>> handler_;
  std::function<void()> cancelHandler_;
  std::int64_t next_ = 0;
  std::int64_t interval_ = 0;
  std::uint64_t generation_ = 0;
  std::uint64_t armedId_ = 0;
  int suspendCount_ = 1;  // created suspended
  bool scheduled_ = false;
  bool cancelled_ = false;
  bool handlerPending_ = false;
};

}  // namespace

std::shared_ptr<DispatchTimer> DispatchTimer::create(DispatchQueuePtr queue) {
  if (!queue) queue = DispatchQueue::global();
  return std::make_shared<Timer>(std::move(queue));
}

}  // namespace platform
