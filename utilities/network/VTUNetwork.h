// The HTTP client of the measurement side: POST with a gzip body and GET, each carried out by a
// fresh VTUNetworkURLSession (foreground or background upload), results delivered on the
// caller's queue; watches the reachability of one host and turns its own and its request
// objects' log calls into log lines, or hands them to a logger delegate.
// POST and GET may be called from any thread; the running requests live in a
// VTUMutableDictionary. Reachability changes arrive on the main run loop.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/base/Error.h"
#include "platform/base/Value.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/network/URLResponse.h"
#include "utilities/VTUMutableDictionary.h"
#include "utilities/network/VTUNetworkLoggerDelegate.h"
#include "utilities/network/VTUReachabilityChecker.h"

class VTUNetwork : public platform::Object,
                   public VTUReachabilityDelegate,
                   public VTUNetworkLoggerDelegate {
 public:
  // (HTTP response, body, error); either of the first two may be absent. Any HTTP status is
  // success here: the status is the caller's to judge.
  using CompletionHandler =
      std::function<void(std::shared_ptr<const platform::HTTPURLResponse> response,
                         std::optional<platform::Bytes> data, platform::ErrorPtr error)>;

  // With the default reachability host.
  static std::shared_ptr<VTUNetwork> init();
  // Null when the reachability checker cannot be made or started.
  static std::shared_ptr<VTUNetwork> initWithReachabilityHost(const std::string& host);
  ~VTUNetwork() override;
  std::string className() const override { return "VTUNetwork"; }

  // The session identifier of the started request, or nullopt (the handler then gets the error).
  // A null queue means the main queue. The handler is never called during the call.
  std::optional<std::string> postURL(const std::string& url, const platform::Bytes& payload,
                                     const platform::DispatchQueuePtr& queue,
                                     bool usingBackgroundSession,
                                     CompletionHandler completionHandler);
  std::optional<std::string> getURL(
      const std::string& url, const std::optional<std::map<std::string, std::string>>& headers,
      const platform::DispatchQueuePtr& queue, bool usingBackgroundSession,
      CompletionHandler completionHandler);

  static void handleEventsForBackgroundURLSessionID(const std::string& sessionID,
                                                    std::function<void()> completionHandler);

  bool hasUploadInProgress() const { return requests_.count() > 0; }
  bool isNetworkConnected() const { return networkConnected_; }
  bool isDebugModeEnabled() const { return isDebugModeEnabled_; }
  void setIsDebugModeEnabled(bool enabled) { isDebugModeEnabled_ = enabled; }
  std::shared_ptr<VTUNetworkReachabilityDelegate> reachabilityDelegate() const {
    return reachabilityDelegate_.lock();
  }
  void setReachabilityDelegate(const std::shared_ptr<VTUNetworkReachabilityDelegate>& delegate) {
    reachabilityDelegate_ = delegate;
  }
  std::shared_ptr<VTUNetworkLoggerDelegate> loggerDelegate() const {
    return loggerDelegate_.lock();
  }
  // Kept (weakly) only when the object adopts VTUNetworkLoggerDelegate; otherwise, null
  // included, the delegate stays as it was and an error line is written.
  void setLoggerDelegate(const std::shared_ptr<platform::Object>& delegate);
  double timeoutInterval() const { return timeoutInterval_; }
  void setTimeoutInterval(double seconds) { timeoutInterval_ = seconds; }
  VTUReachabilityChecker* reachability() const { return reachability_.get(); }

  // VTUReachabilityDelegate.
  void reachabilityStatusChanged(VTUReachabilityChecker* reachability,
                                 VTUReachabilityStatus status) override;

  // VTUNetworkLoggerDelegate.
  void VTUNetwork_logWithLevel(long level, long messageCode,
                               const std::optional<std::string>& message,
                               const platform::Value::Array& contexts) override;
  void VTUNetwork_logWithLevelMessageCodeMessageContext(long level, long messageCode,
                                                        const std::optional<std::string>& message,
                                                        const platform::Value& context) override;
  void VTUNetwork_logWithLevel(long level, long messageCode,
                               const std::optional<std::string>& message) override;

  VTUNetwork() = default;

 private:
  std::optional<std::string> startRequest(const std::string& url, platform::URLRequest request,
                                          bool post, const platform::DispatchQueuePtr& queue,
                                          bool usingBackgroundSession,
                                          CompletionHandler completionHandler);
  void handleErrorWithCode(long code, const platform::DispatchQueuePtr& queue,
                           const CompletionHandler& handler);

  std::unique_ptr<VTUReachabilityChecker> reachability_;
  VTUMutableDictionary requests_;
  bool networkConnected_ = false;
  bool isDebugModeEnabled_ = false;
  std::weak_ptr<VTUNetworkReachabilityDelegate> reachabilityDelegate_;
  std::weak_ptr<VTUNetworkLoggerDelegate> loggerDelegate_;
  double timeoutInterval_ = 0;
};
