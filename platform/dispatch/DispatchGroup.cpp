#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/dispatch/DispatchInternal.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/SystemLog.h"

namespace platform {

namespace {

class Group final : public DispatchGroup, public std::enable_shared_from_this<Group> {
 public:
  // The count is atomic so that entering and leaving take no lock; only the leave that empties
  // the group takes it, to run the notifications and wake the waiters.
  void enter() override { count_.fetch_add(1, std::memory_order_relaxed); }

  void leave() override {
    // Once the count reaches zero a waiter may return and drop the group while this call still
    // has to wake the others; the last leave holds it until done.
    std::shared_ptr<Group> keep;
    std::size_t count = count_.load(std::memory_order_relaxed);
    for (;;) {
      if (count == 0) {
        // An unbalanced leave would otherwise wrap the count and lose every later notify.
        SystemLog::write(LogLevel::Error, "dispatch: group left more often than entered", true);
        return;
      }
      if (count == 1 && !keep) keep = weak_from_this().lock();
      if (count_.compare_exchange_weak(count, count - 1, std::memory_order_acq_rel,
                                       std::memory_order_relaxed)) {
        break;
      }
    }
    if (count > 1) return;
    std::vector<std::pair<DispatchQueuePtr, std::function<void()>>> ready;
    {
      std::lock_guard lock(mutex_);
      // Somebody may have entered again meanwhile; the notifications then wait for that leave.
      if (count_.load(std::memory_order_acquire) == 0) ready.swap(notifies_);
      cv_.notify_all();
    }
    for (auto& [queue, block] : ready) queue->async(std::move(block));
  }

  void notify(DispatchQueuePtr queue, std::function<void()> block) override {
    if (!queue) queue = DispatchQueue::global();
    {
      std::lock_guard lock(mutex_);
      if (count_.load(std::memory_order_acquire) > 0) {
        notifies_.emplace_back(std::move(queue), std::move(block));
        return;
      }
    }
    queue->async(std::move(block));
  }

  bool wait(double timeoutSeconds) override {
    const auto limit = detail::waitLimit(timeoutSeconds, true, "dispatch group");
    detail::BlockingScope blocking;
    std::unique_lock lock(mutex_);
    return detail::waitWithin(cv_, lock, limit,
                              [&] { return count_.load(std::memory_order_acquire) == 0; });
  }

  void async(DispatchQueuePtr queue, std::function<void()> block) override {
    if (!queue) queue = DispatchQueue::global();
    enter();
    queue->async([self = shared_from_this(), block = std::move(block)] {
      // Leave even when the block throws; the queue logs the exception.
      struct Leave {
        Group& group;
        ~Leave() { group.leave(); }
      } leave{*self};
      block();
    });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::atomic<std::size_t> count_{0};
  std::vector<std::pair<DispatchQueuePtr, std::function<void()>>> notifies_;
};

}  // namespace

std::shared_ptr<DispatchGroup> DispatchGroup::create() { return std::make_shared<Group>(); }

}  // namespace platform
