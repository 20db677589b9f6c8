// HTTP(S) URL sessions on libcurl: requests and responses, session configurations (default and
// background by identifier), data, upload (from bytes or a file) and download tasks, and a
// delegate told of data, downloads, redirects, server-trust challenges and completion.
// A session may be used from any thread. Every delegate call and every completion handler runs
// on the session's delegate queue (a serial queue of its own when none is given), in the order
// the transfer produced them. Each running task has a worker thread of its own for the blocking
// transfer; redirect and trust decisions hold that thread until the delegate answers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/Error.h"
#include "platform/base/Value.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/network/ServerTrust.h"
#include "platform/network/URLRequest.h"
#include "platform/network/URLResponse.h"

namespace platform {

// Transport errors: this domain and the codes below (the task's error when it fails before a
// response arrived). A response with any HTTP status is not an error. A response is only ever
// the origin server's: behind a proxy (taken from the environment, never for loopback) a proxy
// that does not open the tunnel to the server, whatever it answers, fails the task with
// kURLErrorCannotConnectToHost, and a tunnel that breaks before the server answers is a
// transport error too.
inline constexpr const char* kURLErrorDomain = "NSURLErrorDomain";
inline constexpr long kURLErrorUnknown = -1;
inline constexpr long kURLErrorCancelled = -999;
inline constexpr long kURLErrorBadURL = -1000;
inline constexpr long kURLErrorTimedOut = -1001;
inline constexpr long kURLErrorUnsupportedURL = -1002;
inline constexpr long kURLErrorCannotFindHost = -1003;
inline constexpr long kURLErrorCannotConnectToHost = -1004;
inline constexpr long kURLErrorNetworkConnectionLost = -1005;
inline constexpr long kURLErrorHTTPTooManyRedirects = -1007;
inline constexpr long kURLErrorBadServerResponse = -1011;
inline constexpr long kURLErrorFileDoesNotExist = -1100;
inline constexpr long kURLErrorDataLengthExceedsMaximum = -1103;
// A redirect that was to be followed would have taken a secure request to an insecure URL;
// nothing was sent there. A redirect that is not followed is the task's answer instead.
inline constexpr long kURLErrorInsecureRedirect = -1022;
inline constexpr long kURLErrorSecureConnectionFailed = -1200;
inline constexpr long kURLErrorServerCertificateUntrusted = -1202;
inline constexpr long kURLErrorCannotWriteToFile = -3003;
// User-info key of the failing URL's string.
inline constexpr const char* kURLErrorFailingURLStringKey = "NSErrorFailingURLStringKey";
// User-info key of the HTTP response (status and header fields) when the server had answered
// with a final status before the transfer failed: a body over the in-memory ceiling or cut
// short. Never set for a 3xx: a redirect whose body could not be read is followed all the same,
// and one that is not followed was no verdict on the request. Never set from a proxy's reply.
// The task itself still reports no response, and no body.
inline constexpr const char* kURLErrorFailingResponseKey = "ErrorFailingURLResponseKey";

// How many redirects one task follows before it fails with kURLErrorHTTPTooManyRedirects.
inline constexpr int kURLSessionMaximumRedirects = 16;

class URLSessionConfiguration {
 public:
  static URLSessionConfiguration defaultSessionConfiguration();
  // A background configuration carries its identifier; its sessions accept only tasks whose
  // body lives in a file (upload from file, download), as transfers that may outlive the app.
  static URLSessionConfiguration backgroundSessionConfiguration(const std::string& identifier);

  // Empty for a default configuration.
  const std::string& identifier() const { return identifier_; }
  bool isBackground() const { return background_; }

  // Sent with every request; the request's own fields win on a clash.
  std::map<std::string, std::string> HTTPAdditionalHeaders;
  // Longest wait for the connection or for the next bytes (seconds; 0 or less: 60).
  double timeoutIntervalForRequest = 60;
  // Longest time for the whole transfer, every redirect it follows included (seconds; 0 or
  // less: 7 days); past it the task fails with kURLErrorTimedOut.
  double timeoutIntervalForResource = 7 * 24 * 3600;
  URLRequestCachePolicy requestCachePolicy = URLRequestCachePolicy::UseProtocolCachePolicy;
  // Only "no cache" is modelled: nothing is ever cached, the flag just records the choice.
  bool URLCacheEnabled = true;
  // The CA certificates (PEM file) that anchor server trust for this configuration; empty
  // means URLSession::defaultTrustedCAFile().
  std::filesystem::path trustedCAFile;

 private:
  std::string identifier_;
  bool background_ = false;
};

enum class URLSessionTaskState { Running = 0, Suspended = 1, Canceling = 2, Completed = 3 };

// The answers to a trust challenge.
enum class URLSessionAuthChallengeDisposition {
  UseCredential = 0,
  PerformDefaultHandling = 1,
  CancelAuthenticationChallenge = 2,
  RejectProtectionSpace = 3,
};

class URLSession;

class URLSessionTask : public Object {
 public:
  enum class Kind { Data, Upload, Download };

  ~URLSessionTask() override;
  std::string className() const override;
  std::string description() const override;

  // Unique among the tasks of its session, counting from 1.
  std::uint64_t taskIdentifier() const { return taskIdentifier_; }
  Kind kind() const { return kind_; }
  const URLRequest& originalRequest() const { return originalRequest_; }
  URLRequest currentRequest() const;
  // The final response once headers arrived (after redirects that were followed), else null.
  std::shared_ptr<const HTTPURLResponse> response() const;
  ErrorPtr error() const;
  URLSessionTaskState state() const;
  std::shared_ptr<URLSession> session() const { return session_.lock(); }

  // Starts a suspended task; later calls do nothing.
  void resume();
  // Stops the transfer; the task completes with kURLErrorCancelled (unless it already finished).
  void cancel();

 private:
  friend class URLSession;
  struct Private;
  URLSessionTask(Kind kind, std::uint64_t identifier, URLRequest request);
  Kind kind_;
  std::uint64_t taskIdentifier_;
  URLRequest originalRequest_;
  std::weak_ptr<URLSession> session_;
  std::unique_ptr<Private> d_;
};
using URLSessionTaskPtr = std::shared_ptr<URLSessionTask>;

struct URLAuthenticationChallenge {
  // kAuthenticationMethodServerTrust for a TLS server; the only kind this layer raises.
  std::string authenticationMethod;
  std::string host;
  int port = 0;
  // The server's chain as presented; null when the server presented none.
  ServerTrustPtr serverTrust;
};
inline constexpr const char* kAuthenticationMethodServerTrust =
    "NSURLAuthenticationMethodServerTrust";

// Every operation is optional: the defaults behave as a session without a delegate would.
// They run on the session's delegate queue.
class URLSessionDelegate {
 public:
  using RedirectCompletion = std::function<void(std::optional<URLRequest> request)>;
  using ChallengeCompletion =
      std::function<void(URLSessionAuthChallengeDisposition, std::shared_ptr<URLCredential>)>;

  virtual ~URLSessionDelegate() = default;

  // Bytes of the body as they arrive (data and upload tasks made without a completion handler).
  virtual void didReceiveData(URLSession& session, URLSessionTask& task, const Bytes& data);
  // A download finished into `location`, a file that is removed once this returns.
  virtual void didFinishDownloadingToURL(URLSession& session, URLSessionTask& task,
                                         const std::filesystem::path& location);
  // The last call for a task: error null when a response arrived.
  virtual void didCompleteWithError(URLSession& session, URLSessionTask& task, ErrorPtr error);
  // The server answered with a redirect; the completion takes the request to follow, or none to
  // stop there (the redirect response becomes the task's result; when its body could not be
  // read, the task fails with that error instead). Asked on the redirect's status and header
  // fields, whatever became of its body. Default: follow.
  virtual void willPerformHTTPRedirection(URLSession& session, URLSessionTask& task,
                                          const HTTPURLResponse& response, URLRequest newRequest,
                                          RedirectCompletion completion);
  // Server trust: UseCredential with a credential for the trust accepts the server,
  // CancelAuthenticationChallenge refuses it (the task fails with kURLErrorCancelled), and
  // PerformDefaultHandling / RejectProtectionSpace evaluate it against the trusted CA file and
  // the host name. Default: PerformDefaultHandling. The task's resource timeout bounds the wait
  // for the answer: one not given by then fails the task with kURLErrorTimedOut.
  virtual void didReceiveChallenge(URLSession& session, URLSessionTask& task,
                                   const URLAuthenticationChallenge& challenge,
                                   ChallengeCompletion completion);
  // A background session has delivered the events of all its tasks.
  virtual void didFinishEventsForBackgroundURLSession(URLSession& session);
  // The session was invalidated; the session lets go of its delegate after this.
  virtual void didBecomeInvalidWithError(URLSession& session, ErrorPtr error);
};

class URLSession : public Object {
 public:
  using DataTaskCompletion = std::function<void(
      const Bytes& data, std::shared_ptr<const HTTPURLResponse> response, ErrorPtr error)>;

  // The session holds its delegate strongly until it is invalidated (after
  // didBecomeInvalidWithError), and keeps itself alive while it has tasks that have not
  // completed, so a caller may hold it weakly. A null queue gives the session a serial queue of
  // its own.
  static std::shared_ptr<URLSession> sessionWithConfiguration(
      URLSessionConfiguration configuration, std::shared_ptr<URLSessionDelegate> delegate = {},
      DispatchQueuePtr delegateQueue = {});
  // A process-wide session with the default configuration and no delegate.
  static std::shared_ptr<URLSession> sharedSession();

  // Process-wide CA file used where a configuration names none (empty: OpenSSL's defaults).
  static void setDefaultTrustedCAFile(const std::filesystem::path& path);
  static std::filesystem::path defaultTrustedCAFile();

  ~URLSession() override;
  std::string className() const override { return "NSURLSession"; }

  const URLSessionConfiguration& configuration() const { return configuration_; }
  std::shared_ptr<URLSessionDelegate> delegate() const;
  const DispatchQueuePtr& delegateQueue() const { return delegateQueue_; }
  const std::string& sessionDescription() const { return sessionDescription_; }
  void setSessionDescription(std::string text) { sessionDescription_ = std::move(text); }

  // Tasks start suspended; call resume(). Each returns null when the session has been
  // invalidated or (background sessions) when the task's body would live only in memory.
  // A task made with a completion handler reports its body and result through it (on the
  // delegate queue) instead of didReceiveData/didCompleteWithError; redirects and trust still
  // go to the delegate.
  URLSessionTaskPtr dataTaskWithRequest(const URLRequest& request,
                                        DataTaskCompletion completion = {});
  // The body is `body`, whatever the request's own body is.
  URLSessionTaskPtr uploadTaskWithRequestFromData(const URLRequest& request, const Bytes& body,
                                                  DataTaskCompletion completion = {});
  // The body is streamed from `file`; a missing file fails the task with
  // kURLErrorFileDoesNotExist.
  URLSessionTaskPtr uploadTaskWithRequestFromFile(const URLRequest& request,
                                                  const std::filesystem::path& file,
                                                  DataTaskCompletion completion = {});
  URLSessionTaskPtr downloadTaskWithRequest(const URLRequest& request);

  // No new tasks; once the running ones complete the delegate hears didBecomeInvalidWithError.
  void finishTasksAndInvalidate();
  // As above, cancelling the running tasks.
  void invalidateAndCancel();
  bool isInvalidated() const;
  std::vector<URLSessionTaskPtr> allTasks() const;

 private:
  friend class URLSessionTask;
  struct Private;
  URLSession(URLSessionConfiguration configuration, std::shared_ptr<URLSessionDelegate> delegate,
             DispatchQueuePtr delegateQueue);
  URLSessionTaskPtr makeTask(URLSessionTask::Kind kind, const URLRequest& request,
                             std::optional<Bytes> body, std::filesystem::path bodyFile,
                             DataTaskCompletion completion);
  void taskFinished(const URLSessionTaskPtr& task);

  URLSessionConfiguration configuration_;
  DispatchQueuePtr delegateQueue_;
  std::string sessionDescription_;
  std::unique_ptr<Private> d_;
};
using URLSessionPtr = std::shared_ptr<URLSession>;

}  // namespace platform
