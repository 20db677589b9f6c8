#include <memory>

#include "promises/PRMPromise.h"
#include "promises/PRMPromisePrivate.h"

namespace {

struct RetryState {
  PRMPromise::QueuePtr queue;
  double interval;
  PRMPromise::RetryPredicateBlock predicate;
  PRMPromise::RetryWorkBlock work;
  PRMPromisePtr result;
};

void attempt(const std::shared_ptr<RetryState>& state, std::int64_t remaining);

void handleOutcome(const std::shared_ptr<RetryState>& state, std::int64_t remaining,
                   const platform::Value& outcome) {
  auto error = prm_detail::errorIn(outcome);
  if (!error) {
    state->result->fulfill(outcome);
    return;
  }
  // The count is tested first; the predicate sees the count before it is lowered.
  auto mayRetry = [&] { return !state->predicate || state->predicate(remaining, error); };
  if (remaining > 0 && prm_detail::rejectingOnThrow(*state->result, mayRetry)) {
    state->queue->after(state->interval, [state, remaining] { attempt(state, remaining - 1); });
  } else {
    state->result->reject(error);
  }
}

void attempt(const std::shared_ptr<RetryState>& state, std::int64_t remaining) {
  platform::Value outcome = prm_detail::rejectingOnThrow(*state->result, state->work);
  if (auto promise = prm_detail::promiseIn(outcome)) {
    promise->observeOnQueue(
        state->queue,
        [state, remaining](const platform::Value& value) {
          handleOutcome(state, remaining, value);
        },
        [state, remaining](const platform::ErrorPtr& error) {
          handleOutcome(state, remaining, platform::Value(error));
        });
  } else {
    handleOutcome(state, remaining, outcome);
  }
}

}  // namespace

PRMPromisePtr PRMPromise::retry(RetryWorkBlock work) {
  return onQueueRetry(defaultDispatchQueue(), std::move(work));
}

PRMPromisePtr PRMPromise::attemptsRetry(std::int64_t count, RetryWorkBlock work) {
  return onQueueAttemptsRetry(defaultDispatchQueue(), count, std::move(work));
}

PRMPromisePtr PRMPromise::attemptsDelayConditionRetry(std::int64_t count, double interval,
                                                      RetryPredicateBlock predicate,
                                                      RetryWorkBlock work) {
  return onQueueAttemptsDelayConditionRetry(defaultDispatchQueue(), count, interval,
                                            std::move(predicate), std::move(work));
}

PRMPromisePtr PRMPromise::onQueueRetry(const QueuePtr& queue, RetryWorkBlock work) {
  return onQueueAttemptsRetry(queue, kPRMRetryDefaultAttempts, std::move(work));
}

PRMPromisePtr PRMPromise::onQueueAttemptsRetry(const QueuePtr& queue, std::int64_t count,
                                               RetryWorkBlock work) {
  return onQueueAttemptsDelayConditionRetry(queue, count, kPRMRetryDefaultDelay, nullptr,
                                            std::move(work));
}

PRMPromisePtr PRMPromise::onQueueAttemptsDelayConditionRetry(const QueuePtr& queue,
                                                             std::int64_t count, double interval,
                                                             RetryPredicateBlock predicate,
                                                             RetryWorkBlock work) {
  PRM_REQUIRE(queue, "queue", kPRMFileRetry);
  PRM_REQUIRE(work, "work", kPRMFileRetry);
  auto state = std::make_shared<RetryState>(
      RetryState{queue, interval, std::move(predicate),
                 std::move(work), pendingPromise()});
  try {
    attempt(state, count);
  } catch (...) {
    // What the first attempt threw has rejected the result; it ran on the caller's thread, where
    // no queue logs what escapes.
    prm_detail::logCurrentException("the first attempt of a retry");
  }
  return state->result;
}

std::function<PRMPromisePtr(PRMPromise::RetryWorkBlock)> PRMPromise::retry() {
  return [](RetryWorkBlock work) { return retry(std::move(work)); };
}

std::function<PRMPromisePtr(const PRMPromise::QueuePtr&, PRMPromise::RetryWorkBlock)>
PRMPromise::retryOn() {
  return [](const QueuePtr& queue, RetryWorkBlock work) {
    return onQueueRetry(queue, std::move(work));
  };
}

std::function<PRMPromisePtr(std::int64_t, double, PRMPromise::RetryPredicateBlock,
                            PRMPromise::RetryWorkBlock)>
PRMPromise::retryAgain() {
  return
      [](std::int64_t count, double interval, RetryPredicateBlock predicate, RetryWorkBlock work) {
        return attemptsDelayConditionRetry(count, interval, std::move(predicate), std::move(work));
      };
}

std::function<PRMPromisePtr(const PRMPromise::QueuePtr&, std::int64_t, double,
                            PRMPromise::RetryPredicateBlock, PRMPromise::RetryWorkBlock)>
PRMPromise::retryAgainOn() {
  return [](const QueuePtr& queue, std::int64_t count, double interval,
            RetryPredicateBlock predicate, RetryWorkBlock work) {
    return onQueueAttemptsDelayConditionRetry(queue, count, interval, std::move(predicate),
                                              std::move(work));
  };
}
