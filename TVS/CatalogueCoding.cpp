#include "TVS/CatalogueCoding.h"

namespace tvs::coding {

platform::ErrorPtr decodingError(const std::string& path, const std::string& problem) {
  return platform::Error::make(
      platform::kFileErrorDomain, kDecodingErrorCode,
      {{platform::kLocalizedDescriptionKey,
        platform::Value("The data couldn't be read because it isn't in the correct format.")},
       {"NSDebugDescription", platform::Value(path + ": " + problem)}});
}

bool requireObject(const nlohmann::json& value, const std::string& path,
                   platform::ErrorPtr* error) {
  if (value.is_object()) return true;
  platform::setError(error, decodingError(path, "expected an object"));
  return false;
}

std::optional<std::string> requiredString(const nlohmann::json& object, const char* key,
                                          const std::string& path, platform::ErrorPtr* error) {
  auto it = object.find(key);
  if (it == object.end() || it->is_null()) {
    platform::setError(error, decodingError(path + "." + key, "required key missing or null"));
    return std::nullopt;
  }
  if (!it->is_string()) {
    platform::setError(error, decodingError(path + "." + key, "expected a string"));
    return std::nullopt;
  }
  return it->get<std::string>();
}

bool optionalString(const nlohmann::json& object, const char* key, const std::string& path,
                    std::optional<std::string>* out, platform::ErrorPtr* error) {
  out->reset();
  auto it = object.find(key);
  if (it == object.end() || it->is_null()) return true;
  if (!it->is_string()) {
    platform::setError(error, decodingError(path + "." + key, "expected a string"));
    return false;
  }
  *out = it->get<std::string>();
  return true;
}

bool optionalBool(const nlohmann::json& object, const char* key, const std::string& path,
                  std::optional<bool>* out, platform::ErrorPtr* error) {
  out->reset();
  auto it = object.find(key);
  if (it == object.end() || it->is_null()) return true;
  // Numbers and strings such as 1 or "true" are not booleans.
  if (!it->is_boolean()) {
    platform::setError(error, decodingError(path + "." + key, "expected a boolean"));
    return false;
  }
  *out = it->get<bool>();
  return true;
}

}  // namespace tvs::coding
