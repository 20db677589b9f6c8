// The machinery beneath the public dispatch interfaces: the worker pool every queue runs on, the
// one scheduler of delayed work and timers, and the queue kinds. Private to platform_dispatch.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"

namespace platform::detail {

// Seconds to whole nanoseconds, truncated; non-positive or NaN gives 0, huge values saturate.
std::int64_t toNanos(double seconds);
// The limit of a wait (group, operation queue, run-loop pump), read one way by every wait:
// real time on the steady clock, whatever clock is installed.
struct WaitLimit {
  bool unlimited = false;
  std::chrono::steady_clock::time_point deadline;  // when not unlimited
};
// `seconds` from now. An infinite limit, or one past what the steady clock can represent, is no
// limit; a negative one is no limit where `negativeWaitsForever` (the waits whose "forever" is a
// negative timeout), else no time. NaN is a caller's mistake: logged, naming `waiter`, and taken
// as no time at all, so such a wait ends at once.
WaitLimit waitLimit(double seconds, bool negativeWaitsForever, const std::string& waiter);
// Waits on `cv` (with `lock` held) until `done()` holds or the limit passes; returns `done()`.
template <typename Predicate>
bool waitWithin(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                const WaitLimit& limit, Predicate done) {
  if (limit.unlimited) {
    cv.wait(lock, done);
    return true;
  }
  return cv.wait_until(lock, limit.deadline, done);
}
// Main thread only: drains main-queue work until the predicate holds or the limit passes.
// Returns the predicate's last value.
bool runMainUntil(const std::function<bool()>& predicate, const WaitLimit& limit);

// Clock::current().uptime() in nanoseconds.
std::int64_t uptimeNanos();
std::int64_t addSaturating(std::int64_t a, std::int64_t b);
// True while no FakeClock (or other replacement) is installed.
bool systemClockIsCurrent();

class QueueBase;
class SerialQueue;

// Runs a block, catching and logging anything it throws so that no exception ends a worker.
void invokeCatching(const std::function<void()>& block, const std::string& where);

// Delayed work keyed by a deadline on Clock::current()'s uptime. A thread of its own fires what is
// due on the system clock; under a FakeClock, advance() fires on the advancing thread.
class TimerScheduler {
 public:
  using Fire = std::function<void(std::int64_t deadline)>;
  static TimerScheduler& shared();

  std::uint64_t schedule(std::int64_t deadlineNanos, Fire fire);
  bool cancel(std::uint64_t id);
  // Fires, in deadline order, everything due now, on the calling thread.
  void fireDue();
  // Runs `swap` (which installs another clock and returns newUptime - oldUptime in nanoseconds)
  // under the scheduler's lock and shifts every deadline so that remaining delays are kept.
  void replaceClock(const std::function<std::int64_t()>& swap);

 private:
  TimerScheduler() = default;
  void startThreadLocked();
  void threadMain();

  std::mutex mutex_;
  // Held for a whole round of firing, so that advance() returns only after every due entry,
  // including one the timer thread picked up first, has been handed over.
  std::recursive_mutex fireMutex_;
  std::condition_variable cv_;
  std::map<std::pair<std::int64_t, std::uint64_t>, Fire> entries_;
  std::unordered_map<std::uint64_t, std::int64_t> deadlines_;
  std::uint64_t nextId_ = 1;
  bool threadStarted_ = false;
};

// A unit of pool work: a block of a concurrent queue, or the drain of a serial queue that
// targets it.
struct PoolTask {
  QueueBase* queue = nullptr;
  std::shared_ptr<SerialQueue> drain;
  std::function<void()> block;
};

// The threads every queue runs on. Sized to the machine; a worker that blocks in the dispatch
// layer (sync, group wait) is replaced for as long as it blocks, so waiting never starves the
// work it waits for.
class WorkerPool {
 public:
  static WorkerPool& shared();
  // `wake` false: the caller is a worker about to return to the pool, which takes the task
  // itself unless an idle worker gets there first; nobody needs waking for it.
  void submit(int priority, PoolTask task, bool wake = true);
  void blockingBegin();
  void blockingEnd();

 private:
  WorkerPool();
  void spawnIfNeededLocked();
  void workerMain();

  static constexpr int kPriorities = 5;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<PoolTask> tasks_[kPriorities];
  std::atomic<std::size_t> pending_{0};  // written under mutex_, read by the spinning worker
  bool spinning_ = false;                // one idle worker polls briefly before sleeping
  int threads_ = 0;
  int idle_ = 0;
  int blocked_ = 0;
  int target_;
  int maxThreads_;
};

// Marks the calling thread as waiting; see WorkerPool.
class BlockingScope {
 public:
  BlockingScope();
  ~BlockingScope();
  BlockingScope(const BlockingScope&) = delete;
  BlockingScope& operator=(const BlockingScope&) = delete;

 private:
  bool counted_;
};

// Marks `value` on the calling thread while the frame lives; the frames of one T link outwards
// from the innermost. Plain pointers, so nothing of it is destroyed when the thread or the
// process ends.
template <typename T>
class ThreadFrame {
 public:
  explicit ThreadFrame(const T* value) : value_(value), outer_(innermost_) { innermost_ = this; }
  ~ThreadFrame() { innermost_ = outer_; }
  ThreadFrame(const ThreadFrame&) = delete;
  ThreadFrame& operator=(const ThreadFrame&) = delete;

  // The value of the innermost frame on this thread; null when there is none.
  static const T* innermost() { return innermost_ ? innermost_->value_ : nullptr; }
  // Whether any frame on this thread marks `value`.
  static bool contains(const T* value) {
    for (const ThreadFrame* frame = innermost_; frame; frame = frame->outer_) {
      if (frame->value_ == value) return true;
    }
    return false;
  }

 private:
  inline static thread_local const ThreadFrame* innermost_ = nullptr;
  const T* value_;
  const ThreadFrame* outer_;
};

// One queue running on this thread, while the frame lives.
using StackFrame = ThreadFrame<QueueBase>;

class QueueBase : public DispatchQueue {
 public:
  explicit QueueBase(std::string label) : label_(std::move(label)) {}
  const std::string& label() const override { return label_; }
  void after(double seconds, Block block) override;
  void setSpecific(const void* key, std::shared_ptr<void> value) override;
  std::shared_ptr<void> getSpecific(const void* key) const override;
  bool isCurrent() const override;

  // Runs the drain of `child` serialised with this queue's own work. `yielding`: the child's
  // drain gave up its turn on this thread and asks to be continued.
  virtual void submitDrain(std::shared_ptr<SerialQueue> child, bool yielding = false) = 0;
  // The queue this one's work runs through; null for the roots (global and main queues).
  virtual std::shared_ptr<QueueBase> targetQueue() const { return nullptr; }
  // True when a sync onto this queue from here could never be served.
  bool syncWouldDeadlock() const;

  // Runs one block of this queue on the calling thread.
  void runBlock(const Block& block) const;

 private:
  std::string label_;
  mutable std::mutex specificMutex_;
  std::vector<std::pair<const void*, std::shared_ptr<void>>> specifics_;
};

class GlobalQueue final : public QueueBase {
 public:
  GlobalQueue(std::string label, int priority) : QueueBase(std::move(label)), priority_(priority) {}
  bool isConcurrent() const override { return true; }
  void async(Block block) override;
  void sync(Block block) override;
  void setTargetQueue(std::shared_ptr<DispatchQueue> target) override;
  void submitDrain(std::shared_ptr<SerialQueue> child, bool yielding = false) override;

 private:
  int priority_;
};

class SerialQueue final : public QueueBase {
 public:
  explicit SerialQueue(std::string label) : QueueBase(std::move(label)) {}
  bool isConcurrent() const override { return false; }
  void async(Block block) override;
  void sync(Block block) override;
  void setTargetQueue(std::shared_ptr<DispatchQueue> target) override;
  void submitDrain(std::shared_ptr<SerialQueue> child, bool yielding = false) override;
  std::shared_ptr<QueueBase> targetQueue() const override;

  // Runs queued blocks until empty (or a fair share is used up), on the target's context.
  void drain();
  // The drain running on a thread (see async).
  struct DrainContext;

 private:
  struct SyncWaiter {
    std::condition_variable cv;
    bool granted = false;
  };
  struct Item {
    Block block;
    SyncWaiter* waiter = nullptr;
  };
  void scheduleDrain(bool yielding = false);
  void release();

  mutable std::mutex mutex_;
  std::deque<Item> items_;
  // True while items_ holds anything (written under mutex_). A block that this queue's own
  // drain submits joins the running batch directly, without the lock, only while it is false:
  // then nothing queued earlier can be overtaken.
  std::atomic<bool> queued_{false};
  bool active_ = false;  // a drain is pending or running, or a sync caller owns the queue
  std::shared_ptr<QueueBase> target_;  // null: the default global queue
};

class MainQueue final : public QueueBase {
 public:
  static MainQueue& shared();
  MainQueue() : QueueBase("main") {}
  bool isConcurrent() const override { return false; }
  void async(Block block) override;
  void sync(Block block) override;
  void setTargetQueue(std::shared_ptr<DispatchQueue> target) override;
  void submitDrain(std::shared_ptr<SerialQueue> child, bool yielding = false) override;
  bool isCurrent() const override;

  // Main thread only: runs one queued block; false when none was queued.
  bool runOne();
  // Waits until a block is queued, stop is requested, or the real-time deadline passes.
  void waitForWork(std::chrono::steady_clock::time_point deadline);
  void requestStop();
  bool consumeStop();

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Block> items_;
  bool stopRequested_ = false;
};

std::shared_ptr<MainQueue> mainQueuePtr();

}  // namespace platform::detail
