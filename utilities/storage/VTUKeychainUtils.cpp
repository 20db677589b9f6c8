#include "utilities/storage/VTUKeychainUtils.h"

#include "platform/base/Format.h"
#include "platform/runtime/Keychain.h"
#include "utilities/VTUConstants.h"

using platform::Value;

std::optional<platform::Bytes> VTUKeychainUtils::getItemWithQuery(
    const Value::Dictionary& query, platform::ErrorPtr* error) {
  Value::Dictionary lookup = query;
  lookup[platform::kSecReturnData] = true;
  lookup[platform::kSecMatchLimit] = platform::kSecMatchLimitOne;
  Value result;
  const platform::OSStatus status = platform::Keychain::shared().copyMatching(lookup, &result);
  if (status == platform::errSecSuccess && result.bytes()) {
    platform::setError(error, nullptr);
    return *result.bytes();
  }
  if (status == platform::errSecItemNotFound) {
    platform::setError(error, nullptr);
    return std::nullopt;
  }
  platform::setError(error, keychainErrorWithFunction(vtu::kSecItemCopyMatching, status));
  return std::nullopt;
}

bool VTUKeychainUtils::setItem(const platform::Bytes& item, const Value::Dictionary& query,
                               platform::ErrorPtr* error) {
  // The lookup's error is needed to stop here even when the caller asked for none.
  platform::ErrorPtr lookupError;
  const auto existing = getItemWithQuery(query, &lookupError);
  if (lookupError) {
    platform::setError(error, lookupError);
    return false;
  }

  platform::OSStatus status;
  const char* function;
  if (existing) {
    // The item keeps the accessibility it was created with: only its data changes.
    function = vtu::kSecItemUpdate;
    status = platform::Keychain::shared().update(query, {{platform::kSecValueData, Value::data(item)}});
  } else {
    function = vtu::kSecItemAdd;
    Value::Dictionary attributes = query;
    attributes[platform::kSecAttrAccessible] =
        platform::kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly;
    attributes[platform::kSecValueData] = Value::data(item);
    status = platform::Keychain::shared().add(attributes);
  }
  if (status == platform::errSecSuccess) {
    platform::setError(error, nullptr);
    return true;
  }
  platform::setError(error, keychainErrorWithFunction(function, status));
  return false;
}

bool VTUKeychainUtils::removeItemWithQuery(const Value::Dictionary& query,
                                           platform::ErrorPtr* error) {
  const platform::OSStatus status = platform::Keychain::shared().deleteItems(query);
  if (status == platform::errSecSuccess || status == platform::errSecItemNotFound) {
    platform::setError(error, nullptr);
    return true;
  }
  platform::setError(error, keychainErrorWithFunction(vtu::kSecItemDelete, status));
  return false;
}

platform::ErrorPtr VTUKeychainUtils::keychainErrorWithFunction(const std::string& function,
                                                               std::int32_t status) {
  return platform::Error::make(
      vtu::kKeychainErrorDomain, 0,
      {{platform::kLocalizedFailureReasonKey,
        platform::format(vtu::kKeychainErrorReasonFormat, function, static_cast<long>(status))}});
}
