// One clip's row: a full-width rounded grey button with the clip's title; a tap prints the clip
// id to standard output and plays the clip through the shared view model. The title is white in
// dark appearance and black in light. Main thread only.
#pragma once

#include "TVS/Sound.h"
#include "TVS/SoundProducingEntity.h"
#include "TVS/SoundViewModel.h"
#include "platform/ui/View.h"

struct SoundView {
  SoundPtr sound;
  SoundProducingEntityPtr entity;
  SoundViewModelPtr soundVM;  // observed

  platform::ui::View body() const;
};
