// Long chains and mixed observers: every link runs on its own queue with the value of the link
// before it, observers of one promise keep their registration order whatever kind they are, and
// a promise nobody holds any more still delivers to the observers it already has.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "promises/PRMPromise.h"
#include "promises/tests/PromiseTestSupport.h"

namespace prm_test {
namespace {

class PRMPromiseChainDeliveryTest : public PromiseTest {};

TEST_F(PRMPromiseChainDeliveryTest, ChainAcrossQueuesRunsEachLinkOnItsQueue) {
  auto serialA = platform::DispatchQueue::create("prm.test.chain.a");
  auto serialB = platform::DispatchQueue::create("prm.test.chain.b");
  auto global = platform::DispatchQueue::global();
  struct Case {
    const char* name;
    std::vector<platform::DispatchQueuePtr> queues;  // link i runs on queues[i % size]
    int rejectAt;                                    // -1: no link fails
  };
  const std::vector<Case> cases = {
      {"one serial queue", {serialA}, -1},
      {"two serial queues in turn", {serialA, serialB}, -1},
      {"serial and concurrent in turn", {serialA, global, serialB}, -1},
      {"an error half way passes the later links by", {serialA, serialB}, 500},
  };
  constexpr int kLinks = 1000;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto head = PRMPromise::pendingPromise();
    auto wrongQueue = std::make_shared<std::atomic<int>>(0);
    auto ranAfterError = std::make_shared<std::atomic<int>>(0);
    PRMPromisePtr last = head;
    for (int i = 0; i < kLinks; ++i) {
      const auto& queue = c.queues[i % c.queues.size()];
      const bool fails = i == c.rejectAt;
      last = last->onQueueThen(queue,
                               [queue, i, fails, rejectAt = c.rejectAt, wrongQueue,
                                ranAfterError](const Value& value) -> Value {
                                 if (!queue->isCurrent()) ++*wrongQueue;
                                 if (rejectAt >= 0 && i > rejectAt) ++*ranAfterError;
                                 if (fails) return Value(makeError(i));
                                 return Value(value.int64Value() + 1);
                               });
    }
    // Settled from another thread, as producers usually do.
    std::thread([head] { head->fulfill(Value(0)); }).detach();
    ASSERT_TRUE(waitFor(last, 20));
    EXPECT_EQ(*wrongQueue, 0);
    EXPECT_EQ(*ranAfterError, 0);
    if (c.rejectAt < 0) {
      EXPECT_EQ(last->value(), Value(kLinks));
    } else {
      ASSERT_TRUE(last->isRejected());
      EXPECT_EQ(last->error()->code(), c.rejectAt);
    }
  }
  EXPECT_TRUE(groupEmpties());
}

TEST_F(PRMPromiseChainDeliveryTest, ObserversOfEveryKindRunInRegistrationOrder) {
  auto queue = platform::DispatchQueue::create("prm.test.mixed");
  std::mutex lock;
  std::vector<std::string> order;
  auto record = [&](const std::string& what) {
    std::lock_guard<std::mutex> guard(lock);
    order.push_back(what);
  };
  for (const bool reject : {false, true}) {
    SCOPED_TRACE(reject ? "rejected" : "fulfilled");
    {
      std::lock_guard<std::mutex> guard(lock);
      order.clear();
    }
    auto promise = PRMPromise::pendingPromise();
    auto chained = promise->onQueueThen(queue, [&](const Value& v) {
      record("then");
      return v;
    });
    promise->observeOnQueue(
        queue, [&](const Value&) { record("observe"); },
        [&](const platform::ErrorPtr&) { record("observe"); });
    promise->onQueueCatch(queue, [&](const platform::ErrorPtr&) { record("catch"); });
    promise->onQueueAlways(queue, [&] { record("always"); });
    if (reject) {
      promise->reject(makeError(3));
    } else {
      promise->fulfill(Value("value"));
    }
    // Registered after settlement: behind everything registered before.
    promise->onQueueAlways(queue, [&] { record("late always"); });
    ASSERT_TRUE(waitFor(chained));
    ASSERT_TRUE(pumpUntil([&] {
      std::lock_guard<std::mutex> guard(lock);
      return order.size() >= 4u;
    }));
    ASSERT_TRUE(groupEmpties());
    std::lock_guard<std::mutex> guard(lock);
    if (reject) {
      EXPECT_EQ(order, (std::vector<std::string>{"observe", "catch", "always", "late always"}));
      EXPECT_EQ(chained->error()->code(), 3);
    } else {
      EXPECT_EQ(order, (std::vector<std::string>{"then", "observe", "always", "late always"}));
      EXPECT_EQ(chained->value(), Value("value"));
    }
  }
}

TEST_F(PRMPromiseChainDeliveryTest, DroppedPromiseStillDeliversToItsObservers) {
  auto queue = platform::DispatchQueue::create("prm.test.dropped");
  // The queue is held up so that both promises are gone before their observers run.
  std::mutex gate;
  std::unique_lock<std::mutex> closed(gate);
  queue->async([&] { std::lock_guard<std::mutex> wait(gate); });
  auto seen = std::make_shared<std::vector<Value>>();
  std::weak_ptr<PRMPromise> watched;
  PRMPromisePtr result;
  {
    auto promise = PRMPromise::pendingPromise();
    watched = promise;
    auto middle =
        promise->onQueueThen(queue, [](const Value& v) { return Value(v.int64Value() * 2); });
    result = middle->onQueueThen(queue, [seen](const Value& v) {
      seen->push_back(v);
      return v;
    });
    promise->fulfill(Value(21));
  }
  closed.unlock();
  ASSERT_TRUE(waitFor(result));
  EXPECT_EQ(result->value(), Value(42));
  EXPECT_EQ(*seen, (std::vector<Value>{Value(42)}));
  ASSERT_TRUE(pumpUntil([&] { return watched.expired(); }));
  EXPECT_TRUE(groupEmpties());
}

}  // namespace
}  // namespace prm_test
