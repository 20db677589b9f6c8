#include "promises/PRMPromise.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "platform/base/Format.h"
#include "platform/dispatch/SystemLog.h"
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

namespace {

// The text of the exception being handled (a named exception's includes its name).
std::string currentExceptionText() {
  try {
    throw;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return kPRMUnknownExceptionDescription;
  }
}

}  // namespace

platform::ErrorPtr errorForCurrentException() {
  return platform::Error::withDescription(
      kPRMPromiseErrorDomain, kPRMPromiseErrorCodeThrownException, currentExceptionText());
}

void logCurrentException(const std::string& where) {
  platform::SystemLog::write(platform::LogLevel::Error,
                             "promise: exception escaped " + where + ": " + currentExceptionText(),
                             true);
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

platform::DispatchGroup& prm_detail::promiseGroup() {
  static platform::DispatchGroup* group = PRMPromise::dispatchGroup().get();
  return *group;
}

// ---- Making promises ----------------------------------------------------------------------------

namespace {

// The promise and its reference count in one allocation (the constructors are not public).
struct PendingPromise final : PRMPromise {
  PendingPromise() : PRMPromise(PendingTag{}) {}
};
struct ResolvedPromise final : PRMPromise {
  explicit ResolvedPromise(const Value& resolution) : PRMPromise(resolution) {}
};

}  // namespace

PRMPromise::PRMPromise(PendingTag) { prm_detail::promiseGroup().enter(); }

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
    if (firstAction_.index() != 0) {
      std::vector<Observer> observers;
      observers.push_back(Observer{std::move(firstQueue_), std::move(firstAction_)});
      if (extras_) {
        for (auto& observer : extras_->moreObservers) observers.push_back(std::move(observer));
        extras_->moreObservers.clear();
      }
      releaseObservers(std::move(observers));
    }
    prm_detail::promiseGroup().leave();
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

PRMPromisePtr PRMPromise::pendingPromise() { return std::make_shared<PendingPromise>(); }

PRMPromisePtr PRMPromise::resolvedWith(const Value& resolution) {
  return std::make_shared<ResolvedPromise>(resolution);
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

void PRMPromise::Lock::lockContended() {
  while (word_.exchange(2, std::memory_order_acquire) != 0)
    word_.wait(2, std::memory_order_relaxed);
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

void PRMPromise::settle(State state, const Value& value, const ErrorPtr& error,
                        PRMPromisePtr* owner) {
  // Released after the lock: destroying captured blocks may run arbitrary destructors.
  std::unique_ptr<Extras> extras;
  {
    std::lock_guard<Lock> guard(lock_);
    if (state_ != State::Pending) return;
    state_ = state;
    if (state == State::Fulfilled) {
      value_ = value;
    } else {
      error_ = error;
    }
    extras = std::move(extras_);
    // Submitting (never running) the callbacks under the lock keeps registration order on a
    // serial queue even against observers that arrive while this promise is settling.
    const bool delivering = firstAction_.index() != 0;
    if (delivering) {
      // Every link of a chain comes here, so this costs no allocation: the submitted block only
      // points at this promise, which holds the observer and the outcome until the block has
      // run. The block takes over this promise's place in the group. The caller's reference
      // can be taken over only when the block cannot run (and let this promise go) before this
      // call is done with it: when it goes to the serial queue this thread is running now.
      if (!owner) {
        deliveryHold_ = self();
      } else if (!firstQueue_->isConcurrent() && firstQueue_->isCurrent()) {
        deliveryHold_ = std::move(*owner);
      } else {
        deliveryHold_ = *owner;
      }
      // In a chain the promise settled by that block is settled next; fetching its memory now
      // (it was written long ago, likely by another thread) hides the cache misses.
      if (const auto* chain = std::get_if<Chain>(&firstAction_)) prefetch(chain->result.get());
      // From here on the block may run at once: nothing below touches the first observer.
      firstQueue_->async([promise = this] { promise->deliverToFirstObserver(); });
    }
    if (extras) {
      for (auto& observer : extras->moreObservers)
        dispatch(std::move(observer), state, value, error);
    }
    if (!delivering) prm_detail::promiseGroup().leave();
  }
}

void PRMPromise::prefetch(const PRMPromise* promise) {
  if (!promise) return;
  // A promise made here shares one allocation with its reference count, which comes first.
  const char* start = reinterpret_cast<const char*>(promise) - 16;
  for (std::size_t offset = 0; offset < sizeof(PRMPromise) + 16; offset += 64) {
    __builtin_prefetch(start + offset, 1);
  }
}

void PRMPromise::resolveChained(PRMPromisePtr& result, const QueuePtr& queue, const Value& r) {
  if (prm_detail::promiseIn(r)) {
    prm_detail::resolveAdopting(result, queue, r);
    return;
  }
  // As fulfill would. `result` may be emptied; the promise stays alive until settle returns.
  PRMPromise* target = result.get();
  if (auto error = prm_detail::errorIn(r)) {
    target->settle(State::Rejected, Value(), error, &result);
  } else {
    target->settle(State::Fulfilled, r, nullptr, &result);
  }
}

void PRMPromise::deliverToFirstObserver() {
  // Settled state, value and error never change again, and the settlement that wrote them
  // happened before this block was queued, so they are read here without the lock. Nothing
  // else touches the parked observer once the promise is settled.
  const PRMPromisePtr keep = std::move(deliveryHold_);
  struct Leave {
    ~Leave() { prm_detail::promiseGroup().leave(); }
  } leave;
  auto action = std::exchange(firstAction_, std::monostate());
  const bool fulfilled = state_ == State::Fulfilled;
  if (const auto* callbacks = std::get_if<Callbacks>(&action)) {
    if (fulfilled) {
      callbacks->onFulfill(value_);
    } else {
      callbacks->onReject(error_);
    }
    return;
  }
  auto& chain = std::get<Chain>(action);
  const Value r = prm_detail::rejectingOnThrow(*chain.result, [&] {
    if (fulfilled) return chain.onFulfill ? chain.onFulfill(value_) : value_;
    return chain.onReject ? (*chain.onReject)(error_) : Value(error_);
  });
  resolveChained(chain.result, firstQueue_, r);
}

void PRMPromise::dispatch(Observer&& observer, State state, const Value& value,
                          const ErrorPtr& error) {
  // `observer` (and with it the queue) outlives the submission.
  platform::DispatchQueue& queue = *observer.queue;
  if (auto* callbacks = std::get_if<Callbacks>(&observer.action)) {
    if (state == State::Fulfilled) {
      prm_detail::submitInGroup(
          queue, [onFulfill = std::move(callbacks->onFulfill), value] { onFulfill(value); });
    } else {
      prm_detail::submitInGroup(
          queue, [onReject = std::move(callbacks->onReject), error] { onReject(error); });
    }
    return;
  }
  auto& chain = std::get<Chain>(observer.action);
  if (state == State::Fulfilled) {
    prm_detail::submitInGroup(queue, [queue = observer.queue, result = std::move(chain.result),
                                      onFulfill = std::move(chain.onFulfill), value] {
      prm_detail::resolveAdopting(result, queue, prm_detail::rejectingOnThrow(*result, [&] {
                                    return onFulfill ? onFulfill(value) : value;
                                  }));
    });
  } else {
    prm_detail::submitInGroup(
        queue,
        [queue = observer.queue, result = std::move(chain.result),
         onReject = chain.onReject ? std::move(*chain.onReject) : ChainedRejectBlock(), error] {
          prm_detail::resolveAdopting(result, queue, prm_detail::rejectingOnThrow(*result, [&] {
                                        return onReject ? onReject(error) : Value(error);
                                      }));
        });
  }
}

// ---- Reading ------------------------------------------------------------------------------------

PRMPromise::State PRMPromise::state() const {
  std::lock_guard<Lock> guard(lock_);
  return state_;
}

bool PRMPromise::isPending() const { return state() == State::Pending; }
bool PRMPromise::isFulfilled() const { return state() == State::Fulfilled; }
bool PRMPromise::isRejected() const { return state() == State::Rejected; }

Value PRMPromise::value() const {
  std::lock_guard<Lock> guard(lock_);
  return value_;
}

PRMPromise::ErrorPtr PRMPromise::error() const {
  std::lock_guard<Lock> guard(lock_);
  return error_;
}

void PRMPromise::addPendingObject(const Value& object) {
  if (object.isNil()) {
    prm_detail::reportInvalidParameter(__func__, kPRMFilePromise, __LINE__, "object");
    return;
  }
  std::lock_guard<Lock> guard(lock_);
  if (state_ != State::Pending) return;
  if (!extras_) extras_ = std::make_unique<Extras>();
  extras_->pendingObjects.push_back(object);
}

std::string PRMPromise::description() const {
  State state;
  Value value;
  ErrorPtr error;
  {
    std::lock_guard<Lock> guard(lock_);
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
  addObserver(Observer{queue, Callbacks{std::move(onFulfill), std::move(onReject)}});
}

void PRMPromise::addObserver(Observer&& observer) {
  std::lock_guard<Lock> guard(lock_);
  if (state_ != State::Pending) {
    dispatch(std::move(observer), state_, value_, error_);
  } else if (firstAction_.index() == 0) {
    firstQueue_ = std::move(observer.queue);
    firstAction_ = std::move(observer.action);
  } else {
    if (!extras_) extras_ = std::make_unique<Extras>();
    extras_->moreObservers.push_back(std::move(observer));
  }
}

PRMPromisePtr PRMPromise::chainOnQueue(const QueuePtr& queue, ChainedFulfillBlock chainedFulfill,
                                       ChainedRejectBlock chainedReject) {
  PRM_REQUIRE(queue, "queue", kPRMFilePromise);
  auto result = pendingPromise();
  std::unique_ptr<ChainedRejectBlock> onReject;
  if (chainedReject) onReject = std::make_unique<ChainedRejectBlock>(std::move(chainedReject));
  addObserver(Observer{queue, Chain{result, std::move(chainedFulfill), std::move(onReject)}});
  return result;
}
