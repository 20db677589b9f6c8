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
  // Fulfils with the identifier (a non-empty string); rejects when there is none, with the
  // file's error when the marker file could not be read now, and with the keychain's error when
  // the public key could not be read now.
  PRMPromisePtr existingIID();
  // Fulfils with the null marker once the marker entry and the key items are gone.
  PRMPromisePtr deleteExistingIID();

  // False, with *error set, when the marker file cannot be read now.
  bool hasPlistIIDFlag(platform::ErrorPtr* error = nullptr);
  bool deleteIIDFlagFromPlist(platform::ErrorPtr* error);
  // The public key's data; none when there is no key item, or when the keychain could not be
  // read (then *error holds its status, code 1).
  std::optional<platform::Bytes> IIDPublicKeyData(platform::ErrorPtr* error = nullptr);
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
