// The four keychain calls (copy-matching, add, update, delete) with their status codes turned
// into errors of "com.vtu.keychain.ErrorDomain". Class operations only; thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/base/Error.h"
#include "platform/base/Value.h"

class VTUKeychainUtils {
 public:
  // The item's data, or nullopt (not found, or a failure reported through *error).
  static std::optional<platform::Bytes> getItemWithQuery(const platform::Value::Dictionary& query,
                                                         platform::ErrorPtr* error);
  // Updates the item the query matches, or adds a new one.
  static bool setItem(const platform::Bytes& item, const platform::Value::Dictionary& query,
                      platform::ErrorPtr* error);
  // True when no item matches any more (also when none did).
  static bool removeItemWithQuery(const platform::Value::Dictionary& query,
                                  platform::ErrorPtr* error);
  static platform::ErrorPtr keychainErrorWithFunction(const std::string& function,
                                                      std::int32_t status);
};
