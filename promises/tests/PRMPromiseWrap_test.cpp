#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "promises/PRMPromise.h"
#include "promises/tests/PromiseTestSupport.h"

namespace prm_test {
namespace {

using platform::ErrorPtr;
using NumberKind = platform::Value::NumberKind;

class PRMPromiseWrapTest : public PromiseTest {};

// Each case starts one adapter whose work calls the completion once with fixed arguments.
struct WrapCase {
  const char* name;
  std::function<PRMPromisePtr()> start;
  bool rejected;
  Value value;
  ErrorPtr error;
};

TEST_F(PRMPromiseWrapTest, EachShapeSettlesByItsRule) {
  using P = PRMPromise;
  auto error = makeError(3);
  auto q = mainQueue();
  const std::vector<WrapCase> cases = {
      {"completion fulfils with nil", [] { return P::wrapCompletion([](auto done) { done(); }); },
       false, Value(), nullptr},
      {"object", [] { return P::wrapObjectCompletion([](auto done) { done(Value("o")); }); }, false,
       Value("o"), nullptr},
      {"object that is an error rejects",
       [&] { return P::wrapObjectCompletion([&](auto done) { done(Value(error)); }); }, true,
       Value(), error},
      {"object that is a promise is adopted",
       [] {
         return P::wrapObjectCompletion(
             [](auto done) { done(Value(P::resolvedWith(Value("inner")))); });
       },
       false, Value("inner"), nullptr},
      {"error nil fulfils with nil",
       [] { return P::wrapErrorCompletion([](auto done) { done(nullptr); }); }, false, Value(),
       nullptr},
      {"error rejects", [&] { return P::wrapErrorCompletion([&](auto done) { done(error); }); },
       true, Value(), error},
      {"object and error rejects",
       [&] {
         return P::onQueueWrapObjectOrErrorCompletion(
             q, [&](auto done) { done(Value("ignored"), error); });
       },
       true, Value(), error},
      {"object without error fulfils",
       [] { return P::wrapObjectOrErrorCompletion([](auto done) { done(Value(5), nullptr); }); },
       false, Value(5), nullptr},
      {"error-or-object (nil, nil) fulfils with nil",
       [] { return P::wrapErrorOrObjectCompletion([](auto done) { done(nullptr, Value()); }); },
       false, Value(), nullptr},
      {"error-or-object with error rejects",
       [&] { return P::wrapErrorOrObjectCompletion([&](auto done) { done(error, Value(1)); }); },
       true, Value(), error},
      {"two objects with nil first",
       [] {
         return P::wrap2ObjectsOrErrorCompletion(
             [](auto done) { done(Value(), Value("b"), nullptr); });
       },
       false, Value(Value::Array{Value::null(), Value("b")}), nullptr},
      {"two objects with error",
       [&] {
         return P::wrap2ObjectsOrErrorCompletion(
             [&](auto done) { done(Value(1), Value(2), error); });
       },
       true, Value(), error},
      {"bool false is a number, not nil",
       [] { return P::wrapBoolCompletion([](auto done) { done(false); }); }, false, Value(false),
       nullptr},
      {"bool or error",
       [] { return P::wrapBoolOrErrorCompletion([](auto d) { d(true, nullptr); }); }, false,
       Value(true), nullptr},
      {"bool or error rejects",
       [&] { return P::wrapBoolOrErrorCompletion([&](auto d) { d(true, error); }); }, true, Value(),
       error},
      {"integer", [] { return P::wrapIntegerCompletion([](auto d) { d(-7); }); }, false, Value(-7),
       nullptr},
      {"integer or error",
       [] { return P::wrapIntegerOrErrorCompletion([](auto d) { d(9, nullptr); }); }, false,
       Value(9), nullptr},
      {"integer or error rejects",
       [&] { return P::wrapIntegerOrErrorCompletion([&](auto d) { d(9, error); }); }, true, Value(),
       error},
      {"double", [] { return P::wrapDoubleCompletion([](auto d) { d(2.0); }); }, false, Value(2.0),
       nullptr},
      {"double or error",
       [] { return P::wrapDoubleOrErrorCompletion([](auto d) { d(0.5, nullptr); }); }, false,
       Value(0.5), nullptr},
      {"double or error rejects",
       [&] { return P::wrapDoubleOrErrorCompletion([&](auto d) { d(0.5, error); }); }, true,
       Value(), error},
  };
  for (const WrapCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto promise = c.start();
    ASSERT_TRUE(waitFor(promise));
    EXPECT_EQ(promise->isRejected(), c.rejected);
    EXPECT_EQ(promise->error(), c.error);  // the same error object
    EXPECT_EQ(promise->value().kind(), c.value.kind());
    EXPECT_EQ(promise->value(), c.value);
  }
}

TEST_F(PRMPromiseWrapTest, NumbersKeepTheirKind) {
  auto b = PRMPromise::wrapBoolCompletion([](auto done) { done(false); });
  auto i = PRMPromise::wrapIntegerCompletion([](auto done) { done(1); });
  auto d = PRMPromise::wrapDoubleCompletion([](auto done) { done(1.0); });
  for (auto& p : {b, i, d}) ASSERT_TRUE(waitFor(p));
  EXPECT_EQ(b->value().numberKind(), NumberKind::Bool);
  EXPECT_EQ(i->value().numberKind(), NumberKind::Signed);
  EXPECT_EQ(d->value().numberKind(), NumberKind::Double);
  EXPECT_EQ(i->value().description(), "1");
}

TEST_F(PRMPromiseWrapTest, WorkRunsLaterOnTheQueueAndEveryFormReachesIt) {
  auto queue = platform::DispatchQueue::create("prm.test.wrap");
  std::atomic<int> onQueue{0};
  auto work = [&](PRMPromise::ObjectCompletionBlock done) {
    if (queue->isCurrent()) ++onQueue;
    done(Value(1));
  };
  bool ranOnMain = false;
  auto defaultForm = PRMPromise::wrapObjectCompletion([&](auto done) {
    ranOnMain = platform::isMainThread();
    done(Value(1));
  });
  EXPECT_FALSE(ranOnMain);  // not inside the call
  std::vector<PRMPromisePtr> promises = {
      defaultForm,
      PRMPromise::onQueueWrapObjectCompletion(queue, work),
      PRMPromise::wrapObjectCompletionOn()(queue, work),
      PRMPromise::wrapObjectCompletion()([](auto done) { done(Value(1)); }),
      PRMPromise::wrapCompletionOn()(queue, [](auto done) { done(); }),
      PRMPromise::wrapBoolCompletion()([](auto done) { done(true); }),
  };
  for (auto& p : promises) ASSERT_TRUE(waitFor(p));
  EXPECT_TRUE(ranOnMain);
  EXPECT_EQ(onQueue, 2);
}

TEST_F(PRMPromiseWrapTest, FirstCompletionWinsEvenAcrossThreads) {
  std::mutex lock;
  PRMPromise::IntegerOrErrorCompletionBlock completion;
  auto promise = PRMPromise::onQueueWrapIntegerOrErrorCompletion(
      platform::DispatchQueue::global(), [&](auto done) {
        std::lock_guard<std::mutex> guard(lock);
        completion = done;
      });
  ASSERT_TRUE(pumpUntil([&] {
    std::lock_guard<std::mutex> guard(lock);
    return static_cast<bool>(completion);
  }));
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      PRMPromise::IntegerOrErrorCompletionBlock call;
      {
        std::lock_guard<std::mutex> guard(lock);
        call = completion;
      }
      call(t, t % 2 ? makeError(t) : nullptr);
    });
  }
  for (auto& thread : threads) thread.join();
  ASSERT_FALSE(promise->isPending());
  const Value firstValue = promise->value();
  const ErrorPtr firstError = promise->error();
  completion(100, nullptr);  // later calls change nothing
  drainMain();
  EXPECT_EQ(promise->value(), firstValue);
  EXPECT_EQ(promise->error(), firstError);
  completion = nullptr;
  EXPECT_TRUE(groupEmpties());
}

TEST_F(PRMPromiseWrapTest, NeverCalledCompletionKeepsPromiseAndGroupPending) {
  PRMPromise::CompletionBlock kept;
  auto promise = PRMPromise::wrapCompletion([&](auto done) { kept = done; });
  ASSERT_TRUE(pumpUntil([&] { return static_cast<bool>(kept); }));
  drainMain();
  EXPECT_TRUE(promise->isPending());
  EXPECT_FALSE(groupEmptyNow());
  kept();
  ASSERT_TRUE(waitFor(promise));
  EXPECT_TRUE(groupEmpties());
}

TEST_F(PRMPromiseWrapTest, MissingQueueOrWorkIsReported) {
  auto noQueue = PRMPromise::onQueueWrapBoolCompletion(nullptr, [](auto done) { done(true); });
  auto noWork = PRMPromise::onQueueWrapDoubleCompletion(mainQueue(), nullptr);
  EXPECT_TRUE(noQueue->isRejected());
  EXPECT_TRUE(noWork->isRejected());
  auto recorded = assertions();
  ASSERT_EQ(recorded.size(), 2u);
  EXPECT_EQ(recorded[0].file, "PRMPromise+Wrap");
  EXPECT_EQ(recorded[0].description, "Invalid parameter not satisfying: queue");
  EXPECT_EQ(recorded[1].description, "Invalid parameter not satisfying: work");
}

}  // namespace
}  // namespace prm_test
