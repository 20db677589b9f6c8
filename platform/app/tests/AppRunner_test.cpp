#include "platform/app/AppRunner.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/app/AppConstants.h"
#include "platform/app/Application.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/testing/PlatformTest.h"
#include "platform/ui/View.h"

namespace platform::app {
namespace {

// What the runner did when, as the app value sees it.
std::vector<std::string>& journal() {
  static std::vector<std::string> entries;
  return entries;
}

struct TestApp {
  TestApp() {
    journal().push_back("construct windows=" +
                        std::to_string(Application::sharedApplication()->windows().size()));
  }
  WindowGroup body() const {
    journal().push_back("body");
    return {[] {
      journal().push_back("content");
      return ui::Text("Hello from the runner");
    }};
  }
};

class AppRunnerTest : public platform::testing::PlatformTest {};

TEST_F(AppRunnerTest, RunsTheAppTypeAndPostsTheLifeCycleAroundTheWindow) {
  auto token = NotificationCenter::defaultCenter().addObserver(
      "", Value(), nullptr, [](const Notification& n) {
        if (n.name.rfind("UIApplication", 0) == 0) journal().push_back(n.name);
      });
  const auto png = home() / "shot.png";
  std::string program = "tvs", flag = "-snapshot", path = png.string();
  char* argv[] = {program.data(), flag.data(), path.data(), nullptr};
  EXPECT_EQ(runApp<TestApp>(3, argv), 0);
  EXPECT_TRUE(std::filesystem::exists(png));
  EXPECT_TRUE(Application::sharedApplication()->windows().empty());
  const std::vector<std::string> expected = {
      "construct windows=0",           "body",
      kDidFinishLaunchingNotification, "content",
      kDidBecomeActiveNotification,    kWillResignActiveNotification,
      kDidEnterBackgroundNotification, kWillTerminateNotification};
  // The content may be built again while the window settles; the order of the rest is fixed.
  std::vector<std::string> seen;
  for (const auto& e : journal()) {
    if (e != "content" || std::find(seen.begin(), seen.end(), "content") == seen.end())
      seen.push_back(e);
  }
  EXPECT_EQ(seen, expected);
}

}  // namespace
}  // namespace platform::app
