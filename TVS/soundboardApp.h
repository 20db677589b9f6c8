// The app type: its construction registers the app for ad-network attribution and then starts
// the app-platform stack (when the app core is part of the build); its body is one window group
// without a title whose content, each time it is built, loads the catalogue and shows the root
// screen. Main thread only.
#pragma once

#include "platform/app/AppRunner.h"

struct soundboardApp {
  soundboardApp();
  platform::app::WindowGroup body() const;
};
