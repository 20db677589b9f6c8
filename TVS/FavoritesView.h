// The favourites screen: one row per favourite across all entities, in the favourites map's own
// order, each the owning entity's round portrait beside the clip's play button, with the heart
// and share swipe actions. Observes the view model, so a removed favourite leaves the list at
// once. A favourite that the current catalogue no longer holds is not shown, but stays stored:
// a later catalogue may bring it back. Main thread only.
#pragma once

#include "TVS/SoundViewModel.h"
#include "platform/ui/View.h"

struct FavoritesView {
  SoundViewModelPtr soundVM;  // observed
  double imageSize = 0;       // portrait side in each row

  platform::ui::View body() const;
};
