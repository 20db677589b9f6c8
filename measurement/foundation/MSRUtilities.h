// Small services of the measurement engine: secure random numbers, MD5 digests and their 64-bit
// forms, URL query strings, UTF-32 measurement of strings, and file and defaults-suite moves.
// Free of shared state; any thread. Callers serialize file operations on one suite.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/base/Error.h"
#include "platform/base/Value.h"

class MSRNumericUtil {
 public:
  // From the system's secure source; 0 (logged 26004) when it fails.
  static std::int64_t randomInt64();
};

// Data.
platform::Bytes msr_MD5Data(const platform::Bytes& data);
std::int64_t msr_64LeastSignificantBits(const platform::Bytes& data);
std::int64_t msr_64LSBMD5(const platform::Bytes& data);

// Strings. msr_MD5String is nullopt for text that is not valid UTF-8.
std::optional<std::string> msr_MD5String(const std::string& string);
std::optional<std::string> msr_stringByUnescapingFromURLArgument(const std::string& string);
std::size_t msr_UTF32Length(const std::string& string);
// Whole characters only, at most maxBytes bytes, UTF-32 little-endian, no terminator.
void msr_getUTF32Bytes(const std::string& string, void* buffer, std::size_t maxBytes);

// Dictionaries: "key=value&..." in key order, each side percent-encoded outside the query set.
std::string msr_queryString(const platform::Value::Dictionary& dictionary);
// The first occurrence of a key wins; values are strings.
platform::Value::Dictionary msr_dictionaryWithHttpArgumentsString(const std::string& string);

// Files.
bool MSRDeleteFileAtPath(const std::string& path, platform::ErrorPtr* error);
bool MSRMoveFileAtPath(const std::string& sourcePath, const std::string& destinationPath,
                       bool overwrite);
// Moves the suite's preferences file to the engine copy (Application Support,
// "Veltro/Measurement/<suite>.plist") and drops the suite's domain.
bool MSRRemoveUserDefaultsDomain(const std::string& suiteName);
// The way back: the engine copy returns to Preferences and its keys into the suite.
bool MSRMigrateUserDefaults(const std::string& suiteName);
