#include "platform/app/AppRunner.h"

#include "platform/app/Application.h"
#include "platform/app/Haptics.h"
#include "platform/base/ProcessInfo.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ui/State.h"

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
    case ImpactStyle::Light:
      return 0.10;
    case ImpactStyle::Medium:
      return 0.18;
    case ImpactStyle::Heavy:
      return 0.28;
  }
  return 0.2;
}

struct WindowContent {
  std::function<ui::View()> make;
  ui::View body() const { return make ? make() : ui::EmptyView(); }
};

}  // namespace

void prepareApplication(int argc, char** argv) {
  std::vector<std::string> arguments(argv, argv + argc);
  ProcessInfo::processInfo().setArguments(std::move(arguments));
  Application::sharedApplication();
}

void installHapticPulse() {
  HapticsLog::setPulseHandler([](ImpactStyle style) {
    DispatchQueue::main()->async([style] {
      PulseModel::shared()->strength.set(pulseStrength(style));
      RunLoop::main().performAfter(kPulseDuration, [] { PulseModel::shared()->strength.set(0.0); });
    });
  });
}

double hapticPulseStrength() { return *PulseModel::shared()->strength; }

ui::View windowRootView(const WindowGroup& group) {
  return ui::View(WindowContent{group.content}).overlay(ui::View(PulseOverlay{}));
}

std::shared_ptr<Window> attachWindow(ui::Host& host, const WindowGroup& group) {
  auto window = Window::make(&host);
  window->setRootViewController(std::make_shared<HostingController>(group.content));
  Application::sharedApplication()->addWindow(window);
  return window;
}

}  // namespace platform::app
