#include "platform/dispatch/RunLoop.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <unordered_map>

#include "platform/dispatch/DispatchInternal.h"
#include "platform/dispatch/SystemLog.h"

namespace platform {

namespace {

// Between checks of a predicate that may depend on work off the main queue.
constexpr auto kPollInterval = std::chrono::milliseconds(5);

struct Performs {
  std::mutex mutex;
  std::uint64_t nextId = 1;
  struct Request {
    std::uint64_t timerId = 0;  // 0 once handed to the main queue
    std::function<void()> block;
  };
  std::unordered_map<std::uint64_t, Request> requests;
};

Performs& performs() {
  static auto* p = new Performs;
  return *p;
}

void runPerform(std::uint64_t id) {
  std::function<void()> block;
  {
    auto& p = performs();
    std::lock_guard lock(p.mutex);
    auto found = p.requests.find(id);
    if (found == p.requests.end()) return;  // cancelled after it became due
    block = std::move(found->second.block);
    p.requests.erase(found);
  }
  detail::invokeCatching(block, "main run loop");
}

bool requireMainThread(const char* what) {
  if (isMainThread()) return true;
  SystemLog::write(LogLevel::Error,
                   std::string("run loop: ") + what + " called off the main thread; ignored", true);
  return false;
}

}  // namespace

bool isMainThread() {
  thread_local const bool main = syscall(SYS_gettid) == getpid();
  return main;
}

RunLoop& RunLoop::main() {
  static auto* loop = new RunLoop;
  return *loop;
}

void RunLoop::run() {
  if (!requireMainThread("run")) return;
  auto& queue = detail::MainQueue::shared();
  for (;;) {
    if (queue.consumeStop()) return;
    if (queue.runOne()) continue;
    queue.waitForWork(std::chrono::steady_clock::now() + std::chrono::hours(1));
  }
}

void RunLoop::stop() { detail::MainQueue::shared().requestStop(); }

bool RunLoop::runUntil(const std::function<bool()>& predicate, double timeoutSeconds) {
  if (!requireMainThread("runUntil")) return predicate();
  return detail::runMainUntil(predicate, detail::waitLimit(timeoutSeconds, false, "run loop"));
}

namespace detail {

bool runMainUntil(const std::function<bool()>& predicate, const WaitLimit& limit) {
  auto& queue = MainQueue::shared();
  for (;;) {
    RunLoop::main().drain();
    if (predicate()) return true;
    auto now = std::chrono::steady_clock::now();
    if (!limit.unlimited && now >= limit.deadline) return false;
    auto nextCheck = now + kPollInterval;
    queue.waitForWork(limit.unlimited ? nextCheck : std::min(limit.deadline, nextCheck));
  }
}

}  // namespace detail

void RunLoop::drain() {
  if (!requireMainThread("drain")) return;
  auto& queue = detail::MainQueue::shared();
  while (queue.runOne()) {
  }
}

std::uint64_t RunLoop::performAfter(double delay, std::function<void()> block) {
  auto& p = performs();
  std::lock_guard lock(p.mutex);
  std::uint64_t id = p.nextId++;
  auto& request = p.requests[id];
  request.block = std::move(block);
  std::int64_t delayNanos = detail::toNanos(delay);
  if (delayNanos == 0) {
    DispatchQueue::main()->async([id] { runPerform(id); });
  } else {
    request.timerId = detail::TimerScheduler::shared().schedule(
        detail::addSaturating(detail::uptimeNanos(), delayNanos), [id](std::int64_t) {
          {
            auto& p = performs();
            std::lock_guard lock(p.mutex);
            auto found = p.requests.find(id);
            if (found == p.requests.end()) return;
            found->second.timerId = 0;
          }
          DispatchQueue::main()->async([id] { runPerform(id); });
        });
  }
  return id;
}

void RunLoop::cancelPerform(std::uint64_t requestId) {
  std::function<void()> dropped;  // released outside the lock
  std::uint64_t timerId = 0;
  {
    auto& p = performs();
    std::lock_guard lock(p.mutex);
    auto found = p.requests.find(requestId);
    if (found == p.requests.end()) return;
    timerId = found->second.timerId;
    dropped = std::move(found->second.block);
    p.requests.erase(found);
  }
  if (timerId != 0) detail::TimerScheduler::shared().cancel(timerId);
}

}  // namespace platform
