// The heart swipe action of a clip row: adds the clip to the favourites (recording
// "sound_favorited") or removes it, deciding by the favourites map at the moment of the tap, then
// gives a heavy haptic tap. Its shown state is view-local: set by the row when the button first
// appears, then changed only by its own taps. Main thread only.
#pragma once

#include <string>

#include "TVS/SoundProducingEntity.h"
#include "TVS/SoundViewModel.h"
#include "platform/ui/State.h"
#include "platform/ui/View.h"

struct FavoriteButton {
  // The initial value of the button's own flag ("heartfill" while set, "heart" otherwise).
  bool isSet = false;
  std::string soundId;
  // Its id is what the favourites map stores for the clip.
  SoundProducingEntityPtr entity;
  SoundViewModelPtr soundVM;  // observed

  // The button's action: one in-place change of the map, the flag follows it, the event only on
  // adding, the haptic last.
  static void toggleFavorite(SoundViewModel& soundVM, const std::string& soundId,
                             const SoundProducingEntity& entity,
                             const platform::ui::State<bool>& isSet);

  platform::ui::View body() const;
};
