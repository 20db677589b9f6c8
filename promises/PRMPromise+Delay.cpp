#include "promises/PRMPromise.h"
#include "promises/PRMPromisePrivate.h"

PRMPromisePtr PRMPromise::delay(double interval) {
  return onQueueDelay(defaultDispatchQueue(), interval);
}

PRMPromisePtr PRMPromise::onQueueDelay(const QueuePtr& queue, double interval) {
  PRM_REQUIRE(queue, "queue", kPRMFileDelay);
  auto result = pendingPromise();
  // The queue's timer takes the seconds as they are and truncates them to nanoseconds once.
  observeOnQueue(
      queue,
      [queue, result, interval](const Value& value) {
        queue->after(interval, [result, value] { result->fulfill(value); });
      },
      [result](const ErrorPtr& error) { result->reject(error); });
  return result;
}

std::function<PRMPromisePtr(double)> PRMPromise::delay() {
  return [self = self()](double interval) { return self->delay(interval); };
}

std::function<PRMPromisePtr(const PRMPromise::QueuePtr&, double)> PRMPromise::delayOn() {
  return [self = self()](const QueuePtr& queue, double interval) {
    return self->onQueueDelay(queue, interval);
  };
}
