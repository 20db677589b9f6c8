#include "promises/PRMPromise.h"
#include "promises/PRMPromisePrivate.h"

PRMPromisePtr PRMPromise::async(AsyncWorkBlock work) {
  return onQueueAsync(defaultDispatchQueue(), std::move(work));
}

PRMPromisePtr PRMPromise::onQueueAsync(const QueuePtr& queue, AsyncWorkBlock work) {
  PRM_REQUIRE(queue, "queue", kPRMFileAsync);
  PRM_REQUIRE(work, "work", kPRMFileAsync);
  auto result = pendingPromise();
  prm_detail::submitInGroup(*queue, [queue, result, work = std::move(work)] {
    FulfillBlock fulfill = [queue, result](const Value& value) {
      prm_detail::resolveAdopting(result, queue, value);
    };
    RejectBlock reject = [result](const ErrorPtr& error) { result->reject(error); };
    prm_detail::rejectingOnThrow(*result, [&] { work(std::move(fulfill), std::move(reject)); });
  });
  return result;
}

std::function<PRMPromisePtr(PRMPromise::AsyncWorkBlock)> PRMPromise::async() {
  return [](AsyncWorkBlock work) { return async(std::move(work)); };
}

std::function<PRMPromisePtr(const PRMPromise::QueuePtr&, PRMPromise::AsyncWorkBlock)>
PRMPromise::asyncOn() {
  return [](const QueuePtr& queue, AsyncWorkBlock work) {
    return onQueueAsync(queue, std::move(work));
  };
}
