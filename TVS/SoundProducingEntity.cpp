#include "TVS/SoundProducingEntity.h"

#include "TVS/CatalogueCoding.h"

const char* SoundProducingEntity::codingKeyName(CodingKeys key) {
  switch (key) {
    case CodingKeys::id:
      return "id";
    case CodingKeys::imageName:
      return "imageName";
    case CodingKeys::displayName:
      return "displayName";
    case CodingKeys::sounds:
      return "sounds";
    case CodingKeys::special_tag:
      return "special_tag";
    case CodingKeys::disabled:
      return "disabled";
  }
  return "";
}

SoundProducingEntity::SoundProducingEntity(std::string id, std::string imageName,
                                           std::string displayName, std::vector<SoundPtr> sounds,
                                           std::optional<std::string> special_tag,
                                           std::optional<bool> disabled)
    : id_(std::move(id)),
      imageName_(std::move(imageName)),
      displayName_(std::move(displayName)),
      sounds_(std::move(sounds)),
      special_tag_(std::move(special_tag)),
      disabled_(disabled) {}

std::shared_ptr<SoundProducingEntity> SoundProducingEntity::decode(const nlohmann::json& object,
                                                                   const std::string& path,
                                                                   platform::ErrorPtr* error) {
  using namespace tvs::coding;
  if (!requireObject(object, path, error)) return nullptr;
  auto id = requiredString(object, codingKeyName(CodingKeys::id), path, error);
  if (!id) return nullptr;
  auto imageName = requiredString(object, codingKeyName(CodingKeys::imageName), path, error);
  if (!imageName) return nullptr;
  auto displayName = requiredString(object, codingKeyName(CodingKeys::displayName), path, error);
  if (!displayName) return nullptr;

  const char* soundsKey = codingKeyName(CodingKeys::sounds);
  auto soundsIt = object.find(soundsKey);
  if (soundsIt == object.end() || soundsIt->is_null()) {
    setError(error, decodingError(path + "." + soundsKey, "required key missing or null"));
    return nullptr;
  }
  if (!soundsIt->is_array()) {
    setError(error, decodingError(path + "." + soundsKey, "expected an array"));
    return nullptr;
  }
  std::vector<SoundPtr> sounds;
  sounds.reserve(soundsIt->size());
  for (std::size_t i = 0; i < soundsIt->size(); ++i) {
    auto sound = Sound::decode((*soundsIt)[i],
                               path + "." + soundsKey + "[" + std::to_string(i) + "]", error);
    if (!sound) return nullptr;
    sounds.push_back(std::move(sound));
  }

  std::optional<std::string> specialTag;
  std::optional<bool> disabled;
  if (!optionalString(object, codingKeyName(CodingKeys::special_tag), path, &specialTag, error)) {
    return nullptr;
  }
  if (!optionalBool(object, codingKeyName(CodingKeys::disabled), path, &disabled, error)) {
    return nullptr;
  }
  return std::make_shared<SoundProducingEntity>(std::move(*id), std::move(*imageName),
                                                std::move(*displayName), std::move(sounds),
                                                std::move(specialTag), disabled);
}

nlohmann::ordered_json SoundProducingEntity::encode() const {
  nlohmann::ordered_json out = nlohmann::ordered_json::object();
  out[codingKeyName(CodingKeys::id)] = id_;
  out[codingKeyName(CodingKeys::imageName)] = imageName_;
  out[codingKeyName(CodingKeys::displayName)] = displayName_;
  nlohmann::ordered_json sounds = nlohmann::ordered_json::array();
  for (const auto& sound : sounds_) sounds.push_back(sound->encode());
  out[codingKeyName(CodingKeys::sounds)] = std::move(sounds);
  if (special_tag_) out[codingKeyName(CodingKeys::special_tag)] = *special_tag_;
  if (disabled_) out[codingKeyName(CodingKeys::disabled)] = *disabled_;
  return out;
}
