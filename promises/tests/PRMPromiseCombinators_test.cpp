#include <memory>
#include <vector>

#include "promises/PRMPromise.h"
#include "promises/tests/PromiseTestSupport.h"

namespace prm_test {
namespace {

using platform::ErrorPtr;

class PRMPromiseCombinatorsTest : public PromiseTest {};

TEST_F(PRMPromiseCombinatorsTest, AllOfEmptyArrayIsFulfilledAtOnce) {
  for (auto result : {PRMPromise::all({}), PRMPromise::any({})}) {
    ASSERT_TRUE(result->isFulfilled());
    ASSERT_TRUE(result->value().isArray());
    EXPECT_EQ(result->value().count(), 0u);
  }
}

TEST_F(PRMPromiseCombinatorsTest, AllCombinesMixedElementsInArrayOrder) {
  auto later = PRMPromise::pendingPromise();
  Value::Array elements = {Value(PRMPromise::resolvedWith(Value(1))), Value(2), Value(later),
                           Value(PRMPromise::resolvedWith(Value()))};
  auto result = PRMPromise::all(elements);
  elements.clear();  // the operation works on its own copy
  drainMain();
  EXPECT_TRUE(result->isPending());
  later->fulfill(Value("three"));
  ASSERT_TRUE(waitFor(result));
  EXPECT_EQ(result->value(),
            Value(Value::Array{Value(1), Value(2), Value("three"), Value::null()}));
  EXPECT_TRUE(result->value().at(3).isNull());
}

TEST_F(PRMPromiseCombinatorsTest, AllRejectsWithErrorElementOrFirstRejection) {
  auto error = makeError(1);
  auto other = makeError(2);
  auto neverSettles = PRMPromise::pendingPromise();
  auto errorElement = PRMPromise::allOn()(
      mainQueue(), {Value(PRMPromise::resolvedWith(Value(1))), Value(error), Value(neverSettles)});
  ASSERT_TRUE(waitFor(errorElement));
  EXPECT_EQ(errorElement->error(), error);

  auto first = PRMPromise::pendingPromise();
  auto second = PRMPromise::pendingPromise();
  auto rejection = PRMPromise::all()({Value(first), Value(second), Value(3)});
  drainMain();
  second->reject(other);
  first->reject(error);
  ASSERT_TRUE(waitFor(rejection));
  EXPECT_EQ(rejection->error(), other);
  // The pending element is not kept alive by the combinator.
  std::weak_ptr<PRMPromise> weakNever = neverSettles;
  neverSettles.reset();
  EXPECT_TRUE(weakNever.expired());
  EXPECT_TRUE(groupEmpties());
}

TEST_F(PRMPromiseCombinatorsTest, AnyFulfilsWithValuesAndErrorsOnceAllSettle) {
  auto error = makeError(1);
  auto laterError = makeError(2);
  auto pending = PRMPromise::pendingPromise();
  auto rejectsLater = PRMPromise::pendingPromise();
  auto result = PRMPromise::any({Value(error), Value(pending), Value(rejectsLater), Value()});
  drainMain();
  pending->fulfill(Value("won"));
  drainMain();
  EXPECT_TRUE(result->isPending());  // waits for every element, not the first fulfilment
  rejectsLater->reject(laterError);
  ASSERT_TRUE(waitFor(result));
  EXPECT_EQ(result->value(),
            Value(Value::Array{Value(error), Value("won"), Value(laterError), Value::null()}));
}

TEST_F(PRMPromiseCombinatorsTest, AnyOfOnlyRejectionsRejectsWithTheLastObserved) {
  auto a = PRMPromise::pendingPromise();
  auto b = PRMPromise::pendingPromise();
  auto c = PRMPromise::pendingPromise();
  auto result = PRMPromise::anyOn()(mainQueue(), {Value(a), Value(b), Value(c)});
  drainMain();
  auto errorB = makeError(2);
  auto errorA = makeError(1);
  auto errorC = makeError(3);
  a->reject(errorA);
  drainMain();
  c->reject(errorC);
  drainMain();
  b->reject(errorB);
  ASSERT_TRUE(waitFor(result));
  EXPECT_EQ(result->error(), errorB);
  auto viaGetter = PRMPromise::any()({Value(makeError(4))});
  ASSERT_TRUE(waitFor(viaGetter));
  EXPECT_EQ(viaGetter->error()->code(), 4);
}

TEST_F(PRMPromiseCombinatorsTest, RaceTakesPlainValueAtOnceOrFirstObservedOutcome) {
  auto pending = PRMPromise::pendingPromise();
  auto plain = PRMPromise::race({Value(pending), Value("plain")});
  ASSERT_TRUE(waitFor(plain));
  EXPECT_EQ(plain->value(), Value("plain"));

  auto error = makeError(5);
  auto errorElement = PRMPromise::raceOn()(mainQueue(), {Value(pending), Value(error)});
  ASSERT_TRUE(waitFor(errorElement));
  EXPECT_EQ(errorElement->error(), error);

  auto slow = PRMPromise::pendingPromise();
  auto fast = PRMPromise::pendingPromise();
  auto promisesOnly = PRMPromise::race()({Value(slow), Value(fast)});
  drainMain();
  fast->reject(error);
  slow->fulfill(Value(1));
  ASSERT_TRUE(waitFor(promisesOnly));
  EXPECT_EQ(promisesOnly->error(), error);
  drainMain();
  EXPECT_TRUE(promisesOnly->isRejected());
}

TEST_F(PRMPromiseCombinatorsTest, RaceOfNothingIsReported) {
  auto result = PRMPromise::race({});
  ASSERT_EQ(assertions().size(), 1u);
  EXPECT_EQ(assertions()[0].description, "No promises to observe");
  EXPECT_EQ(assertions()[0].file, "PRMPromise+Race");
  EXPECT_TRUE(result->isRejected());
}

TEST_F(PRMPromiseCombinatorsTest, CombinatorsRunOnTheirQueue) {
  auto queue = platform::DispatchQueue::create("prm.test.combine");
  auto source = PRMPromise::resolvedWith(Value(1));
  auto all = PRMPromise::onQueueAll(queue, {Value(source), Value(2)});
  auto checked = all->onQueueThen(queue, [queue](const Value& v) {
    EXPECT_TRUE(queue->isCurrent());
    return v;
  });
  ASSERT_TRUE(waitFor(checked));
  EXPECT_EQ(checked->value(), Value(Value::Array{Value(1), Value(2)}));
}

}  // namespace
}  // namespace prm_test
