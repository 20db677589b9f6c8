// Operations and the serial operation queue that runs them one at a time, in the order added, on
// a dispatch queue. A queue can be suspended (added operations wait; a running one goes on) and
// its operations cancelled. An asynchronous operation keeps the queue busy after its start
// returns, until it calls finish(). Operation and OperationQueue are thread-safe: each guards its
// state with its own mutex, and no user code (work, completion blocks) runs under either.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/base/Value.h"
#include "platform/dispatch/DispatchQueue.h"

namespace platform {

// One unit of work. A subclass puts its work in main(). A synchronous operation is finished when
// main() returns; an asynchronous one (isAsynchronous() answers true) is finished when it calls
// finish(), from any thread, on every path.
class OperationQueue;

class Operation : public Object {
 public:
  std::string className() const override { return "Operation"; }

  // Runs main() on the calling thread. A cancelled operation finishes at once without running;
  // an operation already started or finished is left alone. An exception escaping main() is
  // logged and finishes the operation, so a queue never waits on it for ever.
  void start();
  // Marks the operation cancelled. One that has not started is finished at once (its completion
  // block runs and its queue drops it); a running one goes on and may look at isCancelled(); a
  // finished one is left as it is.
  void cancel();

  bool isCancelled() const;
  bool isExecuting() const;
  bool isFinished() const;
  virtual bool isAsynchronous() const { return false; }

  // Runs once, on the thread that finishes the operation, after it has finished.
  void setCompletionBlock(std::function<void()> block);

 protected:
  virtual void main() = 0;
  // Ends the operation; only the first call counts. Synchronous operations never need it.
  void finish();

 private:
  friend class OperationQueue;
  // Set by the queue that holds the operation: false when another queue already holds it.
  bool attachToQueue(std::weak_ptr<OperationQueue> queue);

  mutable std::mutex mutex_;
  bool executing_ = false;
  bool finished_ = false;
  bool cancelled_ = false;
  bool queued_ = false;
  std::function<void()> completionBlock_;
  std::weak_ptr<OperationQueue> queue_;  // told when the operation finishes
};
using OperationPtr = std::shared_ptr<Operation>;

class OperationQueue : public std::enable_shared_from_this<OperationQueue> {
 public:
  // `underlyingQueue` is where operations start; by default a serial queue labelled `name`.
  static std::shared_ptr<OperationQueue> create(std::string name,
                                                DispatchQueuePtr underlyingQueue = nullptr);

  const std::string& name() const { return name_; }
  const DispatchQueuePtr& underlyingQueue() const { return underlying_; }

  // Queues an operation behind those already added. An operation that is already in a queue,
  // running or finished is refused (logged; false).
  bool addOperation(const OperationPtr& operation);
  // A synchronous operation running `block`.
  OperationPtr addOperation(std::function<void()> block);
  // An asynchronous operation: `block` receives `done`, which finishes the operation when called
  // (from any thread, once). Should every copy of `done` be dropped uncalled, the operation
  // finishes then, with a log line, so that the queue does not stall.
  using Done = std::function<void()>;
  OperationPtr addAsyncOperation(std::function<void(Done done)> block);

  // While suspended no operation starts; the running one, if any, goes on.
  void setSuspended(bool suspended);
  bool isSuspended() const;

  // Cancels every operation in the queue: those waiting finish at once and are dropped, the
  // running one is told and finishes on its own.
  void cancelAllOperations();
  // Operations added and not yet finished, the running one included.
  std::size_t operationCount() const;
  std::vector<OperationPtr> operations() const;

  // Waits until the queue holds no operation, or `timeoutSeconds` of real time pass (negative,
  // infinite or unrepresentably large: no limit; NaN: refused at once, logged, as 0). On the main
  // thread it pumps the main run loop meanwhile. Refused at once (logged, false) from any block
  // run for an operation of this queue (its work or completion block), which would wait for
  // itself. A suspended queue that holds operations does not empty. True when the queue emptied.
  bool waitUntilAllOperationsAreFinished(double timeoutSeconds = -1);

  OperationQueue(std::string name, DispatchQueuePtr underlyingQueue);
  OperationQueue(const OperationQueue&) = delete;
  OperationQueue& operator=(const OperationQueue&) = delete;

 private:
  friend class Operation;
  void operationFinished(const Operation* operation);
  void startNextIfIdle();

  const std::string name_;
  const DispatchQueuePtr underlying_;
  mutable std::mutex mutex_;
  std::condition_variable emptied_;
  std::deque<OperationPtr> waiting_;
  OperationPtr running_;
  bool suspended_ = false;
  int startsHeld_ = 0;  // while cancelAllOperations works through the queue
};
using OperationQueuePtr = std::shared_ptr<OperationQueue>;

}  // namespace platform
