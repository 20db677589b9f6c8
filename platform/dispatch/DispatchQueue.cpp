#include "platform/dispatch/DispatchQueue.h"

#include <algorithm>
#include <exception>
#include <string>

#include "platform/dispatch/DispatchInternal.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/dispatch/SystemLog.h"

namespace platform {

namespace detail {

namespace {

// How many blocks one drain runs before it lets other queues have the worker.
constexpr int kDrainBudget = 256;

int priorityOf(QualityOfService qos) { return static_cast<int>(qos); }

std::shared_ptr<GlobalQueue> makeGlobal(const char* label, QualityOfService qos) {
  return std::make_shared<GlobalQueue>(label, priorityOf(qos));
}

std::shared_ptr<GlobalQueue>* globalQueues() {
  // Never destroyed: workers may still run their blocks while the process exits.
  static auto* queues = new std::shared_ptr<GlobalQueue>[5] {
    makeGlobal("global.background", QualityOfService::Background),
        makeGlobal("global.utility", QualityOfService::Utility),
        makeGlobal("global.default", QualityOfService::Default),
        makeGlobal("global.user-initiated", QualityOfService::UserInitiated),
        makeGlobal("global.user-interactive", QualityOfService::UserInteractive),
  };
  return queues;
}

std::shared_ptr<GlobalQueue> globalQueue(QualityOfService qos) {
  int index = std::clamp(priorityOf(qos), 0, 4);
  return globalQueues()[index];
}

}  // namespace

void invokeCatching(const std::function<void()>& block, const std::string& where) {
  if (!block) return;
  try {
    block();
  } catch (const std::exception& e) {
    SystemLog::write(LogLevel::Error,
                     "dispatch: exception escaped a block on " + where + ": " + e.what(), true);
  } catch (...) {
    SystemLog::write(LogLevel::Error, "dispatch: unknown exception escaped a block on " + where,
                     true);
  }
}

void QueueBase::runBlock(const Block& block) const {
  StackFrame frame(this);
  invokeCatching(block, label_);
}

void QueueBase::after(double seconds, Block block) {
  std::int64_t delay = toNanos(seconds);
  if (delay == 0) {
    async(std::move(block));
    return;
  }
  std::int64_t deadline = addSaturating(uptimeNanos(), delay);
  auto self = std::static_pointer_cast<QueueBase>(shared_from_this());
  TimerScheduler::shared().schedule(
      deadline,
      [self, block = std::move(block)](std::int64_t) mutable { self->async(std::move(block)); });
}

void QueueBase::setSpecific(const void* key, std::shared_ptr<void> value) {
  std::shared_ptr<void> old;  // released outside the lock
  std::lock_guard lock(specificMutex_);
  auto found = std::find_if(specifics_.begin(), specifics_.end(),
                            [&](const auto& entry) { return entry.first == key; });
  if (found != specifics_.end()) {
    old = std::move(found->second);
    if (value) {
      found->second = std::move(value);
    } else {
      specifics_.erase(found);
    }
  } else if (value) {
    specifics_.emplace_back(key, std::move(value));
  }
}

std::shared_ptr<void> QueueBase::getSpecific(const void* key) const {
  std::lock_guard lock(specificMutex_);
  for (const auto& [k, v] : specifics_) {
    if (k == key) return v;
  }
  return nullptr;
}

bool QueueBase::isCurrent() const { return StackFrame::contains(this); }

bool QueueBase::syncWouldDeadlock() const {
  // Concurrent queues never make a sync wait, so only serial links of the chain matter.
  for (auto q = std::static_pointer_cast<const QueueBase>(shared_from_this()); q;
       q = q->targetQueue()) {
    if (!q->isConcurrent() && q->isCurrent()) return true;
  }
  return false;
}

// Global queues --------------------------------------------------------------------------------

void GlobalQueue::async(Block block) {
  WorkerPool::shared().submit(priority_, PoolTask{this, nullptr, std::move(block)});
}

void GlobalQueue::sync(Block block) { runBlock(block); }

void GlobalQueue::setTargetQueue(std::shared_ptr<DispatchQueue>) {
  SystemLog::write(LogLevel::Warning, "dispatch: the target of a global queue cannot change");
}

void GlobalQueue::submitDrain(std::shared_ptr<SerialQueue> child, bool yielding) {
  WorkerPool::shared().submit(priority_, PoolTask{this, std::move(child), nullptr}, !yielding);
}

// Serial queues --------------------------------------------------------------------------------

std::shared_ptr<QueueBase> SerialQueue::targetQueue() const {
  std::lock_guard lock(mutex_);
  if (target_) return target_;
  return globalQueue(QualityOfService::Default);
}

// The drain running on this thread, if any: its queue, its batch and what is left of its budget.
struct SerialQueue::DrainContext {
  SerialQueue* queue;
  std::deque<Item>* batch;
  const int* budget;
  DrainContext* outer;
};

namespace {
thread_local SerialQueue::DrainContext* tDrain = nullptr;
}  // namespace

void SerialQueue::async(Block block) {
  // A block submitting more work to its own queue (a promise chain does, once per link) adds it
  // to the batch being run, after everything in it; the drain is running, so it needs no lock.
  if (DrainContext* drain = tDrain; drain != nullptr && drain->queue == this &&
                                    *drain->budget > 0 &&
                                    !queued_.load(std::memory_order_acquire)) {
    drain->batch->push_back(Item{std::move(block), nullptr});
    return;
  }
  {
    std::lock_guard lock(mutex_);
    items_.push_back(Item{std::move(block), nullptr});
    queued_.store(true, std::memory_order_release);
    if (active_) return;
    active_ = true;
  }
  scheduleDrain();
}

void SerialQueue::scheduleDrain(bool yielding) {
  auto self = std::static_pointer_cast<SerialQueue>(shared_from_this());
  targetQueue()->submitDrain(std::move(self), yielding);
}

void SerialQueue::submitDrain(std::shared_ptr<SerialQueue> child, bool) {
  async([child = std::move(child)] { child->drain(); });
}

void SerialQueue::drain() {
  // Takes the queued items in batches, so producers and the drain meet on the lock once per
  // batch rather than once per block.
  std::deque<Item> batch;
  int budget = kDrainBudget;
  DrainContext context{this, &batch, &budget, tDrain};
  struct Scope {
    DrainContext* context;
    explicit Scope(DrainContext* c) : context(c) { tDrain = c; }
    ~Scope() { tDrain = context->outer; }
  } scope(&context);
  std::unique_lock lock(mutex_);
  for (;;) {
    if (items_.empty()) {
      active_ = false;
      return;
    }
    batch.swap(items_);
    queued_.store(false, std::memory_order_relaxed);
    lock.unlock();
    while (!batch.empty()) {
      Item& item = batch.front();
      if (item.waiter != nullptr) {
        // Ownership passes to the thread waiting in sync; it reschedules us when done. What
        // follows the waiter goes back in front of anything queued meanwhile.
        lock.lock();
        SyncWaiter* waiter = item.waiter;
        batch.pop_front();
        while (!batch.empty()) {
          items_.push_front(std::move(batch.back()));
          batch.pop_back();
        }
        if (!items_.empty()) queued_.store(true, std::memory_order_release);
        waiter->granted = true;
        waiter->cv.notify_one();
        return;
      }
      runBlock(item.block);
      batch.pop_front();
      --budget;
    }
    lock.lock();
    if (budget <= 0 && !items_.empty()) {
      lock.unlock();
      scheduleDrain(true);  // let other queues have the worker
      return;
    }
  }
}

void SerialQueue::release() {
  {
    std::lock_guard lock(mutex_);
    if (items_.empty()) {
      active_ = false;
      return;
    }
  }
  scheduleDrain();
}

void SerialQueue::sync(Block block) {
  if (syncWouldDeadlock()) {
    SystemLog::write(LogLevel::Warning,
                     "dispatch: sync onto queue \"" + label() +
                         "\" from a block already running on it; running it inline",
                     true);
    runBlock(block);
    return;
  }
  {
    std::unique_lock lock(mutex_);
    if (active_) {
      SyncWaiter waiter;
      items_.push_back(Item{nullptr, &waiter});
      queued_.store(true, std::memory_order_release);
      BlockingScope blocking;
      waiter.cv.wait(lock, [&] { return waiter.granted; });
    } else {
      active_ = true;
    }
  }
  // This thread owns the queue now; the target serialises it with its other work.
  auto target = targetQueue();
  if (target->isConcurrent()) {
    StackFrame outer(target.get());
    runBlock(block);
  } else {
    target->sync([&] { runBlock(block); });
  }
  release();
}

void SerialQueue::setTargetQueue(std::shared_ptr<DispatchQueue> target) {
  std::shared_ptr<QueueBase> next = std::dynamic_pointer_cast<QueueBase>(target);
  if (target && !next) return;
  for (auto q = next; q; q = q->targetQueue()) {
    if (q.get() == this) {
      SystemLog::write(LogLevel::Error,
                       "dispatch: refusing a target that would make queue \"" + label() +
                           "\" run through itself",
                       true);
      return;
    }
  }
  std::lock_guard lock(mutex_);
  target_ = std::move(next);
}

// The main queue ---------------------------------------------------------------------------------

MainQueue& MainQueue::shared() { return *mainQueuePtr(); }

std::shared_ptr<MainQueue> mainQueuePtr() {
  static auto* queue = new std::shared_ptr<MainQueue>(std::make_shared<MainQueue>());
  return *queue;
}

bool MainQueue::isCurrent() const { return isMainThread(); }

void MainQueue::async(Block block) {
  std::lock_guard lock(mutex_);
  items_.push_back(std::move(block));
  cv_.notify_all();
}

void MainQueue::sync(Block block) {
  if (isMainThread()) {
    SystemLog::write(LogLevel::Warning,
                     "dispatch: sync onto the main queue from the main thread; running it inline",
                     true);
    runBlock(block);
    return;
  }
  std::mutex doneMutex;
  std::condition_variable doneCv;
  bool done = false;
  async([&] {
    struct Signal {
      std::mutex& m;
      std::condition_variable& cv;
      bool& done;
      ~Signal() {
        std::lock_guard lock(m);
        done = true;
        cv.notify_one();
      }
    } signal{doneMutex, doneCv, done};
    block();
  });
  BlockingScope blocking;
  std::unique_lock lock(doneMutex);
  doneCv.wait(lock, [&] { return done; });
}

void MainQueue::setTargetQueue(std::shared_ptr<DispatchQueue>) {
  SystemLog::write(LogLevel::Warning, "dispatch: the target of the main queue cannot change");
}

void MainQueue::submitDrain(std::shared_ptr<SerialQueue> child, bool) {
  async([child = std::move(child)] { child->drain(); });
}

bool MainQueue::runOne() {
  Block block;
  {
    std::lock_guard lock(mutex_);
    if (items_.empty()) return false;
    block = std::move(items_.front());
    items_.pop_front();
  }
  runBlock(block);
  return true;
}

void MainQueue::waitForWork(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  cv_.wait_until(lock, deadline, [&] { return !items_.empty() || stopRequested_; });
}

void MainQueue::requestStop() {
  std::lock_guard lock(mutex_);
  stopRequested_ = true;
  cv_.notify_all();
}

bool MainQueue::consumeStop() {
  std::lock_guard lock(mutex_);
  bool stop = stopRequested_;
  stopRequested_ = false;
  return stop;
}

}  // namespace detail

std::shared_ptr<DispatchQueue> DispatchQueue::create(std::string label) {
  return std::make_shared<detail::SerialQueue>(std::move(label));
}

std::shared_ptr<DispatchQueue> DispatchQueue::main() { return detail::mainQueuePtr(); }

std::shared_ptr<DispatchQueue> DispatchQueue::global(QualityOfService qos) {
  return detail::globalQueue(qos);
}

std::shared_ptr<void> DispatchQueue::getCurrentSpecific(const void* key) {
  const detail::QueueBase* innermost = detail::StackFrame::innermost();
  std::shared_ptr<const detail::QueueBase> q;
  if (innermost) {
    q = std::static_pointer_cast<const detail::QueueBase>(innermost->shared_from_this());
  } else if (isMainThread()) {
    q = detail::mainQueuePtr();
  }
  for (; q; q = q->targetQueue()) {
    if (auto value = q->getSpecific(key)) return value;
  }
  return nullptr;
}

}  // namespace platform
