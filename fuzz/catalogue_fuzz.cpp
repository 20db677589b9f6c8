// The catalogue document ("SoundProducingEntities.json") as the app decodes it; a catalogue that
// decodes is encoded again and must decode to the same encoding.
#include <nlohmann/json.hpp>

#include "TVS/EntityLoader.h"
#include "fuzz/FuzzTarget.h"

namespace {

nlohmann::ordered_json encode(const std::vector<SoundProducingEntityPtr>& entities) {
  auto document = nlohmann::ordered_json::array();
  for (const auto& entity : entities) document.push_back(entity->encode());
  return document;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  platform::ErrorPtr error;
  auto entities = EntityLoader::decodeCatalogue(fuzz::textOf(data, size), &error);
  fuzz::require(entities.has_value() != (error != nullptr), "entities or an error, never both");
  if (!entities) return 0;
  std::string text = encode(*entities).dump();
  auto again = EntityLoader::decodeCatalogue(text, &error);
  fuzz::require(again.has_value(), "an encoded catalogue decodes");
  fuzz::require(encode(*again).dump() == text, "encoding is stable");
  return 0;
}
