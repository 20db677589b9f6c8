#include "promises/PRMPromise.h"
#include "promises/PRMPromisePrivate.h"

PRMPromisePtr PRMPromise::then(ThenBlock work) {
  return onQueueThen(defaultDispatchQueue(), std::move(work));
}

PRMPromisePtr PRMPromise::onQueueThen(const QueuePtr& queue, ThenBlock work) {
  PRM_REQUIRE(queue, "queue", kPRMFileThen);
  PRM_REQUIRE(work, "work", kPRMFileThen);
  return chainOnQueue(queue, std::move(work), nullptr);
}

std::function<PRMPromisePtr(PRMPromise::ThenBlock)> PRMPromise::then() {
  return [self = self()](ThenBlock work) { return self->then(std::move(work)); };
}

std::function<PRMPromisePtr(const PRMPromise::QueuePtr&, PRMPromise::ThenBlock)>
PRMPromise::thenOn() {
  return [self = self()](const QueuePtr& queue, ThenBlock work) {
    return self->onQueueThen(queue, std::move(work));
  };
}
