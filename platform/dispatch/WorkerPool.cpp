#include <algorithm>
#include <string>
#include <system_error>
#include <thread>

#include "platform/dispatch/DispatchInternal.h"
#include "platform/dispatch/SystemLog.h"

namespace platform::detail {

namespace {
thread_local bool tIsWorker = false;
constexpr auto kSpin = std::chrono::microseconds(50);
}  // namespace

WorkerPool& WorkerPool::shared() {
  static auto* pool = new WorkerPool;
  return *pool;
}

WorkerPool::WorkerPool() {
  int cores = static_cast<int>(std::thread::hardware_concurrency());
  target_ = std::max(4, cores);
  maxThreads_ = std::max(256, target_ * 4);
}

void WorkerPool::submit(int priority, PoolTask task, bool wake) {
  priority = std::clamp(priority, 0, kPriorities - 1);
  std::lock_guard lock(mutex_);
  tasks_[priority].push_back(std::move(task));
  std::size_t pending = pending_.fetch_add(1, std::memory_order_release) + 1;
  if (!wake) return;
  // A spinning worker picks up one task without a wake-up.
  std::size_t covered = spinning_ ? 1 : 0;
  if (pending > covered && idle_ > 0) cv_.notify_one();
  if (pending > covered) spawnIfNeededLocked();
}

void WorkerPool::spawnIfNeededLocked() {
  if (pending_.load(std::memory_order_relaxed) <= static_cast<std::size_t>(idle_)) return;
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
      pending_.fetch_sub(1, std::memory_order_relaxed);
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
    if (!spinning_) {
      // Polling a little before sleeping saves a wake-up when work follows closely, as it does
      // for a queue whose producer is just behind its drain.
      spinning_ = true;
      lock.unlock();
      auto until = std::chrono::steady_clock::now() + kSpin;
      int round = 0;
      while (pending_.load(std::memory_order_acquire) == 0) {
        if (++round % 64 == 0) {
          if (std::chrono::steady_clock::now() >= until) break;
          std::this_thread::yield();
        }
      }
      lock.lock();
      spinning_ = false;
      if (pending_.load(std::memory_order_relaxed) > 0) continue;
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
