#include "installations/LMOInstallationsAPIService.h"

#include <mutex>

#include <nlohmann/json.hpp>

#include "core/LMOApp.h"
#include "core/LMOHeartbeatInfo.h"
#include "core/LMOLogger.h"
#include "installations/LMOInstallationsConstants.h"
#include "installations/LMOInstallationsErrorUtil.h"
#include "installations/LMOInstallationsHTTPError.h"
#include "platform/base/Bundle.h"
#include "platform/base/Format.h"
#include "platform/base/PropertyList.h"
#include "platform/dispatch/Clock.h"

using platform::Bytes;
using platform::ErrorPtr;
using platform::Value;

namespace {

struct Endpoint {
  std::mutex mutex;
  std::string baseURL = lmoinst::kDefaultBaseURL;
  std::filesystem::path caFile;
};

Endpoint& endpoint() {
  static auto* e = new Endpoint();
  return *e;
}

Value utf8Text(const Bytes& data) {
  std::string text(data.begin(), data.end());
  Value value(text);
  if (!value.string() || *value.string() != text) return Value();
  return value;
}

// Debug lines show that a secret was there, never the secret: at most its first characters.
std::string redactedSecret(std::string_view secret) {
  constexpr std::size_t kShownPrefix = 4;
  // A short secret shows nothing at all: its prefix would be most of it.
  const std::size_t shown = secret.size() >= 4 * kShownPrefix ? kShownPrefix : 0;
  return std::string(secret.substr(0, shown)) + lmoinst::kRedacted;
}

bool sameHeaderName(const std::string& a, const char* b) {
  const platform::CaseInsensitiveLess less;
  return !less(a, b) && !less(b, a);
}

// The header fields of a request for a debug line: the API key, the refresh token (behind its
// scheme in Authorization) and the legacy migration token are redacted.
Value loggableHeaderValues(const platform::HTTPHeaderFields& fields) {
  Value::Dictionary dict;
  for (const auto& [name, value] : fields) {
    std::string shown = value;
    if (sameHeaderName(name, lmoinst::kHeaderAPIKey) ||
        sameHeaderName(name, lmoinst::kHeaderIIDMigration)) {
      shown = redactedSecret(value);
    } else if (sameHeaderName(name, lmoinst::kHeaderAuthorization)) {
      const std::size_t blank = value.find(' ');
      shown = blank == std::string::npos
                  ? redactedSecret(value)
                  : value.substr(0, blank + 1) + redactedSecret(value.substr(blank + 1));
    }
    dict[name] = Value(shown);
  }
  return Value(std::move(dict));
}

// The end of the JSON string whose opening quote is at `open` (the index of its closing quote),
// or npos when the text ends first.
std::size_t endOfJSONString(std::string_view text, std::size_t open) {
  for (std::size_t i = open + 1; i < text.size(); ++i) {
    if (text[i] == '\\') {
      ++i;
    } else if (text[i] == '"') {
      return i;
    }
  }
  return std::string_view::npos;
}

std::size_t skipBlanks(std::string_view text, std::size_t i) {
  while (i < text.size() &&
         (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) {
    ++i;
  }
  return i;
}

// Whether a quoted member name (quotes included) names a token member. The name is compared as
// the parser reads it, escapes decoded, so that "\u0074oken" is known for "token" too.
bool isTokenMemberName(std::string_view quoted) {
  std::string name(quoted.substr(1, quoted.size() - 2));
  if (name.find('\\') != std::string::npos) {
    const auto decoded = nlohmann::json::parse(quoted, nullptr, /*allow_exceptions=*/false);
    if (!decoded.is_string()) return false;
    name = decoded.get<std::string>();
  }
  return name == lmoinst::kKeyRefreshToken || name == lmoinst::kKeyToken;
}

// A body for a debug line: the string values of the token members ("refreshToken", "token", at
// any depth) are redacted. A scan rather than a parse, so that a body that is not valid JSON is
// redacted too; everything else stays as it was sent.
std::string redactedBody(std::string_view text) {
  std::string out;
  std::size_t copied = 0;
  std::size_t i = 0;
  while ((i = text.find('"', i)) != std::string_view::npos) {
    const std::size_t keyEnd = endOfJSONString(text, i);
    if (keyEnd == std::string_view::npos) break;
    std::size_t next = keyEnd + 1;
    const std::size_t colon = skipBlanks(text, next);
    if (colon < text.size() && text[colon] == ':' &&
        isTokenMemberName(text.substr(i, keyEnd + 1 - i))) {
      const std::size_t open = skipBlanks(text, colon + 1);
      if (open < text.size() && text[open] == '"') {
        std::size_t close = endOfJSONString(text, open);
        if (close == std::string_view::npos) close = text.size();
        out.append(text.substr(copied, open + 1 - copied));
        out.append(redactedSecret(text.substr(open + 1, close - open - 1)));
        copied = close;
        next = close + 1;
      }
    }
    i = next;
  }
  if (copied < text.size()) out.append(text.substr(copied));
  return out;
}

Value loggableBody(const Bytes& data) {
  Value text = utf8Text(data);
  if (!text.string()) return text;
  return Value(redactedBody(*text.string()));
}

// One segment of a request path: every byte but the unreserved characters is percent-escaped,
// so that an identifier holding "/", "?" or "#" cannot change which resource is asked for, and
// a segment of dots alone cannot climb the path.
std::string pathSegment(std::string_view segment) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const bool onlyDots =
      !segment.empty() && segment.find_first_not_of('.') == std::string_view::npos;
  std::string out;
  for (unsigned char c : segment) {
    const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                            (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '~' ||
                            (c == '.' && !onlyDots);
    if (unreserved) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0x0F]);
    }
  }
  return out;
}

std::shared_ptr<LMOInstallationsURLSessionResponse> responseOf(const Value& value) {
  return value.objectAs<LMOInstallationsURLSessionResponse>();
}

}  // namespace

void LMOInstallationsAPIService::setServiceBaseURL(std::string baseURL) {
  std::lock_guard lock(endpoint().mutex);
  endpoint().baseURL = std::move(baseURL);
}

std::string LMOInstallationsAPIService::serviceBaseURL() {
  std::lock_guard lock(endpoint().mutex);
  return endpoint().baseURL;
}

void LMOInstallationsAPIService::setTrustedCAFile(std::filesystem::path file) {
  std::lock_guard lock(endpoint().mutex);
  endpoint().caFile = std::move(file);
}

std::filesystem::path LMOInstallationsAPIService::trustedCAFile() {
  std::lock_guard lock(endpoint().mutex);
  return endpoint().caFile;
}

LMOInstallationsAPIService::LMOInstallationsAPIService(
    std::shared_ptr<platform::URLSession> session, std::string APIKey, std::string projectID)
    : session_(std::move(session)),
      APIKey_(std::move(APIKey)),
      projectID_(std::move(projectID)),
      baseURL_(serviceBaseURL()) {}

std::shared_ptr<LMOInstallationsAPIService> LMOInstallationsAPIService::initWithAPIKey(
    const std::string& APIKey, const std::string& projectID) {
  auto configuration = platform::URLSessionConfiguration::defaultSessionConfiguration();
  configuration.URLCacheEnabled = false;
  configuration.requestCachePolicy = platform::URLRequestCachePolicy::ReloadIgnoringLocalCacheData;
  configuration.trustedCAFile = trustedCAFile();
  return initWithURLSession(platform::URLSession::sessionWithConfiguration(configuration), APIKey,
                            projectID);
}

std::shared_ptr<LMOInstallationsAPIService> LMOInstallationsAPIService::initWithURLSession(
    std::shared_ptr<platform::URLSession> session, const std::string& APIKey,
    const std::string& projectID) {
  return std::make_shared<LMOInstallationsAPIService>(std::move(session), APIKey, projectID);
}

std::string LMOInstallationsAPIService::SDKVersion() {
  return platform::format(lmoinst::kSDKVersionFormat, LMOCoreSDKVersion());
}

PRMPromisePtr LMOInstallationsAPIService::registerInstallation(
    const std::shared_ptr<LMOInstallationsItem>& installation) {
  auto self = shared_from_this();
  return validateInstallation(installation)
      ->then([self, installation](const Value&) -> Value {
        return Value(self->registerRequestWithInstallation(*installation));
      })
      ->then([self](const Value& box) -> Value {
        return Value(self->sendURLRequest(box.objectAs<LMOInstallationsRequestBox>()->request));
      })
      ->then([installation](const Value& response) -> Value {
        return Value(registeredInstallationWithInstallation(installation, responseOf(response)));
      });
}

PRMPromisePtr LMOInstallationsAPIService::refreshAuthTokenForInstallation(
    const std::shared_ptr<LMOInstallationsItem>& installation) {
  auto self = shared_from_this();
  return authTokenRequestWithInstallation(*installation)
      ->then([self](const Value& box) -> Value {
        return Value(self->sendURLRequest(box.objectAs<LMOInstallationsRequestBox>()->request));
      })
      ->then([](const Value& response) -> Value {
        return Value(authTokenWithServerResponse(responseOf(response)));
      })
      ->then([installation](const Value& token) -> Value {
        auto updated = installation->copy();
        updated->authToken = token.objectAs<LMOInstallationsStoredAuthToken>();
        return Value(updated);
      });
}

PRMPromisePtr LMOInstallationsAPIService::deleteInstallation(
    const std::shared_ptr<LMOInstallationsItem>& installation) {
  auto self = shared_from_this();
  return deleteInstallationRequestWithInstallation(*installation)
      ->then([self](const Value& box) -> Value {
        return Value(self->sendURLRequest(box.objectAs<LMOInstallationsRequestBox>()->request));
      })
      ->then([installation](const Value&) -> Value { return Value(installation); });
}

PRMPromisePtr LMOInstallationsAPIService::validateInstallation(
    const std::shared_ptr<LMOInstallationsItem>& installation) {
  ErrorPtr error;
  if (!installation->isValid(&error))
    return LMOInstallationsErrorUtil::rejectedPromiseWithError(error);
  return PRMPromise::resolvedWith(Value(installation));
}

PRMPromisePtr LMOInstallationsAPIService::registerRequestWithInstallation(
    const LMOInstallationsItem& installation) {
  const std::string url =
      platform::format(lmoinst::kRegisterPathFormat, baseURL_, pathSegment(projectID_));
  Value::Dictionary body{
      {"fid", Value(installation.lumoInstallationID.value_or(""))},
      {"authVersion", Value(lmoinst::kAuthVersion)},
      {"appId", Value(installation.appID())},
      {"sdkVersion", Value(SDKVersion())},
  };
  platform::HTTPHeaderFields headers;
  if (installation.IIDDefaultToken)
    headers[lmoinst::kHeaderIIDMigration] = *installation.IIDDefaultToken;
  return requestWithURL(url, "POST", body, std::nullopt, headers);
}

PRMPromisePtr LMOInstallationsAPIService::authTokenRequestWithInstallation(
    const LMOInstallationsItem& installation) {
  const std::string url =
      platform::format(lmoinst::kAuthTokenPathFormat, baseURL_, pathSegment(projectID_),
                       pathSegment(installation.lumoInstallationID.value_or("")));
  Value::Dictionary body{
      {"installation", Value(Value::Dictionary{{"sdkVersion", Value(SDKVersion())}})}};
  return requestWithURL(url, "POST", body, installation.refreshToken);
}

PRMPromisePtr LMOInstallationsAPIService::deleteInstallationRequestWithInstallation(
    const LMOInstallationsItem& installation) {
  const std::string url =
      platform::format(lmoinst::kDeletePathFormat, baseURL_, pathSegment(projectID_),
                       pathSegment(installation.lumoInstallationID.value_or("")));
  return requestWithURL(url, "DELETE", {}, installation.refreshToken);
}

PRMPromisePtr LMOInstallationsAPIService::requestWithURL(
    const std::string& URL, const std::string& HTTPMethod, const Value::Dictionary& bodyDict,
    const std::optional<std::string>& refreshToken,
    const platform::HTTPHeaderFields& additionalHeaders) {
  const std::string APIKey = APIKey_;
  return PRMPromise::onQueueDo(
      platform::DispatchQueue::global(platform::QualityOfService::Utility), [=]() -> Value {
        platform::URLRequest request(URL);
        request.HTTPMethod = HTTPMethod;
        request.setValueForHTTPHeaderField(APIKey, lmoinst::kHeaderAPIKey);
        request.setValueForHTTPHeaderField(platform::Bundle::mainBundle()->bundleIdentifier(),
                                           lmoinst::kHeaderBundleID);
        setJSONHTTPBody(bodyDict, request);
        if (refreshToken) {
          request.setValueForHTTPHeaderField(
              platform::format(lmoinst::kAuthorizationFormat, *refreshToken),
              lmoinst::kHeaderAuthorization);
        }
        request.setValueForHTTPHeaderField(LMOApp::lumoUserAgent(), lmoinst::kHeaderUserAgent);
        request.setValueForHTTPHeaderField(
            std::to_string(
                static_cast<long>(LMOHeartbeatInfo::heartbeatCodeForTag(lmoinst::kHeartbeatTag))),
            lmoinst::kHeaderHeartbeat);
        for (const auto& [name, value] : additionalHeaders) {
          request.setValueForHTTPHeaderField(value, name);
        }
        return Value(std::make_shared<LMOInstallationsRequestBox>(std::move(request)));
      });
}

void LMOInstallationsAPIService::setJSONHTTPBody(const Value::Dictionary& body,
                                                 platform::URLRequest& request) {
  request.setValueForHTTPHeaderField(lmoinst::kContentTypeJSON, lmoinst::kHeaderContentType);
  // A body that cannot be serialised leaves the request without one; it is still sent.
  auto json = platform::serializeJson(Value(body));
  if (json) request.HTTPBody = Bytes(json->begin(), json->end());
}

PRMPromisePtr LMOInstallationsAPIService::sendURLRequest(const platform::URLRequest& request) {
  auto self = shared_from_this();
  return URLRequestPromise(request)->recover([self, request](const ErrorPtr& error) -> Value {
    if (!LMOInstallationsErrorUtil::isAPIError(error, 500)) return Value(error);
    return Value(PRMPromise::resolvedWith(Value::null())
                     ->delay(1)
                     ->then([self, request](const Value&) -> Value {
                       return Value(self->URLRequestPromise(request));
                     }));
  });
}

PRMPromisePtr LMOInstallationsAPIService::URLRequestPromise(const platform::URLRequest& request) {
  auto session = session_;
  return PRMPromise::async([session, request](PRMPromise::FulfillBlock fulfill,
                                              PRMPromise::RejectBlock reject) {
           LMOLoggerLogDebug(lmoinst::kService, lmoinst::kCodeSendingRequest,
                             lmoinst::kSendingRequest, request.URL, loggableBody(request.HTTPBody),
                             loggableHeaderValues(request.allHTTPHeaderFields));
           auto task = session->dataTaskWithRequest(
               request,
               [request, fulfill, reject](const Bytes& data,
                                          std::shared_ptr<const platform::HTTPURLResponse> response,
                                          ErrorPtr error) {
                 if (error || !response) {
                   if (!error) {
                     error = platform::Error::make(platform::kURLErrorDomain,
                                                   platform::kURLErrorBadServerResponse);
                   }
                   LMOLoggerLogDebug(lmoinst::kService, lmoinst::kCodeRequestFailed,
                                     lmoinst::kRequestFailed, request.URL, Value(error));
                   reject(error);
                   return;
                 }
                 LMOLoggerLogDebug(lmoinst::kService, lmoinst::kCodeResponseReceived,
                                   lmoinst::kResponseReceived, request.URL, Value(),
                                   loggableBody(data));
                 fulfill(
                     Value(std::make_shared<LMOInstallationsURLSessionResponse>(response, data)));
               });
           if (!task) {
             reject(platform::Error::make(platform::kURLErrorDomain, platform::kURLErrorUnknown));
             return;
           }
           task->resume();
         })
      ->then([](const Value& response) -> Value {
        return Value(validateHTTPResponseStatusCode(responseOf(response)));
      });
}

PRMPromisePtr LMOInstallationsAPIService::validateHTTPResponseStatusCode(
    const std::shared_ptr<LMOInstallationsURLSessionResponse>& response) {
  const long status = response->HTTPResponse()->statusCode();
  if (status >= 200 && status <= 299) return PRMPromise::resolvedWith(Value(response));
  LMOLoggerLogDebug(lmoinst::kService, lmoinst::kCodeUnexpectedResponse,
                    lmoinst::kUnexpectedResponse, Value(response->HTTPResponse()),
                    loggableBody(response->data()));
  return LMOInstallationsErrorUtil::rejectedPromiseWithError(
      LMOInstallationsErrorUtil::APIErrorWithHTTPResponse(response->HTTPResponse(),
                                                          response->data()));
}

PRMPromisePtr LMOInstallationsAPIService::registeredInstallationWithInstallation(
    const std::shared_ptr<LMOInstallationsItem>& installation,
    const std::shared_ptr<LMOInstallationsURLSessionResponse>& response) {
  return PRMPromise::doWork([installation, response]() -> Value {
    LMOLoggerLogDebug(lmoinst::kService, lmoinst::kCodeParsing, lmoinst::kParsing,
                      response->HTTPResponse()->URL());
    ErrorPtr error;
    auto registered = installation->registeredInstallationWithJSONData(
        response->data(), platform::Clock::current().now(), &error);
    if (!registered) {
      LMOLoggerLogDebug(lmoinst::kService, lmoinst::kCodeItemParseFailed, lmoinst::kItemParseFailed,
                        Value(error));
      return Value(error);
    }
    LMOLoggerLogDebug(lmoinst::kService, lmoinst::kCodeItemParsed, lmoinst::kItemParsed);
    return Value(registered);
  });
}

PRMPromisePtr LMOInstallationsAPIService::authTokenWithServerResponse(
    const std::shared_ptr<LMOInstallationsURLSessionResponse>& response) {
  return PRMPromise::doWork([response]() -> Value {
    LMOLoggerLogDebug(lmoinst::kService, lmoinst::kCodeParsing, lmoinst::kParsing,
                      response->HTTPResponse()->URL());
    ErrorPtr error;
    auto token = LMOInstallationsItem::authTokenWithGenerateTokenAPIJSONData(
        response->data(), platform::Clock::current().now(), &error);
    if (!token) {
      LMOLoggerLogDebug(lmoinst::kService, lmoinst::kCodeTokenParseFailed,
                        lmoinst::kTokenParseFailed, Value(error));
      return Value(error);
    }
    LMOLoggerLogDebug(lmoinst::kService, lmoinst::kCodeTokenParsed, lmoinst::kTokenParsed);
    return Value(token);
  });
}
