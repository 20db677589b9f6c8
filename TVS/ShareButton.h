// The share swipe action of a clip row: a heavy haptic tap, then the clip's audio file to the
// share sheet through the view model. It does not observe the model. Main thread only.
#pragma once

#include "TVS/Sound.h"
#include "TVS/SoundProducingEntity.h"
#include "TVS/SoundViewModel.h"
#include "platform/ui/View.h"

struct ShareButton {
  SoundProducingEntityPtr entity;
  SoundPtr sound;
  SoundViewModelPtr soundVM;  // not observed

  platform::ui::View body() const;
};
