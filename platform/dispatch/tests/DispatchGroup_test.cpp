#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/dispatch/SystemLog.h"

namespace platform {
namespace {

TEST(DispatchGroupTest, NotifyRunsOnlyAfterTheLastLeave) {
  auto group = DispatchGroup::create();
  auto queue = DispatchQueue::create("notify");
  group->enter();
  group->enter();
  std::atomic<bool> notified{false};
  group->notify(queue, [&] { notified = true; });
  group->leave();
  queue->sync([] {});
  EXPECT_FALSE(notified.load());
  group->leave();
  queue->sync([] {});  // notify was handed to the queue by the last leave
  EXPECT_TRUE(notified.load());
}

TEST(DispatchGroupTest, NotifyOnAnEmptyGroupRunsAtOnceOnItsQueue) {
  auto group = DispatchGroup::create();
  bool ran = false;
  group->notify(DispatchQueue::main(), [&] { ran = true; });
  EXPECT_FALSE(ran);  // never inline
  RunLoop::main().drain();
  EXPECT_TRUE(ran);
}

TEST(DispatchGroupTest, AsyncMembersAreWaitedForEvenWhenTheyThrow) {
  SystemLogCapture log;
  auto group = DispatchGroup::create();
  std::atomic<int> done{0};
  auto queue = DispatchQueue::create("members");
  for (int i = 0; i < 50; ++i) {
    group->async(i % 2 ? queue : DispatchQueue::global(), [&, i] {
      ++done;
      if (i == 7) throw std::runtime_error("member failed");
    });
  }
  EXPECT_TRUE(group->wait(10));
  EXPECT_EQ(done.load(), 50);
  EXPECT_TRUE(log.contains("member failed"));
}

TEST(DispatchGroupTest, WaitTimesOutWhileMembersRemain) {
  auto group = DispatchGroup::create();
  EXPECT_TRUE(group->wait(0));
  group->enter();
  EXPECT_FALSE(group->wait(0));
  EXPECT_FALSE(group->wait(0.02));
  std::thread leaver([&] { group->leave(); });
  EXPECT_TRUE(group->wait());
  leaver.join();
}

TEST(DispatchGroupTest, UnbalancedLeaveIsLoggedAndLeavesTheGroupUsable) {
  SystemLogCapture log;
  auto group = DispatchGroup::create();
  group->leave();
  EXPECT_TRUE(log.contains("left more often"));
  group->enter();
  std::atomic<bool> notified{false};
  group->notify(DispatchQueue::global(), [&] { notified = true; });
  group->leave();
  EXPECT_TRUE(RunLoop::main().runUntil([&] { return notified.load(); }));
}

TEST(DispatchGroupTest, ReusedAfterEmptying) {
  auto group = DispatchGroup::create();
  auto queue = DispatchQueue::create("reuse");
  std::atomic<int> notifies{0};
  for (int round = 0; round < 3; ++round) {
    group->enter();
    group->notify(queue, [&] { ++notifies; });
    group->leave();
  }
  queue->sync([] {});
  EXPECT_EQ(notifies.load(), 3);
}

TEST(DispatchGroupTest, ConcurrentMembersNeverLetNotifyRunEarly) {
  auto group = DispatchGroup::create();
  auto queue = DispatchQueue::create("busy members");
  std::atomic<bool> held{true};
  std::atomic<int> notifies{0};
  std::atomic<bool> early{false};
  group->enter();  // held until every worker is done
  group->notify(queue, [&] {
    if (held.load()) early = true;
    ++notifies;
  });
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([&] {
      for (int i = 0; i < 5000; ++i) {
        group->enter();
        group->leave();
      }
    });
  }
  for (auto& worker : workers) worker.join();
  queue->sync([] {});
  EXPECT_EQ(notifies.load(), 0);
  held = false;
  group->leave();
  EXPECT_TRUE(group->wait(10));
  queue->sync([] {});
  EXPECT_EQ(notifies.load(), 1);
  EXPECT_FALSE(early.load());
}

}  // namespace
}  // namespace platform
