// A round portrait: the asset picture stretched to an `imageSize` square, clipped to a circle,
// with a soft shadow and a 3-point white ring. Shared by the grid, the entity page and the
// favourites rows. A missing asset is not an error: the ring is drawn without a picture.
// Main thread only.
#pragma once

#include <string>

#include "platform/ui/View.h"

struct CircleImageView {
  std::string imageName;
  double imageSize = 0;

  platform::ui::View body() const;
};
