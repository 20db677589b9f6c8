// Strict readers of catalogue JSON fields, shared by Sound and SoundProducingEntity: a required
// key must be present, not null and of its JSON type; an optional key may be absent or null.
// Failures give a data-corrupted error naming the offending key path. Pure functions.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "platform/base/Error.h"

namespace tvs::coding {

// The error every decoding failure reports (the platform's "data corrupted" code).
inline constexpr long kDecodingErrorCode = 4864;
platform::ErrorPtr decodingError(const std::string& path, const std::string& problem);

// False with *error unless `value` is a JSON object.
bool requireObject(const nlohmann::json& value, const std::string& path, platform::ErrorPtr* error);
std::optional<std::string> requiredString(const nlohmann::json& object, const char* key,
                                          const std::string& path, platform::ErrorPtr* error);
// An absent or null key leaves *out without a value; a value of the wrong type fails.
bool optionalString(const nlohmann::json& object, const char* key, const std::string& path,
                    std::optional<std::string>* out, platform::ErrorPtr* error);
bool optionalBool(const nlohmann::json& object, const char* key, const std::string& path,
                  std::optional<bool>* out, platform::ErrorPtr* error);

}  // namespace tvs::coding
