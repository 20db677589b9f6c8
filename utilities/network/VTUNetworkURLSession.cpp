#include "utilities/network/VTUNetworkURLSession.h"

#include <cmath>
#include <map>
#include <system_error>

#include "platform/base/Files.h"
#include "platform/base/Format.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/network/BackupExclusion.h"
#include "platform/runtime/Crypto.h"
#include "utilities/VTUMutableDictionary.h"
#include "utilities/logger/VTULogger.h"
#include "utilities/network/VTUNetworkConstants.h"

using platform::Bytes;
using platform::ErrorPtr;
using platform::Value;

namespace {

// The registry of request objects by session identifier: strong keys, weak values.
std::recursive_mutex& fetcherMapLock() {
  static auto* lock = new std::recursive_mutex();
  return *lock;
}
std::map<std::string, std::weak_ptr<VTUNetworkURLSession>>& fetcherMap() {
  static auto* map = new std::map<std::string, std::weak_ptr<VTUNetworkURLSession>>();
  return *map;
}
VTUMutableDictionary& systemCompletionHandlers() {
  static auto* dictionary = new VTUMutableDictionary();
  return *dictionary;
}
// Serialises trust evaluations of every request object.
std::mutex& trustEvaluationLock() {
  static auto* lock = new std::mutex();
  return *lock;
}

// A wake-up handler as a value of the handler dictionary.
class SystemHandlerBox : public platform::Object {
 public:
  explicit SystemHandlerBox(VTUNetworkURLSession::SystemCompletionHandler handler)
      : handler(std::move(handler)) {}
  VTUNetworkURLSession::SystemCompletionHandler handler;
};

ErrorPtr networkError(long code, const char* context) {
  return platform::Error::make(kVTUNetworkErrorDomain, code,
                               {{kVTUNetworkErrorContext, Value(context)}});
}

}  // namespace

VTUNetworkURLSession::VTUNetworkURLSession(
    const std::shared_ptr<VTUNetworkLoggerDelegate>& loggerDelegate)
    : sessionID_(platform::format(kVTUNetworkSessionIDFormat, kVTUNetworkBackgroundSessionPrefix,
                                  platform::crypto::uuidString())),
      networkDirectoryURL_(platform::SandboxHome::applicationSupport() / kVTUNetworkDirectory /
                           kVTUNetworkTemporaryDirectory),
      loggerDelegate_(loggerDelegate) {}

VTUNetworkURLSession::~VTUNetworkURLSession() = default;

bool VTUNetworkURLSession::setSessionID(const std::string& sessionID) {
  if (!isUsableSessionID(sessionID)) return false;
  sessionID_ = sessionID;
  return true;
}

bool VTUNetworkURLSession::isUsableSessionID(const std::string& sessionID) {
  // The identifier names the upload's temporary file, and wake-ups bring identifiers from
  // outside: none may reach out of the temporary folder.
  return !sessionID.empty() && sessionID.find('/') == std::string::npos &&
         sessionID.find("..") == std::string::npos && sessionID.find('\0') == std::string::npos;
}

std::shared_ptr<VTUNetworkURLSession> VTUNetworkURLSession::initWithNetworkLoggerDelegate(
    const std::shared_ptr<VTUNetworkLoggerDelegate>& loggerDelegate) {
  return std::make_shared<VTUNetworkURLSession>(loggerDelegate);
}

void VTUNetworkURLSession::log(long level, long code, const std::string& message,
                               const Value& context) {
  if (auto delegate = loggerDelegate_.lock()) {
    delegate->VTUNetwork_logWithLevelMessageCodeMessageContext(level, code, message, context);
  }
}

void VTUNetworkURLSession::logContexts(long level, long code, const std::string& message,
                                       const Value::Array& contexts) {
  if (auto delegate = loggerDelegate_.lock()) {
    delegate->VTUNetwork_logWithLevel(level, code, message, contexts);
  }
}

void VTUNetworkURLSession::populateSessionConfig(platform::URLSessionConfiguration& config,
                                                 const platform::URLRequest& request) {
  config.HTTPAdditionalHeaders.clear();
  for (const auto& [name, value] : request.allHTTPHeaderFields) {
    config.HTTPAdditionalHeaders[name] = value;
  }
  config.timeoutIntervalForRequest = request.timeoutInterval;
  config.timeoutIntervalForResource = request.timeoutInterval;
  config.requestCachePolicy = request.cachePolicy;
}

std::optional<std::string> VTUNetworkURLSession::sessionIDFromAsyncPOSTRequest(
    const platform::URLRequest& request, CompletionHandler completionHandler) {
  uploadingFileURL_ =
      networkDirectoryURL_ / platform::format(kVTUNetworkUploadFileFormat, sessionID_);
  maybeRemoveTempFilesAtURL(networkDirectoryURL_, kVTUNetworkTempFileExpiry);
  auto self = std::static_pointer_cast<VTUNetworkURLSession>(shared_from_this());

  std::shared_ptr<platform::URLSession> session;
  platform::URLSessionTaskPtr task;
  bool triedBackground = false;
  if (backgroundNetworkEnabled_ && ensureTemporaryDirectoryExists()) {
    ErrorPtr writeError;
    if (!platform::files::writeAtomically(uploadingFileURL_, request.HTTPBody, &writeError)) {
      log(kVTULoggerLevelError, kVTUMessageCodeURLSession000, kVTUURLSessionWriteFailed,
          Value(writeError));
    } else {
      triedBackground = true;
      excludeFromBackupForURL(uploadingFileURL_);
      sessionConfig_ =
          platform::URLSessionConfiguration::backgroundSessionConfiguration(sessionID_);
      populateSessionConfig(sessionConfig_, request);
      session = platform::URLSession::sessionWithConfiguration(sessionConfig_, self,
                                                               platform::DispatchQueue::main());
      task = session->uploadTaskWithRequestFromFile(request, uploadingFileURL_);
    }
  }
  if (!triedBackground) {
    sessionConfig_ = platform::URLSessionConfiguration::defaultSessionConfiguration();
    populateSessionConfig(sessionConfig_, request);
    session = platform::URLSession::sessionWithConfiguration(sessionConfig_, self,
                                                             platform::DispatchQueue::main());
    task = session->uploadTaskWithRequestFromData(request, request.HTTPBody);
  }
  return startTask(session, task, request, std::move(completionHandler));
}

std::optional<std::string> VTUNetworkURLSession::sessionIDFromAsyncGETRequest(
    const platform::URLRequest& request, CompletionHandler completionHandler) {
  auto self = std::static_pointer_cast<VTUNetworkURLSession>(shared_from_this());
  sessionConfig_ =
      backgroundNetworkEnabled_
          ? platform::URLSessionConfiguration::backgroundSessionConfiguration(sessionID_)
          : platform::URLSessionConfiguration::defaultSessionConfiguration();
  populateSessionConfig(sessionConfig_, request);
  sessionConfig_.URLCacheEnabled = false;
  auto session = platform::URLSession::sessionWithConfiguration(sessionConfig_, self,
                                                                platform::DispatchQueue::main());
  auto task = session->downloadTaskWithRequest(request);
  return startTask(session, task, request, std::move(completionHandler));
}

std::optional<std::string> VTUNetworkURLSession::startTask(
    const std::shared_ptr<platform::URLSession>& session, const platform::URLSessionTaskPtr& task,
    const platform::URLRequest& request, CompletionHandler completionHandler) {
  if (session && task) {
    URLSession_ = session;
    setSessionInFetcherMap(std::static_pointer_cast<VTUNetworkURLSession>(shared_from_this()),
                           sessionID_);
    {
      std::lock_guard lock(mutex_);
      request_ = request;
      completionHandler_ = std::move(completionHandler);
    }
    task->resume();
    return sessionID_;
  }
  // The session was never handed a task, so it lets go of this object as its delegate.
  if (session) session->finishTasksAndInvalidate();
  callCompletionHandler(
      completionHandler, nullptr, std::nullopt,
      networkError(kVTUNetworkErrorCodeSessionCreation, kVTUNetworkCannotCreateSession));
  return std::nullopt;
}

void VTUNetworkURLSession::callCompletionHandler(
    const CompletionHandler& handler, std::shared_ptr<const platform::HTTPURLResponse> response,
    std::optional<Bytes> data, ErrorPtr error) {
  if (error) {
    logContexts(kVTULoggerLevelError, kVTUMessageCodeURLSession017, kVTUURLSessionNetworkError,
                {Value(error->code()), Value(error)});
  }
  if (handler) {
    std::string sessionID = sessionID_;
    platform::DispatchQueue::main()->async([handler, response, data = std::move(data), sessionID,
                                            error] { handler(response, data, sessionID, error); });
  }
}

// ---- Session delegate ------------------------------------------------------------------------

void VTUNetworkURLSession::didReceiveData(platform::URLSession&, platform::URLSessionTask&,
                                          const Bytes& data) {
  std::lock_guard lock(mutex_);
  Bytes collected = downloadedData_ ? *downloadedData_ : Bytes();
  collected.insert(collected.end(), data.begin(), data.end());
  downloadedData_ = std::move(collected);
}

void VTUNetworkURLSession::didFinishDownloadingToURL(platform::URLSession&,
                                                     platform::URLSessionTask&,
                                                     const std::filesystem::path& location) {
  if (location.empty()) {
    log(kVTULoggerLevelError, kVTUMessageCodeURLSession001, kVTUURLSessionEmptyTempPath);
    std::lock_guard lock(mutex_);
    downloadedData_.reset();
    return;
  }
  ErrorPtr error;
  auto content = platform::files::readFile(location, &error);
  if (!content) {
    log(kVTULoggerLevelError, kVTUMessageCodeURLSession002, kVTUURLSessionUnreadableDownload,
        Value(error));
  }
  std::lock_guard lock(mutex_);
  downloadedData_ = std::move(content);
}

void VTUNetworkURLSession::didCompleteWithError(platform::URLSession& session,
                                                platform::URLSessionTask& task, ErrorPtr error) {
  CompletionHandler handler;
  std::optional<Bytes> data;
  {
    std::lock_guard lock(mutex_);
    handler = std::move(completionHandler_);
    completionHandler_ = nullptr;
    data = downloadedData_;
  }
  auto response = task.response();
  if (response) {
    error = nullptr;
  } else if (!error) {
    error = networkError(kVTUNetworkErrorCodeEmptyResponse, kVTUNetworkEmptyResponse);
  }
  callCompletionHandler(handler, response, std::move(data), error);

  removeTempItemAtURL(uploadingFileURL_);
  maybeRemoveTempFilesAtURL(networkDirectoryURL_, kVTUNetworkTempFileExpiry);

  session.finishTasksAndInvalidate();
  // Removed under this object's own identifier: a foreground configuration has none, and its
  // entry would otherwise stay in the registry for the rest of the process.
  setSessionInFetcherMap(nullptr, sessionID_);
}

void VTUNetworkURLSession::willPerformHTTPRedirection(platform::URLSession&,
                                                      platform::URLSessionTask&,
                                                      const platform::HTTPURLResponse& response,
                                                      platform::URLRequest newRequest,
                                                      RedirectCompletion completion) {
  long status = response.statusCode();
  if (status == 302 || status == 301 || status == 307 || status == 300) {
    completion(std::nullopt);
  } else {
    completion(std::move(newRequest));
  }
}

void VTUNetworkURLSession::didReceiveChallenge(
    platform::URLSession&, platform::URLSessionTask&,
    const platform::URLAuthenticationChallenge& challenge, ChallengeCompletion completion) {
  using Disposition = platform::URLSessionAuthChallengeDisposition;
  Value host;
  {
    std::lock_guard lock(mutex_);
    host = Value(request_.URL);
  }
  if (challenge.authenticationMethod != platform::kAuthenticationMethodServerTrust) {
    completion(Disposition::PerformDefaultHandling, nullptr);
    return;
  }
  platform::ServerTrustPtr trust = challenge.serverTrust;
  if (!trust) {
    log(kVTULoggerLevelDebug, kVTUMessageCodeURLSession004, kVTUURLSessionEmptyTrust, host);
    completion(Disposition::PerformDefaultHandling, nullptr);
    return;
  }
  auto credential = platform::URLCredential::credentialForTrust(trust);
  if (!credential) {
    log(kVTULoggerLevelWarning, kVTUMessageCodeURLSession005, kVTUURLSessionUnverifiable, host);
    completion(Disposition::CancelAuthenticationChallenge, nullptr);
    return;
  }
  log(kVTULoggerLevelDebug, kVTUMessageCodeURLSession006, kVTUURLSessionSSLChallenge, host);
  auto self = std::static_pointer_cast<VTUNetworkURLSession>(shared_from_this());
  platform::DispatchQueue::global(platform::QualityOfService::Default)
      ->async([self, trust, credential, host, completion] {
        bool accepted = false;
        {
          std::lock_guard lock(trustEvaluationLock());
          platform::ServerTrustResult result = platform::ServerTrustResult::Invalid;
          int status = platform::evaluateServerTrust(trust, &result);
          if (status != platform::kServerTrustStatusSuccess) {
            self->logContexts(kVTULoggerLevelError, kVTUMessageCodeURLSession008,
                              kVTUURLSessionCannotEvaluate, {Value(status), host});
          } else {
            accepted = result == platform::ServerTrustResult::Proceed ||
                       result == platform::ServerTrustResult::Unspecified;
          }
        }
        if (accepted) {
          completion(Disposition::UseCredential, credential);
        } else {
          self->log(kVTULoggerLevelDebug, kVTUMessageCodeURLSession007,
                    kVTUURLSessionCancellingChallenge, host);
          completion(Disposition::CancelAuthenticationChallenge, nullptr);
        }
      });
}

void VTUNetworkURLSession::didFinishEventsForBackgroundURLSession(platform::URLSession& session) {
  const std::string& identifier = session.configuration().identifier();
  log(kVTULoggerLevelDebug, kVTUMessageCodeURLSession003, kVTUURLSessionBackgroundFinished,
      Value(identifier));
  callSystemCompletionHandler(identifier);
}

// ---- Background wake-up and registry --------------------------------------------------------

void VTUNetworkURLSession::handleEventsForBackgroundURLSessionID(
    const std::string& sessionID, SystemCompletionHandler completionHandler) {
  if (sessionID.rfind(kVTUNetworkBackgroundSessionPrefix, 0) != 0) return;
  auto fetcher = fetcherWithSessionIdentifier(sessionID);
  if (!fetcher) {
    VTULoggerLogError(kVTUNetworkService, false,
                      platform::format(kVTUNetworkMessageCodeFormat, kVTUMessageCodeNetwork003),
                      kVTUNetworkLostBackgroundSession, sessionID);
    return;
  }
  fetcher->addSystemCompletionHandler(std::move(completionHandler), sessionID);
}

std::shared_ptr<VTUNetworkURLSession> VTUNetworkURLSession::fetcherWithSessionIdentifier(
    const std::string& sessionID) {
  std::lock_guard lock(fetcherMapLock());
  if (!isUsableSessionID(sessionID)) return nullptr;
  if (auto existing = sessionFromFetcherMapForSessionID(sessionID)) return existing;
  if (sessionID.rfind(kVTUNetworkBackgroundSessionPrefix, 0) != 0) return nullptr;
  auto fetcher = initWithNetworkLoggerDelegate(nullptr);
  fetcher->setSessionID(sessionID);
  setSessionInFetcherMap(fetcher, sessionID);
  return fetcher;
}

void VTUNetworkURLSession::setSessionInFetcherMap(
    const std::shared_ptr<VTUNetworkURLSession>& session, const std::string& sessionID) {
  std::lock_guard lock(fetcherMapLock());
  auto& map = fetcherMap();
  auto it = map.find(sessionID);
  if (it != map.end()) {
    if (auto old = it->second.lock()) {
      if (session) {
        old->logContexts(kVTULoggerLevelInfo, kVTUMessageCodeURLSession019,
                         platform::format(kVTUURLSessionDiscarding, old->description()), {});
      }
      if (auto oldSession = old->URLSession()) oldSession->finishTasksAndInvalidate();
    }
  }
  if (session) {
    map[sessionID] = session;
  } else {
    map.erase(sessionID);
  }
}

std::shared_ptr<VTUNetworkURLSession> VTUNetworkURLSession::sessionFromFetcherMapForSessionID(
    const std::string& sessionID) {
  std::lock_guard lock(fetcherMapLock());
  auto it = fetcherMap().find(sessionID);
  return it == fetcherMap().end() ? nullptr : it->second.lock();
}

void VTUNetworkURLSession::addSystemCompletionHandler(SystemCompletionHandler handler,
                                                      const std::string& identifier) {
  if (!handler) {
    log(kVTULoggerLevelError, kVTUMessageCodeURLSession009, kVTUURLSessionNilSystemHandler);
    return;
  }
  if (identifier.empty()) {
    log(kVTULoggerLevelError, kVTUMessageCodeURLSession010, kVTUURLSessionEmptySessionID);
    return;
  }
  auto& handlers = systemCompletionHandlers();
  if (!handlers.objectForKey(identifier).isNil()) {
    log(kVTULoggerLevelWarning, kVTUMessageCodeURLSession011, kVTUURLSessionMultipleHandlers);
  }
  handlers.setObject(Value(std::make_shared<SystemHandlerBox>(std::move(handler))), identifier);
}

void VTUNetworkURLSession::callSystemCompletionHandler(const std::string& identifier) {
  auto& handlers = systemCompletionHandlers();
  auto box =
      std::dynamic_pointer_cast<SystemHandlerBox>(handlers.objectForKey(identifier).object());
  if (!box) return;
  handlers.removeObjectForKey(identifier);
  platform::DispatchQueue::main()->async([box] { box->handler(); });
}

// ---- Temporary files -------------------------------------------------------------------------

bool VTUNetworkURLSession::ensureTemporaryDirectoryExists() {
  std::error_code ec;
  auto status = std::filesystem::status(networkDirectoryURL_, ec);
  if (!ec && std::filesystem::exists(status)) return true;
  if (ec && ec != std::errc::no_such_file_or_directory) {
    auto error =
        platform::Error::make(platform::kFileErrorDomain, platform::kFileReadCorruptFileError,
                              {{platform::kLocalizedDescriptionKey, Value(ec.message())}});
    log(kVTULoggerLevelWarning, kVTUMessageCodeURLSession014, kVTUURLSessionCannotAccessTemp,
        Value(error));
  }
  ErrorPtr error;
  if (!platform::files::createDirectory(networkDirectoryURL_, true, &error)) {
    log(kVTULoggerLevelError, kVTUMessageCodeURLSession015, kVTUURLSessionCannotCreateTemp,
        Value(error));
    return false;
  }
  excludeFromBackupForURL(networkDirectoryURL_);
  return true;
}

void VTUNetworkURLSession::excludeFromBackupForURL(const std::filesystem::path& url) {
  if (url.empty()) return;
  ErrorPtr error;
  if (!platform::setExcludedFromBackup(url, true, &error)) {
    log(kVTULoggerLevelError, kVTUMessageCodeURLSession016, kVTUURLSessionCannotExclude,
        Value(error));
  }
}

void VTUNetworkURLSession::maybeRemoveTempFilesAtURL(const std::filesystem::path& directory,
                                                     double expiringTime) {
  if (directory.empty()) return;
  ErrorPtr error;
  auto entries = platform::files::contentsOfDirectory(directory, &error);
  if (!entries) {
    if (error && error->code() != platform::kFileReadNoSuchFileError) {
      log(kVTULoggerLevelDebug, kVTUMessageCodeURLSession012, kVTUURLSessionCannotListTemp,
          Value(error));
    }
    return;
  }
  double now = platform::Clock::current().now();
  for (const auto& entry : *entries) {
    if (std::fabs(now - entry.creationDate) > expiringTime) removeTempItemAtURL(entry.path);
  }
}

void VTUNetworkURLSession::removeTempItemAtURL(const std::filesystem::path& file) {
  if (file.empty()) return;
  ErrorPtr error;
  if (!platform::files::removeItem(file, &error) && error &&
      error->code() != platform::kFileNoSuchFileError) {
    log(kVTULoggerLevelError, kVTUMessageCodeURLSession013, kVTUURLSessionCannotRemoveTemp,
        Value(error->localizedDescription()));
  }
}
