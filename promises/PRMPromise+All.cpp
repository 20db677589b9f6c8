#include <memory>
#include <mutex>

#include "promises/PRMPromise.h"
#include "promises/PRMPromisePrivate.h"

namespace {

// What the observers of the elements share. It holds the elements' outcomes, not the elements,
// so that an element that never settles is not kept alive by its own observers.
struct AllState {
  std::mutex lock;
  platform::Value::Array values;
  std::size_t unfulfilled;
  PRMPromise::FulfillBlock fulfill;
};

}  // namespace

PRMPromisePtr PRMPromise::all(const Value::Array& allPromises) {
  return onQueueAll(defaultDispatchQueue(), allPromises);
}

PRMPromisePtr PRMPromise::onQueueAll(const QueuePtr& queue, const Value::Array& allPromises) {
  PRM_REQUIRE(queue, "queue", kPRMFileAll);
  if (allPromises.empty()) return resolvedWith(Value(Value::Array{}));
  auto work = [queue, elements = allPromises](FulfillBlock fulfill, RejectBlock reject) {
    std::vector<PRMPromisePtr> promises;
    promises.reserve(elements.size());
    for (const Value& element : elements) {
      if (auto promise = prm_detail::promiseIn(element)) {
        promises.push_back(std::move(promise));
      } else if (auto error = prm_detail::errorIn(element)) {
        reject(error);
        return;
      } else {
        promises.push_back(resolvedWith(element));
      }
    }
    auto state = std::make_shared<AllState>();
    state->values.resize(promises.size());
    state->unfulfilled = promises.size();
    state->fulfill = std::move(fulfill);
    for (std::size_t index = 0; index < promises.size(); ++index) {
      promises[index]->observeOnQueue(
          queue,
          [state, index](const Value& value) {
            Value::Array values;
            {
              std::lock_guard<std::mutex> guard(state->lock);
              state->values[index] = value.isNil() ? Value::null() : value;
              if (--state->unfulfilled > 0) return;
              values.swap(state->values);
            }
            state->fulfill(Value(std::move(values)));
          },
          reject);
    }
  };
  return onQueueAsync(queue, std::move(work));
}

std::function<PRMPromisePtr(const PRMPromise::Value::Array&)> PRMPromise::all() {
  return [](const Value::Array& allPromises) { return all(allPromises); };
}

std::function<PRMPromisePtr(const PRMPromise::QueuePtr&, const PRMPromise::Value::Array&)>
PRMPromise::allOn() {
  return [](const QueuePtr& queue, const Value::Array& allPromises) {
    return onQueueAll(queue, allPromises);
  };
}
