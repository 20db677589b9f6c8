// The app entry, the window it builds, and sharing through the application's first window.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "TVS/EntityLoader.h"
#include "TVS/SoundViewModel.h"
#include "TVS/soundboardApp.h"
#include "TVS/tests/TVSTestSupport.h"
#include "core/LMOApp.h"
#include "platform/app/ActivityViewController.h"
#include "platform/app/AdNetworkAttribution.h"
#include "platform/app/AppConstants.h"
#include "platform/app/AppRunner.h"
#include "platform/app/Application.h"
#include "platform/app/AudioBackend.h"
#include "platform/app/Window.h"
#include "platform/base/Files.h"
#include "platform/testing/ChildProcess.h"
#include "platform/testing/PlatformTest.h"
#include "platform/ui/TestHost.h"
#include "utilities/logger/VTULogger.h"

namespace {

using tvs::testing::analyticsEvents;

using namespace platform::ui;
using tvs::testing::stdoutLines;

class AppTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    tvs::testing::useBundle(tvs::testing::builtBundle());
    platform::app::AudioBackend::setCurrent(
        std::make_shared<platform::app::RecordingAudioBackend>());
    vtu::testing::startCapturingLines();
    catalogue_ = EntityLoader::loadEntities();
    ASSERT_FALSE(catalogue_.empty());
  }
  void TearDown() override {
    platform::app::AudioBackend::setCurrent(nullptr);
    PlatformTest::TearDown();
  }

  std::vector<SoundProducingEntityPtr> catalogue_;
};

TEST_F(AppTest, ConstructionRegistersForAttributionAndTheBodyShowsTheRootScreen) {
  const int before = platform::app::AdNetworkAttribution::registrationCount();
  soundboardApp app;
  EXPECT_EQ(platform::app::AdNetworkAttribution::registrationCount(), before + 1);
  // The platform stack is configured right after.
  EXPECT_TRUE(LMOApp::isDefaultAppConfigured());
  auto group = app.body();
  EXPECT_TRUE(group.title.empty()) << "the window group has no title of its own";
  TestHost host(group.content());
  EXPECT_EQ(host.navigationTitle(), "Tavo Vastrow Soundboard");
  EXPECT_TRUE(host.findImage(catalogue_[0]->imageName()));
  EXPECT_TRUE(host.findImage("what-the-hex"));
}

TEST_F(AppTest, EachBuildOfTheContentLoadsTheCatalogueAfresh) {
  auto group = soundboardApp().body();
  TestHost first(group.content());
  EXPECT_TRUE(first.findImage(catalogue_[0]->imageName()));
  // An empty catalogue gives an empty grid under a working navigation bar.
  tvs::testing::useBundle(bundleDir());
  TestHost second(group.content());
  EXPECT_FALSE(second.findImage(catalogue_[0]->imageName()));
  EXPECT_EQ(second.navigationTitle(), "Tavo Vastrow Soundboard");
  EXPECT_TRUE(second.findSymbol("gear"));
}

TEST_F(AppTest, ShareWithoutAWindowPresentsNothingAndStillSendsTheEvent) {
  ASSERT_TRUE(platform::app::Application::sharedApplication()->windows().empty());
  SoundViewModel vm;
  auto lines = stdoutLines([&] { vm.shareSound(catalogue_[0]->sounds()[0], catalogue_[0]); });
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(analyticsEvents(), std::vector<std::string>{"sound_share"});
}

TEST_F(AppTest, ShareWithAWindowPresentsTheSheetWithTheClipFile) {
  auto vm = std::make_shared<SoundViewModel>();
  platform::app::WindowGroup group{.content = [] { return View(Text("root")); }, .title = {}};
  TestHost host(group.content());
  auto window = platform::app::attachWindow(host.host(), group);
  host.pump();

  auto sound = catalogue_[0]->sounds()[0];
  vm->shareSound(sound, catalogue_[0]);
  host.pump();
  EXPECT_EQ(host.sheetCount(), 1u);
  auto presented = window->rootViewController()->presentedViewController();
  auto sheet = std::dynamic_pointer_cast<platform::app::ActivityViewController>(presented);
  ASSERT_TRUE(sheet);
  ASSERT_EQ(sheet->activityItems().size(), 1u);
  EXPECT_EQ(sheet->activityItems()[0],
            platform::Value(*SoundViewModel::soundFileURL(*sound, *catalogue_[0])));
  EXPECT_TRUE(sheet->applicationActivities().empty());
  EXPECT_NE(sheet->modalPresentationStyle(), platform::app::ModalPresentationStyle::popover);
  EXPECT_EQ(analyticsEvents(), std::vector<std::string>{"sound_share"});
}

TEST_F(AppTest, ShareOnATabletPointsThePopoverAtTheFirstWindow) {
  setArguments({"-DeviceIdiom", "pad"});
  auto vm = std::make_shared<SoundViewModel>();
  platform::app::WindowGroup group{.content = [] { return View(Text("root")); }, .title = {}};
  TestHost host(group.content(), {.size = kPadSize, .idiom = UserInterfaceIdiom::pad});
  auto window = platform::app::attachWindow(host.host(), group);
  host.pump();
  vm->shareSound(catalogue_[0]->sounds()[0], catalogue_[0]);
  host.pump();
  auto sheet = std::dynamic_pointer_cast<platform::app::ActivityViewController>(
      window->rootViewController()->presentedViewController());
  ASSERT_TRUE(sheet);
  EXPECT_EQ(sheet->modalPresentationStyle(), platform::app::ModalPresentationStyle::popover);
  auto& popover = sheet->popoverPresentationController();
  EXPECT_EQ(popover.sourceView.lock(), std::static_pointer_cast<platform::Object>(window));
  EXPECT_EQ(popover.sourceRect.width, 0);
  EXPECT_EQ(popover.sourceRect.x, 0);
}

// Going back (Alt+Left) while a sheet is up never acts on the screens beneath it: the composer
// keeps its typed text over Settings, and the share sheet stays over the person's page.
TEST_F(AppTest, GoingBackUnderASheetLeavesTheScreensBeneathAlone) {
  setArguments(
      {std::string("-") + platform::app::kMailOutboxArgument, (home() / "outbox").string()});
  soundboardApp app;
  auto group = app.body();
  TestHost host(group.content());
  auto window = platform::app::attachWindow(host.host(), group);
  host.pump();

  // Settings, the Contact Us composer, a typed text, and typing ended (Esc).
  ASSERT_TRUE(host.tap(*host.findSymbol("gear")));
  ASSERT_EQ(host.navigationTitle(), "Settings");
  ASSERT_TRUE(host.tap(*host.findText("Contact Us")));
  ASSERT_EQ(host.sheetCount(), 1u);
  const std::string typed = "Hello from the desktop";
  ASSERT_FALSE(host.findAllFields().empty());
  ASSERT_TRUE(host.typeText(host.findAllFields().back(), typed));
  host.host().endEditing();
  EXPECT_FALSE(host.goBack());
  EXPECT_EQ(host.sheetCount(), 1u);
  ASSERT_FALSE(host.findAllFields().empty());
  EXPECT_EQ(host.findAllFields().back().text(), typed);
  EXPECT_TRUE(host.findText("Tavo Vastrow Soundboard Version 2.0.1"));
  ASSERT_TRUE(host.tap(*host.findText(platform::app::kMailCancelTitle)));
  ASSERT_TRUE(pumpUntil([&] {
    host.pump();
    return host.sheetCount() == 0;
  }));
  EXPECT_EQ(host.navigationTitle(), "Settings");
  ASSERT_TRUE(host.goBack());

  // A person's page and the share sheet of its first clip.
  const auto& entity = catalogue_[0];
  ASSERT_TRUE(host.tap(*host.findImage(entity->imageName())));
  ASSERT_EQ(host.navigationTitle(), entity->displayName());
  auto row = host.findText(entity->sounds()[0]->displayName());
  ASSERT_TRUE(row);
  host.revealSwipeActions(*row);
  auto share = host.findImage("imessage");
  ASSERT_TRUE(share);
  ASSERT_TRUE(host.tap(*share));
  ASSERT_EQ(host.sheetCount(), 1u);
  EXPECT_FALSE(host.goBack());
  EXPECT_EQ(host.sheetCount(), 1u);
  EXPECT_EQ(host.navigationTitle(), entity->displayName());
  EXPECT_TRUE(host.findText(entity->sounds()[0]->displayName()));
  ASSERT_TRUE(host.dismissSheet());
  EXPECT_TRUE(host.goBack());
  EXPECT_EQ(host.navigationTitle(), "Tavo Vastrow Soundboard");
}

// ---- The built program, started in a child process.

constexpr const char* kAppDisplayVariable = "TVS_TEST_APP_DISPLAY";
constexpr const char* kAppDriverVariable = "TVS_TEST_APP_DRIVER";

// In the child: the built program takes over the process, its standard output and error going
// to files in the home, DISPLAY and SDL_VIDEODRIVER as the parent asked (unset when empty) and no
// other display named.
[[noreturn]] void runAppProgram(const std::filesystem::path& home) {
  for (auto [name, from] : {std::pair{"DISPLAY", kAppDisplayVariable},
                            std::pair{"SDL_VIDEODRIVER", kAppDriverVariable}}) {
    const std::string value = std::getenv(from);
    if (value.empty()) {
      ::unsetenv(name);
    } else {
      ::setenv(name, value.c_str(), 1);
    }
  }
  ::unsetenv("WAYLAND_DISPLAY");
  // No compositor is found under its default name here.
  const auto runtime = home / "runtime";
  std::filesystem::create_directories(runtime);
  ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  ::setenv("LSAN_OPTIONS", "suppressions=" TVS_SOURCE_DIR "/scripts/lsan.supp", 1);
  const int out = ::open((home / "app-stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int err = ::open((home / "app-stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (out < 0 || err < 0 || ::dup2(out, STDOUT_FILENO) < 0 || ::dup2(err, STDERR_FILENO) < 0) {
    ::_exit(126);
  }
  char* argv[] = {const_cast<char*>(TVS_APP_PROGRAM), nullptr};
  ::execv(TVS_APP_PROGRAM, argv);
  ::_exit(127);
}

std::string fileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Without a display that can be opened, the program renders its root screen into the home's tmp
// folder, prints where, and ends; a display that is named but cannot be reached is said to be
// so first (SDL would otherwise fall back to drawing nowhere and run unseen for ever). A driver
// that shows nothing, asked for by name, is no display either.
TEST_F(AppTest, WithoutADisplayThatOpensTheProgramWritesThePictureAndSaysWhere) {
  if (platform::testing::testRole() == "app") runAppProgram(home());
  if (std::filesystem::exists("/tmp/.X11-unix/X99")) GTEST_SKIP() << "display :99 exists here";
  if (std::filesystem::exists("/dev/dri")) GTEST_SKIP() << "SDL could draw on the console here";
  struct Row {
    const char* display;
    const char* driver;
    bool saysSo;
  };
  const Row rows[] = {
      {"", "", false}, {":99", "", true}, {":99", "x11", true}, {":99", "dummy", false}};
  const auto picture = platform::SandboxHome::tmp() / "TavoVastrowSoundboard-root-screen.png";
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string("DISPLAY=") + row.display + " SDL_VIDEODRIVER=" + row.driver);
    std::filesystem::remove(picture);
    auto child = platform::testing::ChildProcess::start(
        "app", {{kAppDisplayVariable, row.display}, {kAppDriverVariable, row.driver}});
    ASSERT_TRUE(child);
    // The program ends by itself; one still running after this long shows a window nobody sees.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!child->hasExited() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!child->hasExited()) child->kill(SIGKILL);
    EXPECT_EQ(child->wait(), 0);
    const std::string out = fileText(home() / "app-stdout.txt");
    const std::string err = fileText(home() / "app-stderr.txt");
    EXPECT_NE(out.find("No display: wrote a snapshot of the root screen to " + picture.string()),
              std::string::npos)
        << out << err;
    EXPECT_TRUE(std::filesystem::exists(picture));
    EXPECT_EQ(
        err.find("could not be opened (DISPLAY=" + std::string(row.display)) != std::string::npos,
        row.saysSo)
        << err;
  }
}

TEST_F(AppTest, ShareOfAClipWithoutAFilePresentsNothingPrintsOneLineAndSendsTheEvent) {
  auto vm = std::make_shared<SoundViewModel>();
  platform::app::WindowGroup group{.content = [] { return View(Text("root")); }, .title = {}};
  TestHost host(group.content());
  auto window = platform::app::attachWindow(host.host(), group);
  host.pump();
  auto ghost = std::make_shared<Sound>("not_shipped", "Ghost");
  auto lines = stdoutLines([&] { vm->shareSound(ghost, catalogue_[0]); });
  host.pump();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("not_shipped.mp3"), std::string::npos);
  EXPECT_EQ(host.sheetCount(), 0u);
  EXPECT_FALSE(window->rootViewController()->presentedViewController());
  EXPECT_EQ(analyticsEvents(), std::vector<std::string>{"sound_share"});
}

}  // namespace
