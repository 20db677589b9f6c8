// One speaker of the catalogue with its clips in file order. Shared by reference between the
// screens; `sounds` is the one mutable field but nothing in the app changes it after decoding.
// Main thread only.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "TVS/Sound.h"
#include "platform/base/Error.h"

class SoundProducingEntity {
 public:
  enum class CodingKeys { id, imageName, displayName, sounds, special_tag, disabled };
  static const char* codingKeyName(CodingKeys key);

  SoundProducingEntity(std::string id, std::string imageName, std::string displayName,
                       std::vector<SoundPtr> sounds,
                       std::optional<std::string> special_tag = std::nullopt,
                       std::optional<bool> disabled = std::nullopt);

  // Strict decoding, as for Sound; any bad sound fails the whole entity.
  static std::shared_ptr<SoundProducingEntity> decode(const nlohmann::json& object,
                                                      const std::string& path,
                                                      platform::ErrorPtr* error);
  nlohmann::ordered_json encode() const;

  const std::string& id() const { return id_; }
  const std::string& imageName() const { return imageName_; }
  const std::string& displayName() const { return displayName_; }
  const std::vector<SoundPtr>& sounds() const { return sounds_; }
  void setSounds(std::vector<SoundPtr> sounds) { sounds_ = std::move(sounds); }
  const std::optional<std::string>& special_tag() const { return special_tag_; }
  const std::optional<bool>& disabled() const { return disabled_; }

 private:
  std::string id_;
  std::string imageName_;
  std::string displayName_;
  std::vector<SoundPtr> sounds_;
  std::optional<std::string> special_tag_;
  std::optional<bool> disabled_;
};

using SoundProducingEntityPtr = std::shared_ptr<SoundProducingEntity>;
