// The process entry's app runner: constructs the app value on the main thread before any window
// exists, reads its body (a window group), finishes launching, makes the application's window
// with a root view controller showing the group's content, tells the life cycle (focus,
// minimise, quit) and runs the main run loop in an SDL window until it closes. Haptic impacts flash
// a short pulse over the window. Main thread only.
//
//   struct MyApp {
//     MyApp() { /* registration, configuration */ }
//     platform::app::WindowGroup body() const { return {[] { return ui::View(Root{}); }}; }
//   };
//   int main(int argc, char** argv) { return platform::app::runApp<MyApp>(argc, argv); }
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/app/Window.h"
#include "platform/ui/Host.h"
#include "platform/ui/View.h"

namespace platform::app {

// A window whose content is built by `content` each time the platform builds it. An empty title
// takes the main bundle's "CFBundleDisplayName" (else "CFBundleName").
struct WindowGroup {
  std::function<ui::View()> content;
  std::string title = {};
};

// Records the launch arguments and makes the shared application (before the app value exists).
void prepareApplication(int argc, char** argv);
// Shows the group in a window and runs until it closes; returns the process's exit status.
int runWindowGroup(WindowGroup group);

template <class App>
int runApp(int argc, char** argv) {
  prepareApplication(argc, argv);
  App app;
  return runWindowGroup(app.body());
}

// Makes every haptic impact flash a short pulse over the window (the runner does this).
void installHapticPulse();
// The pulse's current opacity (0 when none shows).
double hapticPulseStrength();

// The root view of a group's window: its content with the haptic pulse overlay.
ui::View windowRootView(const WindowGroup& group);
// Makes the application's window for `host` with a root controller showing `group`, and adds it
// to the application. The app runner uses it; tests use it with a TestHost's host.
std::shared_ptr<Window> attachWindow(ui::Host& host, const WindowGroup& group);

}  // namespace platform::app
