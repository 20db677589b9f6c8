#include "promises/PRMPromise.h"
#include "promises/PRMPromisePrivate.h"

PRMPromisePtr PRMPromise::catchError(CatchBlock reject) {
  return onQueueCatch(defaultDispatchQueue(), std::move(reject));
}

PRMPromisePtr PRMPromise::onQueueCatch(const QueuePtr& queue, CatchBlock reject) {
  PRM_REQUIRE(queue, "queue", kPRMFileCatch);
  PRM_REQUIRE(reject, "reject", kPRMFileCatch);
  return chainOnQueue(queue, nullptr, [reject = std::move(reject)](const ErrorPtr& error) {
    reject(error);
    return Value(error);
  });
}

std::function<PRMPromisePtr(PRMPromise::CatchBlock)> PRMPromise::catchError() {
  return [self = self()](CatchBlock reject) { return self->catchError(std::move(reject)); };
}

std::function<PRMPromisePtr(const PRMPromise::QueuePtr&, PRMPromise::CatchBlock)>
PRMPromise::catchOn() {
  return [self = self()](const QueuePtr& queue, CatchBlock reject) {
    return self->onQueueCatch(queue, std::move(reject));
  };
}
