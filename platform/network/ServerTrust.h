// The certificate chain a TLS server presented, with the host it was asked for and the CA file
// that anchors it, and its evaluation: chain verification against the anchors plus a host-name
// (or IP address) match. Credentials made for a trust tell a session to accept that server.
// Immutable; evaluation may run on any thread.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/Value.h"

namespace platform {

// Results of evaluateServerTrust, with the platform's numbering.
enum class ServerTrustResult {
  Invalid = 0,
  Proceed = 1,
  Deny = 3,
  Unspecified = 4,
  RecoverableTrustFailure = 5,
  FatalTrustFailure = 6,
  OtherError = 7,
};

class ServerTrust : public Object {
 public:
  // `certificatesDER`: the leaf first. An empty anchors file means OpenSSL's default paths.
  ServerTrust(std::string host, std::vector<Bytes> certificatesDER,
              std::filesystem::path anchorsFile);

  std::string className() const override { return "SecTrust"; }
  const std::string& host() const { return host_; }
  const std::vector<Bytes>& certificates() const { return certificates_; }
  const std::filesystem::path& anchorsFile() const { return anchorsFile_; }

 private:
  std::string host_;
  std::vector<Bytes> certificates_;
  std::filesystem::path anchorsFile_;
};
using ServerTrustPtr = std::shared_ptr<const ServerTrust>;

// Status codes of evaluateServerTrust.
inline constexpr int kServerTrustStatusSuccess = 0;
inline constexpr int kServerTrustStatusParam = -50;       // null trust or result
inline constexpr int kServerTrustStatusDecode = -26275;   // a certificate did not parse
inline constexpr int kServerTrustStatusAnchors = -25300;  // the anchors file could not be read

// Writes Unspecified when the chain leads to an anchor and names the host (the user set no
// trust of their own, so "proceed" is never given), RecoverableTrustFailure when it does not.
// Returns a status; on a status other than success the result is not written.
int evaluateServerTrust(const ServerTrustPtr& trust, ServerTrustResult* result);

class URLCredential : public Object {
 public:
  // Null for a null trust.
  static std::shared_ptr<URLCredential> credentialForTrust(ServerTrustPtr trust);
  explicit URLCredential(ServerTrustPtr trust) : trust_(std::move(trust)) {}
  std::string className() const override { return "NSURLCredential"; }
  const ServerTrustPtr& serverTrust() const { return trust_; }

 private:
  ServerTrustPtr trust_;
};

}  // namespace platform
