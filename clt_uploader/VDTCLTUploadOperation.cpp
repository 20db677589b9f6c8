#include "clt_uploader/VDTCLTUploadOperation.h"

#include <pb_decode.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "VDTCORLibrary/VDTCORApplication.h"
#include "VDTCORLibrary/VDTCORConsoleLogger.h"
#include "VDTCORLibrary/VDTCORUploader.h"
#include "clt_uploader/VDTCLTCompressionHelper.h"
#include "clt_uploader/VDTCLTConstants.h"
#include "clt_uploader/VDTCLTNanopbHelpers.h"
#include "platform/base/Format.h"
#include "platform/base/Saturating.h"
#include "platform/dispatch/Clock.h"
#include "platform/network/URLSession.h"
#include "utilities/network/VTUURLSessionDataResponse.h"
#include "utilities/network/VTUURLSessionPromises.h"

namespace {

platform::ErrorPtr genericRejectedPromiseErrorWithReason(const std::string& reason) {
  return platform::Error::make(kVDTCLTUploaderErrorDomain, -1,
                               {{platform::kLocalizedFailureReasonKey, reason}});
}

// A server wait of 0 to 7 days: what the server may ask for beyond that is taken as 7 days.
std::uint64_t clampedServerWait(std::int64_t millis) {
  return static_cast<std::uint64_t>(
      std::clamp<std::int64_t>(millis, 0, kVDTCLTMaxServerWaitMillis));
}

// Retry-After as whole seconds: digits only, no sign, fraction or exponent; anything else is no
// answer at all. Very long runs of digits saturate rather than wrap.
std::optional<std::int64_t> retryAfterSeconds(const std::string& text) {
  if (text.empty()) return std::nullopt;
  std::int64_t seconds = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    seconds = platform::saturatingAdd<std::int64_t>(
        platform::saturatingMultiply<std::int64_t>(seconds, 10), c - '0');
  }
  return seconds;
}

const char* supportNameForTarget(long target) {
  switch (target) {
    case 1000:
      return "clt";
    case 1001:
      return "lml";
    case 1002:
      return "crl";
    case 1003:
      return "int";
    default:
      return "unknown";
  }
}

// Redirects of the upload request: a moved endpoint gets the same body again, built as target
// 1000's request unless it stays within the endpoint's origin. Holds the operation weakly: the
// session keeps its delegate until invalidated.
class RedirectDelegate : public platform::URLSessionDelegate {
 public:
  explicit RedirectDelegate(std::weak_ptr<VDTCLTUploadOperation> operation)
      : operation_(std::move(operation)) {}

  void willPerformHTTPRedirection(platform::URLSession&, platform::URLSessionTask& task,
                                  const platform::HTTPURLResponse& response,
                                  platform::URLRequest newRequest,
                                  RedirectCompletion completion) override {
    if (!completion) return;
    auto operation = operation_.lock();
    long status = response.statusCode();
    if (operation && (status == 301 || status == 302)) {
      // Within the endpoint's origin the request is rebuilt for the operation's own target, so a
      // keyed target keeps its key and agent; anywhere else it goes as target 1000's, keyless.
      const long target = platform::isSameOrigin(newRequest.URL, task.originalRequest().URL)
                              ? operation->target()
                              : kVDTCLTKeylessTarget;
      completion(operation->constructRequestWithURL(newRequest.URL, target,
                                                    task.originalRequest().HTTPBody));
      return;
    }
    completion(std::move(newRequest));
  }

 private:
  std::weak_ptr<VDTCLTUploadOperation> operation_;
};

}  // namespace

std::shared_ptr<VDTCLTUploadOperation> VDTCLTUploadOperation::initWithTarget(
    long target, long conditions, std::string uploadURL, platform::DispatchQueuePtr queue,
    std::shared_ptr<VDTCORStoragePromiseProtocol> storage,
    std::shared_ptr<VDTCLTUploadMetadataProvider> metadataProvider) {
  auto operation = std::make_shared<VDTCLTUploadOperation>();
  operation->target_ = target;
  operation->conditions_ = conditions;
  operation->uploadURL_ = std::move(uploadURL);
  operation->uploaderQueue_ = std::move(queue);
  operation->storage_ = std::move(storage);
  operation->metadataProvider_ = metadataProvider;
  return operation;
}

std::string VDTCLTUploadOperation::description() const {
  return platform::format("<VDTCLTUploadOperation: %p target:%ld conditions:%ld>",
                          platform::pointerValue(this), target_, conditions_);
}

// ---- State.

bool VDTCLTUploadOperation::uploadAttempted() const {
  std::lock_guard lock(lock_);
  return uploadAttempted_;
}

void VDTCLTUploadOperation::finishOperation() { finish(); }

void VDTCLTUploadOperation::main() {
  VDTCORLogDebug("Upload operation started: %@", description());
  uploadTarget(target_, conditions_);
}

void VDTCLTUploadOperation::endBackgroundTask() {
  VDTCORBackgroundIdentifier id;
  {
    std::lock_guard lock(lock_);
    id = backgroundTaskID_;
    backgroundTaskID_ = VDTCORBackgroundIdentifierInvalid;
  }
  if (id != VDTCORBackgroundIdentifierInvalid) {
    VDTCORApplication::sharedApplication()->endBackgroundTask(id);
  }
}

// ---- The chain.

void VDTCLTUploadOperation::uploadTarget(long target, long conditions) {
  auto self = std::static_pointer_cast<VDTCLTUploadOperation>(shared_from_this());
  std::weak_ptr<VDTCLTUploadOperation> weakSelf = self;
  auto id = VDTCORApplication::sharedApplication()->beginBackgroundTaskWithName(
      kVDTCLTBackgroundTaskName, [weakSelf] {
        if (auto self = weakSelf.lock()) self->endBackgroundTask();
      });
  {
    std::lock_guard lock(lock_);
    backgroundTaskID_ = id;
  }
  auto storage = storage_;
  auto queue = uploaderQueue_;
  isReadyToUploadTarget(target, conditions)
      ->onQueueThen(queue,
                    [storage, target](const platform::Value&) {
                      return platform::Value(storage->removeAllBatchesForTarget(target, false));
                    })
      ->onQueueThen(queue,
                    [storage, target](const platform::Value&) {
                      return platform::Value(storage->hasEventsForTarget(target));
                    })
      ->onQueueValidate(queue, [](const platform::Value& has) { return has.boolValue(); })
      ->onQueueThen(queue,
                    [self, storage, target, conditions](const platform::Value&) {
                      if (self->isCancelled()) return platform::Value();
                      return platform::Value(storage->batchWithEventSelector(
                          self->eventSelectorTarget(target, conditions),
                          platform::Clock::current().now() + kVDTCLTBatchLifetimeSeconds));
                    })
      ->onQueueValidate(queue,
                        [](const platform::Value& value) {
                          auto batch = value.objectAs<VDTCORUploadBatch>();
                          return batch && !batch->events.empty();
                        })
      ->onQueueThen(queue,
                    [self, storage, target](const platform::Value& value) {
                      {
                        std::lock_guard lock(self->lock_);
                        self->uploadAttempted_ = true;
                      }
                      return platform::Value(self->sendURLRequestWithBatch(
                          value.objectAs<VDTCORUploadBatch>(), target, storage));
                    })
      ->onQueueThen(queue,
                    [self](const platform::Value& value) {
                      self->finishOperation();
                      self->endBackgroundTask();
                      return value;
                    })
      ->onQueueCatch(queue, [self](const platform::ErrorPtr&) {
        self->finishOperation();
        self->endBackgroundTask();
      });
}

PRMPromisePtr VDTCLTUploadOperation::isReadyToUploadTarget(long target, long conditions) {
  auto self = std::static_pointer_cast<VDTCLTUploadOperation>(shared_from_this());
  return PRMPromise::onQueueDo(uploaderQueue_, [self, target, conditions]() -> platform::Value {
    if (self->readyToUploadTarget(target, conditions)) return platform::Value::null();
    return platform::Value(genericRejectedPromiseErrorWithReason(platform::format(
        "Target %ld is not ready to upload with condition: %ld", target, conditions)));
  });
}

bool VDTCLTUploadOperation::readyToUploadTarget(long target, long conditions) {
  if (conditions & VDTCORUploadConditionNoNetwork) {
    VDTCORLogDebug("%@", "CLT: Not ready to upload without a network connection.");
    return false;
  }
  if (conditions & VDTCORUploadConditionHighPriority) {
    VDTCORLogDebug("%@", "CLT: a high priority event is allowing an upload");
    return true;
  }
  auto provider = metadataProvider_.lock();
  VDTCORClockPtr next = provider ? provider->nextUploadTimeForTarget(target) : nullptr;
  bool ready = !next || VDTCORClock::snapshot()->isAfter(*next);
  if (ready) {
    VDTCORLogDebug("CLT: can upload to target %ld because the request wait time has transpired",
                   target);
  } else {
    VDTCORLogDebug("CLT: can't upload to target %ld because the backend asked to wait", target);
  }
  return ready;
}

VDTCORStorageEventSelectorPtr VDTCLTUploadOperation::eventSelectorTarget(long target,
                                                                         long conditions) const {
  if (conditions & VDTCORUploadConditionHighPriority) {
    return VDTCORStorageEventSelector::eventSelectorForTarget(target);
  }
  std::set<long> tiers;
  if (conditions & VDTCORUploadConditionWifiData) tiers.insert({4, 5, 3, 1, 0});
  if (conditions & VDTCORUploadConditionMobileData) tiers.insert({4, 3});
  return std::make_shared<VDTCORStorageEventSelector>(target, std::move(tiers));
}

PRMPromisePtr VDTCLTUploadOperation::sendURLRequestWithBatch(
    const std::shared_ptr<VDTCORUploadBatch>& batch, long target,
    const std::shared_ptr<VDTCORStoragePromiseProtocol>& storage) {
  auto self = std::static_pointer_cast<VDTCLTUploadOperation>(shared_from_this());
  long batchID = batch->batchID;
  auto queue = uploaderQueue_;
  // The server's status decides the batch's fate, whether its body arrived whole or not.
  auto answered = [self, storage, batchID, target](const VTUURLSessionDataResponse& response) {
    self->updateNextUploadTimeWithResponse(response, target);
    long status = response.HTTPResponse()->statusCode();
    if (status == 429 || (status >= 500 && status <= 599)) {
      return platform::Value(storage->removeBatchWithID(batchID, false));
    }
    if (status >= 200 && status <= 300) {
      VDTCORLogDebug("CLT: batch %@ delivered", batchID);
    } else {
      VDTCORLogDebug("CLT: batch %@ was rejected by the server and will be deleted with all events",
                     batchID);
    }
    return platform::Value(storage->removeBatchWithID(batchID, true));
  };
  return sendURLRequestWithBatch(batch, target)
      ->onQueueThen(queue,
                    [storage, batchID, answered](const platform::Value& value) {
                      auto response = value.objectAs<VTUURLSessionDataResponse>();
                      if (!response || !response->HTTPResponse()) {
                        return platform::Value(storage->removeBatchWithID(batchID, false));
                      }
                      return answered(*response);
                    })
      ->onQueueRecover(queue, [storage, batchID, answered](const platform::ErrorPtr& error) {
        // An answer whose body could not be read (too large, cut short) still has the status
        // the server gave: an accepted batch must not be posted again. Its body counts as one
        // that does not decode. The session hands on only the upload server's own answer so,
        // never a 3xx (a redirect is no verdict) and nothing of a proxy's: a proxy that opened
        // no tunnel to the server is a transport error, and the events stay.
        if (error && error->domain() == platform::kURLErrorDomain) {
          auto found = error->userInfo().find(platform::kURLErrorFailingResponseKey);
          if (found != error->userInfo().end()) {
            if (auto http = found->second.objectAs<platform::HTTPURLResponse>()) {
              return answered(VTUURLSessionDataResponse(http, std::nullopt));
            }
          }
        }
        return platform::Value(storage->removeBatchWithID(batchID, false));
      });
}

PRMPromisePtr VDTCLTUploadOperation::sendURLRequestWithBatch(
    const std::shared_ptr<VDTCORUploadBatch>& batch, long target) {
  auto self = std::static_pointer_cast<VDTCLTUploadOperation>(shared_from_this());
  auto queue = uploaderQueue_;
  return PRMPromise::onQueueDo(
             queue,
             [self, batch, target]() -> platform::Value {
               auto encoded = VDTCLTEncodedBatchForEvents(batch->events);
               if (!encoded) {
                 // Nothing goes out, so the batch's events go back to the pool.
                 return platform::Value(
                     genericRejectedPromiseErrorWithReason("The batch could not be encoded."));
               }
               auto zipped = VDTCLTCompressionHelper::gzippedData(*encoded);
               platform::Bytes body =
                   zipped && zipped->size() < encoded->size() ? *zipped : *encoded;
               auto request = self->constructRequestWithURL(self->uploadURL_, target, body);
               if (!request) {
                 return platform::Value(genericRejectedPromiseErrorWithReason(
                     "There was no data to construct a request."));
               }
               VDTCORLogDebug(
                   "CTT: request containing %lu events for batch: %@ for target: %ld created: %@",
                   static_cast<unsigned long>(batch->events.size()), batch->batchID, target,
                   request->URL);
               return platform::Value(
                   vtu_dataTaskPromiseWithRequest(self->uploaderSessionCreateIfNeeded(), *request));
             })
      ->onQueueAlways(queue, [self] {
        if (self->uploaderSession_) self->uploaderSession_->finishTasksAndInvalidate();
      });
}

std::optional<platform::URLRequest> VDTCLTUploadOperation::constructRequestWithURL(
    const std::string& url, long target, const platform::Bytes& data) {
  if (data.empty()) {
    VDTCORLogDebug("There was no data to construct a request for target %ld.", target);
    return std::nullopt;
  }
  platform::URLRequest request(url);
  request.timeoutInterval = requestTimeoutInterval();
  request.HTTPMethod = "POST";
  request.HTTPBody = data;
  auto provider = metadataProvider_.lock();
  if (auto key = provider ? provider->APIKeyForTarget(target) : std::nullopt) {
    request.setValueForHTTPHeaderField(*key, kVDTCLTApiKeyHeader);
  }
  if (VDTCLTCompressionHelper::isGzipped(data)) {
    request.setValueForHTTPHeaderField("gzip", "Content-Encoding");
  }
  request.setValueForHTTPHeaderField("application/x-protobuf", "Content-Type");
  request.setValueForHTTPHeaderField("gzip", "Accept-Encoding");
  request.setValueForHTTPHeaderField(
      platform::format("eventtransport/%@ %@support/%@ apple/", kVDTCLTTransportVersion,
                       supportNameForTarget(target), kVDTCLTUploaderVersion),
      "User-Agent");
  return request;
}

void VDTCLTUploadOperation::updateNextUploadTimeWithResponse(
    const VTUURLSessionDataResponse& response, long target) {
  VDTCORClockPtr next;
  if (response.HTTPBody()) {
    platform::ErrorPtr error;
    vdtclt_UploadResponse decoded = VDTCLTDecodeUploadResponse(*response.HTTPBody(), &error);
    if (error) {
      VDTCORLogDebug("There was a response decoding error: %@", platform::Value(error));
    } else if (decoded.has_wait_millis) {
      VDTCORLogDebug("CLT: The backend responded asking to not upload for %lld millis from now.",
                     static_cast<long long>(decoded.wait_millis));
      next = VDTCORClock::clockSnapshotInTheFuture(clampedServerWait(decoded.wait_millis));
    }
  }
  if (!next && response.HTTPResponse()) {
    auto retryAfter = response.HTTPResponse()->valueForHTTPHeaderField("Retry-After");
    if (retryAfter && !retryAfter->empty()) {
      if (auto seconds = retryAfterSeconds(*retryAfter)) {
        next = VDTCORClock::clockSnapshotInTheFuture(
            clampedServerWait(platform::saturatingMultiply<std::int64_t>(*seconds, 1000)));
      }
    }
  }
  if (!next) {
    VDTCORLogDebug("%@",
                   "CLT: The backend response failed to parse, so the next request won't occur "
                   "until 15 minutes from now");
    next = VDTCORClock::clockSnapshotInTheFuture(kVDTCLTFallbackWaitMillis);
  }
  if (auto provider = metadataProvider_.lock()) provider->setNextUploadTime(next, target);
}

namespace {
std::atomic<double> requestTimeoutSeconds{60};
}  // namespace

void VDTCLTUploadOperation::setRequestTimeoutInterval(double seconds) {
  requestTimeoutSeconds = seconds;
}

double VDTCLTUploadOperation::requestTimeoutInterval() { return requestTimeoutSeconds; }

std::shared_ptr<platform::URLSession> VDTCLTUploadOperation::uploaderSessionCreateIfNeeded() {
  std::lock_guard lock(lock_);
  if (!uploaderSession_) {
    auto configuration = platform::URLSessionConfiguration::defaultSessionConfiguration();
    configuration.timeoutIntervalForRequest = requestTimeoutInterval();
    uploaderSession_ = platform::URLSession::sessionWithConfiguration(
        configuration, std::make_shared<RedirectDelegate>(
                           std::static_pointer_cast<VDTCLTUploadOperation>(shared_from_this())));
  }
  return uploaderSession_;
}
