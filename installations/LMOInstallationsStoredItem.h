// The persistent form of an installation record, kept in the keychain as a secure-coded archive
// under the record's key (app ID and name are in the key, not here). Not thread-safe: it is
// made, archived or read on one queue at a time.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "installations/LMOInstallationsStoredAuthToken.h"
#include "platform/runtime/KeyedArchiver.h"
#include "platform/runtime/Runtime.h"

class LMOInstallationsStoredItem : public platform::runtime::RootObject,
                                   public platform::SecureCoding {
 public:
  std::optional<std::string> lumoInstallationID;
  std::optional<std::string> refreshToken;
  std::shared_ptr<LMOInstallationsStoredAuthToken> authToken;
  long registrationStatus = 0;
  std::optional<std::string> IIDDefaultToken;
  long storageVersion() const { return 1; }

  std::string className() const override;
  void encodeWithCoder(platform::KeyedArchiver& coder) const override;
  static platform::ObjectPtr decode(platform::KeyedUnarchiver& coder);
};
