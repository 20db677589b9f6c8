#include "platform/network/URLSession.h"
#include "platform/runtime/Crypto.h"

#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cctype>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <thread>

#include "platform/base/Files.h"
#include "platform/base/Format.h"
#include "platform/base/Saturating.h"
#include "platform/dispatch/SystemLog.h"

namespace platform {

namespace {
// The longest timeout handed to the transfer library, in milliseconds.
constexpr double kLongestTimeoutMs = 2.0e9;
// The most a response body kept in memory may hold, after the transfer has undone its content
// encoding: a few kilobytes of compressed answer must not be able to take all memory.
constexpr std::size_t kLongestBodyInMemory = 64u << 20;
}  // namespace

// ---------------------------------------------------------------------------------------------
// Configuration

URLSessionConfiguration URLSessionConfiguration::defaultSessionConfiguration() { return {}; }

URLSessionConfiguration URLSessionConfiguration::backgroundSessionConfiguration(
    const std::string& identifier) {
  URLSessionConfiguration configuration;
  configuration.identifier_ = identifier;
  configuration.background_ = true;
  return configuration;
}

// ---------------------------------------------------------------------------------------------
// Delegate defaults

void URLSessionDelegate::didReceiveData(URLSession&, URLSessionTask&, const Bytes&) {}
void URLSessionDelegate::didFinishDownloadingToURL(URLSession&, URLSessionTask&,
                                                   const std::filesystem::path&) {}
void URLSessionDelegate::didCompleteWithError(URLSession&, URLSessionTask&, ErrorPtr) {}
void URLSessionDelegate::willPerformHTTPRedirection(URLSession&, URLSessionTask&,
                                                    const HTTPURLResponse&, URLRequest newRequest,
                                                    RedirectCompletion completion) {
  if (completion) completion(std::move(newRequest));
}
void URLSessionDelegate::didReceiveChallenge(URLSession&, URLSessionTask&,
                                             const URLAuthenticationChallenge&,
                                             ChallengeCompletion completion) {
  if (completion) completion(URLSessionAuthChallengeDisposition::PerformDefaultHandling, nullptr);
}
void URLSessionDelegate::didFinishEventsForBackgroundURLSession(URLSession&) {}
void URLSessionDelegate::didBecomeInvalidWithError(URLSession&, ErrorPtr) {}

// ---------------------------------------------------------------------------------------------
// Private state

namespace {

std::once_flag gCurlInit;
std::mutex gDefaultCAMutex;
// Never destroyed: a transfer still starting while the process exits may read it.
std::filesystem::path& defaultCAFile() {
  static auto* path = new std::filesystem::path();
  return *path;
}
std::atomic<std::uint64_t> gDownloadCounter{0};

// The transfer threads still running. At exit they are cancelled and awaited (briefly), so none
// outlives the objects it uses.
struct Workers {
  std::mutex mutex;
  std::condition_variable idle;
  std::vector<std::weak_ptr<URLSessionTask>> tasks;
  int running = 0;
};
Workers& workers() {
  static auto* w = new Workers();
  return *w;
}
void stopWorkersAtExit() {
  auto& w = workers();
  std::vector<std::weak_ptr<URLSessionTask>> tasks;
  {
    std::lock_guard lock(w.mutex);
    tasks = w.tasks;
  }
  for (const auto& weak : tasks) {
    if (auto task = weak.lock()) task->cancel();
  }
  std::unique_lock lock(w.mutex);
  w.idle.wait_for(lock, std::chrono::seconds(3), [&w] { return w.running == 0; });
}
void workerStarted(const std::shared_ptr<URLSessionTask>& task) {
  static std::once_flag registered;
  std::call_once(registered, [] { std::atexit(stopWorkersAtExit); });
  auto& w = workers();
  std::lock_guard lock(w.mutex);
  std::erase_if(w.tasks, [](const auto& weak) { return weak.expired(); });
  w.tasks.push_back(task);
  ++w.running;
}
void workerFinished() {
  auto& w = workers();
  std::lock_guard lock(w.mutex);
  if (--w.running == 0) w.idle.notify_all();
}

// A one-shot answer from the delegate queue to a transfer thread.
template <class T>
struct Answer {
  std::mutex mutex;
  std::condition_variable ready;
  std::optional<T> value;

  void set(T v) {
    std::lock_guard lock(mutex);
    if (!value) value = std::move(v);
    ready.notify_all();
  }
  // Waits until answered, cancelled or past the deadline.
  std::optional<T> wait(const std::atomic<bool>& cancelled,
                        std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex);
    while (!value && !cancelled.load() && std::chrono::steady_clock::now() < deadline) {
      ready.wait_for(lock, std::chrono::milliseconds(50));
    }
    return value;
  }
};

ErrorPtr makeURLError(long code, const std::string& description, const std::string& url) {
  Value::Dictionary info;
  info[kLocalizedDescriptionKey] = Value(description);
  if (!url.empty()) info[kURLErrorFailingURLStringKey] = Value(url);
  return Error::make(kURLErrorDomain, code, std::move(info));
}

bool isSecureURL(const std::string& url) {
  constexpr std::string_view kSecure = "https:";
  return url.size() >= kSecure.size() &&
         std::equal(kSecure.begin(), kSecure.end(), url.begin(), [](char a, char b) {
           return a == std::tolower(static_cast<unsigned char>(b));
         });
}

// A redirect may not take a secure request anywhere insecure.
constexpr const char* kInsecureRedirectRefused = "A redirect to an insecure URL was refused.";
bool isDowngrade(const std::string& from, const std::string& to) {
  return isSecureURL(from) && !isSecureURL(to);
}

// Whether a request to `url` goes elsewhere than the task's own URL leads (the very same URL is
// never elsewhere, even where its origin cannot be read).
bool leavesOrigin(const std::string& url, const std::string& ownURL) {
  return url != ownURL && !isSameOrigin(url, ownURL);
}

void removeCredentialFields(URLRequest& request) {
  std::erase_if(request.allHTTPHeaderFields,
                [](const auto& field) { return isCredentialHeaderField(field.first); });
}

// Any 3xx: an answer that points elsewhere rather than deciding the request.
bool isRedirectClass(long status) { return status >= 300 && status <= 399; }

bool isRedirectStatus(long status) {
  return status == 300 || status == 301 || status == 302 || status == 303 || status == 307 ||
         status == 308;
}

std::string trim(std::string text) {
  const char* spaces = " \t\r\n";
  auto first = text.find_first_not_of(spaces);
  if (first == std::string::npos) return {};
  auto last = text.find_last_not_of(spaces);
  return text.substr(first, last - first + 1);
}

}  // namespace

struct URLSessionTask::Private {
  mutable std::mutex mutex;
  URLSessionTaskState state = URLSessionTaskState::Suspended;
  bool started = false;
  URLRequest currentRequest;
  std::shared_ptr<const HTTPURLResponse> response;
  ErrorPtr error;
  std::atomic<bool> cancelled{false};

  std::optional<Bytes> body;       // upload from memory (or a data task's request body)
  std::filesystem::path bodyFile;  // upload from a file
  URLSession::DataTaskCompletion completion;
};

struct URLSession::Private {
  mutable std::mutex mutex;
  std::shared_ptr<URLSessionDelegate> delegate;
  std::shared_ptr<URLSession> keepAlive;  // until invalidated with no task left
  std::uint64_t nextTaskIdentifier = 1;
  std::vector<URLSessionTaskPtr> tasks;  // created and not yet completed
  bool invalidated = false;
  bool invalidationReported = false;
};

// ---------------------------------------------------------------------------------------------
// One transfer (one request, no redirect followed), run on the task's own thread.

namespace {

struct Hop {
  URLSessionTask* task = nullptr;
  URLSession* session = nullptr;
  std::shared_ptr<URLSessionTask> taskRef;
  std::shared_ptr<URLSession> sessionRef;
  const std::atomic<bool>* cancelled = nullptr;
  std::chrono::steady_clock::time_point deadline;
  std::string host;
  std::filesystem::path anchors;

  // A redirect turned the request into one without a body (a 303, or a 301/302 after a
  // POST): the configuration's fields that describe a body are left out too.
  bool bodyDropped = false;
  // A redirect led to another origin than the task's own: no credential field goes with it.
  bool crossOrigin = false;

  // Request body source.
  const Bytes* body = nullptr;
  std::FILE* bodyFile = nullptr;
  std::size_t bodyOffset = 0;

  // Response. Only the origin server's: a proxy's reply to CONNECT never reaches these (see
  // performHop), so nothing of it can pass for the server's status, fields or body.
  bool originAnswered = false;  // a status line of the origin server arrived
  long status = 0;
  HTTPHeaderFields headers;
  // The header block of the final status line ended (its empty line arrived): the answer's
  // status and fields are whole, whatever becomes of its body.
  bool headersComplete = false;
  Bytes data;
  std::FILE* downloadFile = nullptr;
  bool writeFailed = false;
  bool bodyTooLong = false;

  // Trust outcome, to tell a refused server from other TLS failures.
  bool trustCancelled = false;
  bool trustRefused = false;
  // The task ran out of time while the delegate was deciding.
  bool trustTimedOut = false;

  // The request timeout: the longest the transfer may go without a byte moving either way,
  // waiting for the answer after the body has gone out included.
  std::chrono::steady_clock::duration idleLimit{};
  std::chrono::steady_clock::time_point lastActivity;
  curl_off_t bytesDown = 0;
  curl_off_t bytesUp = 0;
  bool idleTimedOut = false;

  void noteActivity() { lastActivity = std::chrono::steady_clock::now(); }
};

size_t onHeader(char* buffer, size_t size, size_t count, void* userData) {
  auto* hop = static_cast<Hop*>(userData);
  hop->noteActivity();
  std::string line(buffer, size * count);
  if (line.rfind("HTTP/", 0) == 0) {
    // A new status line (an interim 100 response came first): start over.
    hop->originAnswered = true;
    hop->headers.clear();
    hop->headersComplete = false;
    auto space = line.find(' ');
    hop->status =
        space == std::string::npos ? 0 : std::strtol(line.c_str() + space + 1, nullptr, 10);
    return size * count;
  }
  if (trim(line).empty()) {
    hop->headersComplete = true;
    return size * count;
  }
  auto colon = line.find(':');
  if (colon == std::string::npos) return size * count;
  std::string name = trim(line.substr(0, colon));
  std::string value = trim(line.substr(colon + 1));
  if (name.empty()) return size * count;
  auto it = hop->headers.find(name);
  if (it == hop->headers.end()) {
    hop->headers.emplace(name, value);
  } else {
    it->second += ", " + value;
  }
  return size * count;
}

size_t onBody(char* buffer, size_t size, size_t count, void* userData) {
  auto* hop = static_cast<Hop*>(userData);
  size_t bytes = size * count;
  if (hop->downloadFile) {
    if (std::fwrite(buffer, 1, bytes, hop->downloadFile) != bytes) {
      hop->writeFailed = true;
      return 0;
    }
    return bytes;
  }
  if (bytes > kLongestBodyInMemory - hop->data.size()) {
    hop->bodyTooLong = true;
    return 0;
  }
  hop->data.insert(hop->data.end(), buffer, buffer + bytes);
  return bytes;
}

size_t onRead(char* buffer, size_t size, size_t count, void* userData) {
  auto* hop = static_cast<Hop*>(userData);
  size_t room = size * count;
  if (hop->bodyFile) {
    size_t got = std::fread(buffer, 1, room, hop->bodyFile);
    if (got == 0 && std::ferror(hop->bodyFile)) return CURL_READFUNC_ABORT;
    return got;
  }
  if (!hop->body) return 0;
  size_t left = hop->body->size() - hop->bodyOffset;
  size_t n = std::min(left, room);
  std::copy_n(hop->body->data() + hop->bodyOffset, n, buffer);
  hop->bodyOffset += n;
  return n;
}

int onProgress(void* userData, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded) {
  auto* hop = static_cast<Hop*>(userData);
  if (hop->cancelled->load()) return 1;
  if (downloaded != hop->bytesDown || uploaded != hop->bytesUp) {
    hop->bytesDown = downloaded;
    hop->bytesUp = uploaded;
    hop->noteActivity();
  } else if (std::chrono::steady_clock::now() - hop->lastActivity >= hop->idleLimit) {
    hop->idleTimedOut = true;
    return 1;
  }
  return 0;
}

// Asks the session's delegate (on its queue) what to make of the server's chain; the transfer
// thread waits for the answer inside the TLS handshake.
int onVerifyCertificate(X509_STORE_CTX* context, void* arg) {
  auto* hop = static_cast<Hop*>(arg);
  std::vector<Bytes> chain;
  auto appendDER = [&chain](X509* cert) {
    unsigned char* der = nullptr;
    int length = i2d_X509(cert, &der);
    if (length > 0) chain.emplace_back(der, der + length);
    OPENSSL_free(der);
  };
  X509* leaf = X509_STORE_CTX_get0_cert(context);
  if (leaf) appendDER(leaf);
  if (STACK_OF(X509)* untrusted = X509_STORE_CTX_get0_untrusted(context)) {
    for (int i = 0; i < sk_X509_num(untrusted); ++i) {
      X509* cert = sk_X509_value(untrusted, i);
      if (cert != leaf) appendDER(cert);
    }
  }
  URLAuthenticationChallenge challenge;
  challenge.authenticationMethod = kAuthenticationMethodServerTrust;
  challenge.host = hop->host;
  if (!chain.empty()) {
    challenge.serverTrust =
        std::make_shared<ServerTrust>(hop->host, std::move(chain), hop->anchors);
  }

  using Decision = std::pair<URLSessionAuthChallengeDisposition, std::shared_ptr<URLCredential>>;
  auto answer = std::make_shared<Answer<Decision>>();
  auto delegate = hop->session->delegate();
  if (delegate) {
    auto sessionRef = hop->sessionRef;
    auto taskRef = hop->taskRef;
    hop->session->delegateQueue()->async([delegate, sessionRef, taskRef, challenge, answer] {
      delegate->didReceiveChallenge(*sessionRef, *taskRef, challenge,
                                    [answer](URLSessionAuthChallengeDisposition disposition,
                                             std::shared_ptr<URLCredential> credential) {
                                      answer->set({disposition, std::move(credential)});
                                    });
    });
  } else {
    answer->set({URLSessionAuthChallengeDisposition::PerformDefaultHandling, nullptr});
  }
  auto decision = answer->wait(*hop->cancelled, hop->deadline);
  // The time the delegate took to decide is not the server's silence.
  hop->noteActivity();

  bool accept = false;
  if (!hop->cancelled->load() && std::chrono::steady_clock::now() >= hop->deadline) {
    // Nothing cancelled the task: it ran out of time, and whatever the delegate decided (or
    // would have) comes too late to go on with.
    hop->trustTimedOut = true;
  } else if (!decision ||
             decision->first == URLSessionAuthChallengeDisposition::CancelAuthenticationChallenge) {
    hop->trustCancelled = true;
  } else if (decision->first == URLSessionAuthChallengeDisposition::UseCredential &&
             decision->second && decision->second->serverTrust()) {
    accept = true;
  } else {
    ServerTrustResult result = ServerTrustResult::Invalid;
    accept = evaluateServerTrust(challenge.serverTrust, &result) == kServerTrustStatusSuccess &&
             (result == ServerTrustResult::Proceed || result == ServerTrustResult::Unspecified);
    if (!accept) hop->trustRefused = true;
  }
  X509_STORE_CTX_set_error(context, accept ? X509_V_OK : X509_V_ERR_CERT_UNTRUSTED);
  return accept ? 1 : 0;
}

CURLcode onSSLContext(CURL*, void* sslContext, void* userData) {
  SSL_CTX_set_cert_verify_callback(static_cast<SSL_CTX*>(sslContext), onVerifyCertificate,
                                   userData);
  return CURLE_OK;
}

struct CurlSlistFree {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct CurlFree {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};

std::string hostOfURL(const std::string& url) {
  std::string host;
  CURLU* handle = curl_url();
  if (handle && curl_url_set(handle, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
    char* part = nullptr;
    if (curl_url_get(handle, CURLUPART_HOST, &part, 0) == CURLUE_OK && part) {
      host = part;
      curl_free(part);
    }
  }
  curl_url_cleanup(handle);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  return host;
}

// The absolute URL a Location field points to, read against the URL of the request it answered
// (empty when it cannot be read).
std::string resolveLocation(const std::string& base, const std::string& location) {
  std::string resolved;
  CURLU* handle = curl_url();
  if (handle && curl_url_set(handle, CURLUPART_URL, base.c_str(), 0) == CURLUE_OK &&
      curl_url_set(handle, CURLUPART_URL, location.c_str(), CURLU_URLENCODE | CURLU_ALLOW_SPACE) ==
          CURLUE_OK) {
    char* url = nullptr;
    if (curl_url_get(handle, CURLUPART_URL, &url, 0) == CURLUE_OK && url) {
      resolved = url;
      curl_free(url);
    }
  }
  curl_url_cleanup(handle);
  return resolved;
}

struct HopResult {
  ErrorPtr error;
  std::string redirectURL;
};

// The header fields that describe a request's body.
constexpr const char* kBodyHeaderFields[] = {"Content-Type", "Content-Length", "Content-Encoding"};

bool isBodyHeaderField(const std::string& name) {
  const CaseInsensitiveLess less;
  for (const char* field : kBodyHeaderFields) {
    if (!less(name, field) && !less(field, name)) return true;
  }
  return false;
}

HopResult performHop(Hop& hop, const URLRequest& request, const URLSessionConfiguration& config,
                     double requestTimeout, double resourceTimeout) {
  HopResult result;
  std::unique_ptr<CURL, CurlFree> curl(curl_easy_init());
  if (!curl) {
    result.error = makeURLError(kURLErrorUnknown, "The transfer could not be set up.", request.URL);
    return result;
  }
  CURL* c = curl.get();
  char errorBuffer[CURL_ERROR_SIZE] = {0};
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorBuffer);
  curl_easy_setopt(c, CURLOPT_URL, request.URL.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(c, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
  // Behind a proxy (taken from the environment) an https request goes through a tunnel the proxy
  // opens on CONNECT. The proxy's reply to that is no answer to the request: its status line and
  // fields are withheld from the header callback, so that only the origin server's reach it.
  curl_easy_setopt(c, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, &hop);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &hop);
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, onProgress);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, &hop);

  // Timeouts: the request timeout bounds the connection and every silence; `resourceTimeout` is
  // what is left of the task's resource timeout, which bounds the whole chain of hops.
  // Both are held to the library's longest (about 23 days in milliseconds), so that its own
  // arithmetic on them cannot overflow either.
  const long requestMs =
      saturatingCast<long>(std::ceil(std::min(requestTimeout * 1000, kLongestTimeoutMs)));
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, std::max(1L, requestMs));
  // Silence is watched in onProgress rather than by the library's low-speed check, which
  // averages over several seconds and counts a body just sent, so it would wait far past the
  // timeout for an answer that does not come.
  hop.idleLimit = std::chrono::milliseconds(std::max(1L, requestMs));
  hop.noteActivity();
  // At least a millisecond: 0 would mean no limit at all.
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS,
                   std::max(1L, saturatingCast<long>(std::ceil(
                                    std::min(resourceTimeout * 1000, kLongestTimeoutMs)))));

  // TLS: every handshake is decided by onVerifyCertificate (no session resumption, which would
  // skip it); its evaluation checks the host name, so OpenSSL's own check stays off.
  hop.host = hostOfURL(request.URL);
  hop.anchors =
      config.trustedCAFile.empty() ? URLSession::defaultTrustedCAFile() : config.trustedCAFile;
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 0L);
  curl_easy_setopt(c, CURLOPT_SSL_SESSIONID_CACHE, 0L);
  // The anchors are read by the evaluation itself; curl loading them too would only fail the
  // handshake early on a missing file, before the delegate has been asked.
  curl_easy_setopt(c, CURLOPT_CAINFO, nullptr);
  curl_easy_setopt(c, CURLOPT_CAPATH, nullptr);
  curl_easy_setopt(c, CURLOPT_SSL_CTX_FUNCTION, onSSLContext);
  curl_easy_setopt(c, CURLOPT_SSL_CTX_DATA, &hop);

  // Header fields: the configuration's, then the request's over them. A request whose body a
  // redirect dropped announces none: a server that honours Content-Length would wait for it.
  HTTPHeaderFields fields;
  for (const auto& [name, value] : config.HTTPAdditionalHeaders) {
    if (hop.bodyDropped && isBodyHeaderField(name)) continue;
    if (hop.crossOrigin && isCredentialHeaderField(name)) continue;
    fields[name] = value;
  }
  for (const auto& [name, value] : request.allHTTPHeaderFields) {
    if (hop.crossOrigin && isCredentialHeaderField(name)) continue;
    fields[name] = value;
  }
  curl_slist* list = nullptr;
  for (const auto& [name, value] : fields) {
    std::string line = value.empty() ? name + ";" : name + ": " + value;
    list = curl_slist_append(list, line.c_str());
  }
  if (fields.find("Expect") == fields.end()) list = curl_slist_append(list, "Expect:");
  std::unique_ptr<curl_slist, CurlSlistFree> headerList(list);
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, list);

  // Method and body.
  const std::string method = request.HTTPMethod.empty() ? "GET" : request.HTTPMethod;
  static const auto* kNoBody = new Bytes();  // never destroyed: a late transfer may point at it
  if (!hop.body && !hop.bodyFile && (method == "POST" || method == "PUT" || method == "PATCH")) {
    hop.body = kNoBody;
  }
  curl_off_t bodySize = -1;
  if (hop.bodyFile) {
    std::fseek(hop.bodyFile, 0, SEEK_END);
    bodySize = std::ftell(hop.bodyFile);
    std::fseek(hop.bodyFile, 0, SEEK_SET);
  } else if (hop.body && (!hop.body->empty() || method != "GET")) {
    bodySize = static_cast<curl_off_t>(hop.body->size());
  }
  if (bodySize >= 0 && method != "GET" && method != "HEAD") {
    curl_easy_setopt(c, CURLOPT_POST, 1L);
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, bodySize);
    curl_easy_setopt(c, CURLOPT_READFUNCTION, onRead);
    curl_easy_setopt(c, CURLOPT_READDATA, &hop);
    if (method != "POST") curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, method.c_str());
  } else if (method == "HEAD") {
    curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
  } else {
    curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    if (method != "GET") curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, method.c_str());
  }

  CURLcode code = curl_easy_perform(c);
  // Status and redirect target are the origin server's, or there are none: a transfer that
  // never got past the proxy has no answer to report.
  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  if (status > 0 && hop.originAnswered) hop.status = status;
  char* redirect = nullptr;
  if (!hop.originAnswered) {
    // Nothing to follow: no server pointed anywhere.
  } else if (curl_easy_getinfo(c, CURLINFO_REDIRECT_URL, &redirect) == CURLE_OK && redirect) {
    result.redirectURL = redirect;
  } else if (code != CURLE_OK && hop.headersComplete && isRedirectStatus(hop.status)) {
    // The library names the target only of a transfer that ended well; a redirect whose body
    // failed still points where its Location field says.
    auto location = hop.headers.find("Location");
    if (location != hop.headers.end() && !location->second.empty()) {
      result.redirectURL = resolveLocation(request.URL, location->second);
    }
  }

  if (code == CURLE_OK) {
    if (hop.status < 100) {
      result.error = makeURLError(kURLErrorBadServerResponse,
                                  "The server did not send an HTTP response.", request.URL);
    }
    return result;
  }
  std::string detail = errorBuffer[0] ? errorBuffer : curl_easy_strerror(code);
  long urlCode = kURLErrorUnknown;
  long proxyStatus = 0;
  curl_easy_getinfo(c, CURLINFO_HTTP_CONNECTCODE, &proxyStatus);
  if (hop.trustTimedOut && !hop.cancelled->load()) {
    urlCode = kURLErrorTimedOut;
    detail = "The request timed out.";
  } else if (hop.cancelled->load() || hop.trustCancelled) {
    urlCode = kURLErrorCancelled;
    detail = "cancelled";
  } else if (hop.bodyTooLong) {
    urlCode = kURLErrorDataLengthExceedsMaximum;
    detail = "The response is longer than the most a data task keeps in memory.";
  } else if (hop.idleTimedOut) {
    urlCode = kURLErrorTimedOut;
    detail = "The request timed out.";
  } else if (hop.trustRefused) {
    urlCode = kURLErrorServerCertificateUntrusted;
  } else if (!hop.originAnswered && proxyStatus > 0 && (proxyStatus < 200 || proxyStatus > 299)) {
    // Refused, asked for credentials or pointed elsewhere: the server was never reached.
    urlCode = kURLErrorCannotConnectToHost;
    detail =
        format("The proxy did not open a connection to the server (it answered %ld).", proxyStatus);
  } else {
    switch (code) {
      case CURLE_OPERATION_TIMEDOUT:
        urlCode = kURLErrorTimedOut;
        break;
      case CURLE_COULDNT_RESOLVE_HOST:
        urlCode = kURLErrorCannotFindHost;
        break;
      case CURLE_COULDNT_CONNECT:
        urlCode = kURLErrorCannotConnectToHost;
        break;
      case CURLE_URL_MALFORMAT:
        urlCode = kURLErrorBadURL;
        break;
      case CURLE_UNSUPPORTED_PROTOCOL:
        urlCode = kURLErrorUnsupportedURL;
        break;
      case CURLE_ABORTED_BY_CALLBACK:
        urlCode = kURLErrorCancelled;
        break;
      case CURLE_PEER_FAILED_VERIFICATION:
        urlCode = kURLErrorServerCertificateUntrusted;
        break;
      case CURLE_SSL_CONNECT_ERROR:
        urlCode = kURLErrorSecureConnectionFailed;
        break;
      case CURLE_WRITE_ERROR:
        urlCode = kURLErrorCannotWriteToFile;
        break;
      case CURLE_GOT_NOTHING:
      case CURLE_RECV_ERROR:
      case CURLE_SEND_ERROR:
      case CURLE_PARTIAL_FILE:
        urlCode = kURLErrorNetworkConnectionLost;
        break;
      default:
        break;
    }
  }
  result.error = makeURLError(urlCode, detail, request.URL);
  return result;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Task

URLSessionTask::URLSessionTask(Kind kind, std::uint64_t identifier, URLRequest request)
    : kind_(kind),
      taskIdentifier_(identifier),
      originalRequest_(std::move(request)),
      d_(std::make_unique<Private>()) {
  d_->currentRequest = originalRequest_;
}

URLSessionTask::~URLSessionTask() = default;

std::string URLSessionTask::className() const {
  switch (kind_) {
    case Kind::Data:
      return "NSURLSessionDataTask";
    case Kind::Upload:
      return "NSURLSessionUploadTask";
    case Kind::Download:
      return "NSURLSessionDownloadTask";
  }
  return "NSURLSessionTask";
}

std::string URLSessionTask::description() const {
  return format("<%@: %p>{ taskIdentifier: %llu }", className(), pointerValue(this),
                static_cast<unsigned long long>(taskIdentifier_));
}

URLRequest URLSessionTask::currentRequest() const {
  std::lock_guard lock(d_->mutex);
  return d_->currentRequest;
}

std::shared_ptr<const HTTPURLResponse> URLSessionTask::response() const {
  std::lock_guard lock(d_->mutex);
  return d_->response;
}

ErrorPtr URLSessionTask::error() const {
  std::lock_guard lock(d_->mutex);
  return d_->error;
}

URLSessionTaskState URLSessionTask::state() const {
  std::lock_guard lock(d_->mutex);
  return d_->state;
}

void URLSessionTask::cancel() {
  std::shared_ptr<URLSession> session;
  {
    std::lock_guard lock(d_->mutex);
    if (d_->state == URLSessionTaskState::Completed || d_->state == URLSessionTaskState::Canceling)
      return;
    d_->cancelled = true;
    if (d_->started) {
      d_->state = URLSessionTaskState::Canceling;
      return;
    }
    // Never resumed: nothing runs that would notice, so it completes here.
    d_->state = URLSessionTaskState::Canceling;
    d_->started = true;
    session = session_.lock();
  }
  if (!session) return;
  auto self = std::static_pointer_cast<URLSessionTask>(shared_from_this());
  ErrorPtr error = makeURLError(kURLErrorCancelled, "cancelled", originalRequest_.URL);
  {
    std::lock_guard lock(d_->mutex);
    d_->error = error;
    d_->state = URLSessionTaskState::Completed;
  }
  session->delegateQueue()->async([session, self, error] {
    if (self->d_->completion) {
      self->d_->completion({}, nullptr, error);
    } else if (auto delegate = session->delegate()) {
      delegate->didCompleteWithError(*session, *self, error);
    }
    session->taskFinished(self);
  });
}

void URLSessionTask::resume() {
  std::shared_ptr<URLSession> session;
  {
    std::lock_guard lock(d_->mutex);
    if (d_->started) return;
    d_->started = true;
    d_->state = URLSessionTaskState::Running;
    session = session_.lock();
  }
  if (!session) return;
  auto self = std::static_pointer_cast<URLSessionTask>(shared_from_this());

  workerStarted(self);
  std::thread([session, self] {
    const auto& config = session->configuration();
    URLRequest request = self->currentRequest();
    double requestTimeout = request.timeoutInterval > 0 ? request.timeoutInterval
                            : config.timeoutIntervalForRequest > 0
                                ? config.timeoutIntervalForRequest
                                : 60;
    double resourceTimeout =
        config.timeoutIntervalForResource > 0 ? config.timeoutIntervalForResource : 7 * 24 * 3600;
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(
                        saturatingCast<long long>(std::min(resourceTimeout, 30.0 * 24 * 3600) * 1000));

    // The body each hop sends: the task's own, until a redirect turns the request into a GET.
    std::optional<Bytes> body = self->d_->body;
    std::filesystem::path bodyFile = self->d_->bodyFile;
    std::filesystem::path downloadPath;
    if (self->kind_ == Kind::Download) {
      std::error_code ec;
      std::filesystem::create_directories(SandboxHome::tmp(), ec);
      downloadPath =
          SandboxHome::tmp() / format("URLSessionDownload_%d_%llu.tmp", static_cast<int>(getpid()),
                                      static_cast<unsigned long long>(++gDownloadCounter));
    }

    ErrorPtr error;
    std::shared_ptr<const HTTPURLResponse> response;
    Bytes data;
    bool bodyDropped = false;
    // Credentials were given for the origin of the task's own request and go nowhere else.
    const std::string ownURL = self->originalRequest_.URL;
    // Ends the task with an error in place of the answer received so far.
    const auto failAnswer = [&](long code, const char* description, const std::string& url) {
      error = makeURLError(code, description, url);
      response.reset();
      data.clear();
    };
    for (int redirects = 0;; ++redirects) {
      // The resource timeout is for the whole transfer: each hop gets only what is left of it.
      const std::chrono::duration<double> timeLeft = deadline - std::chrono::steady_clock::now();
      if (timeLeft.count() <= 0) {
        failAnswer(kURLErrorTimedOut, "The request timed out.", request.URL);
        break;
      }
      Hop hop;
      hop.bodyDropped = bodyDropped;
      hop.crossOrigin = leavesOrigin(request.URL, ownURL);
      hop.task = self.get();
      hop.session = session.get();
      hop.taskRef = self;
      hop.sessionRef = session;
      hop.cancelled = &self->d_->cancelled;
      hop.deadline = deadline;
      if (!bodyFile.empty()) {
        hop.bodyFile = std::fopen(bodyFile.c_str(), "rb");
        if (!hop.bodyFile) {
          error = makeURLError(kURLErrorFileDoesNotExist, "The file to upload could not be read.",
                               request.URL);
          break;
        }
      } else if (body) {
        hop.body = &*body;
      } else if (!request.HTTPBody.empty()) {
        hop.body = &request.HTTPBody;
      }
      if (!downloadPath.empty()) {
        hop.downloadFile = std::fopen(downloadPath.c_str(), "wb");
        if (!hop.downloadFile) {
          error = makeURLError(kURLErrorCannotWriteToFile, "The download file could not be made.",
                               request.URL);
          if (hop.bodyFile) std::fclose(hop.bodyFile);
          break;
        }
      }
      HopResult result = performHop(hop, request, config, requestTimeout, timeLeft.count());
      if (hop.bodyFile) std::fclose(hop.bodyFile);
      if (hop.downloadFile && std::fclose(hop.downloadFile) != 0 && !result.error) {
        result.error = makeURLError(kURLErrorCannotWriteToFile,
                                    "The download file could not be written.", request.URL);
      }
      // A redirect is decided on its status line and header fields; its body matters only when
      // the redirect is not followed and so becomes the answer. A redirect whose body could not
      // be read (cut short, over the ceiling, gone silent) is therefore still followed, unless
      // the task was cancelled or is out of time; the failure stands only if it is not.
      ErrorPtr unreadRedirectBody;
      if (result.error && hop.headersComplete && isRedirectStatus(hop.status) &&
          !result.redirectURL.empty() && !self->d_->cancelled &&
          std::chrono::steady_clock::now() < deadline) {
        unreadRedirectBody = std::move(result.error);
        hop.data.clear();
      }
      if (result.error) {
        error = result.error;
        if (hop.status >= 200 && !isRedirectClass(hop.status)) {
          // The server had answered: its status and fields go with the error, so that a caller
          // can tell an answer it could not read whole from one that never came. A 3xx is no
          // verdict on the request, so none goes with it.
          Value::Dictionary info = error->userInfo();
          info[kURLErrorFailingResponseKey] =
              Value(std::make_shared<const HTTPURLResponse>(request.URL, hop.status, hop.headers));
          error = Error::make(error->domain(), error->code(), std::move(info));
        }
        break;
      }
      response = std::make_shared<HTTPURLResponse>(request.URL, hop.status, hop.headers);
      data = std::move(hop.data);
      {
        std::lock_guard lock(self->d_->mutex);
        self->d_->response = response;
      }
      if (!isRedirectStatus(hop.status) || result.redirectURL.empty()) break;
      if (redirects >= kURLSessionMaximumRedirects) {
        failAnswer(kURLErrorHTTPTooManyRedirects, "too many HTTP redirects", request.URL);
        break;
      }

      // The request a browser would make next: 303 (and 301/302 after a POST) becomes a GET
      // without a body; 307 and 308 repeat the method and body.
      URLRequest next = request;
      next.URL = result.redirectURL;
      if (leavesOrigin(next.URL, ownURL)) removeCredentialFields(next);
      bool dropBody = hop.status == 303 ? request.HTTPMethod != "HEAD"
                                        : (hop.status == 301 || hop.status == 302) &&
                                              request.HTTPMethod == "POST";
      if (dropBody) {
        next.HTTPMethod = "GET";
        next.HTTPBody.clear();
        for (const char* field : kBodyHeaderFields) next.allHTTPHeaderFields.erase(field);
      }
      auto answer = std::make_shared<Answer<std::optional<URLRequest>>>();
      if (auto delegate = session->delegate()) {
        session->delegateQueue()->async([delegate, session, self, response, next, answer] {
          delegate->willPerformHTTPRedirection(
              *session, *self, *response, next,
              [answer](std::optional<URLRequest> chosen) { answer->set(std::move(chosen)); });
        });
      } else {
        answer->set(next);
      }
      auto chosen = answer->wait(self->d_->cancelled, deadline);
      if (!chosen) {
        failAnswer(self->d_->cancelled ? kURLErrorCancelled : kURLErrorTimedOut,
                   "The redirect was not decided.", request.URL);
        break;
      }
      if (!*chosen) {
        // Not followed: the redirect response is the result, unless its body could not be read.
        if (unreadRedirectBody) {
          error = std::move(unreadRedirectBody);
          response.reset();
          data.clear();
        }
        break;
      }
      URLRequest followed = std::move(**chosen);
      // Only a redirect that is followed can take the request into the clear, to the URL the
      // server proposed or to another the delegate chose; a declined one sends nothing.
      if (isDowngrade(request.URL, followed.URL)) {
        failAnswer(kURLErrorInsecureRedirect, kInsecureRedirectRefused, request.URL);
        break;
      }
      if (dropBody || followed.HTTPMethod == "GET" || followed.HTTPMethod == "HEAD") {
        body.reset();
        bodyFile.clear();
        bodyDropped = true;
      }
      if (!followed.HTTPBody.empty()) {
        body = followed.HTTPBody;
        bodyFile.clear();
        bodyDropped = false;
      }
      request = std::move(followed);
      {
        std::lock_guard lock(self->d_->mutex);
        self->d_->currentRequest = request;
      }
    }

    // A failed task has no answer: neither a response nor a body, not even an earlier hop's.
    if (error) {
      response.reset();
      data.clear();
    }
    {
      std::lock_guard lock(self->d_->mutex);
      self->d_->error = error;
      self->d_->response = response;
      self->d_->state = URLSessionTaskState::Completed;
    }
    session->delegateQueue()->async(
        [session, self, response, error, data = std::move(data), downloadPath] {
          auto delegate = session->delegate();
          if (self->d_->completion) {
            self->d_->completion(data, response, error);
          } else {
            if (delegate && !data.empty() && self->kind_ != Kind::Download) {
              delegate->didReceiveData(*session, *self, data);
            }
            if (delegate && !error && self->kind_ == Kind::Download) {
              delegate->didFinishDownloadingToURL(*session, *self, downloadPath);
            }
            if (delegate) delegate->didCompleteWithError(*session, *self, error);
          }
          if (!downloadPath.empty()) {
            std::error_code ec;
            std::filesystem::remove(downloadPath, ec);
          }
          session->taskFinished(self);
        });
    workerFinished();
  }).detach();
}

// ---------------------------------------------------------------------------------------------
// Session

URLSession::URLSession(URLSessionConfiguration configuration,
                       std::shared_ptr<URLSessionDelegate> delegate, DispatchQueuePtr delegateQueue)
    : configuration_(std::move(configuration)),
      delegateQueue_(std::move(delegateQueue)),
      d_(std::make_unique<Private>()) {
  d_->delegate = std::move(delegate);
}

URLSession::~URLSession() = default;

std::shared_ptr<URLSession> URLSession::sessionWithConfiguration(
    URLSessionConfiguration configuration, std::shared_ptr<URLSessionDelegate> delegate,
    DispatchQueuePtr delegateQueue) {
  std::call_once(gCurlInit, [] {
    platform::crypto::keepLibraryUntilExit();
    curl_global_init(CURL_GLOBAL_DEFAULT);
  });
  if (!delegateQueue) delegateQueue = DispatchQueue::create("com.platform.URLSession.delegate");
  std::shared_ptr<URLSession> session(
      new URLSession(std::move(configuration), std::move(delegate), std::move(delegateQueue)));
  return session;
}

std::shared_ptr<URLSession> URLSession::sharedSession() {
  static auto* shared = new std::shared_ptr<URLSession>(
      sessionWithConfiguration(URLSessionConfiguration::defaultSessionConfiguration()));
  return *shared;
}

void URLSession::setDefaultTrustedCAFile(const std::filesystem::path& path) {
  std::lock_guard lock(gDefaultCAMutex);
  defaultCAFile() = path;
}

std::filesystem::path URLSession::defaultTrustedCAFile() {
  std::lock_guard lock(gDefaultCAMutex);
  return defaultCAFile();
}

std::shared_ptr<URLSessionDelegate> URLSession::delegate() const {
  std::lock_guard lock(d_->mutex);
  return d_->delegate;
}

bool URLSession::isInvalidated() const {
  std::lock_guard lock(d_->mutex);
  return d_->invalidated;
}

std::vector<URLSessionTaskPtr> URLSession::allTasks() const {
  std::lock_guard lock(d_->mutex);
  return d_->tasks;
}

URLSessionTaskPtr URLSession::makeTask(URLSessionTask::Kind kind, const URLRequest& request,
                                       std::optional<Bytes> body, std::filesystem::path bodyFile,
                                       DataTaskCompletion completion) {
  std::lock_guard lock(d_->mutex);
  if (d_->invalidated) return nullptr;
  std::shared_ptr<URLSessionTask> task(new URLSessionTask(kind, d_->nextTaskIdentifier++, request));
  task->session_ = std::static_pointer_cast<URLSession>(shared_from_this());
  task->d_->body = std::move(body);
  task->d_->bodyFile = std::move(bodyFile);
  task->d_->completion = std::move(completion);
  d_->tasks.push_back(task);
  // A running session outlives its owner's references until its tasks are done, as callers
  // often keep only a weak one.
  if (!d_->keepAlive) d_->keepAlive = std::static_pointer_cast<URLSession>(shared_from_this());
  return task;
}

URLSessionTaskPtr URLSession::dataTaskWithRequest(const URLRequest& request,
                                                  DataTaskCompletion completion) {
  // A transfer whose body lives only in memory cannot outlive the app.
  if (configuration_.isBackground() && !request.HTTPBody.empty()) return nullptr;
  return makeTask(URLSessionTask::Kind::Data, request, std::nullopt, {}, std::move(completion));
}

URLSessionTaskPtr URLSession::uploadTaskWithRequestFromData(const URLRequest& request,
                                                            const Bytes& body,
                                                            DataTaskCompletion completion) {
  if (configuration_.isBackground()) return nullptr;
  return makeTask(URLSessionTask::Kind::Upload, request, body, {}, std::move(completion));
}

URLSessionTaskPtr URLSession::uploadTaskWithRequestFromFile(const URLRequest& request,
                                                            const std::filesystem::path& file,
                                                            DataTaskCompletion completion) {
  if (file.empty()) return nullptr;
  return makeTask(URLSessionTask::Kind::Upload, request, std::nullopt, file, std::move(completion));
}

URLSessionTaskPtr URLSession::downloadTaskWithRequest(const URLRequest& request) {
  if (configuration_.isBackground() && !request.HTTPBody.empty()) return nullptr;
  return makeTask(URLSessionTask::Kind::Download, request, std::nullopt, {}, {});
}

void URLSession::finishTasksAndInvalidate() {
  bool reportNow = false;
  {
    std::lock_guard lock(d_->mutex);
    if (d_->invalidated) return;
    d_->invalidated = true;
    reportNow = d_->tasks.empty();
    if (reportNow) d_->invalidationReported = true;
  }
  if (reportNow) {
    auto self = std::static_pointer_cast<URLSession>(shared_from_this());
    delegateQueue_->async([self] {
      std::shared_ptr<URLSessionDelegate> delegate;
      {
        std::lock_guard lock(self->d_->mutex);
        delegate = std::move(self->d_->delegate);
      }
      if (delegate) delegate->didBecomeInvalidWithError(*self, nullptr);
    });
  }
}

void URLSession::invalidateAndCancel() {
  std::vector<URLSessionTaskPtr> tasks = allTasks();
  finishTasksAndInvalidate();
  for (const auto& task : tasks) task->cancel();
}

// Runs on the delegate queue after a task's last delegate call.
void URLSession::taskFinished(const URLSessionTaskPtr& task) {
  bool lastTask = false;
  bool reportInvalid = false;
  std::shared_ptr<URLSessionDelegate> delegate;
  std::shared_ptr<URLSession> keepAlive;
  {
    std::lock_guard lock(d_->mutex);
    std::erase(d_->tasks, task);
    lastTask = d_->tasks.empty();
    delegate = d_->delegate;
    if (lastTask) keepAlive = std::move(d_->keepAlive);
  }
  if (lastTask && configuration_.isBackground() && delegate) {
    delegate->didFinishEventsForBackgroundURLSession(*this);
  }
  {
    std::lock_guard lock(d_->mutex);
    reportInvalid = d_->tasks.empty() && d_->invalidated && !d_->invalidationReported;
    if (reportInvalid) {
      d_->invalidationReported = true;
      d_->delegate.reset();
    }
  }
  if (reportInvalid && delegate) delegate->didBecomeInvalidWithError(*this, nullptr);
}

}  // namespace platform
