#include "installations/LMOInstallationsAPIService.h"

#include <mutex>

#include "core/LMOApp.h"
#include "core/LMOHeartbeatInfo.h"
#include "core/LMOLogger.h"
#include "installations/LMOInstallationsConstants.h"
#include "installations/LMOInstallationsErrorUtil.h"
#include "installations/LMOInstallationsHTTPError.h"
#include "installations/LMOInstallationsLoggable.h"
#include "platform/base/Bundle.h"
#include "platform/base/Format.h"
#include "platform/base/PropertyList.h"
#include "platform/dispatch/Clock.h"

using platform::Bytes;
using platform::ErrorPtr;
using platform::Value;

namespace {

// A debug line's body text is built only when the line will be written: a body may be as large
// as the session keeps in memory, and copying, checking and scanning it costs.
bool debugLinesWanted() { return lmo::detail::loggerWouldLog(kVTULoggerLevelDebug); }

struct Endpoint {
  std::mutex mutex;
  std::string baseURL = lmoinst::kDefaultBaseURL;
  std::filesystem::path caFile;
};

Endpoint& endpoint() {
  static auto* e = new Endpoint();
  return *e;
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
           if (debugLinesWanted()) {
             LMOLoggerLogDebug(lmoinst::kService, lmoinst::kCodeSendingRequest,
                               lmoinst::kSendingRequest, request.URL,
                               LMOInstallationsLoggableBody(request.HTTPBody),
                               LMOInstallationsLoggableHeaderValues(request.allHTTPHeaderFields));
           }
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
                 if (debugLinesWanted()) {
                   LMOLoggerLogDebug(lmoinst::kService, lmoinst::kCodeResponseReceived,
                                     lmoinst::kResponseReceived, request.URL, Value(),
                                     LMOInstallationsLoggableBody(data));
                 }
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
  if (debugLinesWanted()) {
    LMOLoggerLogDebug(lmoinst::kService, lmoinst::kCodeUnexpectedResponse,
                      lmoinst::kUnexpectedResponse, Value(response->HTTPResponse()),
                      LMOInstallationsLoggableBody(response->data()));
  }
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
