#include "platform/app/AppRunner.h"
#include "platform/app/Application.h"
#include "platform/app/Haptics.h"
#include "platform/base/Bundle.h"
#include "platform/ui/WindowHost.h"

namespace platform::app {
namespace {

std::string windowTitle(const WindowGroup& group) {
  if (!group.title.empty()) return group.title;
  auto bundle = Bundle::mainBundle();
  if (!bundle) return {};
  for (const char* key : {"CFBundleDisplayName", "CFBundleName"}) {
    if (const std::string* s = bundle->objectForInfoDictionaryKey(key).string()) {
      if (!s->empty()) return *s;
    }
  }
  return {};
}

}  // namespace

int runWindowGroup(WindowGroup group) {
  auto application = Application::sharedApplication();
  installHapticPulse();
  // Launching finishes before the window's content is first built, as on the phone.
  application->finishLaunching();
  auto options = ui::windowOptionsFromLaunchArguments();
  options.title = windowTitle(group);
  ui::WindowHost windowHost(
      windowRootView(group), options,
      {.onFocusChanged = [application](bool focused) { application->handleFocusChanged(focused); },
       .onMinimizedChanged =
           [application](bool minimized) { application->handleMinimizedChanged(minimized); },
       .onClose = [application] { application->handleWillTerminate(); }});
  auto window = attachWindow(windowHost.host(), group);
  // A window that opens has the focus; the host's own focus event then changes nothing.
  application->handleFocusChanged(true);
  const int status = windowHost.run();
  application->handleWillTerminate();
  application->removeWindow(window);
  HapticsLog::setPulseHandler(nullptr);
  return status;
}

}  // namespace platform::app
