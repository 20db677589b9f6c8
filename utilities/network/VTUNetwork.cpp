#include "utilities/network/VTUNetwork.h"

#include <cstdio>

#include "platform/base/Format.h"
#include "utilities/VTUGzip.h"
#include "utilities/logger/VTULogger.h"
#include "utilities/network/VTUNetworkConstants.h"
#include "utilities/network/VTUNetworkURLSession.h"

using platform::Bytes;
using platform::ErrorPtr;
using platform::Value;

std::shared_ptr<VTUNetwork> VTUNetwork::init() {
  return initWithReachabilityHost(kVTUNetworkDefaultReachabilityHost);
}

std::shared_ptr<VTUNetwork> VTUNetwork::initWithReachabilityHost(const std::string& host) {
  auto network = std::make_shared<VTUNetwork>();
  network->reachability_ = VTUReachabilityChecker::initWithReachabilityDelegate(network, host);
  if (!network->reachability_ || !network->reachability_->start()) return nullptr;
  network->timeoutInterval_ = kVTUNetworkTimeoutInterval;
  return network;
}

VTUNetwork::~VTUNetwork() {
  if (reachability_) {
    reachability_->setReachabilityDelegate(nullptr);
    reachability_->stop();
  }
}

std::optional<std::string> VTUNetwork::postURL(const std::string& url, const Bytes& payload,
                                               const platform::DispatchQueuePtr& queue,
                                               bool usingBackgroundSession,
                                               CompletionHandler completionHandler) {
  if (url.empty()) {
    handleErrorWithCode(kVTUNetworkErrorCodeInvalidURL, queue, completionHandler);
    return std::nullopt;
  }
  platform::URLRequest request(
      url, platform::URLRequestCachePolicy::ReloadIgnoringLocalCacheData,
      timeoutInterval_ == 0 ? kVTUNetworkTimeoutInterval : timeoutInterval_);
  ErrorPtr error;
  auto compressed = vtu_dataByGzippingData(payload, &error);
  if (!compressed || error) {
    if (error || !payload.empty()) {
      handleErrorWithCode(kVTUNetworkErrorCodeCompression, queue, completionHandler);
      return std::nullopt;
    }
    compressed = Bytes();
  }
  request.setValueForHTTPHeaderField(std::to_string(compressed->size()), kVTUNetworkContentLength);
  request.HTTPBody = std::move(*compressed);
  request.HTTPMethod = "POST";
  request.setValueForHTTPHeaderField(kVTUNetworkFormURLEncoded, kVTUNetworkContentType);
  request.setValueForHTTPHeaderField(kVTUNetworkGzip, kVTUNetworkContentEncoding);
  return startRequest(url, std::move(request), true, queue, usingBackgroundSession,
                      std::move(completionHandler));
}

std::optional<std::string> VTUNetwork::getURL(
    const std::string& url, const std::optional<std::map<std::string, std::string>>& headers,
    const platform::DispatchQueuePtr& queue, bool usingBackgroundSession,
    CompletionHandler completionHandler) {
  if (url.empty()) {
    handleErrorWithCode(kVTUNetworkErrorCodeInvalidURL, queue, completionHandler);
    return std::nullopt;
  }
  platform::URLRequest request(
      url, platform::URLRequestCachePolicy::ReloadIgnoringLocalCacheData,
      timeoutInterval_ == 0 ? kVTUNetworkTimeoutInterval : timeoutInterval_);
  request.HTTPMethod = "GET";
  platform::HTTPHeaderFields fields;
  if (headers) fields.insert(headers->begin(), headers->end());
  request.setAllHTTPHeaderFields(std::move(fields));
  return startRequest(url, std::move(request), false, queue, usingBackgroundSession,
                      std::move(completionHandler));
}

std::optional<std::string> VTUNetwork::startRequest(const std::string& url,
                                                    platform::URLRequest request, bool post,
                                                    const platform::DispatchQueuePtr& queue,
                                                    bool usingBackgroundSession,
                                                    CompletionHandler completionHandler) {
  auto self = std::static_pointer_cast<VTUNetwork>(shared_from_this());
  auto fetcher = VTUNetworkURLSession::initWithNetworkLoggerDelegate(self);
  fetcher->setBackgroundNetworkEnabled(usingBackgroundSession);
  std::weak_ptr<VTUNetwork> weakSelf = self;
  auto completion = [weakSelf, queue, completionHandler](
                        std::shared_ptr<const platform::HTTPURLResponse> response,
                        std::optional<Bytes> data, const std::string& sessionID, ErrorPtr error) {
    auto strongSelf = weakSelf.lock();
    if (!strongSelf) return;
    auto target = queue ? queue : platform::DispatchQueue::main();
    target->async([strongSelf, completionHandler, response, data, sessionID, error] {
      if (!sessionID.empty()) strongSelf->requests_.removeObjectForKey(sessionID);
      if (completionHandler) completionHandler(response, data, error);
    });
  };
  auto sessionID = post ? fetcher->sessionIDFromAsyncPOSTRequest(request, completion)
                        : fetcher->sessionIDFromAsyncGETRequest(request, completion);
  if (!sessionID) {
    // The request layer has already reported code 2 through the completion, so the caller's
    // handler hears of this failure once; code 4 is only logged.
    handleErrorWithCode(kVTUNetworkErrorCodeRequestCreation, queue, nullptr);
    return std::nullopt;
  }
  VTUNetwork_logWithLevelMessageCodeMessageContext(
      kVTULoggerLevelDebug, post ? kVTUMessageCodeNetwork000 : kVTUMessageCodeNetwork001,
      post ? kVTUNetworkUploadingData : kVTUNetworkDownloadingData, Value(url));
  requests_.setObject(Value(fetcher), *sessionID);
  return sessionID;
}

void VTUNetwork::handleErrorWithCode(long code, const platform::DispatchQueuePtr& queue,
                                     const CompletionHandler& handler) {
  ErrorPtr error =
      platform::Error::make(kVTUNetworkErrorDomain, code,
                            {{kVTUNetworkErrorContext, Value(kVTUNetworkFailedToCreateRequest)}});
  VTUNetwork_logWithLevel(kVTULoggerLevelWarning, kVTUMessageCodeNetwork002,
                          kVTUNetworkRequestFailed, {Value(code), Value(error)});
  if (handler) {
    auto target = queue ? queue : platform::DispatchQueue::main();
    target->async([handler, error] { handler(nullptr, std::nullopt, error); });
  }
}

void VTUNetwork::handleEventsForBackgroundURLSessionID(const std::string& sessionID,
                                                       std::function<void()> completionHandler) {
  VTUNetworkURLSession::handleEventsForBackgroundURLSessionID(sessionID,
                                                              std::move(completionHandler));
}

void VTUNetwork::setLoggerDelegate(const std::shared_ptr<platform::Object>& delegate) {
  auto adopted = std::dynamic_pointer_cast<VTUNetworkLoggerDelegate>(delegate);
  if (!adopted) {
    VTULoggerLogError(kVTUNetworkService, false,
                      platform::format(kVTUNetworkMessageCodeFormat, kVTUMessageCodeNetwork002),
                      kVTUNetworkBadLoggerDelegate);
    return;
  }
  loggerDelegate_ = adopted;
}

void VTUNetwork::reachabilityStatusChanged(VTUReachabilityChecker*, VTUReachabilityStatus status) {
  networkConnected_ =
      status == VTUReachabilityStatus::WiFi || status == VTUReachabilityStatus::Cellular;
  if (auto delegate = reachabilityDelegate_.lock()) delegate->reachabilityDidChange();
}

// ---- Logging ---------------------------------------------------------------------------------

void VTUNetwork::VTUNetwork_logWithLevel(long level, long messageCode,
                                         const std::optional<std::string>& message,
                                         const Value::Array& contexts) {
  if (auto delegate = loggerDelegate_.lock()) {
    delegate->VTUNetwork_logWithLevel(level, messageCode, message, contexts);
    return;
  }
  if (!isDebugModeEnabled_ && level != kVTULoggerLevelError && level != kVTULoggerLevelWarning &&
      level != kVTULoggerLevelInfo) {
    return;
  }
  std::string text = !message           ? kVTUNetworkNilMessage
                     : message->empty() ? kVTUNetworkEmptyMessage
                                        : *message;
  Value levelName;
  switch (level) {
    case kVTULoggerLevelError:
      levelName = Value("ERROR");
      break;
    case kVTULoggerLevelWarning:
      levelName = Value("WARNING");
      break;
    case kVTULoggerLevelInfo:
      levelName = Value("INFO");
      break;
    case kVTULoggerLevelDebug:
      levelName = Value("DEBUG");
      break;
    default:
      break;
  }
  std::string line = platform::format(kVTUNetworkLogFormat, kVTUNetworkLogTag, levelName, text);
  if (!contexts.empty()) {
    line += ": ";
    for (std::size_t i = 0; i < contexts.size(); ++i) {
      if (i > 0) line += ", ";
      const Value& context = contexts[i];
      line += context.isNull() || context.isNil() ? kVTUNetworkNilContext : context.description();
    }
  }
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
  VTULoggerLogMessage(level, kVTUNetworkService, false,
                      platform::format(kVTUNetworkMessageCodeFormat, messageCode), line, nullptr);
}

void VTUNetwork::VTUNetwork_logWithLevelMessageCodeMessageContext(
    long level, long messageCode, const std::optional<std::string>& message, const Value& context) {
  if (auto delegate = loggerDelegate_.lock()) {
    delegate->VTUNetwork_logWithLevelMessageCodeMessageContext(level, messageCode, message,
                                                               context);
    return;
  }
  VTUNetwork_logWithLevel(level, messageCode, message,
                          context.isNil() ? Value::Array{} : Value::Array{context});
}

void VTUNetwork::VTUNetwork_logWithLevel(long level, long messageCode,
                                         const std::optional<std::string>& message) {
  if (auto delegate = loggerDelegate_.lock()) {
    delegate->VTUNetwork_logWithLevel(level, messageCode, message);
    return;
  }
  VTUNetwork_logWithLevel(level, messageCode, message, Value::Array{});
}
