#include "promises/PRMPromise.h"
#include "promises/PRMPromisePrivate.h"

PRMPromisePtr PRMPromise::always(AlwaysBlock work) {
  return onQueueAlways(defaultDispatchQueue(), std::move(work));
}

PRMPromisePtr PRMPromise::onQueueAlways(const QueuePtr& queue, AlwaysBlock work) {
  PRM_REQUIRE(queue, "queue", kPRMFileAlways);
  PRM_REQUIRE(work, "work", kPRMFileAlways);
  return chainOnQueue(
      queue,
      [work](const Value& value) {
        work();
        return value;
      },
      [work](const ErrorPtr& error) {
        work();
        return Value(error);
      });
}

std::function<PRMPromisePtr(PRMPromise::AlwaysBlock)> PRMPromise::always() {
  return [self = self()](AlwaysBlock work) { return self->always(std::move(work)); };
}

std::function<PRMPromisePtr(const PRMPromise::QueuePtr&, PRMPromise::AlwaysBlock)>
PRMPromise::alwaysOn() {
  return [self = self()](const QueuePtr& queue, AlwaysBlock work) {
    return self->onQueueAlways(queue, std::move(work));
  };
}
