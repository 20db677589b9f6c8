// One entity's page: its round portrait above a plain list with one sound row per clip in
// catalogue order (identity = index; locked and skip are not consulted), titled with the
// entity's display name, over the tiled background. Rebuilt whenever the view model publishes a
// change. Main thread only.
#pragma once

#include "TVS/SoundProducingEntity.h"
#include "TVS/SoundViewModel.h"
#include "platform/ui/View.h"

struct EntityView {
  SoundProducingEntityPtr entity;
  SoundViewModelPtr soundVM;  // observed
  double imageSize = 0;       // portrait side; 125 when opened from the grid

  platform::ui::View body() const;
};
