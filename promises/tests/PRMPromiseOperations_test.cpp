#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/SystemLog.h"
#include "promises/PRMPromise.h"
#include "promises/PRMPromiseConstants.h"
#include "promises/tests/PromiseTestSupport.h"

namespace prm_test {
namespace {

using platform::ErrorPtr;

class PRMPromiseOperationsTest : public PromiseTest {};

TEST_F(PRMPromiseOperationsTest, ThenRunsOnlyOnFulfilmentAndSettlesByItsResult) {
  auto error = makeError(1);
  auto workError = makeError(2);
  int calls = 0;
  auto fulfilled = PRMPromise::resolvedWith(Value(20));
  auto rejected = PRMPromise::resolvedWith(Value(error));

  auto plain = fulfilled->then([&](const Value& v) {
    ++calls;
    return Value(v.int64Value() + 1);
  });
  auto failing = fulfilled->then([&](const Value&) { return Value(workError); });
  auto skipped = rejected->then([&](const Value& v) {
    ++calls;
    return v;
  });
  auto inner = PRMPromise::pendingPromise();
  auto waiting = fulfilled->thenOn()(mainQueue(), [&](const Value&) { return Value(inner); });
  auto viaGetter = fulfilled->then()([](const Value&) { return Value("getter"); });

  for (auto& p : {plain, failing, skipped, viaGetter}) ASSERT_TRUE(waitFor(p));
  EXPECT_EQ(plain->value(), Value(21));
  EXPECT_EQ(failing->error(), workError);
  EXPECT_EQ(skipped->error(), error);  // the same error object, work not called
  EXPECT_EQ(viaGetter->value(), Value("getter"));
  EXPECT_EQ(calls, 1);
  drainMain();
  EXPECT_TRUE(waiting->isPending());
  inner->fulfill(Value("late"));
  ASSERT_TRUE(waitFor(waiting));
  EXPECT_EQ(waiting->value(), Value("late"));
}

TEST_F(PRMPromiseOperationsTest, CatchObservesRejectionAndPassesItOn) {
  auto error = makeError(4);
  std::vector<ErrorPtr> seen;
  auto caught = PRMPromise::resolvedWith(Value(error))->catchError([&](const ErrorPtr& e) {
    seen.push_back(e);
  });
  auto passed = PRMPromise::resolvedWith(Value(8))->catchOn()(
      mainQueue(), [&](const ErrorPtr& e) { seen.push_back(e); });
  auto viaGetter = PRMPromise::resolvedWith(Value(error))->catchError()([&](const ErrorPtr& e) {
    seen.push_back(e);
  });
  for (auto& p : {caught, passed, viaGetter}) ASSERT_TRUE(waitFor(p));
  EXPECT_EQ(caught->error(), error);
  EXPECT_EQ(viaGetter->error(), error);
  EXPECT_EQ(passed->value(), Value(8));
  EXPECT_EQ(seen, (std::vector<ErrorPtr>{error, error}));
}

TEST_F(PRMPromiseOperationsTest, RecoverDecidesByWhatTheRecoveryReturns) {
  auto error = makeError(5);
  auto other = makeError(6);
  auto adopted = PRMPromise::resolvedWith(Value("adopted"));
  struct Case {
    const char* name;
    PRMPromisePtr source;
    Value recovery;
    bool rejected;
    Value value;
    ErrorPtr error;
  };
  std::vector<Case> cases = {
      {"value fulfils", PRMPromise::resolvedWith(Value(error)), Value(1), false, Value(1), nullptr},
      {"error keeps it rejected", PRMPromise::resolvedWith(Value(error)), Value(other), true,
       Value(), other},
      {"promise is adopted", PRMPromise::resolvedWith(Value(error)), Value(adopted), false,
       Value("adopted"), nullptr},
      {"fulfilment passes without recovery", PRMPromise::resolvedWith(Value(2)), Value(99), false,
       Value(2), nullptr},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto result = c.source->recoverOn()(mainQueue(), [&](const ErrorPtr& e) {
      EXPECT_EQ(e, error);
      return c.recovery;
    });
    ASSERT_TRUE(waitFor(result));
    EXPECT_EQ(result->isRejected(), c.rejected);
    EXPECT_EQ(result->value(), c.value);
    EXPECT_EQ(result->error(), c.error);
  }
  auto viaGetter =
      PRMPromise::resolvedWith(Value(error))->recover()([](const ErrorPtr&) { return Value("r"); });
  ASSERT_TRUE(waitFor(viaGetter));
  EXPECT_EQ(viaGetter->value(), Value("r"));
}

TEST_F(PRMPromiseOperationsTest, AlwaysRunsOnceOnEitherOutcomeAndKeepsIt) {
  auto error = makeError(7);
  int calls = 0;
  auto fromFulfilled = PRMPromise::resolvedWith(Value(3))->always([&] { ++calls; });
  auto fromRejected =
      PRMPromise::resolvedWith(Value(error))->alwaysOn()(mainQueue(), [&] { ++calls; });
  auto viaGetter = PRMPromise::resolvedWith(Value())->always()([&] { ++calls; });
  for (auto& p : {fromFulfilled, fromRejected, viaGetter}) ASSERT_TRUE(waitFor(p));
  drainMain();
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(fromFulfilled->value(), Value(3));
  EXPECT_EQ(fromRejected->error(), error);
  EXPECT_TRUE(viaGetter->isFulfilled());
  EXPECT_TRUE(viaGetter->value().isNil());
}

TEST_F(PRMPromiseOperationsTest, ValidateRejectsWithCodeTwoAndSkipsRejections) {
  auto error = makeError(8);
  int predicateCalls = 0;
  auto passes = PRMPromise::resolvedWith(Value(10))->validate([&](const Value& v) {
    ++predicateCalls;
    return v.int64Value() > 5;
  });
  auto fails = PRMPromise::resolvedWith(Value(1))->validateOn()(mainQueue(), [&](const Value& v) {
    ++predicateCalls;
    return v.int64Value() > 5;
  });
  auto skipped = PRMPromise::resolvedWith(Value(error))->validate()([&](const Value&) {
    ++predicateCalls;
    return true;
  });
  for (auto& p : {passes, fails, skipped}) ASSERT_TRUE(waitFor(p));
  EXPECT_EQ(passes->value(), Value(10));
  ASSERT_TRUE(fails->isRejected());
  EXPECT_EQ(fails->error()->domain(), "com.veltro.PRMPromises.Error");
  EXPECT_EQ(fails->error()->code(), 2);
  EXPECT_TRUE(fails->error()->userInfo().empty());
  EXPECT_EQ(skipped->error(), error);
  EXPECT_EQ(predicateCalls, 2);
}

TEST_F(PRMPromiseOperationsTest, ReduceFoldsInOrderAndEmptyItemsReturnReceiver) {
  auto start = PRMPromise::resolvedWith(Value(0));
  EXPECT_EQ(start->reduce({}, [](const Value& p, const Value&) { return p; }), start);

  std::vector<std::string> order;
  auto sum =
      start->reduce({Value(1), Value(2), Value(3)}, [&](const Value& partial, const Value& item) {
        order.push_back(partial.description() + "+" + item.description());
        // A promise returned by one stage is waited for by the next.
        if (item == Value(2)) {
          return Value(PRMPromise::resolvedWith(Value(partial.int64Value() + item.int64Value())));
        }
        return Value(partial.int64Value() + item.int64Value());
      });
  ASSERT_TRUE(waitFor(sum));
  EXPECT_EQ(sum->value(), Value(6));
  EXPECT_EQ(order, (std::vector<std::string>{"0+1", "1+2", "3+3"}));

  auto error = makeError(1);
  int calls = 0;
  auto failed = start->reduceOn()(mainQueue(), {Value("a"), Value("b"), Value("c")},
                                  [&](const Value&, const Value& item) {
                                    ++calls;
                                    return item == Value("a") ? Value(error) : item;
                                  });
  ASSERT_TRUE(waitFor(failed));
  EXPECT_EQ(failed->error(), error);
  EXPECT_EQ(calls, 1);
  auto viaGetter = start->reduce()({Value(5)}, [](const Value& p, const Value& i) {
    return Value(p.int64Value() + i.int64Value());
  });
  ASSERT_TRUE(waitFor(viaGetter));
  EXPECT_EQ(viaGetter->value(), Value(5));
}

TEST_F(PRMPromiseOperationsTest, DelayHoldsFulfilmentForTheIntervalButNotRejection) {
  auto error = makeError(2);
  auto delayed = PRMPromise::resolvedWith(Value("v"))->delay(2.0);
  auto rejected = PRMPromise::resolvedWith(Value(error))->delayOn()(mainQueue(), 2.0);
  ASSERT_TRUE(waitFor(rejected));
  EXPECT_EQ(rejected->error(), error);
  EXPECT_TRUE(delayed->isPending());
  advance(1.5);
  EXPECT_TRUE(delayed->isPending());
  advance(0.5);
  ASSERT_TRUE(waitFor(delayed));
  EXPECT_EQ(delayed->value(), Value("v"));

  auto viaGetter = PRMPromise::resolvedWith(Value(1))->delay()(-3.0);  // negative: due at once
  ASSERT_TRUE(waitFor(viaGetter));
  auto huge = PRMPromise::resolvedWith(Value(1))->delay(1e300);  // saturates, never overflows
  drainMain();
  EXPECT_TRUE(huge->isPending());
}

TEST_F(PRMPromiseOperationsTest, TimeoutTakesWhicheverComesFirst) {
  auto inTime = PRMPromise::pendingPromise();
  auto inTimeResult = inTime->timeout(5);
  auto late = PRMPromise::pendingPromise();
  auto lateResult = late->timeoutOn()(mainQueue(), 5);
  auto viaGetter = PRMPromise::pendingPromise();
  auto viaGetterResult = viaGetter->timeout()(1);

  advance(2);
  inTime->fulfill(Value("ok"));
  ASSERT_TRUE(waitFor(inTimeResult));
  EXPECT_EQ(inTimeResult->value(), Value("ok"));
  ASSERT_TRUE(waitFor(viaGetterResult));
  EXPECT_EQ(viaGetterResult->error()->code(), 1);

  EXPECT_TRUE(lateResult->isPending());
  advance(3);
  ASSERT_TRUE(waitFor(lateResult));
  ASSERT_TRUE(lateResult->isRejected());
  EXPECT_EQ(lateResult->error()->domain(), kPRMPromiseErrorDomain);
  EXPECT_EQ(lateResult->error()->code(), kPRMPromiseErrorCodeTimedOut);
  late->fulfill(Value("too late"));
  drainMain();
  EXPECT_TRUE(lateResult->isRejected());
  EXPECT_TRUE(inTimeResult->isFulfilled());  // its timer fired too, without effect
}

TEST_F(PRMPromiseOperationsTest, TimeoutTimerHoldsItsResultWeakly) {
  auto source = PRMPromise::pendingPromise();
  std::weak_ptr<PRMPromise> weakResult = source->onQueueTimeout(mainQueue(), 10);
  EXPECT_FALSE(weakResult.expired());  // the source's observer holds it
  source.reset();
  EXPECT_TRUE(weakResult.expired());  // the pending timer does not
  advance(10);
  EXPECT_TRUE(groupEmpties());
}

TEST_F(PRMPromiseOperationsTest, AsyncSettlesFromWorkLaterAndFromAnyThread) {
  auto error = makeError(3);
  bool ran = false;
  auto fulfilled =
      PRMPromise::async([&](PRMPromise::FulfillBlock fulfill, PRMPromise::RejectBlock reject) {
        ran = true;
        fulfill(Value("first"));
        reject(makeError(99));
        fulfill(Value("second"));
      });
  EXPECT_FALSE(ran);  // submitted, never run inside the call
  ASSERT_TRUE(waitFor(fulfilled));
  EXPECT_EQ(fulfilled->value(), Value("first"));

  auto errorAsValue = PRMPromise::asyncOn()(
      mainQueue(),
      [&](PRMPromise::FulfillBlock fulfill, PRMPromise::RejectBlock) { fulfill(Value(error)); });
  auto adopted = PRMPromise::async()([](PRMPromise::FulfillBlock fulfill, PRMPromise::RejectBlock) {
    fulfill(Value(PRMPromise::resolvedWith(Value(42))));
  });
  // The work hands its reject block out; another thread calls it later.
  std::mutex stashLock;
  PRMPromise::RejectBlock stashed;
  auto fromThread =
      PRMPromise::onQueueAsync(platform::DispatchQueue::global(),
                               [&](PRMPromise::FulfillBlock, PRMPromise::RejectBlock reject) {
                                 std::lock_guard<std::mutex> guard(stashLock);
                                 stashed = std::move(reject);
                               });
  ASSERT_TRUE(pumpUntil([&] {
    std::lock_guard<std::mutex> guard(stashLock);
    return static_cast<bool>(stashed);
  }));
  std::thread([&] {
    std::lock_guard<std::mutex> guard(stashLock);
    stashed(makeError(11));
    stashed = nullptr;
  }).join();
  for (auto& p : {errorAsValue, adopted, fromThread}) ASSERT_TRUE(waitFor(p));
  EXPECT_EQ(errorAsValue->error(), error);
  EXPECT_EQ(adopted->value(), Value(42));
  EXPECT_EQ(fromThread->error()->code(), 11);
  EXPECT_TRUE(groupEmpties());
}

TEST_F(PRMPromiseOperationsTest, DoSettlesByWhatTheWorkReturns) {
  auto error = makeError(4);
  auto queue = platform::DispatchQueue::create("prm.test.do");
  std::atomic<bool> onQueue{false};
  auto fromQueue = PRMPromise::onQueueDo(queue, [&] {
    onQueue = queue->isCurrent();
    return Value::null();
  });
  auto nil = PRMPromise::doWork([] { return Value(); });
  auto failed = PRMPromise::doOn()(mainQueue(), [&] { return Value(error); });
  auto pendingInner = PRMPromise::pendingPromise();
  auto adopting = PRMPromise::doWork([&] { return Value(pendingInner); });
  for (auto& p : {fromQueue, nil, failed}) ASSERT_TRUE(waitFor(p));
  EXPECT_TRUE(onQueue);
  EXPECT_TRUE(fromQueue->value().isNull());
  EXPECT_TRUE(nil->isFulfilled());
  EXPECT_TRUE(nil->value().isNil());
  EXPECT_EQ(failed->error(), error);
  drainMain();
  EXPECT_TRUE(adopting->isPending());
  pendingInner->reject(error);
  ASSERT_TRUE(waitFor(adopting));
  EXPECT_EQ(adopting->error(), error);
}

// A work that fails `failures` times, then returns "ok"; it records each call's clock time.
struct FlakyWork {
  int failures;
  std::vector<double> callTimes;
  bool returnPromises = false;
  Value operator()() {
    callTimes.push_back(platform::Clock::current().uptime());
    Value outcome = static_cast<int>(callTimes.size()) <= failures
                        ? Value(platform::Error::make("flaky", static_cast<long>(callTimes.size())))
                        : Value("ok");
    return returnPromises ? Value(PRMPromise::resolvedWith(outcome)) : outcome;
  }
};

TEST_F(PRMPromiseOperationsTest, RetryCountsAttemptsAndSpacesThemByTheInterval) {
  struct Case {
    const char* name;
    std::int64_t attempts;
    double interval;
    int failures;
    bool returnPromises;
    std::size_t expectedCalls;
    bool fulfilled;
    long lastErrorCode;
  };
  const Case cases[] = {
      {"zero attempts run once", 0, 1.0, 5, false, 1, false, 1},
      {"succeeds on the third call", 3, 0.5, 2, false, 3, true, 0},
      {"runs at most attempts + 1 times", 2, 0.25, 9, false, 3, false, 3},
      {"promises returned by the work are awaited", 2, 2.0, 1, true, 2, true, 0},
      {"negative attempts run once", -4, 1.0, 5, false, 1, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto work = std::make_shared<FlakyWork>(FlakyWork{c.failures, {}, c.returnPromises});
    const double start = clock().uptime();
    auto result = PRMPromise::attemptsDelayConditionRetry(c.attempts, c.interval, nullptr,
                                                          [work] { return (*work)(); });
    ASSERT_EQ(work->callTimes.size(), 1u);  // the first attempt ran inside the call
    drainMain();  // an awaited promise is observed now, before the clock moves
    for (int step = 0; step < 40 && result->isPending(); ++step) advance(c.interval / 4);
    ASSERT_FALSE(result->isPending());
    EXPECT_EQ(work->callTimes.size(), c.expectedCalls);
    for (std::size_t i = 0; i < work->callTimes.size(); ++i) {
      EXPECT_DOUBLE_EQ(work->callTimes[i] - start, c.interval * static_cast<double>(i));
    }
    EXPECT_EQ(result->isFulfilled(), c.fulfilled);
    if (c.fulfilled) {
      EXPECT_EQ(result->value(), Value("ok"));
    } else {
      EXPECT_EQ(result->error()->code(), c.lastErrorCode);
    }
  }
}

TEST_F(PRMPromiseOperationsTest, RetryDefaultsToOneMoreAttemptAfterOneSecond) {
  auto work = std::make_shared<FlakyWork>(FlakyWork{10, {}});
  auto result = PRMPromise::retry([work] { return (*work)(); });
  EXPECT_EQ(work->callTimes.size(), 1u);
  advance(0.75);
  EXPECT_EQ(work->callTimes.size(), 1u);
  advance(0.25);
  ASSERT_TRUE(waitFor(result));
  EXPECT_EQ(work->callTimes.size(), 2u);
  EXPECT_EQ(result->error()->code(), 2);  // the second error rejects

  auto other = std::make_shared<FlakyWork>(FlakyWork{10, {}});
  auto viaShortForms = PRMPromise::attemptsRetry(2, [other] { return (*other)(); });
  for (int i = 0; i < 4; ++i) advance(1.0);
  ASSERT_TRUE(waitFor(viaShortForms));
  EXPECT_EQ(other->callTimes.size(), 3u);
}

TEST_F(PRMPromiseOperationsTest, RetryConditionSeesRemainingCountAndCanStop) {
  std::vector<std::int64_t> remainingSeen;
  auto work = std::make_shared<FlakyWork>(FlakyWork{10, {}});
  auto result = PRMPromise::retryAgainOn()(
      mainQueue(), 5, 0.1,
      [&](std::int64_t remaining, const ErrorPtr& error) {
        EXPECT_EQ(error->code(), static_cast<long>(6 - remaining));
        remainingSeen.push_back(remaining);
        return remaining > 3;
      },
      [work] { return (*work)(); });
  for (int i = 0; i < 10 && result->isPending(); ++i) advance(0.1);
  ASSERT_FALSE(result->isPending());
  EXPECT_EQ(remainingSeen, (std::vector<std::int64_t>{5, 4, 3}));
  EXPECT_EQ(work->callTimes.size(), 3u);
  EXPECT_EQ(result->error()->code(), 3);  // the error just received

  auto queue = platform::DispatchQueue::create("prm.test.retry");
  auto succeeding = std::make_shared<FlakyWork>(FlakyWork{0, {}});
  auto viaGetters = PRMPromise::retryOn()(queue, [succeeding] { return (*succeeding)(); });
  ASSERT_TRUE(waitFor(viaGetters));
  EXPECT_EQ(viaGetters->value(), Value("ok"));
  auto plain = PRMPromise::retry()([] { return Value(1); });
  auto again = PRMPromise::retryAgain()(1, 1.0, nullptr, [] { return Value(2); });
  EXPECT_EQ(plain->value(), Value(1));  // fulfilled inside the call
  EXPECT_EQ(again->value(), Value(2));
}

TEST_F(PRMPromiseOperationsTest, IntervalsComeDueAfterTheirSecondsTimesTenToTheNineTruncatedOnce) {
  // The timer is due `interval * 1e9` nanoseconds later, truncated toward zero once. Some of
  // these (2.094, 4.1) lose a nanosecond when the truncated count is turned back into seconds
  // and truncated again.
  const double intervals[] = {2.094, 4.1, 0.3, 1.0, 0.123456789, 1.5e-9, 2e-9, 4.063, 7.9999999999};
  enum class Operation { kDelay, kTimeout, kRetry };
  const std::pair<Operation, const char*> operations[] = {
      {Operation::kDelay, "delay"}, {Operation::kTimeout, "timeout"}, {Operation::kRetry, "retry"}};
  // The clock's uptime as the timers count it, and a move of the clock to half a nanosecond past
  // a count, well clear of any rounding of the clock's seconds.
  auto uptimeNanos = [this] { return static_cast<std::int64_t>(clock().uptime() * 1e9); };
  auto moveTo = [this](std::int64_t nanos) {
    clock().advance((static_cast<double>(nanos) + 0.5) / 1e9 - clock().uptime());
    drainMain();
  };
  for (const double interval : intervals) {
    for (const auto& [operation, name] : operations) {
      SCOPED_TRACE(std::string(name) + " of " + ::testing::PrintToString(interval) + " s");
      const auto nanos = static_cast<std::int64_t>(interval * 1e9);
      ASSERT_GT(nanos, 0);
      const std::int64_t start = uptimeNanos();
      auto work = std::make_shared<FlakyWork>(FlakyWork{1, {}});
      PRMPromisePtr result;
      switch (operation) {
        case Operation::kDelay:
          result = PRMPromise::resolvedWith(Value(1))->onQueueDelay(mainQueue(), interval);
          break;
        case Operation::kTimeout:
          result = PRMPromise::pendingPromise()->onQueueTimeout(mainQueue(), interval);
          break;
        case Operation::kRetry:
          result = PRMPromise::onQueueAttemptsDelayConditionRetry(mainQueue(), 1, interval, nullptr,
                                                                  [work] { return (*work)(); });
          break;
      }
      drainMain();  // the delay schedules its timer once it has seen the value
      ASSERT_EQ(uptimeNanos(), start);
      moveTo(start + nanos - 1);
      EXPECT_TRUE(result->isPending()) << "due a nanosecond early";
      moveTo(start + nanos);
      EXPECT_FALSE(result->isPending()) << "not due at its time";
    }
  }
}

// A block of any shape that calls `raise`, and returns `returned` should `raise` come back.
template <class Result>
auto raising(std::function<void()> raise, Result returned) {
  return [raise = std::move(raise), returned](auto&&...) {
    raise();
    return returned;
  };
}

// Whatever a block or a work throws is logged as the queue logs any block's, and rejects the
// promise that the block or work was to settle with an error carrying its text, so that nobody
// waits for ever and the group empties.
TEST_F(PRMPromiseOperationsTest, BlockOrWorkThatThrowsRejectsWhatItWasToSettleAndIsLogged) {
  using Raise = std::function<void()>;
  const struct {
    const char* name;
    Raise raise;
    const char* text;    // the rejection's description
    const char* logged;  // in the log line
    bool byDefaultAssertionHandler;
  } thrown[] = {
      {"a std::exception", [] { throw std::runtime_error("disk on fire"); }, "disk on fire",
       "disk on fire", false},
      {"a named exception", [] { throw platform::Exception("CTNamedException", "queue on fire"); },
       "CTNamedException: queue on fire", "CTNamedException: queue on fire", false},
      {"a failed contract check",
       [] { PRMPromise::resolvedWith(Value(1))->onQueueThen(mainQueue(), nullptr); },
       "NSInternalInconsistencyException: Invalid parameter not satisfying: work",
       "NSInternalInconsistencyException: Invalid parameter not satisfying: work", true},
      {"a value that is no exception", [] { throw 42; }, "An unknown exception was thrown.",
       "nknown exception", false},
  };
  auto error = makeError(9);
  auto serial = platform::DispatchQueue::create("prm.test.throwing");
  struct Operation {
    const char* name;
    // Runs on a receiver that is fulfilled with 1 (`onRejection`: rejected with `error`); the
    // operations that start work have none.
    bool chained;
    bool onRejection;
    std::function<PRMPromisePtr(const PRMPromisePtr& receiver, const Raise& raise)> start;
  };
  const Operation operations[] = {
      {"then", true, false,
       [](const PRMPromisePtr& r, const Raise& raise) { return r->then(raising(raise, Value())); }},
      {"catch", true, true,
       [](const PRMPromisePtr& r, const Raise& raise) {
         return r->catchError([raise](const ErrorPtr&) { raise(); });
       }},
      {"recover", true, true,
       [](const PRMPromisePtr& r, const Raise& raise) {
         return r->recover(raising(raise, Value()));
       }},
      {"always on fulfilment", true, false,
       [](const PRMPromisePtr& r, const Raise& raise) { return r->always(raise); }},
      {"always on rejection", true, true,
       [](const PRMPromisePtr& r, const Raise& raise) { return r->always(raise); }},
      {"validate", true, false,
       [](const PRMPromisePtr& r, const Raise& raise) {
         return r->validate(raising(raise, true));
       }},
      {"reduce, in its second reducer", true, false,
       [](const PRMPromisePtr& r, const Raise& raise) {
         return r->reduce({Value(1), Value(2)}, [raise](const Value&, const Value& item) {
           if (item == Value(2)) raise();
           return item;
         });
       }},
      {"do", false, false,
       [serial](const PRMPromisePtr&, const Raise& raise) {
         return PRMPromise::onQueueDo(serial, raising(raise, Value()));
       }},
      {"async", false, false,
       [](const PRMPromisePtr&, const Raise& raise) {
         return PRMPromise::async(
             [raise](PRMPromise::FulfillBlock, PRMPromise::RejectBlock) { raise(); });
       }},
      {"a completion adapter", false, false,
       [](const PRMPromisePtr&, const Raise& raise) {
         return PRMPromise::onQueueWrapObjectCompletion(
             platform::DispatchQueue::global(),
             [raise](PRMPromise::ObjectCompletionBlock) { raise(); });
       }},
      {"retry, first attempt", false, false,
       [](const PRMPromisePtr&, const Raise& raise) {
         return PRMPromise::attemptsRetry(2, raising(raise, Value()));
       }},
      {"retry, later attempt", false, false,
       [error](const PRMPromisePtr&, const Raise& raise) {
         auto calls = std::make_shared<int>(0);
         return PRMPromise::attemptsDelayConditionRetry(2, 0, nullptr, [raise, error, calls] {
           if (++*calls == 2) raise();
           return Value(error);
         });
       }},
      {"retry condition, on the calling thread", false, false,
       [error](const PRMPromisePtr&, const Raise& raise) {
         return PRMPromise::attemptsDelayConditionRetry(2, 0, raising(raise, true),
                                                        [error] { return Value(error); });
       }},
      {"retry condition, on the queue", false, false,
       [error](const PRMPromisePtr&, const Raise& raise) {
         return PRMPromise::attemptsDelayConditionRetry(2, 0, raising(raise, true), [error] {
           return Value(PRMPromise::resolvedWith(Value(error)));
         });
       }},
  };
  // A chained block runs from each way a receiver hands its outcome on: settled when the block
  // is chained, settled later to its first observer, or to an observer after the first.
  enum class Receiver { kSettled, kSettledLater, kSecondObserver };
  const std::pair<Receiver, const char*> receivers[] = {
      {Receiver::kSettled, "settled receiver"},
      {Receiver::kSettledLater, "receiver settled later"},
      {Receiver::kSecondObserver, "receiver's second observer"}};

  for (const auto& t : thrown) {
    SCOPED_TRACE(t.name);
    platform::AssertionHandler::Handler recording;
    if (t.byDefaultAssertionHandler) recording = platform::AssertionHandler::setHandler(nullptr);
    platform::SystemLogCapture log;
    std::vector<std::pair<std::string, PRMPromisePtr>> results;
    std::vector<std::pair<PRMPromisePtr, Value>> settleLater;
    for (const Operation& op : operations) {
      if (!op.chained) {
        PRMPromisePtr result;
        EXPECT_NO_THROW(result = op.start(nullptr, t.raise)) << op.name;
        results.emplace_back(op.name, result);
        continue;
      }
      for (const auto& [kind, kindName] : receivers) {
        const Value outcome = op.onRejection ? Value(error) : Value(1);
        auto receiver = kind == Receiver::kSettled ? PRMPromise::resolvedWith(outcome)
                                                   : PRMPromise::pendingPromise();
        if (kind == Receiver::kSecondObserver) {
          receiver->observeOnQueue(
              mainQueue(), [](const Value&) {}, [](const ErrorPtr&) {});
        }
        results.emplace_back(std::string(op.name) + " on a " + kindName,
                             op.start(receiver, t.raise));
        if (kind != Receiver::kSettled) settleLater.emplace_back(receiver, outcome);
      }
    }
    // Fulfilling with an error rejects.
    for (const auto& [receiver, outcome] : settleLater) receiver->fulfill(outcome);
    EXPECT_TRUE(pumpUntil([&] {
      return std::none_of(results.begin(), results.end(),
                          [](const auto& r) { return r.second && r.second->isPending(); });
    }));
    if (t.byDefaultAssertionHandler) platform::AssertionHandler::setHandler(recording);
    for (const auto& [name, result] : results) {
      SCOPED_TRACE(name);
      EXPECT_TRUE(result && result->isRejected());
      if (!result || !result->isRejected()) continue;
      EXPECT_EQ(result->error()->domain(), kPRMPromiseErrorDomain);
      EXPECT_EQ(result->error()->code(), kPRMPromiseErrorCodeThrownException);
      EXPECT_EQ(result->error()->localizedDescription(), t.text);
    }
    const auto lines = log.lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [&](const auto& line) {
                              return line.level == platform::LogLevel::Error &&
                                     line.message.find(t.logged) != std::string::npos;
                            }),
              static_cast<long>(results.size()))
        << "every throw is logged once";
  }
  // What settled before the throw stays settled as it was; the throw is still logged.
  platform::SystemLogCapture log;
  auto fulfilledFirst =
      PRMPromise::async([](PRMPromise::FulfillBlock fulfill, PRMPromise::RejectBlock) {
        fulfill(Value("kept"));
        throw std::runtime_error("thrown after the value");
      });
  ASSERT_TRUE(waitFor(fulfilledFirst));
  drainMain();
  EXPECT_EQ(fulfilledFirst->value(), Value("kept"));
  EXPECT_TRUE(log.contains("thrown after the value"));
  EXPECT_TRUE(groupEmpties());
}

TEST_F(PRMPromiseOperationsTest, MissingArgumentsAreReportedByOperationGroup) {
  auto p = PRMPromise::resolvedWith(Value(1));
  struct Case {
    std::function<PRMPromisePtr()> call;
    const char* file;
    const char* name;
  };
  const Case cases[] = {
      {[&] { return p->onQueueThen(nullptr, [](const Value& v) { return v; }); }, "PRMPromise+Then",
       "queue"},
      {[&] { return p->onQueueThen(mainQueue(), nullptr); }, "PRMPromise+Then", "work"},
      {[&] { return p->onQueueCatch(mainQueue(), nullptr); }, "PRMPromise+Catch", "reject"},
      {[&] { return p->onQueueRecover(mainQueue(), nullptr); }, "PRMPromise+Recover", "recovery"},
      {[&] { return p->onQueueAlways(nullptr, [] {}); }, "PRMPromise+Always", "queue"},
      {[&] { return p->onQueueAlways(mainQueue(), nullptr); }, "PRMPromise+Always", "work"},
      {[&] { return p->onQueueValidate(mainQueue(), nullptr); }, "PRMPromise+Validate",
       "predicate"},
      {[&] { return p->onQueueDelay(nullptr, 1); }, "PRMPromise+Delay", "queue"},
      {[&] { return p->onQueueTimeout(nullptr, 1); }, "PRMPromise+Timeout", "queue"},
      {[&] { return p->onQueueReduce(mainQueue(), {Value(1)}, nullptr); }, "PRMPromise+Reduce",
       "reducer"},
      {[&] { return PRMPromise::onQueueAsync(mainQueue(), nullptr); }, "PRMPromise+Async", "work"},
      {[&] { return PRMPromise::onQueueDo(nullptr, [] { return Value(); }); }, "PRMPromise+Do",
       "queue"},
      {[&] { return PRMPromise::onQueueRetry(mainQueue(), nullptr); }, "PRMPromise+Retry", "work"},
      {[&] { return PRMPromise::onQueueAll(nullptr, {Value(1)}); }, "PRMPromise+All", "queue"},
      {[&] { return PRMPromise::onQueueAny(nullptr, {Value(1)}); }, "PRMPromise+Any", "queue"},
      {[&] { return PRMPromise::onQueueRace(nullptr, {Value(1)}); }, "PRMPromise+Race", "queue"},
  };
  std::size_t index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + c.name);
    auto result = c.call();
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->isRejected());
    auto recorded = assertions();
    ASSERT_EQ(recorded.size(), ++index);
    EXPECT_EQ(recorded.back().file, c.file);
    EXPECT_EQ(recorded.back().description,
              std::string("Invalid parameter not satisfying: ") + c.name);
  }
}

}  // namespace
}  // namespace prm_test
