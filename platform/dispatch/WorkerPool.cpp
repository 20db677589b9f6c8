#include <algorithm>
#include <string>
#include <system_error>
#include <thread>

#include "platform/dispatch/DispatchInternal.h"
#include "platform/dispatch/SystemLog.h"

namespace platform::detail {

namespace {
thread_local bool tIsWorker = false;
}

WorkerPool& WorkerPool::shared() {
  static auto* pool = new WorkerPool;
  return *pool;
}

WorkerPool::WorkerPool() {
  int cores = static_cast<int>(std::thread::hardware_concurrency());
  target_ = std::max(4, cores);
  maxThreads_ = std::max(256, target_ * 4);
}

void WorkerPool::submit(int priority, PoolTask task) {
  priority = std::clamp(priority, 0, kPriorities - 1);
  std::lock_guard lock(mutex_);
  tasks_[priority].push_back(std::move(task));
  ++pending_;
  if (idle_ > 0) cv_.notify_one();
  spawnIfNeededLocked();
}

void WorkerPool::spawnIfNeededLocked() {
  if (pending_ <= static_cast<std::size_t>(idle_)) return;
  if (threads_ - blocked_ >= target_ || threads_ >= maxThreads_) return;
  try {
    std::thread([this] { workerMain(); }).detach();
    ++threads_;
  } catch (const std::system_error& e) {
    SystemLog::write(LogLevel::Error, std::string("dispatch: cannot start a worker: ") + e.what(),
                     true);
  }
}

void WorkerPool::workerMain() {
  tIsWorker = true;
  std::unique_lock lock(mutex_);
  for (;;) {
    if (pending_ > 0) {
      PoolTask task;
      for (int p = kPriorities - 1; p >= 0; --p) {
        if (!tasks_[p].empty()) {
          task = std::move(tasks_[p].front());
          tasks_[p].pop_front();
          break;
        }
      }
      --pending_;
      lock.unlock();
      {
        StackFrame frame(task.queue);
        if (task.drain) {
          task.drain->drain();
        } else {
          invokeCatching(task.block, task.queue->label());
        }
      }
      task = PoolTask();  // release captures before taking the lock again
      lock.lock();
      continue;
    }
    // Workers started to stand in for blocked ones leave once those are back.
    if (threads_ - blocked_ > target_) {
      --threads_;
      return;
    }
    ++idle_;
    cv_.wait(lock);
    --idle_;
  }
}

void WorkerPool::blockingBegin() {
  std::lock_guard lock(mutex_);
  ++blocked_;
  spawnIfNeededLocked();
}

void WorkerPool::blockingEnd() {
  std::lock_guard lock(mutex_);
  --blocked_;
}

BlockingScope::BlockingScope() : counted_(tIsWorker) {
  if (counted_) WorkerPool::shared().blockingBegin();
}

BlockingScope::~BlockingScope() {
  if (counted_) WorkerPool::shared().blockingEnd();
}

}  // namespace platform::detail
