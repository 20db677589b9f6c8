#include "promises/PRMPromise.h"
#include "promises/PRMPromisePrivate.h"

PRMPromisePtr PRMPromise::doWork(DoWorkBlock work) {
  return onQueueDo(defaultDispatchQueue(), std::move(work));
}

PRMPromisePtr PRMPromise::onQueueDo(const QueuePtr& queue, DoWorkBlock work) {
  PRM_REQUIRE(queue, "queue", kPRMFileDo);
  PRM_REQUIRE(work, "work", kPRMFileDo);
  auto result = pendingPromise();
  prm_detail::submitInGroup(*queue, [queue, result, work = std::move(work)] {
    prm_detail::resolveAdopting(result, queue, prm_detail::rejectingOnThrow(*result, work));
  });
  return result;
}

std::function<PRMPromisePtr(const PRMPromise::QueuePtr&, PRMPromise::DoWorkBlock)>
PRMPromise::doOn() {
  return [](const QueuePtr& queue, DoWorkBlock work) { return onQueueDo(queue, std::move(work)); };
}
