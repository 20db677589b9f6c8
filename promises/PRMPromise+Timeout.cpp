#include "promises/PRMPromise.h"
#include "promises/PRMPromisePrivate.h"

PRMPromisePtr PRMPromise::timeout(double interval) {
  return onQueueTimeout(defaultDispatchQueue(), interval);
}

PRMPromisePtr PRMPromise::onQueueTimeout(const QueuePtr& queue, double interval) {
  PRM_REQUIRE(queue, "queue", kPRMFileTimeout);
  auto result = pendingPromise();
  observeOnQueue(
      queue, [result](const Value& value) { result->fulfill(value); },
      [result](const ErrorPtr& error) { result->reject(error); });
  // The timer must not keep an abandoned result alive until it fires.
  std::weak_ptr<PRMPromise> weakResult = result;
  queue->after(interval, [weakResult] {
    if (auto strongResult = weakResult.lock()) {
      strongResult->reject(
          platform::Error::make(kPRMPromiseErrorDomain, kPRMPromiseErrorCodeTimedOut));
    }
  });
  return result;
}

std::function<PRMPromisePtr(double)> PRMPromise::timeout() {
  return [self = self()](double interval) { return self->timeout(interval); };
}

std::function<PRMPromisePtr(const PRMPromise::QueuePtr&, double)> PRMPromise::timeoutOn() {
  return [self = self()](const QueuePtr& queue, double interval) {
    return self->onQueueTimeout(queue, interval);
  };
}
