#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/base/Format.h"
#include "promises/PRMPromise.h"
#include "promises/tests/PromiseTestSupport.h"

namespace prm_test {
namespace {

class PRMPromiseCoreTest : public PromiseTest {};

TEST_F(PRMPromiseCoreTest, ResolvedWithSettlesByKindOfResolution) {
  auto error = makeError(7);
  struct Case {
    const char* name;
    Value resolution;
    bool rejected;
  };
  const Case cases[] = {
      {"nil fulfils with nil", Value(), false},
      {"null marker stays the null marker", Value::null(), false},
      {"string fulfils", Value("text"), false},
      {"error rejects", Value(error), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto promise = PRMPromise::resolvedWith(c.resolution);
    EXPECT_FALSE(promise->isPending());
    EXPECT_EQ(promise->isRejected(), c.rejected);
    EXPECT_EQ(promise->isFulfilled(), !c.rejected);
    if (c.rejected) {
      EXPECT_EQ(promise->error(), error);
      EXPECT_TRUE(promise->value().isNil());
    } else {
      EXPECT_EQ(promise->error(), nullptr);
      EXPECT_EQ(promise->value().kind(), c.resolution.kind());
      EXPECT_EQ(promise->value(), c.resolution);
    }
  }
  // The getter forms make the same promises.
  EXPECT_TRUE(PRMPromise::pending()()->isPending());
  EXPECT_TRUE(PRMPromise::resolved()(Value(error))->isRejected());
}

TEST_F(PRMPromiseCoreTest, FulfillWithErrorRejectsAndFirstSettlementWins) {
  auto first = makeError(1);
  auto promise = PRMPromise::pendingPromise();
  promise->fulfill(Value(first));
  EXPECT_TRUE(promise->isRejected());
  EXPECT_EQ(promise->error(), first);

  promise->fulfill(Value(3));
  promise->reject(makeError(2));
  EXPECT_TRUE(promise->isRejected());
  EXPECT_EQ(promise->error(), first);
  EXPECT_TRUE(promise->value().isNil());

  auto fulfilled = PRMPromise::pendingPromise();
  fulfilled->fulfill(Value(5));
  fulfilled->reject(makeError(3));
  fulfilled->fulfill(Value(6));
  EXPECT_TRUE(fulfilled->isFulfilled());
  EXPECT_EQ(fulfilled->value(), Value(5));
  EXPECT_EQ(fulfilled->error(), nullptr);
  EXPECT_TRUE(assertions().empty());
}

TEST_F(PRMPromiseCoreTest, RejectWithoutErrorIsReportedAndLeavesPromisePending) {
  auto promise = PRMPromise::pendingPromise();
  promise->reject(nullptr);
  EXPECT_TRUE(promise->isPending());
  ASSERT_EQ(assertions().size(), 1u);
  EXPECT_EQ(assertions()[0].description, "Invalid error type.");
  EXPECT_EQ(assertions()[0].file, "PRMPromise");
}

TEST_F(PRMPromiseCoreTest, DefaultAssertionHandlerThrowsOnBrokenContract) {
  platform::AssertionHandler::setHandler(nullptr);
  auto promise = PRMPromise::pendingPromise();
  EXPECT_THROW(promise->reject(nullptr), platform::Exception);
  EXPECT_TRUE(promise->isPending());
}

TEST_F(PRMPromiseCoreTest, ObserverOfSettledPromiseRunsLaterNeverInline) {
  for (bool reject : {false, true}) {
    SCOPED_TRACE(reject ? "rejected" : "fulfilled");
    auto promise = reject ? PRMPromise::resolvedWith(Value(makeError(1)))
                          : PRMPromise::resolvedWith(Value("v"));
    int fulfilled = 0, rejected = 0;
    promise->observeOnQueue(
        mainQueue(), [&](const Value&) { ++fulfilled; },
        [&](const platform::ErrorPtr&) { ++rejected; });
    EXPECT_EQ(fulfilled + rejected, 0);
    ASSERT_TRUE(pumpUntil([&] { return fulfilled + rejected > 0; }));
    drainMain();
    EXPECT_EQ(fulfilled, reject ? 0 : 1);
    EXPECT_EQ(rejected, reject ? 1 : 0);
  }
}

TEST_F(PRMPromiseCoreTest, SettlingNeverRunsObserversInline) {
  auto promise = PRMPromise::pendingPromise();
  bool called = false;
  promise->observeOnQueue(
      mainQueue(), [&](const Value&) { called = true; }, [](const platform::ErrorPtr&) {});
  promise->fulfill(Value(1));
  EXPECT_FALSE(called);
  EXPECT_TRUE(pumpUntil([&] { return called; }));
}

TEST_F(PRMPromiseCoreTest, ObserversOnSerialQueueRunOnceInRegistrationOrder) {
  auto queue = platform::DispatchQueue::create("prm.test.serial");
  auto promise = PRMPromise::pendingPromise();
  std::mutex lock;
  std::vector<int> order;
  auto record = [&](int tag) {
    return [&, tag](const Value& value) {
      EXPECT_TRUE(queue->isCurrent());
      EXPECT_EQ(value, Value("done"));
      std::lock_guard<std::mutex> guard(lock);
      order.push_back(tag);
    };
  };
  auto fail = [](const platform::ErrorPtr&) { ADD_FAILURE() << "rejected"; };
  for (int tag = 0; tag < 5; ++tag) promise->observeOnQueue(queue, record(tag), fail);
  promise->fulfill(Value("done"));
  promise->fulfill(Value("again"));
  // Registered after settlement: dispatched at once, still behind the earlier ones.
  for (int tag = 5; tag < 8; ++tag) promise->observeOnQueue(queue, record(tag), fail);
  ASSERT_TRUE(pumpUntil([&] {
    std::lock_guard<std::mutex> guard(lock);
    return order.size() >= 8;
  }));
  ASSERT_TRUE(groupEmpties());
  std::lock_guard<std::mutex> guard(lock);
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
}

TEST_F(PRMPromiseCoreTest, ChainTransformsOutcomeByWhatTheBlockReturns) {
  auto error = makeError(9);
  auto replacement = makeError(10);
  struct Case {
    const char* name;
    PRMPromisePtr source;
    PRMPromise::ChainedFulfillBlock onFulfill;
    PRMPromise::ChainedRejectBlock onReject;
    bool rejected;
    Value value;
    platform::ErrorPtr error;
  };
  std::vector<Case> cases = {
      {"no blocks mirror fulfilment", PRMPromise::resolvedWith(Value(4)), nullptr, nullptr, false,
       Value(4), nullptr},
      {"no blocks mirror rejection", PRMPromise::resolvedWith(Value(error)), nullptr, nullptr, true,
       Value(), error},
      {"fulfil block returning error rejects", PRMPromise::resolvedWith(Value(4)),
       [&](const Value&) { return Value(replacement); }, nullptr, true, Value(), replacement},
      {"reject block returning value fulfils", PRMPromise::resolvedWith(Value(error)), nullptr,
       [](const platform::ErrorPtr&) { return Value("recovered"); }, false, Value("recovered"),
       nullptr},
      {"reject block returning nil fulfils with nil", PRMPromise::resolvedWith(Value(error)),
       nullptr, [](const platform::ErrorPtr&) { return Value(); }, false, Value(), nullptr},
      {"null marker stays distinct from nil", PRMPromise::resolvedWith(Value(1)),
       [](const Value&) { return Value::null(); }, nullptr, false, Value::null(), nullptr},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto result = c.source->chainOnQueue(mainQueue(), c.onFulfill, c.onReject);
    ASSERT_TRUE(waitFor(result));
    EXPECT_EQ(result->isRejected(), c.rejected);
    EXPECT_EQ(result->error(), c.error);
    EXPECT_EQ(result->value().kind(), c.value.kind());
    EXPECT_EQ(result->value(), c.value);
  }
}

TEST_F(PRMPromiseCoreTest, ChainAdoptsReturnedPromiseOnlyWhenItSettles) {
  for (bool rejectInner : {false, true}) {
    SCOPED_TRACE(rejectInner ? "inner rejects" : "inner fulfils");
    auto inner = PRMPromise::pendingPromise();
    auto result = PRMPromise::resolvedWith(Value(1))->chainOnQueue(
        mainQueue(), [inner](const Value&) { return Value(inner); }, nullptr);
    drainMain();
    drainMain();
    EXPECT_TRUE(result->isPending());
    auto error = makeError(3);
    if (rejectInner) {
      inner->reject(error);
    } else {
      inner->fulfill(Value("inner"));
    }
    ASSERT_TRUE(waitFor(result));
    if (rejectInner) {
      EXPECT_EQ(result->error(), error);
    } else {
      EXPECT_EQ(result->value(), Value("inner"));
    }
  }
}

TEST_F(PRMPromiseCoreTest, GroupIsLeftOnSettlementOrDestructionAndAfterCallbacksRun) {
  auto promise = PRMPromise::pendingPromise();
  auto abandoned = PRMPromise::pendingPromise();
  bool observed = false;
  abandoned->observeOnQueue(
      mainQueue(), [&](const Value&) { observed = true; },
      [&](const platform::ErrorPtr&) { observed = true; });
  EXPECT_FALSE(groupEmptyNow());

  promise->fulfill(Value(1));
  promise->fulfill(Value(2));  // must not leave the group a second time
  EXPECT_FALSE(groupEmptyNow());

  abandoned.reset();  // destroyed while pending: leaves the group, observer never called
  EXPECT_TRUE(groupEmpties());
  EXPECT_FALSE(observed);

  // A second pending promise shows the group was not left twice for the first one.
  auto another = PRMPromise::pendingPromise();
  EXPECT_FALSE(groupEmptyNow());
  another->reject(makeError(1));
  EXPECT_TRUE(groupEmpties());
  // Settled-born promises never enter it.
  auto settled = PRMPromise::resolvedWith(Value(1));
  EXPECT_TRUE(groupEmpties());
}

TEST_F(PRMPromiseCoreTest, PendingObjectsLiveUntilSettlement) {
  struct Token : platform::Object {};
  auto token = std::make_shared<Token>();
  std::weak_ptr<Token> weakToken = token;
  auto promise = PRMPromise::pendingPromise();
  promise->addPendingObject(Value(token));
  token.reset();
  EXPECT_FALSE(weakToken.expired());
  promise->fulfill(Value());
  EXPECT_TRUE(weakToken.expired());

  auto late = std::make_shared<Token>();
  std::weak_ptr<Token> weakLate = late;
  promise->addPendingObject(Value(late));
  late.reset();
  EXPECT_TRUE(weakLate.expired());
}

TEST_F(PRMPromiseCoreTest, SettlementBreaksCyclesThroughObservers) {
  std::weak_ptr<PRMPromise> weak;
  {
    auto promise = PRMPromise::pendingPromise();
    weak = promise;
    // The observer holds the promise: a cycle until settlement drops the observers.
    promise->observeOnQueue(
        mainQueue(), [promise](const Value&) {}, [promise](const platform::ErrorPtr&) {});
    promise->fulfill(Value(1));
  }
  EXPECT_TRUE(pumpUntil([&] { return weak.expired(); }));
}

TEST_F(PRMPromiseCoreTest, DroppingLongPendingChainReleasesEveryLinkWithoutDeepRecursion) {
  auto head = PRMPromise::pendingPromise();
  PRMPromisePtr last = head;
  for (int i = 0; i < 200000; ++i) {
    last = last->onQueueThen(mainQueue(), [](const Value& v) { return v; });
  }
  std::weak_ptr<PRMPromise> weakLast = last;
  last.reset();
  head.reset();  // each link was held only by the observer of the link before it
  EXPECT_TRUE(weakLast.expired());
  EXPECT_TRUE(groupEmpties());
}

TEST_F(PRMPromiseCoreTest, DescriptionNamesStateClassAndAddress) {
  auto pending = PRMPromise::pendingPromise();
  auto nilValue = PRMPromise::resolvedWith(Value());
  auto error = makeError(5);
  auto rejected = PRMPromise::resolvedWith(Value(error));
  auto address = [](const PRMPromisePtr& p) { return platform::pointerValue(p.get()); };
  EXPECT_EQ(pending->description(), platform::format("<PRMPromise %p> Pending", address(pending)));
  EXPECT_EQ(nilValue->description(),
            platform::format("<PRMPromise %p> Fulfilled: (null)", address(nilValue)));
  EXPECT_EQ(rejected->description(),
            platform::format("<PRMPromise %p> Rejected: %@", address(rejected), Value(error)));
  EXPECT_EQ(Value(pending).className(), "PRMPromise");
}

TEST_F(PRMPromiseCoreTest, MissingArgumentsAreReportedWithTheirNames) {
  auto promise = PRMPromise::pendingPromise();
  auto onFulfill = [](const Value&) {};
  auto onReject = [](const platform::ErrorPtr&) {};
  promise->observeOnQueue(nullptr, onFulfill, onReject);
  promise->observeOnQueue(mainQueue(), nullptr, onReject);
  promise->observeOnQueue(mainQueue(), onFulfill, nullptr);
  promise->addPendingObject(Value());
  PRMPromise::setDefaultDispatchQueue(nullptr);
  auto chained = promise->chainOnQueue(nullptr, nullptr, nullptr);
  std::vector<std::string> expected = {"queue",  "onFulfill", "onReject",
                                       "object", "queue",     "queue"};
  auto recorded = assertions();
  ASSERT_EQ(recorded.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(recorded[i].file, "PRMPromise");
    EXPECT_EQ(recorded[i].description, "Invalid parameter not satisfying: " + expected[i]);
  }
  EXPECT_EQ(PRMPromise::defaultDispatchQueue(), mainQueue());
  // A broken contract that the handler lets through still gives an answer, not a hang.
  EXPECT_TRUE(chained->isRejected());
}

TEST_F(PRMPromiseCoreTest, DefaultQueueIsReadWhenAnOperationIsCalled) {
  EXPECT_EQ(PRMPromise::defaultDispatchQueue(), mainQueue());
  auto queue = platform::DispatchQueue::create("prm.test.default");
  auto source = PRMPromise::resolvedWith(Value(1));
  auto onMain = source->then([](const Value& v) {
    EXPECT_TRUE(platform::isMainThread());
    return v;
  });
  PRMPromise::setDefaultDispatchQueue(queue);
  std::atomic<bool> ranOnQueue{false};
  auto onQueue = source->then([&](const Value& v) {
    ranOnQueue = queue->isCurrent();
    return v;
  });
  ASSERT_TRUE(waitFor(onQueue));
  EXPECT_TRUE(ranOnQueue);
  ASSERT_TRUE(waitFor(onMain));
  PRMPromise::setDefaultDispatchQueue(mainQueue());
}

TEST_F(PRMPromiseCoreTest, ConcurrentSettlersAndObserversAgreeOnOneOutcome) {
  auto queue = platform::DispatchQueue::global();
  for (int round = 0; round < 20; ++round) {
    auto promise = PRMPromise::pendingPromise();
    std::atomic<int> calls{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < 10; ++i) {
          promise->observeOnQueue(
              queue, [&](const Value&) { ++calls; }, [&](const platform::ErrorPtr&) { ++calls; });
        }
        if (t % 2) {
          promise->fulfill(Value(t));
        } else {
          promise->reject(makeError(t));
        }
      });
    }
    for (auto& thread : threads) thread.join();
    ASSERT_TRUE(pumpUntil([&] { return calls == 40; }));
    EXPECT_NE(promise->isFulfilled(), promise->isRejected());
  }
  EXPECT_TRUE(groupEmpties());
}

}  // namespace
}  // namespace prm_test
