// The tiled background picture under the grid, the entity page and the favourites screen:
// "what-the-hex" in light appearance, "what-the-hex-dark" in dark, repeated at its natural size
// and extended under every safe-area edge. Main thread only, like every view.
#pragma once

#include "platform/ui/View.h"

struct BackgroundView {
  platform::ui::View body() const;
};
