// The home screen's content: a vertically scrolling adaptive grid of round portraits, one cell
// per entity in catalogue order (identity = index); a tap pushes that entity's page with a
// 125-point portrait. Holds shared references only. Main thread only.
#pragma once

#include <vector>

#include "TVS/SoundProducingEntity.h"
#include "TVS/SoundViewModel.h"
#include "platform/ui/View.h"

struct EntitiesView {
  SoundViewModelPtr soundVM;  // observed; handed on to every entity page
  double imageSize = 0;       // minimum column width and portrait side
  std::vector<SoundProducingEntityPtr> entities;

  platform::ui::View body() const;
};
