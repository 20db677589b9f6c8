// A sound paired with the entity that owns it, both objects of one loaded catalogue.
// Immutable; main thread only like the rest of the app.
#pragma once

#include <memory>

#include "TVS/Sound.h"
#include "TVS/SoundProducingEntity.h"

class WrapperSoundWithEntity {
 public:
  WrapperSoundWithEntity(SoundProducingEntityPtr entity, SoundPtr sound)
      : entity_(std::move(entity)), sound_(std::move(sound)) {}

  const SoundProducingEntityPtr& entity() const { return entity_; }
  const SoundPtr& sound() const { return sound_; }

 private:
  SoundProducingEntityPtr entity_;
  SoundPtr sound_;
};

using WrapperSoundWithEntityPtr = std::shared_ptr<WrapperSoundWithEntity>;
