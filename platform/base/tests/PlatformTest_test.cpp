#include "platform/testing/PlatformTest.h"

#include <gtest/gtest.h>
#include <signal.h>

#include "platform/base/Bundle.h"
#include "platform/base/Files.h"
#include "platform/base/ProcessInfo.h"
#include "platform/base/UserDefaults.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/testing/ChildProcess.h"

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

// A child shares the sandbox and the bundle as the parent left them, and its exit or the signal
// that ended it reaches the parent.
TEST_F(PlatformFixtureTest, ChildProcessSharesTheSandboxAndReportsHowItEnded) {
  using testing::ChildProcess;
  const auto marker = SandboxHome::applicationSupport() / "from-child";
  if (testing::testRole() == "writer") {
    ASSERT_EQ(Bundle::mainBundle()->objectForInfoDictionaryKey("Parent"), Value(true));
    ASSERT_TRUE(files::writeAtomically(marker, "hello", nullptr));
    testing::announce("written");
    return;
  }
  if (testing::testRole() == "sleeper") {
    testing::announce("asleep");
    for (;;) ::pause();
  }
  writeInfoPlist({{"Parent", true}});
  auto writer = ChildProcess::start("writer");
  ASSERT_TRUE(writer);
  EXPECT_TRUE(testing::awaitAnnouncement("written", *writer));
  EXPECT_EQ(writer->wait(), 0);
  auto bytes = files::readFile(marker, nullptr);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(std::string(bytes->begin(), bytes->end()), "hello");

  auto sleeper = ChildProcess::start("sleeper");
  ASSERT_TRUE(sleeper);
  ASSERT_TRUE(testing::awaitAnnouncement("asleep", *sleeper));
  sleeper->kill(SIGKILL);
  EXPECT_EQ(sleeper->wait(), 128 + SIGKILL);
}

}  // namespace
}  // namespace platform
