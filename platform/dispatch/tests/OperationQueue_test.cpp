#include "platform/dispatch/OperationQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/dispatch/RunLoop.h"
#include "platform/dispatch/SystemLog.h"

namespace platform {
namespace {

constexpr double kPatience = 10;  // seconds of real time before a test gives up

// What ran, in order, from any thread.
class Journal {
 public:
  void add(int entry) {
    std::lock_guard lock(mutex_);
    entries_.push_back(entry);
  }
  std::vector<int> entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<int> entries_;
};

// An asynchronous operation whose work ends only when the test releases it, from a thread of
// the test's choosing, as an upload ends when its response arrives.
class GatedOperation : public Operation {
 public:
  bool isAsynchronous() const override { return true; }
  void release() { finish(); }
  bool waitUntilMainRan() {
    return mainRan_.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  }
  bool mainRan() const {
    return mainRan_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
  }

 protected:
  void main() override { started_.set_value(); }

 private:
  std::promise<void> started_;
  std::shared_future<void> mainRan_ = started_.get_future().share();
};

// A synchronous operation that remembers whether its work ran.
class CountingOperation : public Operation {
 public:
  explicit CountingOperation(std::atomic<int>& ran) : ran_(ran) {}
  bool didRun() const { return didRun_.load(); }

 protected:
  void main() override {
    didRun_ = true;
    ++ran_;
  }

 private:
  std::atomic<int>& ran_;
  std::atomic<bool> didRun_{false};
};

TEST(OperationQueueTest, RunsOperationsOneAtATimeInTheOrderAdded) {
  auto queue = OperationQueue::create("order");
  auto worker = DispatchQueue::create("elsewhere");
  Journal journal;
  std::atomic<int> running{0};
  std::atomic<int> maxRunning{0};
  auto enter = [&] {
    int now = ++running;
    int seen = maxRunning.load();
    while (now > seen && !maxRunning.compare_exchange_weak(seen, now)) {
    }
  };
  const int kCount = 200;
  for (int i = 0; i < kCount; ++i) {
    if (i % 2 == 0) {
      queue->addOperation([&, i] {
        enter();
        journal.add(i);
        --running;
      });
    } else {
      // Finishes later on another queue: the next one must still wait for it.
      queue->addAsyncOperation([&, i, worker](OperationQueue::Done done) {
        enter();
        worker->async([&, i, done] {
          journal.add(i);
          --running;
          done();
        });
      });
    }
  }
  ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(kPatience));
  auto entries = journal.entries();
  ASSERT_EQ(entries.size(), static_cast<std::size_t>(kCount));
  for (int i = 0; i < kCount; ++i) EXPECT_EQ(entries[i], i);
  EXPECT_EQ(maxRunning.load(), 1);
  EXPECT_EQ(queue->operationCount(), 0u);
}

TEST(OperationQueueTest, AsynchronousOperationHoldsTheQueueUntilItFinishes) {
  auto queue = OperationQueue::create("async");
  auto gated = std::make_shared<GatedOperation>();
  std::atomic<bool> nextRan{false};
  ASSERT_TRUE(queue->addOperation(gated));
  queue->addOperation([&] { nextRan = true; });
  ASSERT_TRUE(gated->waitUntilMainRan());
  // Its start has returned, yet it still counts and the next one waits.
  EXPECT_FALSE(queue->waitUntilAllOperationsAreFinished(0.05));
  EXPECT_TRUE(gated->isExecuting());
  EXPECT_FALSE(gated->isFinished());
  EXPECT_FALSE(nextRan.load());
  EXPECT_EQ(queue->operationCount(), 2u);

  std::thread([gated] { gated->release(); }).join();
  ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(kPatience));
  EXPECT_TRUE(nextRan.load());
  EXPECT_TRUE(gated->isFinished());
  EXPECT_FALSE(gated->isExecuting());
}

TEST(OperationQueueTest, SuspendedQueueStartsNothingUntilResumed) {
  auto queue = OperationQueue::create("held");
  queue->setSuspended(true);
  EXPECT_TRUE(queue->isSuspended());
  Journal journal;
  for (int i = 0; i < 3; ++i) queue->addOperation([&, i] { journal.add(i); });
  EXPECT_FALSE(queue->waitUntilAllOperationsAreFinished(0.05));
  EXPECT_TRUE(journal.entries().empty());
  EXPECT_EQ(queue->operationCount(), 3u);

  queue->setSuspended(false);
  ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(kPatience));
  EXPECT_EQ(journal.entries(), (std::vector<int>{0, 1, 2}));
}

TEST(OperationQueueTest, SuspendingLetsTheRunningOperationFinishAndHoldsTheRest) {
  auto queue = OperationQueue::create("suspend-while-running");
  auto gated = std::make_shared<GatedOperation>();
  std::atomic<bool> nextRan{false};
  queue->addOperation(gated);
  queue->addOperation([&] { nextRan = true; });
  ASSERT_TRUE(gated->waitUntilMainRan());
  queue->setSuspended(true);
  gated->release();
  EXPECT_TRUE(gated->isFinished());
  EXPECT_EQ(queue->operationCount(), 1u);
  EXPECT_FALSE(queue->waitUntilAllOperationsAreFinished(0.05));
  EXPECT_FALSE(nextRan.load());
  queue->setSuspended(false);
  ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(kPatience));
  EXPECT_TRUE(nextRan.load());
}

TEST(OperationQueueTest, CancelAllDropsWaitingOperationsAndTellsTheRunningOne) {
  auto queue = OperationQueue::create("cancel");
  auto gated = std::make_shared<GatedOperation>();
  Journal ran;
  Journal completed;
  gated->setCompletionBlock([&] { completed.add(0); });
  queue->addOperation(gated);
  std::vector<OperationPtr> waiting;
  for (int i = 1; i <= 3; ++i) {
    auto operation = queue->addOperation([&, i] { ran.add(i); });
    operation->setCompletionBlock([&, i] { completed.add(i); });
    waiting.push_back(operation);
  }
  ASSERT_TRUE(gated->waitUntilMainRan());

  queue->cancelAllOperations();
  // The waiting ones are finished and gone at once, their completion blocks run in queue order.
  EXPECT_EQ(completed.entries(), (std::vector<int>{1, 2, 3}));
  for (const auto& operation : waiting) {
    EXPECT_TRUE(operation->isCancelled());
    EXPECT_TRUE(operation->isFinished());
  }
  EXPECT_TRUE(gated->isCancelled());
  EXPECT_TRUE(gated->isExecuting());
  EXPECT_EQ(queue->operationCount(), 1u);

  // What is added afterwards runs as usual once the cancelled one has wound up.
  std::atomic<bool> laterRan{false};
  queue->addOperation([&] { laterRan = true; });
  gated->release();
  ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(kPatience));
  EXPECT_TRUE(ran.entries().empty());
  EXPECT_TRUE(laterRan.load());
  EXPECT_EQ(completed.entries(), (std::vector<int>{1, 2, 3, 0}));
}

TEST(OperationQueueTest, CancellingInASuspendedQueueEmptiesIt) {
  auto queue = OperationQueue::create("cancel-held");
  queue->setSuspended(true);
  std::atomic<int> ran{0};
  auto first = queue->addOperation([&] { ++ran; });
  auto second = queue->addOperation([&] { ++ran; });
  second->cancel();
  EXPECT_EQ(queue->operations(), (std::vector<OperationPtr>{first}));
  queue->cancelAllOperations();
  EXPECT_EQ(queue->operationCount(), 0u);
  EXPECT_TRUE(queue->waitUntilAllOperationsAreFinished(kPatience));
  queue->setSuspended(false);
  queue->addOperation([] {});
  ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(kPatience));
  EXPECT_EQ(ran.load(), 0);
}

// The uploader's pattern: the completion block of a finished operation cancels what queued up
// behind it, before any of that starts.
TEST(OperationQueueTest, CompletionBlockRunsBeforeTheNextOperationStarts) {
  auto queue = OperationQueue::create("completion-first");
  std::atomic<int> ran{0};
  // Added while suspended, so they are all queued before the first can finish.
  queue->setSuspended(true);
  auto first = queue->addOperation([&] { ++ran; });
  std::weak_ptr<OperationQueue> weakQueue = queue;
  first->setCompletionBlock([weakQueue] {
    if (auto q = weakQueue.lock()) q->cancelAllOperations();
  });
  for (int i = 0; i < 5; ++i) queue->addOperation([&] { ++ran; });
  queue->setSuspended(false);
  ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(kPatience));
  EXPECT_EQ(ran.load(), 1);
  // Cancelling from its own completion block reaches the finished operation too: it stays as it
  // finished, not cancelled.
  EXPECT_TRUE(first->isFinished());
  EXPECT_FALSE(first->isCancelled());
}

TEST(OperationQueueTest, RefusesOperationsItCannotRun) {
  SystemLogCapture log;
  auto queue = OperationQueue::create("refusals");
  auto other = OperationQueue::create("other");
  other->setSuspended(true);

  auto queuedElsewhere = other->addOperation([] {});
  auto finished = std::make_shared<GatedOperation>();
  finished->start();
  finished->release();
  auto cancelled = std::make_shared<GatedOperation>();
  cancelled->cancel();

  struct Case {
    const char* what;
    OperationPtr operation;
  } cases[] = {
      {"null", nullptr},
      {"in another queue", queuedElsewhere},
      {"finished", finished},
      {"cancelled before it started", cancelled},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(queue->addOperation(c.operation)) << c.what;
  }
  EXPECT_EQ(queue->operationCount(), 0u);
  EXPECT_TRUE(log.contains("operation queue refusals: refused"));
  EXPECT_TRUE(log.contains("operation queue refusals: no operation to add"));

  // Adding the same operation twice keeps one copy.
  queue->setSuspended(true);
  auto once = std::make_shared<GatedOperation>();
  EXPECT_TRUE(queue->addOperation(once));
  EXPECT_FALSE(queue->addOperation(once));
  EXPECT_EQ(queue->operationCount(), 1u);
  other->cancelAllOperations();
  queue->cancelAllOperations();
}

TEST(OperationQueueTest, ThrowingOrForgottenWorkFinishesAndTheQueueGoesOn) {
  SystemLogCapture log;
  auto queue = OperationQueue::create("faults");
  std::atomic<bool> lastRan{false};
  auto throwing = queue->addOperation([] { throw std::runtime_error("sync boom"); });
  auto throwingAsync =
      queue->addAsyncOperation([](OperationQueue::Done) { throw std::logic_error("async boom"); });
  // `done` is dropped without being called.
  auto forgotten = queue->addAsyncOperation([](OperationQueue::Done) {});
  auto throwingCompletion = queue->addOperation([] {});
  throwingCompletion->setCompletionBlock([] { throw std::runtime_error("completion boom"); });
  queue->addOperation([&] { lastRan = true; });

  ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(kPatience));
  EXPECT_TRUE(lastRan.load());
  for (const auto& operation : {throwing, throwingAsync, forgotten, throwingCompletion}) {
    EXPECT_TRUE(operation->isFinished());
  }
  EXPECT_TRUE(log.contains("sync boom"));
  EXPECT_TRUE(log.contains("async boom"));
  EXPECT_TRUE(log.contains("completion boom"));
  EXPECT_TRUE(log.contains("operation queue faults: an asynchronous operation was dropped"));
}

TEST(OperationQueueTest, DoneCountsOnceHoweverOftenItIsCalled) {
  auto queue = OperationQueue::create("done-twice");
  std::atomic<int> completions{0};
  OperationQueue::Done kept;
  std::promise<void> started;
  auto operation = queue->addAsyncOperation([&](OperationQueue::Done done) {
    kept = done;
    started.set_value();
  });
  operation->setCompletionBlock([&] { ++completions; });
  started.get_future().wait();
  std::vector<std::thread> callers;
  for (int i = 0; i < 4; ++i) callers.emplace_back([kept] { kept(); });
  for (auto& t : callers) t.join();
  kept = nullptr;
  ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(kPatience));
  EXPECT_EQ(completions.load(), 1);
}

TEST(OperationQueueTest, OperationOutsideAQueueStartsAndCancelsOnItsOwn) {
  std::atomic<int> completions{0};
  auto plain = std::make_shared<GatedOperation>();
  plain->setCompletionBlock([&] { ++completions; });
  plain->start();
  EXPECT_TRUE(plain->isExecuting());
  plain->start();  // already running: left alone
  plain->cancel();
  EXPECT_TRUE(plain->isCancelled());
  EXPECT_FALSE(plain->isFinished());  // a running operation ends on its own
  plain->release();
  plain->release();
  EXPECT_TRUE(plain->isFinished());
  EXPECT_EQ(completions.load(), 1);

  auto early = std::make_shared<GatedOperation>();
  early->setCompletionBlock([&] { ++completions; });
  early->cancel();
  EXPECT_TRUE(early->isFinished());
  early->start();  // finished: main never runs
  EXPECT_FALSE(early->isExecuting());
  EXPECT_FALSE(early->mainRan());
  EXPECT_EQ(completions.load(), 2);

  std::atomic<int> ran{0};
  auto done = std::make_shared<CountingOperation>(ran);
  done->setCompletionBlock([&] { ++completions; });
  done->start();
  ASSERT_TRUE(done->isFinished());
  done->cancel();  // finished: nothing changes
  EXPECT_FALSE(done->isCancelled());
  EXPECT_TRUE(done->isFinished());
  EXPECT_EQ(completions.load(), 3);
}

TEST(OperationQueueTest, WaitingIsRefusedFromInsideTheQueue) {
  // Each way a block comes to run for an operation of the queue, and inside it a wait for that
  // queue, which could only end when the block itself has returned. The refusal is logged and
  // answered at once; a wait that is not refused gives up after kPatience, without the log line.
  struct Case {
    const char* name;
    std::function<void(const OperationQueuePtr& queue, std::function<void()> waitForQueue)> run;
  };
  const std::vector<Case> cases = {
      {"from the operation's work",
       [](const OperationQueuePtr& queue, std::function<void()> waitForQueue) {
         queue->addOperation(waitForQueue);
       }},
      {"from the completion of an operation that ran",
       [](const OperationQueuePtr& queue, std::function<void()> waitForQueue) {
         queue->setSuspended(true);
         queue->addOperation([] {})->setCompletionBlock(waitForQueue);
         queue->setSuspended(false);
       }},
      {"from the completion of an asynchronous operation finished on another thread",
       [](const OperationQueuePtr& queue, std::function<void()> waitForQueue) {
         auto operation = std::make_shared<GatedOperation>();
         operation->setCompletionBlock(waitForQueue);
         queue->addOperation(operation);
         ASSERT_TRUE(operation->waitUntilMainRan());
         std::thread([operation] { operation->release(); }).join();
       }},
      {"from the completion of a waiting operation that is cancelled",
       [](const OperationQueuePtr& queue, std::function<void()> waitForQueue) {
         queue->setSuspended(true);
         queue->addOperation([] {})->setCompletionBlock(waitForQueue);
         queue->cancelAllOperations();
         queue->setSuspended(false);
       }},
      {"from the completion of another queue's operation cancelled by this queue's work",
       [](const OperationQueuePtr& queue, std::function<void()> waitForQueue) {
         auto other = OperationQueue::create("self-wait-other");
         other->setSuspended(true);
         other->addOperation([] {})->setCompletionBlock(waitForQueue);
         queue->addOperation([other] { other->cancelAllOperations(); });
         ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(3 * kPatience));
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SystemLogCapture log;
    auto queue = OperationQueue::create("self-wait");
    std::atomic<int> answer{-1};
    std::weak_ptr<OperationQueue> weakQueue = queue;
    c.run(queue, [weakQueue, &answer] {
      if (auto q = weakQueue.lock()) answer = q->waitUntilAllOperationsAreFinished(kPatience);
    });
    ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(3 * kPatience));
    EXPECT_EQ(answer.load(), 0);
    EXPECT_TRUE(log.contains("an operation cannot wait for its own queue"));
  }
}

TEST(OperationQueueTest, OperationsOnTheMainQueueRunWhileTheMainThreadWaits) {
  ASSERT_TRUE(isMainThread());
  auto queue = OperationQueue::create("on-main", DispatchQueue::main());
  EXPECT_EQ(queue->underlyingQueue(), DispatchQueue::main());
  EXPECT_EQ(queue->name(), "on-main");
  std::atomic<bool> onMain{false};
  queue->addAsyncOperation([&](OperationQueue::Done done) {
    onMain = isMainThread();
    DispatchQueue::main()->async(done);
  });
  EXPECT_TRUE(queue->waitUntilAllOperationsAreFinished(kPatience));
  EXPECT_TRUE(onMain.load());
}

TEST(OperationQueueTest, ManyThreadsAddAndCancelWithoutLosingAnOperation) {
  auto queue = OperationQueue::create("contention");
  std::atomic<int> completions{0};
  std::atomic<int> ran{0};
  const int kThreads = 4;
  const int kPerThread = 250;
  std::vector<std::vector<std::shared_ptr<CountingOperation>>> made(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        auto operation = std::make_shared<CountingOperation>(ran);
        operation->setCompletionBlock([&] { ++completions; });
        made[t].push_back(operation);
        EXPECT_TRUE(queue->addOperation(operation));
        if (i % 7 == 0) operation->cancel();
        if (t == 0 && i % 50 == 0) queue->cancelAllOperations();
        if (t == 1 && i % 40 == 0) queue->setSuspended(i % 80 == 0);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  queue->setSuspended(false);
  ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(kPatience));
  EXPECT_EQ(queue->operationCount(), 0u);
  // Every operation finished exactly once; one whose work did not run was cancelled.
  EXPECT_EQ(completions.load(), kThreads * kPerThread);
  int didRun = 0;
  for (const auto& operations : made) {
    for (const auto& operation : operations) {
      EXPECT_TRUE(operation->isFinished());
      if (operation->didRun()) {
        ++didRun;
      } else {
        EXPECT_TRUE(operation->isCancelled());
      }
    }
  }
  EXPECT_EQ(didRun, ran.load());
  EXPECT_GT(didRun, 0);
}

}  // namespace
}  // namespace platform
