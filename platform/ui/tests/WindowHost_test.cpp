#include <SDL.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/testing/PlatformTest.h"
#include "platform/ui/UI.h"

namespace platform::ui {
namespace {

class WindowHostTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    // Never a real display, whatever the environment holds.
    setenv("SDL_VIDEODRIVER", "dummy", 1);
  }
};

TEST_F(WindowHostTest, LaunchArgumentsChooseIdiomSchemeSizeAndSnapshot) {
  setArguments({"-DeviceIdiom", "pad", "-ColorScheme", "dark", "-snapshot", "/tmp/x.png"});
  auto options = windowOptionsFromLaunchArguments();
  EXPECT_EQ(options.host.idiom, UserInterfaceIdiom::pad);
  EXPECT_EQ(options.host.size.width, kPadSize.width);
  EXPECT_EQ(options.host.colorScheme, ColorScheme::dark);
  ASSERT_TRUE(options.snapshotPath);
  EXPECT_EQ(*options.snapshotPath, "/tmp/x.png");

  setArguments({"-ColorScheme", "purple", "-WindowSize", "300x500"});
  options = windowOptionsFromLaunchArguments();
  EXPECT_EQ(options.host.idiom, UserInterfaceIdiom::phone);
  EXPECT_EQ(options.host.colorScheme, ColorScheme::light);
  EXPECT_EQ(options.host.size.width, 300);
  EXPECT_EQ(options.host.size.height, 500);
  EXPECT_FALSE(options.snapshotPath);

  setArguments({"-WindowSize", "300x"});
  EXPECT_EQ(windowOptionsFromLaunchArguments().host.size.width, kPhoneSize.width);

  // An option is never taken as the value of the one before it.
  setArguments({"-snapshot", "-ColorScheme", "dark", "-DeviceIdiom", "-WindowSize", "300x500"});
  options = windowOptionsFromLaunchArguments();
  EXPECT_FALSE(options.snapshotPath);
  EXPECT_EQ(options.host.colorScheme, ColorScheme::dark);
  EXPECT_EQ(options.host.idiom, UserInterfaceIdiom::phone);
  EXPECT_EQ(options.host.size.width, 300);
}

TEST_F(WindowHostTest, SnapshotModeWritesThePictureHeadless) {
  auto path = home() / "shot.png";
  WindowOptions options;
  options.host.size = {120, 80};
  options.snapshotPath = path;
  WindowHost window(Text("hello"), options);
  EXPECT_EQ(window.run(), 0);
  ASSERT_TRUE(std::filesystem::exists(path));
  EXPECT_GT(std::filesystem::file_size(path), 100u);

  options.snapshotPath = home() / "no-such-dir" / "shot.png";
  WindowHost failing(Text("hello"), options);
  EXPECT_EQ(failing.run(), 1);
}

void pushMouse(Uint32 type, int x, int y) {
  SDL_Event e{};
  e.type = type;
  e.button.button = SDL_BUTTON_LEFT;
  e.button.x = x;
  e.button.y = y;
  e.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
  SDL_PushEvent(&e);
}

void pushWindowEvent(Uint8 event) {
  SDL_Event e{};
  e.type = SDL_WINDOWEVENT;
  e.window.event = event;
  SDL_PushEvent(&e);
}

void pushKey(SDL_Keycode key, Uint16 mod = 0) {
  SDL_Event e{};
  e.type = SDL_KEYDOWN;
  e.key.keysym.sym = key;
  e.key.keysym.mod = mod;
  e.key.state = SDL_PRESSED;
  SDL_PushEvent(&e);
}

// Runs `step` on the main queue (real time), again and again, until it returns true; `giveUp` after that.
void repeatOnMain(std::function<bool()> step, std::function<void()> giveUp, int attempts = 500) {
  // A little later each time, so that the window loop handles the pushed events in between.
  DispatchQueue::main()->after(0.01, [step, giveUp, attempts] {
    if (step()) return;
    if (attempts > 0) {
      repeatOnMain(step, giveUp, attempts - 1);
    } else {
      giveUp();
    }
  });
}

TEST_F(WindowHostTest, ClicksKeysAndWindowEventsReachTheTreeAndTheLifeCycle) {
  useSystemClock();
  int taps = 0;
  struct Screen {
    int* taps;
    View body() const {
      auto sheet = state(false);
      auto t = taps;
      return VStack({Button("Tap me", [t] { ++*t; }).frame(200, 60),
                     Button("Sheet", [sheet] { sheet.set(true); }).frame(200, 60)})
          .sheet(sheet.binding(), {}, [] { return Text("sheet content"); });
    }
  };
  std::vector<std::string> events;
  WindowOptions options;
  options.title = "test";
  options.host.size = {300, 400};
  WindowHost window(Screen{&taps}, options,
                    {.onFocusChanged = [&](bool f) { events.push_back(f ? "focus" : "blur"); },
                     .onMinimizedChanged = [&](bool m) { events.push_back(m ? "minimized" : "restored"); },
                     .onClose = [&] { events.push_back("close"); }});
  Host& host = window.host();
  host.update();
  // The buttons' centres, in window points (the window is made at the host's size).
  int phase = 0;
  repeatOnMain([&] {
    switch (phase) {
      case 0:
        pushMouse(SDL_MOUSEBUTTONDOWN, 150, 200 - 30);
        pushMouse(SDL_MOUSEBUTTONUP, 150, 200 - 30);
        pushWindowEvent(SDL_WINDOWEVENT_FOCUS_LOST);
        pushWindowEvent(SDL_WINDOWEVENT_MINIMIZED);
        pushWindowEvent(SDL_WINDOWEVENT_RESTORED);
        pushWindowEvent(SDL_WINDOWEVENT_FOCUS_GAINED);
        pushKey(SDLK_d, KMOD_LCTRL);
        phase = 1;
        return false;
      case 1:
        if (taps == 0 || events.size() < 4) return false;
        pushMouse(SDL_MOUSEBUTTONDOWN, 150, 200 + 34);
        pushMouse(SDL_MOUSEBUTTONUP, 150, 200 + 34);
        phase = 2;
        return false;
      case 2:
        if (host.presentedSheetCount() != 1) return false;
        pushKey(SDLK_ESCAPE);
        phase = 3;
        return false;
      default:
        if (host.presentedSheetCount() != 0) return false;
        window.stop();
        return true;
    }
  }, [&] { window.stop(); });
  int status = window.run();
  if (status == 2) GTEST_SKIP() << "no SDL video driver here";
  EXPECT_EQ(status, 0);
  EXPECT_EQ(taps, 1);
  EXPECT_EQ(events, (std::vector<std::string>{"blur", "minimized", "restored", "focus"}));
  EXPECT_EQ(host.colorScheme(), ColorScheme::dark);
  EXPECT_EQ(host.presentedSheetCount(), 0u);
  EXPECT_EQ(phase, 3);
}

}  // namespace
}  // namespace platform::ui
