#include "promises/PRMPromise.h"
#include "promises/PRMPromisePrivate.h"

PRMPromisePtr PRMPromise::recover(RecoverBlock recovery) {
  return onQueueRecover(defaultDispatchQueue(), std::move(recovery));
}

PRMPromisePtr PRMPromise::onQueueRecover(const QueuePtr& queue, RecoverBlock recovery) {
  PRM_REQUIRE(queue, "queue", kPRMFileRecover);
  PRM_REQUIRE(recovery, "recovery", kPRMFileRecover);
  return chainOnQueue(queue, nullptr, std::move(recovery));
}

std::function<PRMPromisePtr(PRMPromise::RecoverBlock)> PRMPromise::recover() {
  return [self = self()](RecoverBlock recovery) { return self->recover(std::move(recovery)); };
}

std::function<PRMPromisePtr(const PRMPromise::QueuePtr&, PRMPromise::RecoverBlock)>
PRMPromise::recoverOn() {
  return [self = self()](const QueuePtr& queue, RecoverBlock recovery) {
    return self->onQueueRecover(queue, std::move(recovery));
  };
}
