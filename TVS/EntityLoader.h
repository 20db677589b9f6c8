// Reads the catalogue "SoundProducingEntities.json" from the main bundle and finds one sound by
// its entity's id and its own id. Every call reads and decodes the file afresh (nothing is
// cached, so two loads never share objects). Main thread only; no shared state.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "TVS/SoundProducingEntity.h"
#include "TVS/WrapperSoundWithEntity.h"

class EntityLoader {
 public:
  // The catalogue in file order, possibly empty. No resource: empty, silently. A file that
  // cannot be read or does not decode: the console line "error parsing entities", empty.
  static std::vector<SoundProducingEntityPtr> loadEntities();

  // The first entity with `entityId` and its first sound with `soundId`, from a fresh load.
  // Null when the catalogue holds no such pair (a favourite stored under an older catalogue).
  static WrapperSoundWithEntityPtr findSound(const std::string& entityId,
                                             const std::string& soundId);

  // Strict decoding of a whole catalogue document; null-free result or nullopt with *error.
  static std::optional<std::vector<SoundProducingEntityPtr>> decodeCatalogue(
      std::string_view json, platform::ErrorPtr* error);
};
