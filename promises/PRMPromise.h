// PRMPromise: a one-shot asynchronous result (any platform::Value, or an error) whose observers
// always run later on a dispatch queue the caller names, never inline. Thread-safe: every promise
// guards its state with its own lock, and no user block ever runs under that lock.
//
// Every operation has four forms: on the default queue (`then(work)`), on a given queue
// (`onQueueThen(queue, work)`; likewise onQueueCatch, onQueueReduce, onQueueDo, onQueueAll,
// onQueueAttemptsDelayConditionRetry, onQueueWrapCompletion, ...) and two getters returning
// std::function (`then()`, `thenOn()`). Names clear of C++ keywords: catchError (the `catch`
// form and getter; the queue getter is catchOn), doWork (the `do` form; getter doOn),
// attemptsRetry and attemptsDelayConditionRetry (the longer retry forms; getters retryAgain,
// retryAgainOn). Blocks return a Value: an error is `Value(error)`, a promise to adopt is
// `Value(promise)`, nil is `Value()`.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

#include "platform/base/Error.h"
#include "platform/base/Value.h"
#include "platform/dispatch/DispatchQueue.h"
#include "promises/PRMPromiseConstants.h"

class PRMPromise;
using PRMPromisePtr = std::shared_ptr<PRMPromise>;

class PRMPromise : public platform::Object {
 public:
  using Value = platform::Value;
  using ErrorPtr = platform::ErrorPtr;
  using QueuePtr = platform::DispatchQueuePtr;

  // Callback shapes.
  using FulfillBlock = std::function<void(const Value& value)>;
  using RejectBlock = std::function<void(const ErrorPtr& error)>;
  using ChainedFulfillBlock = std::function<Value(const Value& value)>;
  using ChainedRejectBlock = std::function<Value(const ErrorPtr& error)>;
  using ThenBlock = std::function<Value(const Value& value)>;
  using CatchBlock = std::function<void(const ErrorPtr& error)>;
  using RecoverBlock = std::function<Value(const ErrorPtr& error)>;
  using AlwaysBlock = std::function<void()>;
  using ValidateBlock = std::function<bool(const Value& value)>;
  using ReducerBlock = std::function<Value(const Value& partial, const Value& item)>;
  using AsyncWorkBlock = std::function<void(FulfillBlock fulfill, RejectBlock reject)>;
  using DoWorkBlock = std::function<Value()>;
  using RetryWorkBlock = std::function<Value()>;
  // Gets the remaining attempt count (before it is lowered) and the error just received.
  using RetryPredicateBlock = std::function<bool(std::int64_t remaining, const ErrorPtr& error)>;

  // Completion shapes of the wrap adapters.
  using CompletionBlock = std::function<void()>;
  using ObjectCompletionBlock = std::function<void(const Value& value)>;
  using ErrorCompletionBlock = std::function<void(const ErrorPtr& error)>;
  using ObjectOrErrorCompletionBlock =
      std::function<void(const Value& value, const ErrorPtr& error)>;
  using ErrorOrObjectCompletionBlock =
      std::function<void(const ErrorPtr& error, const Value& value)>;
  using TwoObjectsOrErrorCompletionBlock =
      std::function<void(const Value& value1, const Value& value2, const ErrorPtr& error)>;
  using BoolCompletionBlock = std::function<void(bool value)>;
  using BoolOrErrorCompletionBlock = std::function<void(bool value, const ErrorPtr& error)>;
  using IntegerCompletionBlock = std::function<void(std::int64_t value)>;
  using IntegerOrErrorCompletionBlock =
      std::function<void(std::int64_t value, const ErrorPtr& error)>;
  using DoubleCompletionBlock = std::function<void(double value)>;
  using DoubleOrErrorCompletionBlock = std::function<void(double value, const ErrorPtr& error)>;
  template <class Completion>
  using WrapWorkBlock = std::function<void(Completion handler)>;

  // ---- Core -------------------------------------------------------------------------------

  // The queue of every default-queue form, read at call time; the main queue unless replaced.
  static QueuePtr defaultDispatchQueue();
  static void setDefaultDispatchQueue(QueuePtr queue);
  // Empty exactly when no promise is pending and no promise callback or work is queued or
  // running. Created on first use and never released.
  static std::shared_ptr<platform::DispatchGroup> dispatchGroup();

  // A new pending promise; it occupies the dispatch group until it settles or is destroyed.
  static PRMPromisePtr pendingPromise();
  // A new settled promise: an error rejects it, anything else (nil included) fulfils it.
  static PRMPromisePtr resolvedWith(const Value& resolution);
  static std::function<PRMPromisePtr()> pending();
  static std::function<PRMPromisePtr(const Value&)> resolved();

  ~PRMPromise() override;

  // Settles a pending promise; later calls are ignored. An error given to fulfill rejects.
  void fulfill(const Value& value);
  // A null error is reported to the assertion handler and leaves the promise unchanged.
  void reject(const ErrorPtr& error);

  bool isPending() const;
  bool isFulfilled() const;
  bool isRejected() const;
  Value value() const;     // nil unless fulfilled
  ErrorPtr error() const;  // null unless rejected

  // Keeps `object` alive until the promise settles; ignored once settled.
  void addPendingObject(const Value& object);

  // Exactly one of the callbacks runs on `queue` once the promise is settled, always later.
  void observeOnQueue(const QueuePtr& queue, FulfillBlock onFulfill, RejectBlock onReject);
  // A new promise settled from this one's outcome as transformed by the (optional) blocks: a
  // returned error rejects, a returned promise is adopted, anything else fulfils.
  PRMPromisePtr chainOnQueue(const QueuePtr& queue, ChainedFulfillBlock chainedFulfill,
                             ChainedRejectBlock chainedReject);

  std::string className() const override { return kPRMPromiseClassName; }
  std::string description() const override;

  // ---- Operations on one promise -------------------------------------------------------------

  PRMPromisePtr then(ThenBlock work);
  PRMPromisePtr onQueueThen(const QueuePtr& queue, ThenBlock work);
  std::function<PRMPromisePtr(ThenBlock)> then();
  std::function<PRMPromisePtr(const QueuePtr&, ThenBlock)> thenOn();

  PRMPromisePtr catchError(CatchBlock reject);
  PRMPromisePtr onQueueCatch(const QueuePtr& queue, CatchBlock reject);
  std::function<PRMPromisePtr(CatchBlock)> catchError();
  std::function<PRMPromisePtr(const QueuePtr&, CatchBlock)> catchOn();

  PRMPromisePtr recover(RecoverBlock recovery);
  PRMPromisePtr onQueueRecover(const QueuePtr& queue, RecoverBlock recovery);
  std::function<PRMPromisePtr(RecoverBlock)> recover();
  std::function<PRMPromisePtr(const QueuePtr&, RecoverBlock)> recoverOn();

  PRMPromisePtr always(AlwaysBlock work);
  PRMPromisePtr onQueueAlways(const QueuePtr& queue, AlwaysBlock work);
  std::function<PRMPromisePtr(AlwaysBlock)> always();
  std::function<PRMPromisePtr(const QueuePtr&, AlwaysBlock)> alwaysOn();

  PRMPromisePtr validate(ValidateBlock predicate);
  PRMPromisePtr onQueueValidate(const QueuePtr& queue, ValidateBlock predicate);
  std::function<PRMPromisePtr(ValidateBlock)> validate();
  std::function<PRMPromisePtr(const QueuePtr&, ValidateBlock)> validateOn();

  // Fulfilment is passed on `interval` seconds later; a rejection at once.
  PRMPromisePtr delay(double interval);
  PRMPromisePtr onQueueDelay(const QueuePtr& queue, double interval);
  std::function<PRMPromisePtr(double)> delay();
  std::function<PRMPromisePtr(const QueuePtr&, double)> delayOn();

  // Rejects with kPRMPromiseErrorCodeTimedOut unless this promise settles within `interval`.
  PRMPromisePtr timeout(double interval);
  PRMPromisePtr onQueueTimeout(const QueuePtr& queue, double interval);
  std::function<PRMPromisePtr(double)> timeout();
  std::function<PRMPromisePtr(const QueuePtr&, double)> timeoutOn();

  // Folds the items into this promise's value one after another; empty items return `this`.
  PRMPromisePtr reduce(const Value::Array& items, ReducerBlock reducer);
  PRMPromisePtr onQueueReduce(const QueuePtr& queue, const Value::Array& items,
                              ReducerBlock reducer);
  std::function<PRMPromisePtr(const Value::Array&, ReducerBlock)> reduce();
  std::function<PRMPromisePtr(const QueuePtr&, const Value::Array&, ReducerBlock)> reduceOn();

  // ---- Operations that make a promise ---------------------------------------------------------

  static PRMPromisePtr async(AsyncWorkBlock work);
  static PRMPromisePtr onQueueAsync(const QueuePtr& queue, AsyncWorkBlock work);
  static std::function<PRMPromisePtr(AsyncWorkBlock)> async();
  static std::function<PRMPromisePtr(const QueuePtr&, AsyncWorkBlock)> asyncOn();

  static PRMPromisePtr doWork(DoWorkBlock work);
  static PRMPromisePtr onQueueDo(const QueuePtr& queue, DoWorkBlock work);
  static std::function<PRMPromisePtr(const QueuePtr&, DoWorkBlock)> doOn();

  // The first attempt runs inside the call, on the calling thread; later ones on the queue.
  static PRMPromisePtr retry(RetryWorkBlock work);
  static PRMPromisePtr attemptsRetry(std::int64_t count, RetryWorkBlock work);
  static PRMPromisePtr attemptsDelayConditionRetry(std::int64_t count, double interval,
                                                   RetryPredicateBlock predicate,
                                                   RetryWorkBlock work);
  static PRMPromisePtr onQueueRetry(const QueuePtr& queue, RetryWorkBlock work);
  static PRMPromisePtr onQueueAttemptsRetry(const QueuePtr& queue, std::int64_t count,
                                            RetryWorkBlock work);
  static PRMPromisePtr onQueueAttemptsDelayConditionRetry(const QueuePtr& queue, std::int64_t count,
                                                          double interval,
                                                          RetryPredicateBlock predicate,
                                                          RetryWorkBlock work);
  static std::function<PRMPromisePtr(RetryWorkBlock)> retry();
  static std::function<PRMPromisePtr(const QueuePtr&, RetryWorkBlock)> retryOn();
  static std::function<PRMPromisePtr(std::int64_t, double, RetryPredicateBlock, RetryWorkBlock)>
  retryAgain();
  static std::function<PRMPromisePtr(const QueuePtr&, std::int64_t, double, RetryPredicateBlock,
                                     RetryWorkBlock)>
  retryAgainOn();

  // Elements are promises or plain values; the arrays are copied at call time.
  static PRMPromisePtr all(const Value::Array& allPromises);
  static PRMPromisePtr onQueueAll(const QueuePtr& queue, const Value::Array& allPromises);
  static std::function<PRMPromisePtr(const Value::Array&)> all();
  static std::function<PRMPromisePtr(const QueuePtr&, const Value::Array&)> allOn();

  static PRMPromisePtr any(const Value::Array& anyPromises);
  static PRMPromisePtr onQueueAny(const QueuePtr& queue, const Value::Array& anyPromises);
  static std::function<PRMPromisePtr(const Value::Array&)> any();
  static std::function<PRMPromisePtr(const QueuePtr&, const Value::Array&)> anyOn();

  static PRMPromisePtr race(const Value::Array& promises);
  static PRMPromisePtr onQueueRace(const QueuePtr& queue, const Value::Array& promises);
  static std::function<PRMPromisePtr(const Value::Array&)> race();
  static std::function<PRMPromisePtr(const QueuePtr&, const Value::Array&)> raceOn();

  // ---- Completion adapters: the work gets a completion whose first call settles the promise --

  // Each shape has wrapX(work), onQueueWrapX(queue, work) and the getters wrapX(), wrapXOn().
#define PRM_DECLARE_WRAP(Name, QueueName, Completion)                                    \
  static PRMPromisePtr Name(WrapWorkBlock<Completion> work);                             \
  static PRMPromisePtr QueueName(const QueuePtr& queue, WrapWorkBlock<Completion> work); \
  static std::function<PRMPromisePtr(WrapWorkBlock<Completion>)> Name();                 \
  static std::function<PRMPromisePtr(const QueuePtr&, WrapWorkBlock<Completion>)> Name##On();
  PRM_DECLARE_WRAP(wrapCompletion, onQueueWrapCompletion, CompletionBlock)
  PRM_DECLARE_WRAP(wrapObjectCompletion, onQueueWrapObjectCompletion, ObjectCompletionBlock)
  PRM_DECLARE_WRAP(wrapErrorCompletion, onQueueWrapErrorCompletion, ErrorCompletionBlock)
  PRM_DECLARE_WRAP(wrapObjectOrErrorCompletion, onQueueWrapObjectOrErrorCompletion,
                   ObjectOrErrorCompletionBlock)
  PRM_DECLARE_WRAP(wrapErrorOrObjectCompletion, onQueueWrapErrorOrObjectCompletion,
                   ErrorOrObjectCompletionBlock)
  PRM_DECLARE_WRAP(wrap2ObjectsOrErrorCompletion, onQueueWrap2ObjectsOrErrorCompletion,
                   TwoObjectsOrErrorCompletionBlock)
  PRM_DECLARE_WRAP(wrapBoolCompletion, onQueueWrapBoolCompletion, BoolCompletionBlock)
  PRM_DECLARE_WRAP(wrapBoolOrErrorCompletion, onQueueWrapBoolOrErrorCompletion,
                   BoolOrErrorCompletionBlock)
  PRM_DECLARE_WRAP(wrapIntegerCompletion, onQueueWrapIntegerCompletion, IntegerCompletionBlock)
  PRM_DECLARE_WRAP(wrapIntegerOrErrorCompletion, onQueueWrapIntegerOrErrorCompletion,
                   IntegerOrErrorCompletionBlock)
  PRM_DECLARE_WRAP(wrapDoubleCompletion, onQueueWrapDoubleCompletion, DoubleCompletionBlock)
  PRM_DECLARE_WRAP(wrapDoubleOrErrorCompletion, onQueueWrapDoubleOrErrorCompletion,
                   DoubleOrErrorCompletionBlock)
#undef PRM_DECLARE_WRAP

 protected:
  struct PendingTag {};
  explicit PRMPromise(PendingTag);
  explicit PRMPromise(const Value& resolution);

 private:
  enum class State : std::int64_t { Pending = 0, Fulfilled = 1, Rejected = 2 };
  // The promise's own lock, one word: a chain allocates one promise per link, and a smaller
  // promise is faster to make, settle and free. Held only briefly and never around user blocks;
  // a contended caller sleeps on the word.
  class Lock {
   public:
    void lock() {
      std::uint32_t expected = 0;
      if (!word_.compare_exchange_strong(expected, 1, std::memory_order_acquire,
                                         std::memory_order_relaxed)) {
        lockContended();
      }
    }
    void unlock() {
      if (word_.exchange(0, std::memory_order_release) == 2) word_.notify_one();
    }

   private:
    void lockContended();
    std::atomic<std::uint32_t> word_{0};  // 0 free, 1 held, 2 held and maybe waited for
  };
  // The two callbacks of observeOnQueue.
  struct Callbacks {
    FulfillBlock onFulfill;
    RejectBlock onReject;
  };
  // What chainOnQueue registers: the result promise and the (optional) chained blocks, kept
  // here as they are rather than wrapped in fresh closures.
  struct Chain {
    PRMPromisePtr result;
    ChainedFulfillBlock onFulfill;
    std::unique_ptr<ChainedRejectBlock> onReject;  // boxed: most chains pass errors on as such
  };
  // Empty (monostate) where no observer is held.
  using Action = std::variant<std::monostate, Callbacks, Chain>;
  struct Observer {
    QueuePtr queue;
    Action action;
  };

  PRMPromisePtr self();
  // What few promises need, allocated on first use: objects kept alive while pending, and the
  // observers after the first.
  struct Extras {
    std::vector<Value> pendingObjects;
    std::vector<Observer> moreObservers;
  };

  static void releaseObservers(std::vector<Observer> observers);
  void addObserver(Observer&& observer);
  // Submits the observer's work for this outcome to its queue, as a member of the group.
  static void dispatch(Observer&& observer, State state, const Value& value, const ErrorPtr& error);
  // `owner`, when given, is the caller's reference to this promise; settling may take it over.
  void settle(State state, const Value& value, const ErrorPtr& error,
              PRMPromisePtr* owner = nullptr);
  // A hint that `promise` is about to be settled on this thread.
  static void prefetch(const PRMPromise* promise);
  // Settles the chained promise `result` from what a chained block returned.
  static void resolveChained(PRMPromisePtr& result, const QueuePtr& queue, const Value& r);
  // Runs the first observer's work for the settled outcome, on the observer's queue.
  void deliverToFirstObserver();
  State state() const;

  mutable Lock lock_;
  State state_ = State::Pending;
  Value value_;
  ErrorPtr error_;
  // Most promises have at most one observer (every link of a chain has exactly one), so the
  // first is held in place and only further ones allocate. Its queue stays until the promise
  // goes: the block submitted at settlement finds it here.
  QueuePtr firstQueue_;
  Action firstAction_;
  std::unique_ptr<Extras> extras_;
  // Set from settlement until the first observer's work has run: that work refers to this
  // promise rather than to a closure of its own, and takes over its place in the group.
  PRMPromisePtr deliveryHold_;
};
