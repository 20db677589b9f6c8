// Reads the legacy instance-ID default token: a keychain generic-password item holding an
// archived legacy token record. Work runs on the global utility queue.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/base/Error.h"
#include "platform/base/Value.h"
#include "platform/runtime/KeyedArchiver.h"
#include "platform/runtime/Runtime.h"
#include "promises/PRMPromise.h"

// The class the legacy token record decodes into; only ever decoded.
class LMOInstallationsIIDTokenInfo : public platform::runtime::RootObject,
                                     public platform::SecureCoding {
 public:
  std::optional<std::string> token;
  std::string className() const override;
  void encodeWithCoder(platform::KeyedArchiver& coder) const override;
  static platform::ObjectPtr decode(platform::KeyedUnarchiver& coder);
};

class LMOInstallationsIIDTokenStore {
 public:
  explicit LMOInstallationsIIDTokenStore(std::optional<std::string> VCMSenderID)
      : VCMSenderID_(std::move(VCMSenderID)) {}

  // Fulfils with the token (a non-empty string); rejects when there is none or it is unreadable.
  PRMPromisePtr existingIIDDefaultToken();

  PRMPromisePtr IIDDefaultTokenData();
  static PRMPromisePtr IIDCheckinWithData(const platform::Bytes& data);
  platform::Value::Dictionary IIDDefaultTokenDataKeychainQuery() const;
  static std::string IIDAppIdentifier();
  static std::string serviceKeyForAuthorizedEntity(const std::string& entity,
                                                   const std::string& scope);
  const std::optional<std::string>& VCMSenderID() const { return VCMSenderID_; }

 private:
  std::optional<std::string> VCMSenderID_;
};
