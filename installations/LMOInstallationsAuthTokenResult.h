// An auth token handed to callers of the public interface: the token and its expiration date
// (seconds since 1970). Immutable.
#pragma once

#include <memory>
#include <string>

#include "platform/base/Value.h"

class LMOInstallationsAuthTokenResult : public platform::Object {
 public:
  LMOInstallationsAuthTokenResult(std::string token, double expirationDate)
      : authToken_(std::move(token)), expirationDate_(expirationDate) {}
  static std::shared_ptr<LMOInstallationsAuthTokenResult> initWithToken(const std::string& token,
                                                                        double expirationDate) {
    return std::make_shared<LMOInstallationsAuthTokenResult>(token, expirationDate);
  }
  const std::string& authToken() const { return authToken_; }
  double expirationDate() const { return expirationDate_; }
  std::string className() const override { return "LMOInstallationsAuthTokenResult"; }

 private:
  std::string authToken_;
  double expirationDate_;
};
