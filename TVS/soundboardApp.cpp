#include "TVS/soundboardApp.h"

#include "TVS/ContentView.h"
#include "TVS/EntityLoader.h"
#include "core/LMOApp.h"
#include "platform/app/AdNetworkAttribution.h"

soundboardApp::soundboardApp() {
  platform::app::AdNetworkAttribution::registerAppForAdNetworkAttribution();
  LMOApp::configure();
}

platform::app::WindowGroup soundboardApp::body() const {
  return platform::app::WindowGroup{
      .content =
          [] {
            return platform::ui::View(ContentView{EntityLoader::loadEntities(), {}});
          },
      .title = {}};
}
