#include "promises/PRMPromise.h"
#include "promises/PRMPromisePrivate.h"

using platform::ErrorPtr;
using platform::Value;

namespace {

// Every adapter is `async` whose work hands the caller's work a completion of one shape;
// `makeCompletion` turns async's fulfil and reject into that completion.
template <class Completion, class MakeCompletion>
PRMPromisePtr wrap(const char* function, const PRMPromise::QueuePtr& queue,
                   PRMPromise::WrapWorkBlock<Completion> work, MakeCompletion makeCompletion) {
  if (!queue) return prm_detail::invalidParameterPromise(function, kPRMFileWrap, __LINE__, "queue");
  if (!work) return prm_detail::invalidParameterPromise(function, kPRMFileWrap, __LINE__, "work");
  return PRMPromise::onQueueAsync(
      queue, [work = std::move(work), makeCompletion](PRMPromise::FulfillBlock fulfill,
                                                      PRMPromise::RejectBlock reject) {
        work(Completion(makeCompletion(std::move(fulfill), std::move(reject))));
      });
}

using Fulfill = PRMPromise::FulfillBlock;
using Reject = PRMPromise::RejectBlock;

auto completionFulfillingNil = [](Fulfill fulfill, Reject) {
  return [fulfill] { fulfill(Value()); };
};
auto completionFulfillingObject = [](Fulfill fulfill, Reject) {
  return [fulfill](const Value& value) { fulfill(value); };
};
auto completionRejectingError = [](Fulfill fulfill, Reject reject) {
  return [fulfill, reject](const ErrorPtr& error) {
    if (error) {
      reject(error);
    } else {
      fulfill(Value());
    }
  };
};
auto completionObjectOrError = [](Fulfill fulfill, Reject reject) {
  return [fulfill, reject](const Value& value, const ErrorPtr& error) {
    if (error) {
      reject(error);
    } else {
      fulfill(value);
    }
  };
};
auto completionErrorOrObject = [](Fulfill fulfill, Reject reject) {
  return [fulfill, reject](const ErrorPtr& error, const Value& value) {
    if (error) {
      reject(error);
    } else {
      fulfill(value);
    }
  };
};
auto completion2ObjectsOrError = [](Fulfill fulfill, Reject reject) {
  return [fulfill, reject](const Value& value1, const Value& value2, const ErrorPtr& error) {
    if (error) {
      reject(error);
    } else {
      fulfill(Value(Value::Array{value1.isNil() ? Value::null() : value1,
                                 value2.isNil() ? Value::null() : value2}));
    }
  };
};
// Numbers keep their kind: a boolean stays a boolean, an integer a signed integer.
template <class Number>
auto completionFulfillingNumber =
    [](Fulfill fulfill, Reject) { return [fulfill](Number number) { fulfill(Value(number)); }; };
template <class Number>
auto completionNumberOrError = [](Fulfill fulfill, Reject reject) {
  return [fulfill, reject](Number number, const ErrorPtr& error) {
    if (error) {
      reject(error);
    } else {
      fulfill(Value(number));
    }
  };
};

}  // namespace

#define PRM_DEFINE_WRAP(Name, QueueName, Completion, MakeCompletion)                           \
  PRMPromisePtr PRMPromise::QueueName(const QueuePtr& queue, WrapWorkBlock<Completion> work) { \
    return wrap<Completion>(#QueueName, queue, std::move(work), MakeCompletion);               \
  }                                                                                            \
  PRMPromisePtr PRMPromise::Name(WrapWorkBlock<Completion> work) {                             \
    return QueueName(defaultDispatchQueue(), std::move(work));                                 \
  }                                                                                            \
  std::function<PRMPromisePtr(PRMPromise::WrapWorkBlock<PRMPromise::Completion>)>              \
  PRMPromise::Name() {                                                                         \
    return [](WrapWorkBlock<Completion> work) { return Name(std::move(work)); };               \
  }                                                                                            \
  std::function<PRMPromisePtr(const PRMPromise::QueuePtr&,                                     \
                              PRMPromise::WrapWorkBlock<PRMPromise::Completion>)>              \
      PRMPromise::Name##On() {                                                                 \
    return [](const QueuePtr& queue, WrapWorkBlock<Completion> work) {                         \
      return QueueName(queue, std::move(work));                                                \
    };                                                                                         \
  }

PRM_DEFINE_WRAP(wrapCompletion, onQueueWrapCompletion, CompletionBlock, completionFulfillingNil)
PRM_DEFINE_WRAP(wrapObjectCompletion, onQueueWrapObjectCompletion, ObjectCompletionBlock,
                completionFulfillingObject)
PRM_DEFINE_WRAP(wrapErrorCompletion, onQueueWrapErrorCompletion, ErrorCompletionBlock,
                completionRejectingError)
PRM_DEFINE_WRAP(wrapObjectOrErrorCompletion, onQueueWrapObjectOrErrorCompletion,
                ObjectOrErrorCompletionBlock, completionObjectOrError)
PRM_DEFINE_WRAP(wrapErrorOrObjectCompletion, onQueueWrapErrorOrObjectCompletion,
                ErrorOrObjectCompletionBlock, completionErrorOrObject)
PRM_DEFINE_WRAP(wrap2ObjectsOrErrorCompletion, onQueueWrap2ObjectsOrErrorCompletion,
                TwoObjectsOrErrorCompletionBlock, completion2ObjectsOrError)
PRM_DEFINE_WRAP(wrapBoolCompletion, onQueueWrapBoolCompletion, BoolCompletionBlock,
                completionFulfillingNumber<bool>)
PRM_DEFINE_WRAP(wrapBoolOrErrorCompletion, onQueueWrapBoolOrErrorCompletion,
                BoolOrErrorCompletionBlock, completionNumberOrError<bool>)
PRM_DEFINE_WRAP(wrapIntegerCompletion, onQueueWrapIntegerCompletion, IntegerCompletionBlock,
                completionFulfillingNumber<std::int64_t>)
PRM_DEFINE_WRAP(wrapIntegerOrErrorCompletion, onQueueWrapIntegerOrErrorCompletion,
                IntegerOrErrorCompletionBlock, completionNumberOrError<std::int64_t>)
PRM_DEFINE_WRAP(wrapDoubleCompletion, onQueueWrapDoubleCompletion, DoubleCompletionBlock,
                completionFulfillingNumber<double>)
PRM_DEFINE_WRAP(wrapDoubleOrErrorCompletion, onQueueWrapDoubleOrErrorCompletion,
                DoubleOrErrorCompletionBlock, completionNumberOrError<double>)

#undef PRM_DEFINE_WRAP
