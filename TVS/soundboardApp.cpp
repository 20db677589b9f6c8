#include "TVS/soundboardApp.h"

#include "TVS/ContentView.h"
#include "TVS/EntityLoader.h"
#include "platform/app/AdNetworkAttribution.h"

#if __has_include("core/LMOApp.h")
#include "core/LMOApp.h"
#define TVS_HAS_APP_CORE 1
#endif

soundboardApp::soundboardApp() {
  platform::app::AdNetworkAttribution::registerAppForAdNetworkAttribution();
#ifdef TVS_HAS_APP_CORE
  LMOApp::configure();
#endif
}

platform::app::WindowGroup soundboardApp::body() const {
  return platform::app::WindowGroup{
      .content =
          [] {
            return platform::ui::View(ContentView{EntityLoader::loadEntities(), {}});
          },
      .title = {}};
}
