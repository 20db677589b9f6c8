#include "promises/PRMPromise.h"
#include "promises/PRMPromisePrivate.h"

PRMPromisePtr PRMPromise::reduce(const Value::Array& items, ReducerBlock reducer) {
  return onQueueReduce(defaultDispatchQueue(), items, std::move(reducer));
}

PRMPromisePtr PRMPromise::onQueueReduce(const QueuePtr& queue, const Value::Array& items,
                                        ReducerBlock reducer) {
  PRM_REQUIRE(queue, "queue", kPRMFileReduce);
  PRM_REQUIRE(reducer, "reducer", kPRMFileReduce);
  // Each stage waits for the one before it (a promise a reducer returned included), so the
  // reducers run one after another; a rejection skips every later reducer.
  PRMPromisePtr promise = self();
  for (const Value& item : items) {
    promise = promise->chainOnQueue(
        queue, [reducer, item](const Value& partial) { return reducer(partial, item); }, nullptr);
  }
  return promise;
}

std::function<PRMPromisePtr(const PRMPromise::Value::Array&, PRMPromise::ReducerBlock)>
PRMPromise::reduce() {
  return [self = self()](const Value::Array& items, ReducerBlock reducer) {
    return self->reduce(items, std::move(reducer));
  };
}

std::function<PRMPromisePtr(const PRMPromise::QueuePtr&, const PRMPromise::Value::Array&,
                            PRMPromise::ReducerBlock)>
PRMPromise::reduceOn() {
  return [self = self()](const QueuePtr& queue, const Value::Array& items, ReducerBlock reducer) {
    return self->onQueueReduce(queue, items, std::move(reducer));
  };
}
