#include "platform/dispatch/DispatchQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/dispatch/SystemLog.h"

namespace platform {
namespace {

bool pump(const std::function<bool()>& done) { return RunLoop::main().runUntil(done, 10); }

TEST(DispatchQueueTest, AsyncRunsInFifoOrderAndNeverInline) {
  auto queue = DispatchQueue::create("fifo");
  std::mutex mutex;
  std::vector<int> order;
  std::atomic<bool> inline_{false};
  const int kCount = 2000;
  for (int i = 0; i < kCount; ++i) {
    queue->async([&, i] {
      std::lock_guard lock(mutex);
      order.push_back(i);
    });
  }
  // A block that sees the caller's stack frame still open would be running inline.
  thread_local bool insideCaller = false;
  insideCaller = true;
  queue->async([&] {
    if (insideCaller) inline_ = true;
  });
  insideCaller = false;
  ASSERT_TRUE(pump([&] {
    std::lock_guard lock(mutex);
    return order.size() == kCount;
  }));
  queue->sync([] {});
  EXPECT_FALSE(inline_.load());
  for (int i = 0; i < kCount; ++i) ASSERT_EQ(order[i], i);
}

TEST(DispatchQueueTest, SerialQueueRunsOneBlockAtATimeFromManyProducers) {
  auto queue = DispatchQueue::create("serial");
  std::atomic<int> running{0};
  std::atomic<int> maxRunning{0};
  std::atomic<int> done{0};
  std::vector<std::thread> producers;
  for (int t = 0; t < 4; ++t) {
    producers.emplace_back([&] {
      for (int i = 0; i < 500; ++i) {
        queue->async([&] {
          int now = ++running;
          int seen = maxRunning.load();
          while (now > seen && !maxRunning.compare_exchange_weak(seen, now)) {
          }
          --running;
          ++done;
        });
      }
    });
  }
  for (auto& p : producers) p.join();
  ASSERT_TRUE(pump([&] { return done == 2000; }));
  EXPECT_EQ(maxRunning.load(), 1);
}

TEST(DispatchQueueTest, SyncWaitsForEarlierBlocksAndRunsItsOwn) {
  auto queue = DispatchQueue::create("sync");
  std::vector<int> order;
  std::atomic<bool> release{false};
  queue->async([&] {
    while (!release) std::this_thread::yield();
    order.push_back(1);
  });
  queue->async([&] { order.push_back(2); });
  std::thread releaser([&] { release = true; });
  queue->sync([&] { order.push_back(3); });
  releaser.join();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(DispatchQueueTest, SyncOntoTheRunningQueueRunsInlineAndIsLogged) {
  SystemLogCapture log;
  auto queue = DispatchQueue::create("reentrant");
  auto inner = DispatchQueue::create("inner");
  inner->setTargetQueue(queue);
  std::atomic<int> step{0};
  queue->async([&] {
    queue->sync([&] { step = 1; });         // directly
    inner->sync([&] { step = step + 1; });  // through a queue that targets it
    EXPECT_TRUE(queue->isCurrent());
    step = step + 10;
  });
  ASSERT_TRUE(pump([&] { return step == 12; }));
  EXPECT_TRUE(log.contains("reentrant"));
}

TEST(DispatchQueueTest, SyncFromInsideATargetingQueueOntoItsTargetRunsInline) {
  SystemLogCapture log;
  auto outer = DispatchQueue::create("outer");
  auto child = DispatchQueue::create("child");
  child->setTargetQueue(outer);
  std::atomic<bool> done{false};
  child->async([&] {
    EXPECT_TRUE(child->isCurrent());
    EXPECT_TRUE(outer->isCurrent());
    outer->sync([&] { done = true; });
  });
  ASSERT_TRUE(pump([&] { return done.load(); }));
  EXPECT_TRUE(log.contains("outer"));
}

TEST(DispatchQueueTest, TargetQueueSerialisesItsChildren) {
  auto target = DispatchQueue::create("target");
  std::vector<DispatchQueuePtr> children;
  for (int i = 0; i < 4; ++i) {
    children.push_back(DispatchQueue::create("child"));
    children.back()->setTargetQueue(target);
  }
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};
  std::atomic<int> done{0};
  for (int i = 0; i < 400; ++i) {
    children[i % 4]->async([&] {
      if (++running > 1) overlapped = true;
      std::this_thread::yield();
      --running;
      ++done;
    });
  }
  ASSERT_TRUE(pump([&] { return done == 400; }));
  EXPECT_FALSE(overlapped.load());
}

TEST(DispatchQueueTest, TargetCycleIsRefused) {
  SystemLogCapture log;
  auto a = DispatchQueue::create("a");
  auto b = DispatchQueue::create("b");
  b->setTargetQueue(a);
  a->setTargetQueue(b);  // would make a run through itself
  std::atomic<bool> ran{false};
  a->async([&] { ran = true; });
  ASSERT_TRUE(pump([&] { return ran.load(); }));
  EXPECT_TRUE(log.contains("itself"));
}

TEST(DispatchQueueTest, QueueSpecificValuesAreFoundThroughTargets) {
  static const char kKey = 0;
  static const char kOther = 0;
  auto target = DispatchQueue::create("target");
  auto child = DispatchQueue::create("child");
  child->setTargetQueue(target);
  target->setSpecific(&kKey, std::make_shared<int>(7));
  child->setSpecific(&kOther, std::make_shared<int>(9));
  EXPECT_EQ(*std::static_pointer_cast<int>(target->getSpecific(&kKey)), 7);
  EXPECT_EQ(child->getSpecific(&kKey), nullptr);

  std::shared_ptr<void> fromChild, otherFromChild, otherFromTarget;
  child->sync([&] {
    fromChild = DispatchQueue::getCurrentSpecific(&kKey);
    otherFromChild = DispatchQueue::getCurrentSpecific(&kOther);
  });
  target->sync([&] { otherFromTarget = DispatchQueue::getCurrentSpecific(&kOther); });
  ASSERT_NE(fromChild, nullptr);
  EXPECT_EQ(*std::static_pointer_cast<int>(fromChild), 7);
  ASSERT_NE(otherFromChild, nullptr);
  EXPECT_EQ(otherFromTarget, nullptr);
  // Outside any block the main thread is on the main queue, which has neither key.
  EXPECT_EQ(DispatchQueue::getCurrentSpecific(&kKey), nullptr);
}

TEST(DispatchQueueTest, ExceptionEscapingABlockIsLoggedAndTheQueueGoesOn) {
  SystemLogCapture log;
  auto queue = DispatchQueue::create("throws");
  std::atomic<bool> after{false};
  queue->async([] { throw std::runtime_error("boom"); });
  queue->async([] { throw 42; });
  queue->async([&] { after = true; });
  ASSERT_TRUE(pump([&] { return after.load(); }));
  queue->sync([] { throw std::logic_error("in sync"); });
  auto lines = log.lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].message.find("boom"), std::string::npos);
  EXPECT_NE(lines[0].message.find("throws"), std::string::npos);
  EXPECT_EQ(lines[0].level, LogLevel::Error);
  EXPECT_TRUE(lines[0].toStandardError);
  EXPECT_NE(lines[2].message.find("in sync"), std::string::npos);
}

TEST(DispatchQueueTest, AfterOnAFakeClockRunsInDeadlineOrderWhenAdvanced) {
  auto clock = std::make_shared<FakeClock>();
  Clock::setCurrent(clock);
  auto queue = DispatchQueue::create("after");
  std::mutex mutex;
  std::vector<std::string> order;
  auto record = [&](std::string name) {
    return [&, name] {
      std::lock_guard lock(mutex);
      order.push_back(name);
    };
  };
  struct Case {
    double delay;
    const char* name;
  };
  const Case cases[] = {{3.0, "c"}, {1.0, "a"}, {2.0, "b1"}, {2.0, "b2"}, {10.0, "late"}};
  for (const auto& c : cases) queue->after(c.delay, record(c.name));
  queue->after(-5, record("now"));
  queue->sync([] {});
  {
    std::lock_guard lock(mutex);
    EXPECT_EQ(order, std::vector<std::string>{"now"});
  }
  clock->advance(0.999999);
  queue->sync([] {});
  {
    std::lock_guard lock(mutex);
    EXPECT_EQ(order.size(), 1u);
  }
  clock->advance(2.000001);  // now 3s in
  queue->sync([] {});        // advance handed a, b1, b2, c to the queue before returning
  std::lock_guard lock(mutex);
  EXPECT_EQ(order, (std::vector<std::string>{"now", "a", "b1", "b2", "c"}));
}

TEST(DispatchQueueTest, PendingDelaysSurviveAClockChange) {
  auto clock = std::make_shared<FakeClock>(1767225600.0, 50.0);
  Clock::setCurrent(clock);
  auto queue = DispatchQueue::create("rebase");
  std::atomic<bool> ran{false};
  queue->after(5, [&] { ran = true; });
  auto other = std::make_shared<FakeClock>(1767225600.0, 90000.0);
  Clock::setCurrent(other);  // its uptime is far ahead; the 5 s still remain
  queue->sync([] {});
  EXPECT_FALSE(ran.load());
  other->advance(4);
  queue->sync([] {});
  EXPECT_FALSE(ran.load());
  other->advance(1);
  queue->sync([] {});
  EXPECT_TRUE(ran.load());
}

TEST(DispatchQueueTest, AfterOnTheSystemClockRunsLater) {
  auto queue = DispatchQueue::create("real");
  auto start = std::chrono::steady_clock::now();
  std::atomic<bool> ran{false};
  std::chrono::steady_clock::time_point ranAt;
  queue->after(0.02, [&] {
    ranAt = std::chrono::steady_clock::now();
    ran = true;
  });
  ASSERT_TRUE(pump([&] { return ran.load(); }));
  EXPECT_GE(ranAt - start, std::chrono::milliseconds(20));
}

TEST(DispatchQueueTest, GlobalQueuesRunBlocksConcurrently) {
  // Two blocks that each wait for the other finish only if they run at the same time.
  std::atomic<int> arrived{0};
  std::atomic<int> finished{0};
  for (auto qos : {QualityOfService::Background, QualityOfService::UserInitiated}) {
    DispatchQueue::global(qos)->async([&] {
      ++arrived;
      while (arrived < 2) std::this_thread::yield();
      ++finished;
    });
  }
  ASSERT_TRUE(pump([&] { return finished == 2; }));
  EXPECT_TRUE(DispatchQueue::global()->isConcurrent());
  EXPECT_FALSE(DispatchQueue::create("x")->isConcurrent());
}

TEST(DispatchQueueTest, BlocksWaitingInTheDispatchLayerDoNotStarveThePool) {
  // Far more blocked waiters than cores; the block that frees them comes last.
  const int kWaiters = static_cast<int>(std::thread::hardware_concurrency()) * 3 + 8;
  auto gate = DispatchGroup::create();
  gate->enter();
  std::atomic<int> woke{0};
  for (int i = 0; i < kWaiters; ++i) {
    DispatchQueue::global()->async([&] {
      gate->wait();
      ++woke;
    });
  }
  DispatchQueue::global()->async([&] { gate->leave(); });
  ASSERT_TRUE(pump([&] { return woke == kWaiters; }));
}

TEST(DispatchQueueTest, MixedSyncAndAsyncFromManyThreadsKeepEachThreadsOrder) {
  auto queue = DispatchQueue::create("contended");
  std::vector<std::pair<int, int>> seen;  // guarded by the queue alone
  const int kThreads = 6, kPerThread = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        auto record = [&seen, t, i] { seen.emplace_back(t, i); };
        if (i % 3 == 0) {
          queue->sync(record);
        } else {
          queue->async(record);
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  std::vector<std::pair<int, int>> result;
  queue->sync([&] { result = seen; });
  ASSERT_EQ(result.size(), static_cast<size_t>(kThreads * kPerThread));
  std::vector<int> next(kThreads, 0);
  for (const auto& [t, i] : result) {
    ASSERT_EQ(i, next[t]) << "thread " << t;
    ++next[t];
  }
}

TEST(DispatchQueueTest, BlocksAQueueGivesItselfRunAfterEverythingQueuedBeforeThem) {
  auto queue = DispatchQueue::create("self");
  std::mutex lock;
  std::vector<std::string> order;
  auto record = [&](std::string what) {
    std::lock_guard<std::mutex> guard(lock);
    order.push_back(std::move(what));
  };
  std::atomic<bool> outsideQueued{false};
  std::atomic<bool> secondQueued{false};
  queue->async([&] {
    while (!secondQueued.load()) std::this_thread::yield();
    record("first");
    // Another thread queues a block, and only then does this block queue its own two.
    std::thread([&] {
      queue->async([&] { record("outside"); });
      outsideQueued = true;
    }).join();
    ASSERT_TRUE(outsideQueued.load());
    queue->async([&] {
      record("own 1");
      queue->async([&] { record("own 3"); });
    });
    queue->async([&] { record("own 2"); });
  });
  queue->async([&] { record("second"); });
  secondQueued = true;
  ASSERT_TRUE(pump([&] {
    std::lock_guard<std::mutex> guard(lock);
    return order.size() == 6;
  }));
  queue->sync([] {});
  std::lock_guard<std::mutex> guard(lock);
  EXPECT_EQ(order,
            (std::vector<std::string>{"first", "second", "outside", "own 1", "own 2", "own 3"}));
}

TEST(DispatchQueueTest, OnceRunsTheBlockOnceAcrossThreads) {
  static OnceToken token;
  std::atomic<int> runs{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) threads.emplace_back([&] { once(token, [&] { ++runs; }); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(runs.load(), 1);
}

}  // namespace
}  // namespace platform
