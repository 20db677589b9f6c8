// The auth token of an installation as it is kept in the keychain (a secure-coded archive).
// The token and date are guarded by the object's own lock, so readers and writers on different
// threads see whole values.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/runtime/KeyedArchiver.h"
#include "platform/runtime/Runtime.h"

enum class LMOInstallationsAuthTokenStatus : long { Unknown = 0, TokenOK = 1 };

class LMOInstallationsStoredAuthToken : public platform::runtime::RootObject,
                                        public platform::SecureCoding {
 public:
  LMOInstallationsStoredAuthToken() = default;

  LMOInstallationsAuthTokenStatus status() const { return status_; }
  void setStatus(LMOInstallationsAuthTokenStatus status) { status_ = status; }
  std::optional<std::string> token() const;
  void setToken(std::optional<std::string> token);
  // Seconds since 1970.
  std::optional<double> expirationDate() const;
  void setExpirationDate(std::optional<double> date);
  long storageVersion() const { return 1; }

  std::shared_ptr<LMOInstallationsStoredAuthToken> copy() const;

  std::string className() const override;
  void encodeWithCoder(platform::KeyedArchiver& coder) const override;
  static platform::ObjectPtr decode(platform::KeyedUnarchiver& coder);

 private:
  mutable std::mutex mutex_;
  LMOInstallationsAuthTokenStatus status_ = LMOInstallationsAuthTokenStatus::Unknown;
  std::optional<std::string> token_;
  std::optional<double> expirationDate_;
};
