#include "promises/PRMPromise.h"
#include "promises/PRMPromisePrivate.h"

PRMPromisePtr PRMPromise::validate(ValidateBlock predicate) {
  return onQueueValidate(defaultDispatchQueue(), std::move(predicate));
}

PRMPromisePtr PRMPromise::onQueueValidate(const QueuePtr& queue, ValidateBlock predicate) {
  PRM_REQUIRE(queue, "queue", kPRMFileValidate);
  PRM_REQUIRE(predicate, "predicate", kPRMFileValidate);
  return chainOnQueue(
      queue,
      [predicate = std::move(predicate)](const Value& value) {
        if (predicate(value)) return value;
        return Value(
            platform::Error::make(kPRMPromiseErrorDomain, kPRMPromiseErrorCodeValidationFailure));
      },
      nullptr);
}

std::function<PRMPromisePtr(PRMPromise::ValidateBlock)> PRMPromise::validate() {
  return [self = self()](ValidateBlock predicate) { return self->validate(std::move(predicate)); };
}

std::function<PRMPromisePtr(const PRMPromise::QueuePtr&, PRMPromise::ValidateBlock)>
PRMPromise::validateOn() {
  return [self = self()](const QueuePtr& queue, ValidateBlock predicate) {
    return self->onQueueValidate(queue, std::move(predicate));
  };
}
