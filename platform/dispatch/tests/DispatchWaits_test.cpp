// The limits of every wait of the dispatch layer, read one way: a dispatch group's wait, an
// operation queue's wait off and on the main thread, and a pump of the main run loop; and the
// waits off the main thread never keep what they wait for from getting a worker.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/OperationQueue.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/dispatch/SystemLog.h"

namespace platform {
namespace {

// How long the test holds a wait up before it lets it end: long enough that a wait that gives up
// at once is seen to, and no bound on anything a correct wait does.
constexpr auto kHold = std::chrono::milliseconds(200);

// An asynchronous operation that ends only when the test releases it.
class HeldOperation : public Operation {
 public:
  bool isAsynchronous() const override { return true; }
  void release() { finish(); }

 protected:
  void main() override {}
};

// Something a wait can wait for: held, it cannot end; released (from any thread), it can.
struct Waitable {
  bool waitsOnTheMainThread = false;
  std::function<void()> release;
  std::function<bool(double limit)> wait;
};

struct WaitKind {
  const char* name;
  std::function<Waitable()> make;  // made held
};

std::vector<WaitKind> waitKinds() {
  auto heldQueue = [](bool onMain) {
    auto queue = OperationQueue::create("held");
    auto operation = std::make_shared<HeldOperation>();
    queue->addOperation(operation);
    Waitable waitable;
    waitable.waitsOnTheMainThread = onMain;
    waitable.release = [operation] { operation->release(); };
    waitable.wait = [queue](double limit) {
      return queue->waitUntilAllOperationsAreFinished(limit);
    };
    return waitable;
  };
  return {
      {"dispatch group",
       [] {
         auto group = DispatchGroup::create();
         group->enter();
         return Waitable{false, [group] { group->leave(); },
                         [group](double limit) { return group->wait(limit); }};
       }},
      {"operation queue, off the main thread", [heldQueue] { return heldQueue(false); }},
      {"operation queue, on the main thread", [heldQueue] { return heldQueue(true); }},
      {"main run loop",
       [] {
         auto done = std::make_shared<std::atomic<bool>>(false);
         return Waitable{true, [done] { *done = true; },
                         [done](double limit) {
                           return RunLoop::main().runUntil([done] { return done->load(); }, limit);
                         }};
       }},
  };
}

struct Outcome {
  bool answer = false;
  bool releasedFirst = false;  // the release came before the wait returned
};

// Runs the wait where its kind waits, and releases it once it has returned or kHold has passed.
Outcome waitWithLimit(const Waitable& waitable, double limit) {
  std::mutex mutex;
  std::condition_variable returnedCv;
  bool returned = false;
  std::atomic<bool> released{false};
  Outcome outcome;
  auto wait = [&] {
    const bool answer = waitable.wait(limit);
    std::lock_guard lock(mutex);
    outcome.answer = answer;
    outcome.releasedFirst = released.load();
    returned = true;
    returnedCv.notify_all();
  };
  auto releaseLater = [&] {
    {
      std::unique_lock lock(mutex);
      returnedCv.wait_for(lock, kHold, [&] { return returned; });
    }
    released = true;
    waitable.release();
  };
  if (waitable.waitsOnTheMainThread) {
    std::thread releaser(releaseLater);
    wait();
    releaser.join();
  } else {
    std::thread waiter(wait);
    releaseLater();
    waiter.join();
  }
  return outcome;
}

// An infinite limit, or one too large for the clock to represent, waits until what it waits for
// is done, as having no limit does. A limit that is not a number is a caller's mistake: every wait
// refuses it at once with a log line and answers as a wait of no time would.
TEST(DispatchWaitsTest, InfiniteOrUnrepresentableLimitsWaitUntilDoneAndNaNIsRefusedAtOnce) {
  ASSERT_TRUE(isMainThread());
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  const struct {
    const char* name;
    double limit;
    bool waitsUntilDone;  // else refused at once, logged
  } limits[] = {
      {"infinity", std::numeric_limits<double>::infinity(), true},
      {"1e12 s", 1e12, true},
      {"1e300 s", 1e300, true},
      {"the largest double", std::numeric_limits<double>::max(), true},
      {"NaN", kNaN, false},
      {"-NaN", -kNaN, false},
  };
  for (const auto& kind : waitKinds()) {
    for (const auto& l : limits) {
      SCOPED_TRACE(std::string(kind.name) + ", limit " + l.name);
      SystemLogCapture log;
      auto outcome = waitWithLimit(kind.make(), l.limit);
      EXPECT_EQ(outcome.answer, l.waitsUntilDone);
      EXPECT_EQ(outcome.releasedFirst, l.waitsUntilDone);
      EXPECT_EQ(log.contains("not a number"), !l.waitsUntilDone);
    }
  }
}

// A worker that waits is stood in for while it waits, so that the work that ends the wait still
// gets a thread: far more waiters than the pool's workers, each on a worker of its own, and what
// releases them queued behind them all as work of the pool.
TEST(DispatchWaitsTest, WaitsOffTheMainThreadDoNotStarveThePoolOfWhatEndsThem) {
  const int kWaiters = static_cast<int>(std::thread::hardware_concurrency()) * 3 + 8;
  for (const auto& kind : waitKinds()) {
    const Waitable waitable = kind.make();
    if (waitable.waitsOnTheMainThread) continue;
    SCOPED_TRACE(kind.name);
    auto woke = std::make_shared<std::atomic<int>>(0);
    for (int i = 0; i < kWaiters; ++i) {
      DispatchQueue::global()->async([waitable, woke] {
        if (waitable.wait(std::numeric_limits<double>::infinity())) ++*woke;
      });
    }
    auto releaseOnce = [release = waitable.release, once = std::make_shared<std::once_flag>()] {
      std::call_once(*once, release);
    };
    DispatchQueue::global()->async(releaseOnce);
    auto allWoke = [woke, kWaiters] { return woke->load() == kWaiters; };
    const bool served = RunLoop::main().runUntil(allWoke, 60);
    EXPECT_TRUE(served) << woke->load() << " of " << kWaiters << " waiters woke";
    if (!served) {
      // Let the stuck workers go, so that the next kind starts from a free pool.
      releaseOnce();
      ASSERT_TRUE(RunLoop::main().runUntil(allWoke, 60));
    }
  }
}

}  // namespace
}  // namespace platform
