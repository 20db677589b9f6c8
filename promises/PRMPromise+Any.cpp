#include <memory>
#include <mutex>

#include "promises/PRMPromise.h"
#include "promises/PRMPromisePrivate.h"

namespace {

// Outcomes recorded as they are observed (the elements themselves are not held, see all).
struct AnyState {
  std::mutex lock;
  platform::Value::Array outcomes;  // value (null marker for nil) or error, by index
  std::size_t unsettled;
  std::size_t fulfilled = 0;
  PRMPromise::FulfillBlock fulfill;
  PRMPromise::RejectBlock reject;
};

// Called once per element. When the last element settles, the result is fulfilled with every
// value and error in array order if anything fulfilled, else rejected with this last error.
void recordOutcome(const std::shared_ptr<AnyState>& state, std::size_t index,
                   const platform::Value& value, const platform::ErrorPtr& error) {
  platform::Value::Array combined;
  bool anyFulfilled;
  {
    std::lock_guard<std::mutex> guard(state->lock);
    if (error) {
      state->outcomes[index] = platform::Value(error);
    } else {
      state->outcomes[index] = value.isNil() ? platform::Value::null() : value;
      ++state->fulfilled;
    }
    if (--state->unsettled > 0) return;
    anyFulfilled = state->fulfilled > 0;
    combined.swap(state->outcomes);
  }
  if (anyFulfilled) {
    state->fulfill(platform::Value(std::move(combined)));
  } else {
    state->reject(error);
  }
}

}  // namespace

PRMPromisePtr PRMPromise::any(const Value::Array& anyPromises) {
  return onQueueAny(defaultDispatchQueue(), anyPromises);
}

PRMPromisePtr PRMPromise::onQueueAny(const QueuePtr& queue, const Value::Array& anyPromises) {
  PRM_REQUIRE(queue, "queue", kPRMFileAny);
  if (anyPromises.empty()) return resolvedWith(Value(Value::Array{}));
  auto work = [queue, elements = anyPromises](FulfillBlock fulfill, RejectBlock reject) {
    std::vector<PRMPromisePtr> promises;
    promises.reserve(elements.size());
    for (const Value& element : elements) {
      auto promise = prm_detail::promiseIn(element);
      promises.push_back(promise ? std::move(promise) : resolvedWith(element));
    }
    auto state = std::make_shared<AnyState>();
    state->outcomes.resize(promises.size());
    state->unsettled = promises.size();
    state->fulfill = std::move(fulfill);
    state->reject = std::move(reject);
    for (std::size_t index = 0; index < promises.size(); ++index) {
      promises[index]->observeOnQueue(
          queue,
          [state, index](const Value& value) { recordOutcome(state, index, value, nullptr); },
          [state, index](const ErrorPtr& error) { recordOutcome(state, index, Value(), error); });
    }
  };
  return onQueueAsync(queue, std::move(work));
}

std::function<PRMPromisePtr(const PRMPromise::Value::Array&)> PRMPromise::any() {
  return [](const Value::Array& anyPromises) { return any(anyPromises); };
}

std::function<PRMPromisePtr(const PRMPromise::QueuePtr&, const PRMPromise::Value::Array&)>
PRMPromise::anyOn() {
  return [](const QueuePtr& queue, const Value::Array& anyPromises) {
    return onQueueAny(queue, anyPromises);
  };
}
