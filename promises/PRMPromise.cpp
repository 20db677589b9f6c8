#include "promises/PRMPromise.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "platform/base/Format.h"
#include "promises/PRMPromisePrivate.h"

using platform::Value;

namespace prm_detail {

platform::ErrorPtr errorIn(const Value& value) {
  if (!value.isObject()) return nullptr;
  return std::dynamic_pointer_cast<const platform::Error>(value.object());
}

PRMPromisePtr promiseIn(const Value& value) {
  if (!value.isObject()) return nullptr;
  return value.objectAs<PRMPromise>();
}

void reportInvalidParameter(const char* function, const char* file, int line, const char* name) {
  platform::AssertionHandler::handleFailure(function, file, line,
                                            platform::format(kPRMInvalidParameterFormat, name));
}

void reportFailure(const char* function, const char* file, int line, const char* description) {
  platform::AssertionHandler::handleFailure(function, file, line, description);
}

PRMPromisePtr rejectedForContract(const std::string& description) {
  return PRMPromise::resolvedWith(
      platform::Error::withDescription(platform::kInvalidArgumentException, 0, description));
}

PRMPromisePtr invalidParameterPromise(const char* function, const char* file, int line,
                                      const char* name) {
  reportInvalidParameter(function, file, line, name);
  return rejectedForContract(platform::format(kPRMInvalidParameterFormat, name));
}

void resolveAdopting(const PRMPromisePtr& result, const platform::DispatchQueuePtr& queue,
                     const Value& r) {
  if (auto promise = promiseIn(r)) {
    promise->observeOnQueue(
        queue, [result](const Value& value) { result->fulfill(value); },
        [result](const platform::ErrorPtr& error) { result->reject(error); });
  } else {
    result->fulfill(r);
  }
}

double truncatedInterval(double seconds) {
  // A double beyond the 64-bit range (or NaN) has no defined integer conversion, so clamp first.
  const double nanoseconds = seconds * 1e9;
  if (std::isnan(nanoseconds)) return 0;
  constexpr double kMax = 9.2233720368547748e18;  // 2^63, the first double outside int64
  std::int64_t whole;
  if (nanoseconds >= kMax) {
    whole = std::numeric_limits<std::int64_t>::max();
  } else if (nanoseconds <= -kMax) {
    whole = std::numeric_limits<std::int64_t>::min();
  } else {
    whole = static_cast<std::int64_t>(nanoseconds);
  }
  return static_cast<double>(whole) / 1e9;
}

}  // namespace prm_detail

namespace {

std::mutex& defaultQueueLock() {
  static auto* lock = new std::mutex;
  return *lock;
}

platform::DispatchQueuePtr& defaultQueueSlot() {
  static auto* slot = new platform::DispatchQueuePtr;
  return *slot;
}

}  // namespace

// ---- Class-wide state ---------------------------------------------------------------------------

PRMPromise::QueuePtr PRMPromise::defaultDispatchQueue() {
  std::lock_guard<std::mutex> guard(defaultQueueLock());
  auto& slot = defaultQueueSlot();
  if (!slot) slot = platform::DispatchQueue::main();
  return slot;
}

void PRMPromise::setDefaultDispatchQueue(QueuePtr queue) {
  if (!queue) {
    prm_detail::reportInvalidParameter(__func__, kPRMFilePromise, __LINE__, "queue");
    return;
  }
  QueuePtr previous;
  {
    std::lock_guard<std::mutex> guard(defaultQueueLock());
    previous = std::exchange(defaultQueueSlot(), std::move(queue));
  }
}

std::shared_ptr<platform::DispatchGroup> PRMPromise::dispatchGroup() {
  static auto* group =
      new std::shared_ptr<platform::DispatchGroup>(platform::DispatchGroup::create());
  return *group;
}

// ---- Making promises ----------------------------------------------------------------------------

PRMPromise::PRMPromise(PendingTag) { dispatchGroup()->enter(); }

PRMPromise::PRMPromise(const Value& resolution) {
  if (auto error = prm_detail::errorIn(resolution)) {
    state_ = State::Rejected;
    error_ = std::move(error);
  } else {
    state_ = State::Fulfilled;
    value_ = resolution;
  }
}

PRMPromise::~PRMPromise() {
  // Nobody can settle a pending promise that is being destroyed; its observers are dropped
  // uncalled and its place in the group is given back.
  if (state_ == State::Pending) {
    if (!observers_.empty()) releaseObservers(std::move(observers_));
    dispatchGroup()->leave();
  }
}

void PRMPromise::releaseObservers(std::vector<Observer> observers) {
  // Observers hold the promises chained after this one, whose observers hold the next ones, and
  // so on: releasing a long abandoned chain recursively would take one stack frame group per
  // link. Nested releases are parked here and done in a loop by the outermost one instead.
  thread_local std::vector<std::vector<Observer>>* parked = nullptr;
  if (parked) {
    parked->push_back(std::move(observers));
    return;
  }
  std::vector<std::vector<Observer>> pile;
  parked = &pile;
  pile.push_back(std::move(observers));
  while (!pile.empty()) {
    std::vector<Observer> batch = std::move(pile.back());
    pile.pop_back();
    batch.clear();  // may destroy promises, whose observers land on the pile
  }
  parked = nullptr;
}

PRMPromisePtr PRMPromise::pendingPromise() { return PRMPromisePtr(new PRMPromise(PendingTag{})); }

PRMPromisePtr PRMPromise::resolvedWith(const Value& resolution) {
  return PRMPromisePtr(new PRMPromise(resolution));
}

std::function<PRMPromisePtr()> PRMPromise::pending() {
  return [] { return pendingPromise(); };
}

std::function<PRMPromisePtr(const Value&)> PRMPromise::resolved() {
  return [](const Value& resolution) { return resolvedWith(resolution); };
}

PRMPromisePtr PRMPromise::self() {
  return std::static_pointer_cast<PRMPromise>(shared_from_this());
}

// ---- Settling -----------------------------------------------------------------------------------

void PRMPromise::fulfill(const Value& value) {
  if (auto error = prm_detail::errorIn(value)) {
    reject(error);
    return;
  }
  settle(State::Fulfilled, value, nullptr);
}

void PRMPromise::reject(const ErrorPtr& error) {
  if (!error) {
    prm_detail::reportFailure(__func__, kPRMFilePromise, __LINE__, kPRMInvalidErrorType);
    return;
  }
  settle(State::Rejected, Value(), error);
}

void PRMPromise::settle(State state, const Value& value, const ErrorPtr& error) {
  // Released after the lock: destroying captured blocks may run arbitrary destructors.
  std::vector<Observer> observers;
  std::vector<Value> pendingObjects;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (state_ != State::Pending) return;
    state_ = state;
    if (state == State::Fulfilled) {
      value_ = value;
    } else {
      error_ = error;
    }
    pendingObjects.swap(pendingObjects_);
    observers.swap(observers_);
    // Submitting (never running) the callbacks under the lock keeps registration order on a
    // serial queue even against observers that arrive while this promise is settling.
    auto group = dispatchGroup();
    for (auto& observer : observers) {
      if (state == State::Fulfilled) {
        group->async(observer.queue,
                     [onFulfill = std::move(observer.onFulfill), value] { onFulfill(value); });
      } else {
        group->async(observer.queue,
                     [onReject = std::move(observer.onReject), error] { onReject(error); });
      }
    }
    group->leave();
  }
}

// ---- Reading ------------------------------------------------------------------------------------

PRMPromise::State PRMPromise::state() const {
  std::lock_guard<std::mutex> guard(lock_);
  return state_;
}

bool PRMPromise::isPending() const { return state() == State::Pending; }
bool PRMPromise::isFulfilled() const { return state() == State::Fulfilled; }
bool PRMPromise::isRejected() const { return state() == State::Rejected; }

Value PRMPromise::value() const {
  std::lock_guard<std::mutex> guard(lock_);
  return value_;
}

PRMPromise::ErrorPtr PRMPromise::error() const {
  std::lock_guard<std::mutex> guard(lock_);
  return error_;
}

void PRMPromise::addPendingObject(const Value& object) {
  if (object.isNil()) {
    prm_detail::reportInvalidParameter(__func__, kPRMFilePromise, __LINE__, "object");
    return;
  }
  std::lock_guard<std::mutex> guard(lock_);
  if (state_ == State::Pending) pendingObjects_.push_back(object);
}

std::string PRMPromise::description() const {
  State state;
  Value value;
  ErrorPtr error;
  {
    std::lock_guard<std::mutex> guard(lock_);
    state = state_;
    value = value_;
    error = error_;
  }
  const Value address = platform::pointerValue(this);
  if (state == State::Fulfilled) {
    return platform::format(kPRMPromiseFulfilledFormat, className(), address, value);
  }
  if (state == State::Rejected) {
    return platform::format(kPRMPromiseRejectedFormat, className(), address, Value(error));
  }
  return platform::format(kPRMPromisePendingFormat, className(), address);
}

// ---- Observation and chaining -------------------------------------------------------------------

void PRMPromise::observeOnQueue(const QueuePtr& queue, FulfillBlock onFulfill,
                                RejectBlock onReject) {
  const char* missing = !queue       ? "queue"
                        : !onFulfill ? "onFulfill"
                        : !onReject  ? "onReject"
                                     : nullptr;
  if (missing) {
    prm_detail::reportInvalidParameter(__func__, kPRMFilePromise, __LINE__, missing);
    return;
  }
  std::lock_guard<std::mutex> guard(lock_);
  switch (state_) {
    case State::Pending:
      observers_.push_back(Observer{queue, std::move(onFulfill), std::move(onReject)});
      break;
    case State::Fulfilled:
      dispatchGroup()->async(
          queue, [onFulfill = std::move(onFulfill), value = value_] { onFulfill(value); });
      break;
    case State::Rejected:
      dispatchGroup()->async(queue,
                             [onReject = std::move(onReject), error = error_] { onReject(error); });
      break;
  }
}

PRMPromisePtr PRMPromise::chainOnQueue(const QueuePtr& queue, ChainedFulfillBlock chainedFulfill,
                                       ChainedRejectBlock chainedReject) {
  PRM_REQUIRE(queue, "queue", kPRMFilePromise);
  auto result = pendingPromise();
  observeOnQueue(
      queue,
      [queue, result, chainedFulfill = std::move(chainedFulfill)](const Value& value) {
        prm_detail::resolveAdopting(result, queue, chainedFulfill ? chainedFulfill(value) : value);
      },
      [queue, result, chainedReject = std::move(chainedReject)](const ErrorPtr& error) {
        prm_detail::resolveAdopting(result, queue,
                                    chainedReject ? chainedReject(error) : Value(error));
      });
  return result;
}
