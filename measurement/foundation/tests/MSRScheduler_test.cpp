#include "measurement/foundation/MSRScheduler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <future>
#include <limits>
#include <stdexcept>

#include "measurement/foundation/MSRAlarm.h"
#include "measurement/foundation/MSRConstants.h"
#include "measurement/foundation/MSRException.h"
#include "measurement/foundation/tests/MSRTestSupport.h"
#include "platform/base/Error.h"
#include "platform/base/UserDefaults.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/testing/PlatformTest.h"

namespace {

class MSRSchedulerTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    MSRMeasurement::monitor()->setDebugModeEnabled(true);  // level-7 lines reach the console
    msr_test::engineLines();
    vtu::testing::startCapturingLines();
  }
  // Runs a block on the queue and waits, so earlier blocks of that queue have run.
  static void drain(const platform::DispatchQueuePtr& q) { q->sync([] {}); }
  static bool anyLineHas(const std::string& text) {
    for (const auto& l : msr_test::engineLines()) {
      if (l.find(text) != std::string::npos) return true;
    }
    return false;
  }
};

TEST_F(MSRSchedulerTest, BlocksRunOnTheWorkerQueueInOrder) {
  MSRScheduler scheduler("com.veltro.lma.worker");
  std::vector<int> order;
  for (int i = 0; i < 5; ++i) {
    scheduler.scheduleOnWorkerQueueBlockID("Test:1", [&order, i, &scheduler] {
      EXPECT_TRUE(scheduler.workerQueue()->isCurrent());
      order.push_back(i);
    });
  }
  scheduler.dispatchSyncOnWorkerQueueBlockID("Test:2", [&order] { order.push_back(5); });
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(scheduler.workerQueue()->label(), "com.veltro.lma.worker");
}

TEST_F(MSRSchedulerTest, FailingAndEmptyBlocksAreLoggedAndTheCallerGoesOn) {
  MSRScheduler scheduler("w");
  scheduler.scheduleOnWorkerQueueBlockID("A:1", [] { throw platform::Exception("Bad", "x"); });
  std::atomic<bool> after{false};
  scheduler.scheduleOnWorkerQueueBlockID("A:2", [&after] { after = true; });
  drain(scheduler.workerQueue());
  EXPECT_TRUE(after);
  scheduler.dispatchSyncOnWorkerQueueBlockID("B:1", [] { throw platform::Exception("Bad", "y"); });
  scheduler.dispatchSyncOnWorkerQueueBlockID("C:1", nullptr);
  scheduler.scheduleOnWorkerQueueBlockID("D:1", nullptr);
  EXPECT_EQ(msr_test::engineCodes(), (std::vector<std::string>{
                                         "I-ACS030000", "I-ACS030003", "I-ACS030004",
                                         "I-ACS030002", "I-ACS030005"}));
  EXPECT_TRUE(anyLineHas("Exception on worker queue. Block ID=A:1. Exception: "));
  EXPECT_TRUE(anyLineHas("Synchronous task failed. Block ID=B:1"));
}

TEST_F(MSRSchedulerTest, WhateverABlockThrowsIsLoggedSampledAndTheQueueGoesOn) {
  msr_test::MonitorRecorder recorder;
  MSRScheduler scheduler("w");
  scheduler.scheduleOnWorkerQueueBlockID("A:1", [] { throw std::runtime_error("disk full"); });
  scheduler.scheduleOnWorkerQueueBlockID("A:2", [] { throw 42; });
  std::atomic<bool> after{false};
  scheduler.scheduleOnWorkerQueueBlockID("A:3", [&after] { after = true; });
  drain(scheduler.workerQueue());
  EXPECT_TRUE(after);
  scheduler.dispatchSyncOnWorkerQueueBlockID("B:1", [] { throw 7; });

  using Code = std::pair<std::int64_t, std::int64_t>;
  EXPECT_EQ(recorder.codes(), (std::vector<Code>{{30000, 1}, {30000, 1}, {30003, 1}, {30004, 4}}));
  const auto records = recorder.records();
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0].message, "Exception on worker queue. Block ID=A:1. Exception");
  EXPECT_EQ(records[1].message, "Exception on worker queue. Block ID=A:2. Exception");
  ASSERT_EQ(records[0].contexts.size(), 1u);
  auto exception = records[0].contexts[0].objectAs<MSRException>();
  ASSERT_TRUE(exception);
  EXPECT_EQ(exception->reason(), "disk full");
  ASSERT_EQ(records[1].contexts.size(), 1u);
  EXPECT_TRUE(records[1].contexts[0].objectAs<MSRException>());

  // Each of them reached the health sample.
  MSRMeasurement::monitor()->flush();
  const platform::Value sample = platform::UserDefaults::initWithSuiteName(kMSRMonitorSuiteName)
                                     ->objectForKey(kMSRHealthMonitorKey);
  ASSERT_TRUE(sample.isArray());
  EXPECT_EQ(sample.at(1).int64Value(), 4);
}

TEST_F(MSRSchedulerTest, DelaysThatAreNoNumberOrOutOfRangeStayDefined) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const struct Row {
    double delay;
    bool firesAtOnce;
  } rows[] = {
      {std::nan(""), true}, {-kInf, true}, {-1e300, true},
      {1e300, false},       {kInf, false}, {std::numeric_limits<double>::max(), false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.delay);
    auto q = platform::DispatchQueue::create("alarm");
    auto alarm = MSRAlarm::initWithDispatchQueue(q, "Odd");
    std::atomic<int> fired{0};
    const double start = clock().now();
    q->sync([&] {
      alarm->runAfterDelay(row.delay, [&] { ++fired; });
      ASSERT_TRUE(alarm->scheduledTimestamp());
      const double at = *alarm->scheduledTimestamp();
      EXPECT_TRUE(std::isfinite(at));
      if (row.firesAtOnce) {
        EXPECT_LE(at, start);
      } else {
        EXPECT_GT(at, start + 100.0 * 365 * 24 * 3600);
      }
    });
    clock().advance(0.001);
    drain(q);
    EXPECT_EQ(fired, row.firesAtOnce ? 1 : 0);
    clock().advance(10.0 * 365 * 24 * 3600);
    drain(q);
    EXPECT_EQ(fired, row.firesAtOnce ? 1 : 0);
    q->sync([&] { EXPECT_EQ(alarm->hasActiveTimer(), !row.firesAtOnce); });
    q->sync([&] { alarm->cancel(); });
  }
}

TEST_F(MSRSchedulerTest, MainThreadMisuseIsReportedWithTheMethodName) {
  EXPECT_FALSE(MSRScheduler::checkOnBackgroundThreadWithMethodName(""));
  EXPECT_TRUE(anyLineHas("Method <empty method name> should execute on background thread"));
  auto q = platform::DispatchQueue::create("bg");
  std::promise<bool> onWorker;
  q->async([&] { onWorker.set_value(MSRScheduler::checkOnBackgroundThreadWithMethodName("m")); });
  EXPECT_TRUE(onWorker.get_future().get());
}

TEST_F(MSRSchedulerTest, NotificationNamesAreThePlatformOnes) {
  EXPECT_EQ(MSRAppDidBecomeActiveNotificationName(), "UIApplicationDidBecomeActiveNotification");
  EXPECT_EQ(MSRAppDidFinishLaunchingNotificationName(),
            "UIApplicationDidFinishLaunchingNotification");
  EXPECT_EQ(MSRAppWillResignActiveNotificationName(), "UIApplicationWillResignActiveNotification");
  EXPECT_EQ(MSRWindowDidResignKeyNotificationName(), "UIWindowDidResignKeyNotification");
  EXPECT_EQ(MSRAppWillEnterForegroundNotificationName(),
            "UIApplicationWillEnterForegroundNotification");
  EXPECT_EQ(MSRAppDidEnterBackgroundNotificationName(),
            "UIApplicationDidEnterBackgroundNotification");
}

TEST_F(MSRSchedulerTest, RescheduledAlarmFiresOnceAtTheLaterSchedule) {
  auto q = platform::DispatchQueue::create("alarm");
  auto alarm = MSRAlarm::initWithDispatchQueue(q, "Measurement timer");
  std::atomic<int> fired{0};
  const double start = clock().now();
  q->sync([&] {
    alarm->runAfterDelay(10, [&] { fired += 100; });
    alarm->runAfterDelay(5, [&] { ++fired; });
    EXPECT_DOUBLE_EQ(*alarm->scheduledTimestamp(), start + 5);
    EXPECT_TRUE(alarm->hasActiveTimer());
  });
  clock().advance(4.9);
  drain(q);
  EXPECT_EQ(fired, 0);
  clock().advance(0.2);
  drain(q);
  EXPECT_EQ(fired, 1);
  clock().advance(20);
  drain(q);
  EXPECT_EQ(fired, 1);
  q->sync([&] { EXPECT_FALSE(alarm->scheduledTimestamp()); });
  const auto codes = msr_test::engineCodes();
  EXPECT_EQ(codes, (std::vector<std::string>{"I-ACS002002", "I-ACS002003", "I-ACS002002",
                                             "I-ACS002001", "I-ACS002003"}));
  EXPECT_TRUE(anyLineHas("Measurement timer scheduled to fire in approx. (s): 5"));
}

TEST_F(MSRSchedulerTest, CancelStatesAndDefaultName) {
  auto q = platform::DispatchQueue::create("alarm");
  auto alarm = MSRAlarm::initWithDispatchQueue(q, "");
  q->sync([&] {
    alarm->cancel();  // idle: nothing
    alarm->runAfterDelay(1, nullptr);
    alarm->setTimerSourceUnavailableForTesting(true);
    alarm->runAfterDelay(1, [] {});
    EXPECT_TRUE(alarm->scheduledTimestamp());
    EXPECT_FALSE(alarm->hasActiveTimer());
    alarm->cancel();
    EXPECT_FALSE(alarm->scheduledTimestamp());
  });
  EXPECT_EQ(msr_test::engineCodes(), (std::vector<std::string>{"I-ACS002000", "I-ACS002002",
                                                               "I-ACS002003", "I-ACS002004"}));
  EXPECT_TRUE(anyLineHas("Timer tried to schedule an empty block"));
  EXPECT_TRUE(anyLineHas("Timer is not active"));
}

TEST_F(MSRSchedulerTest, AFiredBlockMayRescheduleItsOwnAlarm) {
  auto q = platform::DispatchQueue::create("alarm");
  auto alarm = MSRAlarm::initWithDispatchQueue(q, "Engagement timer");
  std::atomic<int> fired{0};
  std::weak_ptr<MSRAlarm> weak = alarm;
  std::function<void()> again = [&fired, weak] {
    ++fired;
    if (auto a = weak.lock()) a->runAfterDelay(3, [&fired] { ++fired; });
  };
  q->sync([&] { alarm->runAfterDelay(1, again); });
  clock().advance(1);
  drain(q);
  q->sync([&] {
    EXPECT_TRUE(alarm->hasActiveTimer());
    EXPECT_TRUE(alarm->scheduledTimestamp());
  });
  clock().advance(3);
  drain(q);
  EXPECT_EQ(fired, 2);
}

TEST_F(MSRSchedulerTest, APendingAlarmHoldsItselfUntilItFiresOrIsCancelled) {
  auto q = platform::DispatchQueue::create("alarm");
  std::atomic<int> fired{0};
  std::weak_ptr<MSRAlarm> firing;
  std::weak_ptr<MSRAlarm> cancelled;
  auto held = std::make_shared<int>(0);  // something the block holds
  std::weak_ptr<int> heldByBlock = held;
  q->sync([&] {
    auto alarm = MSRAlarm::initWithDispatchQueue(q, "Dropped");
    alarm->runAfterDelay(1, [&fired, held] { ++fired; });
    firing = alarm;
    auto other = MSRAlarm::initWithDispatchQueue(q, "Dropped and cancelled");
    other->runAfterDelay(1, [&fired] { fired += 100; });
    other->cancel();
    cancelled = other;
  });
  held.reset();
  EXPECT_TRUE(cancelled.expired());  // nothing holds a cancelled alarm
  EXPECT_FALSE(firing.expired());    // the pending one holds itself and its block
  EXPECT_FALSE(heldByBlock.expired());
  clock().advance(2);
  drain(q);
  EXPECT_EQ(fired, 1);
  EXPECT_TRUE(firing.expired());  // let go once it has run
  EXPECT_TRUE(heldByBlock.expired());
}

TEST_F(MSRSchedulerTest, AlarmDelayComesDueAfterItsSecondsTimesTenToTheNineTruncatedOnce) {
  // Some of these (2.094, 4.1) lose a nanosecond when truncated to nanoseconds, turned back into
  // seconds and truncated again.
  const double delays[] = {2.094, 4.1, 4.063, 0.3, 1e-9, 7.9999999999};
  auto q = platform::DispatchQueue::create("alarm");
  auto alarm = MSRAlarm::initWithDispatchQueue(q, "Exact");
  auto uptimeNanos = [this] { return static_cast<std::int64_t>(clock().uptime() * 1e9); };
  // Half a nanosecond past the count, well clear of any rounding of the clock's seconds.
  auto moveTo = [&](std::int64_t nanos) {
    clock().advance((static_cast<double>(nanos) + 0.5) / 1e9 - clock().uptime());
    drain(q);
  };
  for (const double delay : delays) {
    SCOPED_TRACE(delay);
    const auto nanos = static_cast<std::int64_t>(delay * 1e9);
    const std::int64_t start = uptimeNanos();
    std::atomic<int> fired{0};
    q->sync([&] { alarm->runAfterDelay(delay, [&fired] { ++fired; }); });
    moveTo(start + nanos - 1);
    EXPECT_EQ(fired, 0) << "due a nanosecond early";
    moveTo(start + nanos);
    EXPECT_EQ(fired, 1) << "not due at its time";
  }
}

}  // namespace
