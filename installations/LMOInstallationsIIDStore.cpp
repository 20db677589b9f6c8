#include "installations/LMOInstallationsIIDStore.h"

#include "installations/LMOInstallationsConstants.h"
#include "installations/LMOInstallationsErrorUtil.h"
#include "platform/base/Bundle.h"
#include "platform/base/Files.h"
#include "platform/base/PropertyList.h"
#include "platform/base/StoreFile.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/runtime/Crypto.h"
#include "platform/runtime/Keychain.h"

using platform::Bytes;
using platform::ErrorPtr;
using platform::Value;

namespace {

platform::DispatchQueuePtr utilityQueue() {
  return platform::DispatchQueue::global(platform::QualityOfService::Utility);
}

// The legacy property list's dictionary; none when the file is not there or does not read as a
// dictionary (left as it is: it is the legacy library's file). False, with the error, when it
// cannot be read now.
bool readPlist(const std::filesystem::path& path, std::optional<Value::Dictionary>* plist,
               ErrorPtr* error) {
  plist->reset();
  ErrorPtr readError;
  const auto status = platform::StoreFile::read(
      path,
      [plist](std::string_view bytes) {
        Value value = platform::parsePropertyList(bytes);
        if (!value.dictionary()) return false;
        *plist = *value.dictionary();
        return true;
      },
      lmoinst::kService, &readError, platform::StoreFile::Damaged::Keep);
  if (status != platform::StoreFile::Status::Unreadable) return true;
  LMOInstallationsAssignErrorPointer(readError, error);
  return false;
}

}  // namespace

PRMPromisePtr LMOInstallationsIIDStore::existingIID() {
  return PRMPromise::onQueueDo(utilityQueue(),
                               [store = *this]() mutable -> Value {
                                 ErrorPtr error;
                                 // A marker file that cannot be read now is not the same as none.
                                 if (!store.hasPlistIIDFlag(&error)) {
                                   return error ? Value(error) : Value();
                                 }
                                 auto keyData = store.IIDPublicKeyData(&error);
                                 // A key that is there but cannot be read now is not the same as
                                 // none: the caller must not give the legacy identity up for it.
                                 if (error) return Value(error);
                                 // Without the public key there is nothing to derive from: no
                                 // legacy identifier.
                                 if (!keyData || keyData->empty()) return Value();
                                 return Value(IIDWithPublicKeyData(*keyData));
                               })
      ->validate([](const Value& value) { return value.string() && !value.string()->empty(); });
}

PRMPromisePtr LMOInstallationsIIDStore::deleteExistingIID() {
  return PRMPromise::onQueueDo(utilityQueue(), [store = *this]() mutable -> Value {
    ErrorPtr error;
    if (!store.deleteIIDFlagFromPlist(&error)) {
      return Value(error ? error
                         : LMOInstallationsErrorUtil::installationsErrorWithCode(
                               lmoinst::kErrorCodeUnknown, std::nullopt, nullptr));
    }
    if (!store.deleteIID(&error)) return Value(error);
    return Value::null();
  });
}

bool LMOInstallationsIIDStore::hasPlistIIDFlag(ErrorPtr* error) {
  LMOInstallationsAssignErrorPointer(nullptr, error);
  std::optional<Value::Dictionary> plist;
  if (!readPlist(plistPath(), &plist, error)) return false;
  return plist && plist->count(lmoinst::kIIDPlistMarkerKey) > 0;
}

bool LMOInstallationsIIDStore::deleteIIDFlagFromPlist(ErrorPtr* error) {
  const auto path = plistPath();
  std::optional<Value::Dictionary> plist;
  // A file that cannot be read now may hold the marker: the deletion fails and is tried again.
  if (!readPlist(path, &plist, error)) return false;
  // No file, or one that does not read as a dictionary, holds no marker (hasPlistIIDFlag says so
  // too), so there is nothing to remove; it is left as it is and the key items go next.
  if (!plist) return true;
  if (!plist->erase(lmoinst::kIIDPlistMarkerKey)) return true;
  auto bytes =
      platform::serializePropertyList(Value(*plist), platform::PropertyListFormat::Xml, error);
  if (!bytes) return false;
  return platform::files::writeAtomically(path, *bytes, error);
}

std::optional<Bytes> LMOInstallationsIIDStore::IIDPublicKeyData(ErrorPtr* error) {
  LMOInstallationsAssignErrorPointer(nullptr, error);
  auto tag = keychainKeyTagWithPrefix(lmoinst::kIIDPublicKeyTagPrefix);
  if (!tag) return std::nullopt;
  Value result;
  const auto status =
      platform::Keychain::shared().copyMatching(keyPairQueryWithTag(*tag, true), &result);
  if (status == platform::errSecItemNotFound) return std::nullopt;
  if (status != platform::errSecSuccess) {
    LMOInstallationsAssignErrorPointer(LMOInstallationsErrorUtil::keychainErrorWithFunction(
                                           lmoinst::kSecItemCopyMatchingFunction, status),
                                       error);
    return std::nullopt;
  }
  if (!result.bytes()) return std::nullopt;
  return *result.bytes();
}

std::string LMOInstallationsIIDStore::IIDWithPublicKeyData(const Bytes& data) {
  Bytes digest = sha1WithData(data);
  digest[0] = static_cast<std::uint8_t>(0x70 | (digest[0] & 0x0F));
  digest.resize(8);
  std::string text = base64URLEncodedStringWithData(digest);
  std::erase(text, '=');
  return text;
}

Bytes LMOInstallationsIIDStore::sha1WithData(const Bytes& data) {
  return platform::crypto::sha1(data);
}

std::string LMOInstallationsIIDStore::base64URLEncodedStringWithData(const Bytes& data) {
  std::string text = platform::crypto::base64Encode(data);
  for (char& c : text) {
    if (c == '/') c = '_';
    if (c == '+') c = '-';
  }
  return text;
}

bool LMOInstallationsIIDStore::deleteIID(ErrorPtr* error) {
  if (!deleteKeychainKeyWithTagPrefix(lmoinst::kIIDPublicKeyTagPrefix, error)) return false;
  return deleteKeychainKeyWithTagPrefix(lmoinst::kIIDPrivateKeyTagPrefix, error);
}

bool LMOInstallationsIIDStore::deleteKeychainKeyWithTagPrefix(const std::string& prefix,
                                                              ErrorPtr* error) {
  auto tag = keychainKeyTagWithPrefix(prefix);
  // Without a bundle identifier no legacy key can have been made for this app.
  if (!tag) return true;
  const auto status = platform::Keychain::shared().deleteItems(keyPairQueryWithTag(*tag, false));
  if (status == platform::errSecSuccess || status == platform::errSecItemNotFound) return true;
  LMOInstallationsAssignErrorPointer(
      LMOInstallationsErrorUtil::keychainErrorWithFunction(lmoinst::kSecItemDeleteFunction, status),
      error);
  return false;
}

Value::Dictionary LMOInstallationsIIDStore::keyPairQueryWithTag(const Bytes& tag, bool returnData) {
  Value::Dictionary query{
      {platform::kSecClass, Value(platform::kSecClassKey)},
      {platform::kSecAttrApplicationTag, Value::data(tag)},
      {platform::kSecAttrKeyType, Value(platform::kSecAttrKeyTypeRSA)},
  };
  if (returnData) query[platform::kSecReturnData] = Value(true);
  return query;
}

std::optional<Bytes> LMOInstallationsIIDStore::keychainKeyTagWithPrefix(const std::string& prefix) {
  const std::string bundleID = platform::Bundle::mainBundle()->bundleIdentifier();
  if (bundleID.empty()) return std::nullopt;
  const std::string tag = prefix + bundleID;
  return Bytes(tag.begin(), tag.end());
}

std::filesystem::path LMOInstallationsIIDStore::plistPath() {
  return supportedDirectory() / lmoinst::kIIDPlistDirectory / lmoinst::kIIDPlistName;
}

std::filesystem::path LMOInstallationsIIDStore::supportedDirectory() {
  return platform::SandboxHome::applicationSupport();
}
