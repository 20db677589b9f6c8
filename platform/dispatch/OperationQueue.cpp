#include "platform/dispatch/OperationQueue.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <utility>

#include "platform/dispatch/DispatchInternal.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/dispatch/SystemLog.h"

namespace platform {

namespace {

class BlockOperation : public Operation {
 public:
  explicit BlockOperation(std::function<void()> block) : block_(std::move(block)) {}
  std::string className() const override { return "BlockOperation"; }

 protected:
  void main() override {
    // Released once run, so that what the block holds does not live as long as the operation.
    auto block = std::move(block_);
    if (block) block();
  }

 private:
  std::function<void()> block_;
};

class AsyncBlockOperation;

// Finishes its operation when called, or when the last copy of `done` goes uncalled.
class DoneToken {
 public:
  DoneToken(std::shared_ptr<AsyncBlockOperation> operation, std::string queueName)
      : operation_(std::move(operation)), queueName_(std::move(queueName)) {}
  ~DoneToken();
  void fire();

 private:
  std::shared_ptr<AsyncBlockOperation> operation_;
  std::string queueName_;
  std::atomic<bool> fired_{false};
};

class AsyncBlockOperation : public Operation {
 public:
  AsyncBlockOperation(std::function<void(OperationQueue::Done)> block, std::string queueName)
      : block_(std::move(block)), queueName_(std::move(queueName)) {}
  std::string className() const override { return "AsyncBlockOperation"; }
  bool isAsynchronous() const override { return true; }
  void finishFromToken() { finish(); }

 protected:
  void main() override {
    auto block = std::move(block_);
    auto token = std::make_shared<DoneToken>(
        std::static_pointer_cast<AsyncBlockOperation>(shared_from_this()), queueName_);
    if (!block) return;  // the token finishes the operation as it goes
    block([token] { token->fire(); });
  }

 private:
  std::function<void(OperationQueue::Done)> block_;
  std::string queueName_;
};

DoneToken::~DoneToken() {
  if (fired_.exchange(true)) return;
  SystemLog::write(LogLevel::Warning, "operation queue " + queueName_ +
                                          ": an asynchronous operation was dropped without "
                                          "finishing; finishing it now");
  operation_->finishFromToken();
}

void DoneToken::fire() {
  if (fired_.exchange(true)) return;
  operation_->finishFromToken();
}

// Marks the calling thread as running a block for an operation queue (an operation's work or
// its completion) while it lives: a wait for that queue could only end once this thread returns.
using RunningForScope = detail::ThreadFrame<OperationQueue>;

bool isRunningFor(const OperationQueue* queue) { return RunningForScope::contains(queue); }

}  // namespace

// ---- Operation.

void Operation::start() {
  bool cancelledBeforeStart = false;
  {
    std::lock_guard lock(mutex_);
    if (executing_ || finished_) return;
    cancelledBeforeStart = cancelled_;
    executing_ = !cancelledBeforeStart;
  }
  if (cancelledBeforeStart) {
    finish();
    return;
  }
  try {
    main();
  } catch (const std::exception& e) {
    SystemLog::write(LogLevel::Error,
                     "operation: exception escaped " + description() + ": " + e.what(), true);
    finish();
    return;
  } catch (...) {
    SystemLog::write(LogLevel::Error, "operation: unknown exception escaped " + description(),
                     true);
    finish();
    return;
  }
  if (!isAsynchronous()) finish();
}

void Operation::cancel() {
  bool finishNow = false;
  {
    std::lock_guard lock(mutex_);
    if (finished_) return;  // what it did stands
    cancelled_ = true;
    finishNow = !executing_ && !finished_;
  }
  if (finishNow) finish();
}

void Operation::finish() {
  std::function<void()> completion;
  std::shared_ptr<OperationQueue> queue;
  {
    std::lock_guard lock(mutex_);
    if (finished_) return;
    executing_ = false;
    finished_ = true;
    completion = std::move(completionBlock_);
    queue = queue_.lock();
    queue_.reset();
  }
  // The completion block runs before the queue moves on, so it can still cancel what waits; the
  // queue still holds the operation meanwhile, so the block cannot wait for it.
  if (completion) {
    RunningForScope scope(queue.get());
    detail::invokeCatching(completion, "the completion block of " + description());
  }
  if (queue) queue->operationFinished(this);
}

bool Operation::isCancelled() const {
  std::lock_guard lock(mutex_);
  return cancelled_;
}

bool Operation::isExecuting() const {
  std::lock_guard lock(mutex_);
  return executing_;
}

bool Operation::isFinished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

void Operation::setCompletionBlock(std::function<void()> block) {
  std::lock_guard lock(mutex_);
  completionBlock_ = std::move(block);
}

bool Operation::attachToQueue(std::weak_ptr<OperationQueue> queue) {
  std::lock_guard lock(mutex_);
  if (queued_ || executing_ || finished_) return false;
  queued_ = true;
  queue_ = std::move(queue);
  return true;
}

// ---- OperationQueue.

std::shared_ptr<OperationQueue> OperationQueue::create(std::string name,
                                                       DispatchQueuePtr underlyingQueue) {
  return std::make_shared<OperationQueue>(std::move(name), std::move(underlyingQueue));
}

OperationQueue::OperationQueue(std::string name, DispatchQueuePtr underlyingQueue)
    : name_(std::move(name)),
      underlying_(underlyingQueue ? std::move(underlyingQueue) : DispatchQueue::create(name_)) {}

bool OperationQueue::addOperation(const OperationPtr& operation) {
  if (!operation) {
    SystemLog::write(LogLevel::Warning, "operation queue " + name_ + ": no operation to add");
    return false;
  }
  {
    // Attached under the queue's lock, so a cancel from another thread finds it queued.
    std::lock_guard lock(mutex_);
    if (!operation->attachToQueue(weak_from_this())) {
      SystemLog::write(LogLevel::Warning, "operation queue " + name_ + ": refused " +
                                              operation->description() +
                                              ", already queued, started or finished");
      return false;
    }
    waiting_.push_back(operation);
  }
  startNextIfIdle();
  return true;
}

OperationPtr OperationQueue::addOperation(std::function<void()> block) {
  auto operation = std::make_shared<BlockOperation>(std::move(block));
  addOperation(operation);
  return operation;
}

OperationPtr OperationQueue::addAsyncOperation(std::function<void(Done done)> block) {
  auto operation = std::make_shared<AsyncBlockOperation>(std::move(block), name_);
  addOperation(operation);
  return operation;
}

void OperationQueue::setSuspended(bool suspended) {
  {
    std::lock_guard lock(mutex_);
    suspended_ = suspended;
  }
  if (!suspended) startNextIfIdle();
}

bool OperationQueue::isSuspended() const {
  std::lock_guard lock(mutex_);
  return suspended_;
}

void OperationQueue::cancelAllOperations() {
  std::vector<OperationPtr> operations;
  {
    std::lock_guard lock(mutex_);
    if (running_) operations.push_back(running_);
    operations.insert(operations.end(), waiting_.begin(), waiting_.end());
    // No operation starts while the others are being cancelled, so none of them slips through.
    ++startsHeld_;
  }
  for (const auto& operation : operations) operation->cancel();
  {
    std::lock_guard lock(mutex_);
    --startsHeld_;
  }
  startNextIfIdle();
}

std::size_t OperationQueue::operationCount() const {
  std::lock_guard lock(mutex_);
  return waiting_.size() + (running_ ? 1 : 0);
}

std::vector<OperationPtr> OperationQueue::operations() const {
  std::lock_guard lock(mutex_);
  std::vector<OperationPtr> all;
  if (running_) all.push_back(running_);
  all.insert(all.end(), waiting_.begin(), waiting_.end());
  return all;
}

bool OperationQueue::waitUntilAllOperationsAreFinished(double timeoutSeconds) {
  if (isRunningFor(this)) {
    SystemLog::write(LogLevel::Warning, "operation queue " + name_ +
                                            ": an operation cannot wait for its own queue");
    return false;
  }
  const auto limit = detail::waitLimit(timeoutSeconds, true, "operation queue " + name_);
  if (isMainThread()) {
    // Operations may need the main queue to finish: keep draining it while waiting.
    return detail::runMainUntil(
        [this] {
          std::lock_guard lock(mutex_);
          return waiting_.empty() && !running_;
        },
        limit);
  }
  // A worker waiting here is stood in for, as in every other wait of the dispatch layer: the
  // operations it waits for may need a worker of the same pool to start or to finish.
  detail::BlockingScope blocking;
  std::unique_lock lock(mutex_);
  return detail::waitWithin(emptied_, lock, limit,
                            [this] { return waiting_.empty() && !running_; });
}

void OperationQueue::operationFinished(const Operation* operation) {
  OperationPtr released;  // dropped after the lock: its destructor is the owner's code
  {
    std::lock_guard lock(mutex_);
    if (running_.get() == operation) {
      released = std::move(running_);
      running_.reset();
    } else {
      for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
        if (it->get() == operation) {
          released = std::move(*it);
          waiting_.erase(it);
          break;
        }
      }
    }
    if (waiting_.empty() && !running_) emptied_.notify_all();
  }
  startNextIfIdle();
}

void OperationQueue::startNextIfIdle() {
  OperationPtr next;
  {
    std::lock_guard lock(mutex_);
    if (suspended_ || startsHeld_ > 0 || running_ || waiting_.empty()) return;
    next = std::move(waiting_.front());
    waiting_.pop_front();
    running_ = next;
  }
  // Started from the underlying queue, never inline on the thread that added or finished.
  std::weak_ptr<OperationQueue> weakSelf = shared_from_this();
  underlying_->async([next, weakSelf] {
    auto self = weakSelf.lock();
    RunningForScope scope(self.get());
    next->start();
  });
}

}  // namespace platform
