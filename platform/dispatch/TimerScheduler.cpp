#include <cmath>
#include <limits>
#include <thread>

#include "platform/base/Saturating.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchInternal.h"
#include "platform/dispatch/SystemLog.h"

namespace platform::detail {

namespace {
constexpr std::int64_t kForever = std::numeric_limits<std::int64_t>::max();
// Bounds one wait so that a far deadline never overflows the condition variable's arithmetic.
constexpr auto kLongestWait = std::chrono::hours(1);
}  // namespace

std::int64_t toNanos(double seconds) {
  if (!(seconds > 0)) return 0;
  return saturatingCast<std::int64_t>(seconds * 1e9);
}

std::int64_t addSaturating(std::int64_t a, std::int64_t b) { return saturatingAdd(a, b); }

WaitLimit waitLimit(double seconds, bool negativeWaitsForever, const std::string& waiter) {
  using std::chrono::nanoseconds;
  using std::chrono::steady_clock;
  const auto now = steady_clock::now();
  if (std::isnan(seconds)) {
    SystemLog::write(LogLevel::Error,
                     waiter + ": a wait limit that is not a number is taken as no time at all",
                     true);
    return {false, now};
  }
  if (seconds < 0) return negativeWaitsForever ? WaitLimit{true, {}} : WaitLimit{false, now};
  // Saturates rather than overflows: a limit at either bound is beyond any real deadline.
  constexpr auto kNever = std::numeric_limits<std::int64_t>::max();
  const std::int64_t nowNanos =
      std::chrono::duration_cast<nanoseconds>(now.time_since_epoch()).count();
  const std::int64_t endNanos =
      saturatingAdd(nowNanos, saturatingCast<std::int64_t>(seconds * 1e9));
  if (endNanos == kNever) return {true, {}};
  return {false, steady_clock::time_point(
                     std::chrono::duration_cast<steady_clock::duration>(nanoseconds(endNanos)))};
}

std::int64_t uptimeNanos() {
  double up = Clock::current().uptime();
  if (!std::isfinite(up)) return 0;
  return saturatingCast<std::int64_t>(up * 1e9);
}

TimerScheduler& TimerScheduler::shared() {
  static auto* scheduler = new TimerScheduler;
  return *scheduler;
}

std::uint64_t TimerScheduler::schedule(std::int64_t deadlineNanos, Fire fire) {
  std::lock_guard lock(mutex_);
  std::uint64_t id = nextId_++;
  bool first = entries_.empty() || deadlineNanos < entries_.begin()->first.first;
  entries_.emplace(std::make_pair(deadlineNanos, id), std::move(fire));
  deadlines_.emplace(id, deadlineNanos);
  startThreadLocked();
  if (first) cv_.notify_one();
  return id;
}

bool TimerScheduler::cancel(std::uint64_t id) {
  Fire dropped;  // destroyed outside the lock: it may own arbitrary state
  std::lock_guard lock(mutex_);
  auto found = deadlines_.find(id);
  if (found == deadlines_.end()) return false;
  auto entry = entries_.find({found->second, id});
  if (entry != entries_.end()) {
    dropped = std::move(entry->second);
    entries_.erase(entry);
  }
  deadlines_.erase(found);
  return true;
}

void TimerScheduler::fireDue() {
  std::lock_guard firing(fireMutex_);
  for (;;) {
    Fire fire;
    std::int64_t deadline;
    {
      std::lock_guard lock(mutex_);
      if (entries_.empty()) return;
      auto first = entries_.begin();
      if (first->first.first > uptimeNanos()) return;
      deadline = first->first.first;
      deadlines_.erase(first->first.second);
      fire = std::move(first->second);
      entries_.erase(first);
    }
    invokeCatching([&] { fire(deadline); }, "timer");
  }
}

void TimerScheduler::replaceClock(const std::function<std::int64_t()>& swap) {
  std::lock_guard lock(mutex_);
  std::int64_t delta = swap();
  if (delta != 0 && !entries_.empty()) {
    std::map<std::pair<std::int64_t, std::uint64_t>, Fire> shifted;
    for (auto& [key, fire] : entries_) {
      std::int64_t deadline = key.first == kForever ? kForever : addSaturating(key.first, delta);
      deadlines_[key.second] = deadline;
      shifted.emplace(std::make_pair(deadline, key.second), std::move(fire));
    }
    entries_.swap(shifted);
  }
  cv_.notify_one();
}

void TimerScheduler::startThreadLocked() {
  if (threadStarted_) return;
  threadStarted_ = true;
  std::thread([this] { threadMain(); }).detach();
}

void TimerScheduler::threadMain() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (entries_.empty()) {
      cv_.wait(lock);
      continue;
    }
    std::int64_t first = entries_.begin()->first.first;
    std::int64_t now = uptimeNanos();
    if (first > now) {
      if (systemClockIsCurrent()) {
        auto wait = std::chrono::nanoseconds(first - now);
        if (wait > kLongestWait) wait = kLongestWait;
        cv_.wait_for(lock, wait);
      } else {
        // A fake clock moves only by advance(), which fires on its own thread.
        cv_.wait(lock);
      }
      continue;
    }
    lock.unlock();
    fireDue();
    lock.lock();
  }
}

}  // namespace platform::detail
