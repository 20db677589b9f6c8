#include "TVS/EntityLoader.h"

#include "TVS/CatalogueCoding.h"
#include "TVS/Console.h"
#include "TVS/TVSConstants.h"
#include "platform/base/Bundle.h"
#include "platform/base/Files.h"

std::optional<std::vector<SoundProducingEntityPtr>> EntityLoader::decodeCatalogue(
    std::string_view json, platform::ErrorPtr* error) {
  // No exceptions: a syntax error is an ordinary undecodable file.
  nlohmann::json document = nlohmann::json::parse(json, nullptr, /*allow_exceptions=*/false);
  if (document.is_discarded()) {
    platform::setError(error, tvs::coding::decodingError("$", "not valid JSON"));
    return std::nullopt;
  }
  if (!document.is_array()) {
    platform::setError(error, tvs::coding::decodingError("$", "expected an array"));
    return std::nullopt;
  }
  std::vector<SoundProducingEntityPtr> entities;
  entities.reserve(document.size());
  for (std::size_t i = 0; i < document.size(); ++i) {
    auto entity = SoundProducingEntity::decode(document[i], "$[" + std::to_string(i) + "]", error);
    if (!entity) return std::nullopt;
    entities.push_back(std::move(entity));
  }
  return entities;
}

std::vector<SoundProducingEntityPtr> EntityLoader::loadEntities() {
  auto bundle = platform::Bundle::mainBundle();
  if (!bundle) return {};
  auto path = bundle->pathForResource(tvs::kCatalogueResourceName, tvs::kCatalogueResourceType);
  if (!path) return {};
  auto data = platform::files::readFile(*path);
  if (!data) {
    tvs::consolePrint(tvs::kCatalogueUnreadableLine);
    return {};
  }
  // A file that reads but does not decode takes the same path as an unreadable one: the app
  // shows an empty catalogue instead of ending.
  auto entities = decodeCatalogue(
      std::string_view(reinterpret_cast<const char*>(data->data()), data->size()), nullptr);
  if (!entities) {
    tvs::consolePrint(tvs::kCatalogueUnreadableLine);
    return {};
  }
  return std::move(*entities);
}

WrapperSoundWithEntityPtr EntityLoader::findSound(const std::string& entityId,
                                                  const std::string& soundId) {
  for (const auto& entity : loadEntities()) {
    if (entity->id() != entityId) continue;
    for (const auto& sound : entity->sounds()) {
      if (sound->id() == soundId) return std::make_shared<WrapperSoundWithEntity>(entity, sound);
    }
    // Only the first entity with this id is searched.
    return nullptr;
  }
  return nullptr;
}
