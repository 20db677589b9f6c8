// Serial dispatch queues with labels on a shared worker pool (a queue is never a thread of its
// own), the main queue (drained by RunLoop::main()), concurrent global queues by priority,
// groups, timers and once. Blocks run in FIFO order per serial queue, never inline from async.
// An exception escaping a block is caught and logged; it never ends the process. Thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace platform {

enum class QualityOfService { Background, Utility, Default, UserInitiated, UserInteractive };

class DispatchQueue : public std::enable_shared_from_this<DispatchQueue> {
 public:
  using Block = std::function<void()>;

  static std::shared_ptr<DispatchQueue> create(std::string label);  // serial
  static std::shared_ptr<DispatchQueue> main();
  static std::shared_ptr<DispatchQueue> global(QualityOfService qos = QualityOfService::Default);

  virtual ~DispatchQueue() = default;
  virtual const std::string& label() const = 0;
  virtual bool isConcurrent() const = 0;

  virtual void async(Block block) = 0;
  // Runs the block on the queue and waits. A sync onto the queue already running (directly or
  // through its target) is detected, logged and run inline instead of deadlocking.
  virtual void sync(Block block) = 0;
  // Seconds as double, truncated to nanoseconds; negative means now. Measured on Clock::current().
  virtual void after(double seconds, Block block) = 0;
  // Blocks of this queue then run serialised with those of the target.
  virtual void setTargetQueue(std::shared_ptr<DispatchQueue> target) = 0;

  // Queue-specific values, looked up by key identity.
  virtual void setSpecific(const void* key, std::shared_ptr<void> value) = 0;
  virtual std::shared_ptr<void> getSpecific(const void* key) const = 0;
  // The value for key of the queue running the caller (walking targets), or null.
  static std::shared_ptr<void> getCurrentSpecific(const void* key);
  // True when the caller runs on this queue (or on a queue targeting it).
  virtual bool isCurrent() const = 0;
};
using DispatchQueuePtr = std::shared_ptr<DispatchQueue>;

class DispatchGroup {
 public:
  static std::shared_ptr<DispatchGroup> create();
  virtual ~DispatchGroup() = default;
  virtual void enter() = 0;
  virtual void leave() = 0;
  // Runs the block on the queue once the group is empty (at once if it already is).
  virtual void notify(DispatchQueuePtr queue, std::function<void()> block) = 0;
  // Waits until empty; a negative, infinite or unrepresentably large timeout waits forever. The
  // timeout is real time, whatever clock is installed. A NaN timeout is refused at once (logged)
  // as a timeout of 0. True when the group emptied.
  virtual bool wait(double timeoutSeconds = -1) = 0;
  virtual void async(DispatchQueuePtr queue, std::function<void()> block) = 0;
};
using DispatchGroupPtr = std::shared_ptr<DispatchGroup>;

// A timer source: created suspended; schedule, then resume. Handlers run on its queue.
class DispatchTimer {
 public:
  static std::shared_ptr<DispatchTimer> create(DispatchQueuePtr queue);
  virtual ~DispatchTimer() = default;
  virtual void setEventHandler(std::function<void()> handler) = 0;
  virtual void setCancelHandler(std::function<void()> handler) = 0;
  // First fire after `start` seconds, then every `interval` seconds (0 or less: one-shot).
  // The handler may run up to `leeway` seconds late. Fires missed while the handler was still
  // pending or the clock jumped collapse into one. Dropping the last reference stops the timer.
  virtual void schedule(double start, double interval, double leeway = 0) = 0;
  virtual void resume() = 0;
  virtual void suspend() = 0;
  // Stops the timer for good and lets go of its event handler.
  virtual void cancel() = 0;
  virtual bool isCancelled() const = 0;
};
using DispatchTimerPtr = std::shared_ptr<DispatchTimer>;

using OnceToken = std::once_flag;
inline void once(OnceToken& token, const std::function<void()>& block) {
  std::call_once(token, block);
}

}  // namespace platform
