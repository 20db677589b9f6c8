#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/RunLoop.h"

namespace platform {
namespace {

class DispatchTimerTest : public ::testing::Test {
 protected:
  void SetUp() override { Clock::setCurrent(clock_); }
  void TearDown() override { Clock::setCurrent(nullptr); }
  // Lets handlers that advance() handed to the queue finish.
  void settle() {
    queue_->sync([] {});
  }

  std::shared_ptr<FakeClock> clock_ = std::make_shared<FakeClock>();
  DispatchQueuePtr queue_ = DispatchQueue::create("timer");
  std::atomic<int> fires_{0};
};

TEST_F(DispatchTimerTest, RepeatingTimerFiresEveryIntervalOnItsQueue) {
  auto timer = DispatchTimer::create(queue_);
  std::atomic<bool> onQueue{true};
  timer->setEventHandler([&] {
    if (!queue_->isCurrent()) onQueue = false;
    ++fires_;
  });
  timer->schedule(2, 1, 0.5);
  timer->resume();
  clock_->advance(1.9);
  settle();
  EXPECT_EQ(fires_.load(), 0);
  clock_->advance(0.1);  // t = 2
  settle();
  EXPECT_EQ(fires_.load(), 1);
  for (int i = 0; i < 3; ++i) {
    clock_->advance(1);
    settle();
  }
  EXPECT_EQ(fires_.load(), 4);
  EXPECT_TRUE(onQueue.load());
}

TEST_F(DispatchTimerTest, MissedFiresCollapseIntoOne) {
  auto timer = DispatchTimer::create(queue_);
  timer->setEventHandler([&] { ++fires_; });
  timer->schedule(1, 1);
  timer->resume();
  clock_->advance(100.5);
  settle();
  EXPECT_EQ(fires_.load(), 1);
  clock_->advance(0.5);  // the schedule stays on the original grid: t = 101
  settle();
  EXPECT_EQ(fires_.load(), 2);
}

TEST_F(DispatchTimerTest, OneShotFiresOnce) {
  auto timer = DispatchTimer::create(queue_);
  timer->setEventHandler([&] { ++fires_; });
  timer->schedule(3, 0);
  timer->resume();
  clock_->advance(3);
  settle();
  clock_->advance(30);
  settle();
  EXPECT_EQ(fires_.load(), 1);
  EXPECT_FALSE(timer->isCancelled());
  timer->schedule(1, -1);  // rescheduling arms it again
  clock_->advance(1);
  settle();
  EXPECT_EQ(fires_.load(), 2);
}

TEST_F(DispatchTimerTest, CancelStopsFiringAndRunsTheCancelHandlerOnce) {
  auto timer = DispatchTimer::create(queue_);
  std::atomic<int> cancels{0};
  timer->setEventHandler([&] { ++fires_; });
  timer->setCancelHandler([&] { ++cancels; });
  timer->schedule(1, 1);
  timer->resume();
  clock_->advance(1);
  settle();
  timer->cancel();
  timer->cancel();
  EXPECT_TRUE(timer->isCancelled());
  clock_->advance(10);
  settle();
  EXPECT_EQ(fires_.load(), 1);
  EXPECT_EQ(cancels.load(), 1);
  timer->schedule(1, 1);  // a cancelled timer stays cancelled
  timer->resume();
  clock_->advance(5);
  settle();
  EXPECT_EQ(fires_.load(), 1);
}

TEST_F(DispatchTimerTest, CancelDropsAFireAlreadyHandedToTheQueue) {
  auto timer = DispatchTimer::create(queue_);
  timer->setEventHandler([&] { ++fires_; });
  timer->schedule(1, 0);
  timer->resume();
  std::atomic<bool> release{false};
  queue_->async([&] {
    while (!release) std::this_thread::yield();
  });
  clock_->advance(1);  // the fire waits behind the blocking block
  timer->cancel();
  release = true;
  settle();
  EXPECT_EQ(fires_.load(), 0);
}

TEST_F(DispatchTimerTest, SuspendHoldsFiresUntilResume) {
  auto timer = DispatchTimer::create(queue_);
  timer->setEventHandler([&] { ++fires_; });
  timer->schedule(1, 1);
  clock_->advance(2);  // created suspended
  settle();
  EXPECT_EQ(fires_.load(), 0);
  timer->resume();
  ASSERT_TRUE(RunLoop::main().runUntil([&] { return fires_ == 1; }));
  timer->suspend();
  clock_->advance(5);
  settle();
  EXPECT_EQ(fires_.load(), 1);
  timer->resume();  // the overdue fire comes promptly
  ASSERT_TRUE(RunLoop::main().runUntil([&] { return fires_ == 2; }));
}

TEST_F(DispatchTimerTest, DroppingTheTimerStopsIt) {
  auto timer = DispatchTimer::create(queue_);
  timer->setEventHandler([&] { ++fires_; });
  timer->schedule(1, 1);
  timer->resume();
  timer.reset();
  clock_->advance(3);
  settle();
  EXPECT_EQ(fires_.load(), 0);
}

TEST(DispatchTimerRealClockTest, FiresNoEarlierThanItsStartAndWithinItsLeeway) {
  auto queue = DispatchQueue::create("real-timer");
  auto timer = DispatchTimer::create(queue);
  std::atomic<int> fires{0};
  auto start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point first;
  timer->setEventHandler([&] {
    if (fires == 0) first = std::chrono::steady_clock::now();
    ++fires;
  });
  timer->schedule(0.03, 0.01, 0.01);
  timer->resume();
  ASSERT_TRUE(RunLoop::main().runUntil([&] { return fires >= 3; }));
  timer->cancel();
  EXPECT_GE(first - start, std::chrono::milliseconds(30));
}

}  // namespace
}  // namespace platform
