// The client of the installations REST service: register an installation, generate an auth token
// and delete an installation, each a promise chain that never blocks the caller. Requests are
// built on the global utility queue, completions arrive on the session's queue, parsing runs on
// the promises' default queue. The service's base URL and the CA file that anchors its trust are
// process-wide settings (tests point them at a loopback server).
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "installations/LMOInstallationsItem.h"
#include "installations/LMOInstallationsURLSessionResponse.h"
#include "platform/network/URLRequest.h"
#include "platform/network/URLSession.h"
#include "promises/PRMPromise.h"

class LMOInstallationsAPIService : public std::enable_shared_from_this<LMOInstallationsAPIService> {
 public:
  // Scheme and host (and port), no trailing slash. Read when a service is made.
  static void setServiceBaseURL(std::string baseURL);
  static std::string serviceBaseURL();
  // Empty: the session layer's default anchors.
  static void setTrustedCAFile(std::filesystem::path file);
  static std::filesystem::path trustedCAFile();

  // An ephemeral session (no cookies, cache or credentials kept) for the configured endpoint.
  static std::shared_ptr<LMOInstallationsAPIService> initWithAPIKey(const std::string& APIKey,
                                                                    const std::string& projectID);
  static std::shared_ptr<LMOInstallationsAPIService> initWithURLSession(
      std::shared_ptr<platform::URLSession> session, const std::string& APIKey,
      const std::string& projectID);

  // Fulfils with a new registered LMOInstallationsItem.
  PRMPromisePtr registerInstallation(const std::shared_ptr<LMOInstallationsItem>& installation);
  // Fulfils with a copy of the record carrying the new auth token.
  PRMPromisePtr refreshAuthTokenForInstallation(
      const std::shared_ptr<LMOInstallationsItem>& installation);
  // Fulfils with the given record once the service accepted the deletion.
  PRMPromisePtr deleteInstallation(const std::shared_ptr<LMOInstallationsItem>& installation);

  // Building blocks, in the order each chain uses them.
  PRMPromisePtr validateInstallation(const std::shared_ptr<LMOInstallationsItem>& installation);
  PRMPromisePtr registerRequestWithInstallation(const LMOInstallationsItem& installation);
  PRMPromisePtr authTokenRequestWithInstallation(const LMOInstallationsItem& installation);
  PRMPromisePtr deleteInstallationRequestWithInstallation(const LMOInstallationsItem& installation);
  // Fulfils with a platform::URLRequest boxed in a RequestBox.
  PRMPromisePtr requestWithURL(const std::string& URL, const std::string& HTTPMethod,
                               const platform::Value::Dictionary& bodyDict,
                               const std::optional<std::string>& refreshToken,
                               const platform::HTTPHeaderFields& additionalHeaders = {});
  static void setJSONHTTPBody(const platform::Value::Dictionary& body,
                              platform::URLRequest& request);
  PRMPromisePtr sendURLRequest(const platform::URLRequest& request);
  PRMPromisePtr URLRequestPromise(const platform::URLRequest& request);
  static PRMPromisePtr validateHTTPResponseStatusCode(
      const std::shared_ptr<LMOInstallationsURLSessionResponse>& response);
  static PRMPromisePtr registeredInstallationWithInstallation(
      const std::shared_ptr<LMOInstallationsItem>& installation,
      const std::shared_ptr<LMOInstallationsURLSessionResponse>& response);
  static PRMPromisePtr authTokenWithServerResponse(
      const std::shared_ptr<LMOInstallationsURLSessionResponse>& response);
  static std::string SDKVersion();

  const std::shared_ptr<platform::URLSession>& URLSession() const { return session_; }
  const std::string& APIKey() const { return APIKey_; }
  const std::string& projectID() const { return projectID_; }

  LMOInstallationsAPIService(std::shared_ptr<platform::URLSession> session, std::string APIKey,
                             std::string projectID);

 private:
  std::shared_ptr<platform::URLSession> session_;
  std::string APIKey_;
  std::string projectID_;
  std::string baseURL_;
};

// A request travelling through a promise.
class LMOInstallationsRequestBox : public platform::Object {
 public:
  explicit LMOInstallationsRequestBox(platform::URLRequest request) : request(std::move(request)) {}
  const platform::URLRequest request;
  std::string className() const override { return "NSURLRequest"; }
};
