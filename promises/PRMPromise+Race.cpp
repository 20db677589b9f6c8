#include "promises/PRMPromise.h"
#include "promises/PRMPromisePrivate.h"

PRMPromisePtr PRMPromise::race(const Value::Array& promises) {
  return onQueueRace(defaultDispatchQueue(), promises);
}

PRMPromisePtr PRMPromise::onQueueRace(const QueuePtr& queue, const Value::Array& promises) {
  PRM_REQUIRE(queue, "queue", kPRMFileRace);
  if (promises.empty()) {
    prm_detail::reportFailure(__func__, kPRMFileRace, __LINE__, kPRMNoPromisesToObserve);
    return prm_detail::rejectedForContract(kPRMNoPromisesToObserve);
  }
  auto work = [queue, elements = promises](FulfillBlock fulfill, RejectBlock reject) {
    // A plain value is already settled, so the first one wins without observing anything.
    for (const Value& element : elements) {
      if (!prm_detail::promiseIn(element)) {
        fulfill(element);
        return;
      }
    }
    for (const Value& element : elements) {
      prm_detail::promiseIn(element)->observeOnQueue(queue, fulfill, reject);
    }
  };
  return onQueueAsync(queue, std::move(work));
}

std::function<PRMPromisePtr(const PRMPromise::Value::Array&)> PRMPromise::race() {
  return [](const Value::Array& promises) { return race(promises); };
}

std::function<PRMPromisePtr(const PRMPromise::QueuePtr&, const PRMPromise::Value::Array&)>
PRMPromise::raceOn() {
  return [](const QueuePtr& queue, const Value::Array& promises) {
    return onQueueRace(queue, promises);
  };
}
