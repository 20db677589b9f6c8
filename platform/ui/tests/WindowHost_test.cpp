#include <SDL.h>
#include <cairo.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/testing/PlatformTest.h"
#include "platform/testing/StandardErrorCapture.h"
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

  // An option is never taken as the value of the one before it.
  setArguments({"-snapshot", "-ColorScheme", "dark", "-DeviceIdiom", "-WindowSize", "300x500"});
  options = windowOptionsFromLaunchArguments();
  EXPECT_FALSE(options.snapshotPath);
  EXPECT_EQ(options.host.colorScheme, ColorScheme::dark);
  EXPECT_EQ(options.host.idiom, UserInterfaceIdiom::phone);
  EXPECT_EQ(options.host.size.width, 300);
}

// "-WindowSize WxH" takes two finite sides of 50 to 10000 points; anything else is ignored and
// the default size used, down to the picture a snapshot writes.
TEST_F(WindowHostTest, WindowSizeTakesOnlyFiniteSidesInRange) {
  struct Row {
    const char* value;
    std::optional<Size> size;  // nullopt: the default
  };
  const Row rows[] = {
      {"300x500", Size{300, 500}},   {"50x10000", Size{50, 10000}},
      {"120.5x80", Size{120.5, 80}}, {"300x", std::nullopt},
      {"x500", std::nullopt},        {"300", std::nullopt},
      {"300x500x", std::nullopt},    {"49x500", std::nullopt},
      {"500x10001", std::nullopt},   {"nanx500", std::nullopt},
      {"500xnan", std::nullopt},     {"NANxNAN", std::nullopt},
      {"-nanx500", std::nullopt},    {"nan(1)x500", std::nullopt},
      {"infx500", std::nullopt},     {"500xinf", std::nullopt},
      {"500x-inf", std::nullopt},    {"infinityxinfinity", std::nullopt},
      {"1e400x500", std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.value);
    const auto path = home() / "window-size.png";
    setArguments({"-WindowSize", row.value, "-snapshot", path.string()});
    WindowOptions options = windowOptionsFromLaunchArguments();
    const Size expected = row.size.value_or(kPhoneSize);
    EXPECT_EQ(options.host.size.width, expected.width);
    EXPECT_EQ(options.host.size.height, expected.height);
    WindowHost window(Text("hello"), options);
    ASSERT_EQ(window.run(), 0);
    cairo_surface_t* png = cairo_image_surface_create_from_png(path.c_str());
    EXPECT_EQ(cairo_image_surface_get_width(png), static_cast<int>(expected.width));
    EXPECT_EQ(cairo_image_surface_get_height(png), static_cast<int>(expected.height));
    cairo_surface_destroy(png);
  }
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

// DISPLAY naming no display that answers: SDL falls back to a driver that shows nothing, which
// is no display at all, unless SDL_VIDEODRIVER asked for it.
TEST_F(WindowHostTest, ADisplayThatDoesNotAnswerIsNoDisplay) {
  if (std::filesystem::exists("/tmp/.X11-unix/X99")) GTEST_SKIP() << "display :99 exists here";
  if (std::filesystem::exists("/dev/dri")) GTEST_SKIP() << "SDL could draw on the console here";
  unsetenv("SDL_VIDEODRIVER");
  unsetenv("WAYLAND_DISPLAY");
  setenv("DISPLAY", ":99", 1);
  // No compositor is found under its default name here.
  const auto runtime = home() / "runtime";
  std::filesystem::create_directories(runtime);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  EXPECT_TRUE(displayUnavailableReason());

  useSystemClock();
  WindowHost window(Text("hello"), {});
  // Only a loop that started wrongly is still running then.
  auto running = std::make_shared<bool>(true);
  DispatchQueue::main()->after(60, [running, &window] {
    if (*running) window.stop();
  });
  {
    testing::StandardErrorCapture capture(home() / "stderr.txt");
    EXPECT_EQ(window.run(), 2);
    EXPECT_TRUE(capture.contains("no display available (")) << capture.text();
  }
  *running = false;

  // Asked for, the driver serves (tests, headless runs), though it still shows nothing.
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  EXPECT_TRUE(displayUnavailableReason());
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
