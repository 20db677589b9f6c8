#include "platform/testing/PlatformTest.h"

#include <gtest/gtest.h>

#include "platform/base/Bundle.h"
#include "platform/base/Files.h"
#include "platform/base/ProcessInfo.h"
#include "platform/base/UserDefaults.h"
#include "platform/dispatch/RunLoop.h"

namespace platform {
namespace {

class PlatformFixtureTest : public testing::PlatformTest {};

TEST_F(PlatformFixtureTest, GivesAFreshSandboxBundleArgumentsAndClock) {
  EXPECT_EQ(SandboxHome::root(), home());
  bool isDir = false;
  EXPECT_TRUE(files::exists(SandboxHome::preferences(), &isDir) && isDir);
  EXPECT_TRUE(files::exists(SandboxHome::applicationSupport(), &isDir) && isDir);
  EXPECT_TRUE(files::exists(SandboxHome::caches(), &isDir) && isDir);
  EXPECT_TRUE(files::exists(SandboxHome::tmp(), &isDir) && isDir);
  EXPECT_EQ(files::contentsOfDirectory(SandboxHome::preferences())->size(), 0u);
  EXPECT_EQ(Bundle::mainBundle()->bundlePath(), bundleDir());
  EXPECT_EQ(Bundle::mainBundle()->bundleIdentifier(), "com.tavo.tests");
  EXPECT_EQ(ProcessInfo::processInfo().arguments().size(), 1u);
  EXPECT_EQ(&Clock::current(), &clock());
  double before = Clock::current().now();
  clock().advance(10);
  EXPECT_DOUBLE_EQ(Clock::current().now(), before + 10);
}

TEST_F(PlatformFixtureTest, WriteInfoPlistKeepsTheIdentifierUnlessGiven) {
  writeInfoPlist({{"IS_MEASUREMENT_ENABLED", false}});
  auto bundle = Bundle::mainBundle();
  EXPECT_EQ(bundle->bundleIdentifier(), "com.tavo.tests");
  EXPECT_EQ(bundle->objectForInfoDictionaryKey("IS_MEASUREMENT_ENABLED"), Value(false));
  writeInfoPlist({{"CFBundleIdentifier", "com.tavo.x"}});
  EXPECT_EQ(Bundle::mainBundle()->bundleIdentifier(), "com.tavo.x");
}

TEST_F(PlatformFixtureTest, PumpsTheMainRunLoop) {
  bool ran = false;
  RunLoop::main().performAfter(0, [&] { ran = true; });
  EXPECT_TRUE(pumpUntil([&] { return ran; }));
}

TEST_F(PlatformFixtureTest, UseSystemClockPutsTheRealClockBack) {
  useSystemClock();
  EXPECT_NE(&Clock::current(), &clock());
}

}  // namespace
}  // namespace platform
