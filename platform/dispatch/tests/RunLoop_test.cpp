#include "platform/dispatch/RunLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/SystemLog.h"

namespace platform {
namespace {

TEST(RunLoopTest, MainQueueRunsOnlyOnTheMainThreadWhenPumped) {
  EXPECT_TRUE(isMainThread());
  std::atomic<bool> ran{false};
  std::atomic<bool> onMain{false};
  std::thread poster([&] {
    EXPECT_FALSE(isMainThread());
    DispatchQueue::main()->async([&] {
      onMain = isMainThread() && DispatchQueue::main()->isCurrent();
      ran = true;
    });
  });
  poster.join();
  std::this_thread::yield();
  EXPECT_FALSE(ran.load());  // nobody pumped yet
  ASSERT_TRUE(RunLoop::main().runUntil([&] { return ran.load(); }));
  EXPECT_TRUE(onMain.load());
}

TEST(RunLoopTest, SyncOntoMainFromAnotherThreadWaitsForThePump) {
  std::atomic<bool> finished{false};
  int value = 0;
  std::thread worker([&] {
    DispatchQueue::main()->sync([&] { value = isMainThread() ? 1 : -1; });
    finished = true;
  });
  ASSERT_TRUE(RunLoop::main().runUntil([&] { return finished.load(); }));
  worker.join();
  EXPECT_EQ(value, 1);
}

TEST(RunLoopTest, SyncOntoMainFromTheMainThreadRunsInline) {
  SystemLogCapture log;
  bool ran = false;
  DispatchQueue::main()->sync([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_TRUE(log.contains("main"));
}

TEST(RunLoopTest, RunUntilTimesOutInRealTimeUnderAFakeClock) {
  auto clock = std::make_shared<FakeClock>();
  Clock::setCurrent(clock);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(RunLoop::main().runUntil([] { return false; }, 0.05));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
  EXPECT_DOUBLE_EQ(clock->uptime(), 1000.0);
}

TEST(RunLoopTest, RunUntilSeesWorkDoneOffTheMainQueue) {
  std::atomic<bool> done{false};
  DispatchQueue::global()->async([&] { done = true; });
  EXPECT_TRUE(RunLoop::main().runUntil([&] { return done.load(); }));
}

TEST(RunLoopTest, StopFromAnotherThreadEndsRun) {
  std::vector<int> order;
  DispatchQueue::main()->async([&] { order.push_back(1); });
  std::thread stopper([&] {
    DispatchQueue::main()->sync([&] { order.push_back(2); });
    RunLoop::main().stop();
  });
  RunLoop::main().run();
  stopper.join();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(RunLoopTest, DrainRunsQueuedBlocksIncludingOnesTheyQueue) {
  std::vector<int> order;
  DispatchQueue::main()->async([&] {
    order.push_back(1);
    DispatchQueue::main()->async([&] { order.push_back(3); });
  });
  DispatchQueue::main()->async([&] { order.push_back(2); });
  RunLoop::main().drain();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(RunLoopTest, PerformAfterRunsOnceDueAndCancelDropsIt) {
  auto clock = std::make_shared<FakeClock>();
  Clock::setCurrent(clock);
  std::vector<std::string> ran;
  auto first = RunLoop::main().performAfter(1.0, [&] { ran.push_back("first"); });
  auto second = RunLoop::main().performAfter(1.0, [&] { ran.push_back("second"); });
  auto third = RunLoop::main().performAfter(2.0, [&] { ran.push_back("third"); });
  EXPECT_NE(first, second);
  RunLoop::main().cancelPerform(first);  // debounced: the newer request replaces it
  RunLoop::main().drain();
  EXPECT_TRUE(ran.empty());
  clock->advance(1.0);
  RunLoop::main().drain();
  EXPECT_EQ(ran, std::vector<std::string>{"second"});
  // Cancelling after it became due but before the main queue ran it still drops it.
  clock->advance(1.0);
  RunLoop::main().cancelPerform(third);
  RunLoop::main().drain();
  EXPECT_EQ(ran, std::vector<std::string>{"second"});
  RunLoop::main().cancelPerform(12345);  // unknown ids are ignored
}

TEST(RunLoopTest, ZeroDelayPerformRunsAtTheNextPump) {
  bool ran = false;
  RunLoop::main().performAfter(0, [&] { ran = true; });
  EXPECT_FALSE(ran);
  RunLoop::main().drain();
  EXPECT_TRUE(ran);
}

TEST(RunLoopTest, PumpingOffTheMainThreadIsRefused) {
  SystemLogCapture log;
  bool result = true;
  std::thread other([&] { result = RunLoop::main().runUntil([] { return false; }, 1); });
  other.join();
  EXPECT_FALSE(result);
  EXPECT_TRUE(log.contains("main thread"));
}

}  // namespace
}  // namespace platform
