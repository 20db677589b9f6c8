#include "platform/app/AppRunner.h"

#include "platform/app/Application.h"
#include "platform/app/Haptics.h"
#include "platform/base/Bundle.h"
#include "platform/base/ProcessInfo.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ui/State.h"
#include "platform/ui/WindowHost.h"

namespace platform::app {
namespace {

// How long the haptic stand-in shows, in seconds.
constexpr double kPulseDuration = 0.12;

class PulseModel : public ui::ObservableObject {
 public:
  static std::shared_ptr<PulseModel> shared() {
    static auto* model = new std::shared_ptr<PulseModel>(std::make_shared<PulseModel>());
    return *model;
  }
  ui::Published<double> strength{this, 0.0};
};

struct PulseOverlay {
  ui::View body() const {
    auto model = ui::observedObject(PulseModel::shared());
    const double strength = *model->strength;
    if (strength <= 0) return ui::EmptyView();
    return ui::View(ui::Color::gray()).opacity(strength);
  }
};

double pulseStrength(ImpactStyle style) {
  switch (style) {
    case ImpactStyle::Light: return 0.10;
    case ImpactStyle::Medium: return 0.18;
    case ImpactStyle::Heavy: return 0.28;
  }
  return 0.2;
}

void installPulseHandler() {
  HapticsLog::setPulseHandler([](ImpactStyle style) {
    DispatchQueue::main()->async([style] {
      PulseModel::shared()->strength.set(pulseStrength(style));
      RunLoop::main().performAfter(kPulseDuration,
                                   [] { PulseModel::shared()->strength.set(0.0); });
    });
  });
}

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

void prepareApplication(int argc, char** argv) {
  std::vector<std::string> arguments(argv, argv + argc);
  ProcessInfo::processInfo().setArguments(std::move(arguments));
  Application::sharedApplication();
}

ui::View windowRootView(const WindowGroup& group) {
  auto content = group.content;
  struct Content {
    std::function<ui::View()> make;
    ui::View body() const { return make ? make() : ui::EmptyView(); }
  };
  return ui::View(Content{std::move(content)}).overlay(ui::View(PulseOverlay{}));
}

std::shared_ptr<Window> attachWindow(ui::Host& host, const WindowGroup& group) {
  auto window = Window::make(&host);
  window->setRootViewController(std::make_shared<HostingController>(group.content));
  Application::sharedApplication()->addWindow(window);
  return window;
}

int runWindowGroup(WindowGroup group) {
  auto application = Application::sharedApplication();
  installPulseHandler();
  auto options = ui::windowOptionsFromLaunchArguments();
  options.title = windowTitle(group);
  ui::WindowHost windowHost(
      windowRootView(group), options,
      {.onFocusChanged = [application](bool focused) { application->handleFocusChanged(focused); },
       .onMinimizedChanged =
           [application](bool minimized) { application->handleMinimizedChanged(minimized); },
       .onClose = [application] { application->handleWillTerminate(); }});
  auto window = attachWindow(windowHost.host(), group);
  application->finishLaunching();
  // A window that opens has the focus; the host's own focus event then changes nothing.
  application->handleFocusChanged(true);
  const int status = windowHost.run();
  application->handleWillTerminate();
  application->removeWindow(window);
  HapticsLog::setPulseHandler(nullptr);
  return status;
}

}  // namespace platform::app
