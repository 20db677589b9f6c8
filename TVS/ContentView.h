// The root screen: owns the window's one SoundViewModel as a state object (made when the view is
// first installed, kept across rebuilds of the content), and frames the entities grid in a
// navigation view titled "Tavo Vastrow Soundboard" (inline), with the favourites link leading
// and the settings link trailing in its toolbar. Main thread only.
#pragma once

#include <functional>
#include <vector>

#include "TVS/SoundProducingEntity.h"
#include "TVS/SoundViewModel.h"
#include "platform/ui/View.h"

struct ContentView {
  std::vector<SoundProducingEntityPtr> entities;
  // Makes the view model when the state object is installed; a new SoundViewModel by default.
  std::function<SoundViewModelPtr()> makeSoundVM;

  platform::ui::View body() const;
};
