// The legacy instance-ID identifier: derived from the legacy key pair's public key when the
// legacy property list marks that the pair was made, and deleted with the key pair when the
// default app's installation is deleted. Stateless; work runs on the global utility queue.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/base/Error.h"
#include "platform/base/Value.h"
#include "promises/PRMPromise.h"

class LMOInstallationsIIDStore {
 public:
  // Fulfils with the identifier (a non-empty string); rejects when there is none.
  PRMPromisePtr existingIID();
  // Fulfils with the null marker once the marker entry and the key items are gone.
  PRMPromisePtr deleteExistingIID();

  bool hasPlistIIDFlag();
  bool deleteIIDFlagFromPlist(platform::ErrorPtr* error);
  std::optional<platform::Bytes> IIDPublicKeyData();
  static std::string IIDWithPublicKeyData(const platform::Bytes& data);
  static platform::Bytes sha1WithData(const platform::Bytes& data);
  static std::string base64URLEncodedStringWithData(const platform::Bytes& data);
  bool deleteIID(platform::ErrorPtr* error);
  bool deleteKeychainKeyWithTagPrefix(const std::string& prefix, platform::ErrorPtr* error);
  static platform::Value::Dictionary keyPairQueryWithTag(const platform::Bytes& tag,
                                                         bool returnData);
  static std::optional<platform::Bytes> keychainKeyTagWithPrefix(const std::string& prefix);
  static std::filesystem::path plistPath();
  static std::filesystem::path supportedDirectory();
};
