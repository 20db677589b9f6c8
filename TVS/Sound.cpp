#include "TVS/Sound.h"

#include "TVS/CatalogueCoding.h"

const char* Sound::codingKeyName(CodingKeys key) {
  switch (key) {
    case CodingKeys::id:
      return "id";
    case CodingKeys::displayName:
      return "displayName";
    case CodingKeys::locked:
      return "locked";
    case CodingKeys::skip:
      return "skip";
  }
  return "";
}

Sound::Sound(std::string id, std::string displayName, std::optional<bool> locked,
             std::optional<bool> skip)
    : id_(std::move(id)), displayName_(std::move(displayName)), locked_(locked), skip_(skip) {}

std::shared_ptr<Sound> Sound::decode(const nlohmann::json& object, const std::string& path,
                                     platform::ErrorPtr* error) {
  using namespace tvs::coding;
  if (!requireObject(object, path, error)) return nullptr;
  auto id = requiredString(object, codingKeyName(CodingKeys::id), path, error);
  if (!id) return nullptr;
  auto displayName = requiredString(object, codingKeyName(CodingKeys::displayName), path, error);
  if (!displayName) return nullptr;
  std::optional<bool> locked, skip;
  if (!optionalBool(object, codingKeyName(CodingKeys::locked), path, &locked, error)) {
    return nullptr;
  }
  if (!optionalBool(object, codingKeyName(CodingKeys::skip), path, &skip, error)) return nullptr;
  return std::make_shared<Sound>(std::move(*id), std::move(*displayName), locked, skip);
}

nlohmann::ordered_json Sound::encode() const {
  nlohmann::ordered_json out = nlohmann::ordered_json::object();
  out[codingKeyName(CodingKeys::id)] = id_;
  out[codingKeyName(CodingKeys::displayName)] = displayName_;
  if (locked_) out[codingKeyName(CodingKeys::locked)] = *locked_;
  if (skip_) out[codingKeyName(CodingKeys::skip)] = *skip_;
  return out;
}
