// Shows a view tree in an SDL2 window: clicks are taps, drags swipe list rows, scroll or dismiss
// sheets, the wheel scrolls, Escape dismisses the top sheet, Ctrl+D toggles the colour scheme.
// Window focus and minimising are reported through callbacks (the app life cycle posts its
// notifications from them). Without a display, runs headless and writes a snapshot. Main thread.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/Host.h"

namespace platform::ui {

struct WindowOptions {
  std::string title;
  HostOptions host;
  // "-snapshot PATH": build, settle and write a PNG instead of opening a window.
  std::optional<std::filesystem::path> snapshotPath;
};

struct WindowCallbacks {
  std::function<void(bool focused)> onFocusChanged;
  std::function<void(bool minimized)> onMinimizedChanged;
  // Before the loop ends because the window was closed.
  std::function<void()> onClose;
};

// From the launch arguments: "-ColorScheme dark|light", "-DeviceIdiom pad|phone" (the tablet
// idiom and size), "-WindowSize WxH", "-snapshot PATH".
WindowOptions windowOptionsFromLaunchArguments();

// Opens SDL's video to see whether a window can be shown: nullopt when so, else why not (SDL's
// error, or that it could only fall back to a driver that shows nothing, as it does when DISPLAY
// names no display that answers). Closes it again. Main thread.
std::optional<std::string> displayUnavailableReason();

class WindowHost {
 public:
  WindowHost(View root, WindowOptions options, WindowCallbacks callbacks = {});
  ~WindowHost();

  Host& host() { return host_; }
  // With a snapshot path: settles the tree, writes the PNG and returns 0 (1 when writing failed).
  // Otherwise opens the window and runs the event loop with the main run loop until the window is
  // closed or stop() is called; returns 0. With no display available (SDL falling back to a driver
  // that shows nothing counts, unless SDL_VIDEODRIVER asked for it), returns 2 after logging.
  int run();
  void stop();

 private:
  Host host_;
  WindowOptions options_;
  WindowCallbacks callbacks_;
  bool stopped_ = false;
};

}  // namespace platform::ui
