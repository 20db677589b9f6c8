// One HTTP request of the network facade, carried out on a URL session of its own: in the
// foreground, or as a background upload whose body is first written to a temporary file under
// Application Support "VTU/Network". Keeps a process-wide registry of request objects by session
// identifier (weakly held, one lock) so that a background session's wake-up finds its object,
// decides redirects and server trust, and delivers exactly one completion on the main queue.
// Session callbacks run on the main queue; the response bytes are collected under the object's
// own lock; trust evaluation runs on the global queue, one at a time process-wide.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/base/Error.h"
#include "platform/base/Value.h"
#include "platform/network/URLSession.h"
#include "utilities/network/VTUNetworkLoggerDelegate.h"

class VTUNetworkURLSession : public platform::Object, public platform::URLSessionDelegate {
 public:
  // (response, body bytes, this object's session identifier, error). A response arrived means no
  // error, whatever its status.
  using CompletionHandler = std::function<void(
      std::shared_ptr<const platform::HTTPURLResponse> response,
      std::optional<platform::Bytes> data, const std::string& sessionID, platform::ErrorPtr error)>;
  using SystemCompletionHandler = std::function<void()>;

  static std::shared_ptr<VTUNetworkURLSession> initWithNetworkLoggerDelegate(
      const std::shared_ptr<VTUNetworkLoggerDelegate>& loggerDelegate);
  ~VTUNetworkURLSession() override;
  std::string className() const override { return "VTUNetworkURLSession"; }

  // Start the request; the session identifier, or nullopt after a code-2 completion.
  std::optional<std::string> sessionIDFromAsyncPOSTRequest(const platform::URLRequest& request,
                                                           CompletionHandler completionHandler);
  std::optional<std::string> sessionIDFromAsyncGETRequest(const platform::URLRequest& request,
                                                          CompletionHandler completionHandler);

  // The platform's wake-up for a background session ("com.vtu.network.background-upload..."
  // identifiers only); the handler runs on the main queue once the session's events are done.
  static void handleEventsForBackgroundURLSessionID(const std::string& sessionID,
                                                    SystemCompletionHandler completionHandler);
  static std::shared_ptr<VTUNetworkURLSession> fetcherWithSessionIdentifier(
      const std::string& sessionID);
  // Null removes. Either way the session of the object registered before is invalidated.
  static void setSessionInFetcherMap(const std::shared_ptr<VTUNetworkURLSession>& session,
                                     const std::string& sessionID);
  static std::shared_ptr<VTUNetworkURLSession> sessionFromFetcherMapForSessionID(
      const std::string& sessionID);
  void addSystemCompletionHandler(SystemCompletionHandler handler, const std::string& identifier);
  void callSystemCompletionHandler(const std::string& identifier);

  const std::string& sessionID() const { return sessionID_; }
  // Refuses (false, the identifier kept) an identifier that could not name a file of the
  // temporary folder: one holding "/", ".." or a NUL byte.
  bool setSessionID(const std::string& sessionID);
  static bool isUsableSessionID(const std::string& sessionID);
  bool isBackgroundNetworkEnabled() const { return backgroundNetworkEnabled_; }
  void setBackgroundNetworkEnabled(bool enabled) { backgroundNetworkEnabled_ = enabled; }
  const std::filesystem::path& networkDirectoryURL() const { return networkDirectoryURL_; }
  const std::filesystem::path& uploadingFileURL() const { return uploadingFileURL_; }
  std::shared_ptr<platform::URLSession> URLSession() const { return URLSession_.lock(); }

  // Temporary files: make the folder, drop files older (or younger) than the expiry, remove one.
  bool ensureTemporaryDirectoryExists();
  void maybeRemoveTempFilesAtURL(const std::filesystem::path& directory, double expiringTime);
  void removeTempItemAtURL(const std::filesystem::path& file);
  void excludeFromBackupForURL(const std::filesystem::path& url);

  // Session delegate.
  void didReceiveData(platform::URLSession& session, platform::URLSessionTask& task,
                      const platform::Bytes& data) override;
  void didFinishDownloadingToURL(platform::URLSession& session, platform::URLSessionTask& task,
                                 const std::filesystem::path& location) override;
  void didCompleteWithError(platform::URLSession& session, platform::URLSessionTask& task,
                            platform::ErrorPtr error) override;
  void willPerformHTTPRedirection(platform::URLSession& session, platform::URLSessionTask& task,
                                  const platform::HTTPURLResponse& response,
                                  platform::URLRequest newRequest,
                                  RedirectCompletion completion) override;
  void didReceiveChallenge(platform::URLSession& session, platform::URLSessionTask& task,
                           const platform::URLAuthenticationChallenge& challenge,
                           ChallengeCompletion completion) override;
  void didFinishEventsForBackgroundURLSession(platform::URLSession& session) override;

  explicit VTUNetworkURLSession(const std::shared_ptr<VTUNetworkLoggerDelegate>& loggerDelegate);

 private:
  static void populateSessionConfig(platform::URLSessionConfiguration& config,
                                    const platform::URLRequest& request);
  std::optional<std::string> startTask(const std::shared_ptr<platform::URLSession>& session,
                                       const platform::URLSessionTaskPtr& task,
                                       const platform::URLRequest& request,
                                       CompletionHandler completionHandler);
  void callCompletionHandler(const CompletionHandler& handler,
                             std::shared_ptr<const platform::HTTPURLResponse> response,
                             std::optional<platform::Bytes> data, platform::ErrorPtr error);
  void log(long level, long code, const std::string& message, const platform::Value& context = {});
  void logContexts(long level, long code, const std::string& message,
                   const platform::Value::Array& contexts);

  CompletionHandler completionHandler_;
  std::string sessionID_;
  platform::URLSessionConfiguration sessionConfig_;
  std::weak_ptr<platform::URLSession> URLSession_;
  std::filesystem::path networkDirectoryURL_;
  std::optional<platform::Bytes> downloadedData_;
  std::filesystem::path uploadingFileURL_;
  platform::URLRequest request_;
  bool backgroundNetworkEnabled_ = false;
  std::weak_ptr<VTUNetworkLoggerDelegate> loggerDelegate_;
  mutable std::mutex mutex_;
};
