#include "installations/LMOInstallationsStoredAuthToken.h"

#include "core/LMOLogger.h"
#include "installations/LMOInstallationsConstants.h"

namespace {
const platform::runtime::ClassRegistrar kClass(lmoinst::kStoredAuthTokenClassName,
                                               platform::runtime::kRootClassName,
                                               sizeof(LMOInstallationsStoredAuthToken), nullptr);
const platform::ArchiveDecoderRegistrar kDecoder(lmoinst::kStoredAuthTokenClassName,
                                                 &LMOInstallationsStoredAuthToken::decode);
}  // namespace

std::optional<std::string> LMOInstallationsStoredAuthToken::token() const {
  std::lock_guard lock(mutex_);
  return token_;
}

void LMOInstallationsStoredAuthToken::setToken(std::optional<std::string> token) {
  std::lock_guard lock(mutex_);
  token_ = std::move(token);
}

std::optional<double> LMOInstallationsStoredAuthToken::expirationDate() const {
  std::lock_guard lock(mutex_);
  return expirationDate_;
}

void LMOInstallationsStoredAuthToken::setExpirationDate(std::optional<double> date) {
  std::lock_guard lock(mutex_);
  expirationDate_ = date;
}

std::shared_ptr<LMOInstallationsStoredAuthToken> LMOInstallationsStoredAuthToken::copy() const {
  auto other = std::make_shared<LMOInstallationsStoredAuthToken>();
  other->status_ = status_;
  other->token_ = token();
  other->expirationDate_ = expirationDate();
  return other;
}

std::string LMOInstallationsStoredAuthToken::className() const {
  return lmoinst::kStoredAuthTokenClassName;
}

void LMOInstallationsStoredAuthToken::encodeWithCoder(platform::KeyedArchiver& coder) const {
  coder.encodeInteger(static_cast<long>(status_), lmoinst::kKeyStatus);
  if (auto t = token()) coder.encodeString(*t, lmoinst::kKeyToken);
  if (auto d = expirationDate()) coder.encodeDate(*d, lmoinst::kKeyExpirationDate);
  coder.encodeInteger(storageVersion(), lmoinst::kKeyStorageVersion);
}

platform::ObjectPtr LMOInstallationsStoredAuthToken::decode(platform::KeyedUnarchiver& coder) {
  const long version = coder.decodeInteger(lmoinst::kKeyStorageVersion);
  if (version > lmoinst::kStorageVersion) {
    LMOLoggerLogWarning(lmoinst::kService, lmoinst::kCodeAuthTokenNewerVersion,
                        lmoinst::kAuthTokenNewerVersion, version, lmoinst::kStorageVersion);
  }
  auto token = std::make_shared<LMOInstallationsStoredAuthToken>();
  token->status_ =
      static_cast<LMOInstallationsAuthTokenStatus>(coder.decodeInteger(lmoinst::kKeyStatus));
  token->token_ = coder.decodeString(lmoinst::kKeyToken);
  token->expirationDate_ = coder.decodeDate(lmoinst::kKeyExpirationDate);
  return token;
}
