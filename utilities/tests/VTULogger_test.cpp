#include "utilities/logger/VTULogger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>

#include "platform/base/ProcessInfo.h"
#include "platform/dispatch/SystemLog.h"
#include "platform/testing/PlatformTest.h"
#include "platform/testing/StandardErrorCapture.h"
#include "utilities/VTUAppEnvironmentUtil.h"

namespace {

using vtu::testing::capturedLines;

class VTULoggerTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    vtu::testing::startCapturingLines();
  }
  // Makes the process an App Store install: not a simulator, and the store's "SC_Info" folder.
  void becomeAppStoreInstall() {
    platform::ProcessInfo::processInfo().setDeviceModelForTesting("iPhone14,2");
    std::filesystem::create_directories(bundleDir() / "SC_Info");
    ASSERT_TRUE(VTUAppEnvironmentUtil::isFromAppStore());
  }
  bool handedToClient(long level) {
    const size_t before = capturedLines().size();
    VTULoggerLogMessage(level, "[T]", false, "I-TST000001", "x", nullptr);
    return capturedLines().size() == before + 1;
  }
};

// An object that counts how often it is asked for its text.
struct CountingObject : platform::Object {
  mutable std::atomic<int> descriptions{0};
  std::string description() const override {
    ++descriptions;
    return "counted";
  }
};

TEST_F(VTULoggerTest, WritesTheLineInItsFormatAtItsLevel) {
  platform::SystemLogCapture capture;
  VTULoggerSetVersionPrefix("8.10.0");
  VTULoggerLogError("[Lumo/Core]", false, "I-COR000003", "abc");
  VTULoggerLogNotice("[Lumo/Core]", false, "I-COR000004", "%@ has %ld", "app", 3L);
  vtu::testing::flushLoggingQueue();
  const auto written = capture.lines();
  ASSERT_EQ(written.size(), 2u);
  EXPECT_EQ(written[0].level, platform::LogLevel::Error);
  EXPECT_EQ(written[0].message, "8.10.0 - [Lumo/Core][I-COR000003] abc");
  EXPECT_EQ(written[1].level, platform::LogLevel::Notice);
  EXPECT_EQ(written[1].message, "8.10.0 - [Lumo/Core][I-COR000004] app has 3");
  // Written through the client the logger opened for its own facility.
  for (const auto& line : written) EXPECT_EQ(line.facility, "com.veltro.utilities.logger");
}

TEST_F(VTULoggerTest, DefaultLevelAdmitsNoticeAndDropsInfoAndDebug) {
  EXPECT_EQ(vtu::testing::maximumLevel(), 5);
  const std::vector<std::pair<long, bool>> table = {
      {3, true}, {4, true}, {5, true}, {6, false}, {7, false}};
  for (const auto& [level, wanted] : table) {
    EXPECT_EQ(handedToClient(level), wanted) << "level " << level;
    EXPECT_EQ(VTULoggerIsLevelLoggable(level), wanted) << "level " << level;
  }
}

TEST_F(VTULoggerTest, ForcedLinesPassAtAnyMaximumLevel) {
  VTULoggerSetMaximumLevel(3);
  for (long level = 3; level <= 7; ++level) {
    const size_t before = capturedLines().size();
    VTULoggerLogMessage(level, "[T]", true, "I-TST000002", "forced", nullptr);
    EXPECT_EQ(capturedLines().size(), before + 1) << "level " << level;
  }
}

TEST_F(VTULoggerTest, RefusesLevelsOutsideThreeToSeven) {
  for (long bad : {2L, 8L, -1L}) {
    VTULoggerSetMaximumLevel(bad);
    EXPECT_EQ(vtu::testing::maximumLevel(), 5);
    ASSERT_FALSE(capturedLines().empty());
    EXPECT_EQ(capturedLines().back().level, 3);
    EXPECT_EQ(capturedLines().back().line,
              " - [VTULogger][I-COR000023] Invalid logger level, " + std::to_string(bad));
  }
  VTULoggerSetMaximumLevel(7);
  EXPECT_EQ(vtu::testing::maximumLevel(), 7);
  VTULoggerSetMaximumLevel(3);
  EXPECT_EQ(vtu::testing::maximumLevel(), 3);
  EXPECT_EQ(vtu::testing::systemLogFilterLevel(), 3);
}

TEST_F(VTULoggerTest, DebugModeAdmitsEverythingButTheClientFilterFollowsLaterLevels) {
  VTULoggerEnableDebugMode();
  EXPECT_TRUE(vtu::testing::isDebugModeOn());
  EXPECT_EQ(vtu::testing::maximumLevel(), 7);
  VTULoggerSetMaximumLevel(3);
  platform::SystemLogCapture capture;
  EXPECT_TRUE(handedToClient(7));
  EXPECT_TRUE(VTULoggerIsLevelLoggable(7));
  VTULoggerLogError("[T]", false, "I-TST000003", "error");
  vtu::testing::flushLoggingQueue();
  const auto written = capture.lines();  // the debug line stops at the client's filter
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(written[0].level, platform::LogLevel::Error);
}

TEST_F(VTULoggerTest, AppStoreInstallNeverRaisesTheLevel) {
  becomeAppStoreInstall();
  VTULoggerSetMaximumLevel(7);
  EXPECT_EQ(vtu::testing::maximumLevel(), 5);
  VTULoggerEnableDebugMode();
  EXPECT_FALSE(vtu::testing::isDebugModeOn());
  EXPECT_EQ(vtu::testing::maximumLevel(), 5);
  VTULoggerSetMaximumLevel(5);
  VTULoggerSetMaximumLevel(3);
  EXPECT_EQ(vtu::testing::maximumLevel(), 3);
  VTULoggerSetMaximumLevel(5);  // once lowered, an App Store install cannot raise it back
  EXPECT_EQ(vtu::testing::maximumLevel(), 3);
}

TEST_F(VTULoggerTest, FormatsOnlyWantedLinesAndTakesAFormatWithoutArgumentsAsItIs) {
  auto counted = std::make_shared<CountingObject>();
  VTULoggerLogDebug("[T]", false, "I-TST000004", "%@", counted);
  EXPECT_EQ(counted->descriptions.load(), 0);
  VTULoggerLogError("[T]", false, "I-TST000005", "%@", counted);
  EXPECT_EQ(counted->descriptions.load(), 1);

  VTULoggerLogMessage(5, "[T]", false, "I-TST000006", "100% sure %@ %d", nullptr);
  EXPECT_EQ(capturedLines().back().line, " - [T][I-TST000006] 100% sure %@ %d");
}

TEST_F(VTULoggerTest, LinesFromOneThreadReachTheLogInOrder) {
  platform::SystemLogCapture capture;
  for (int i = 0; i < 200; ++i) VTULoggerLogError("[T]", false, "I-TST000007", "%d", i);
  vtu::testing::flushLoggingQueue();
  const auto written = capture.lines();
  ASSERT_EQ(written.size(), 200u);
  for (int i = 0; i < 200; ++i) {
    EXPECT_EQ(written[i].message, " - [T][I-TST000007] " + std::to_string(i));
  }
}

// Whether lines reach standard error besides the system log is decided once, at set-up, from the
// platform's OS version as the platform layer declares it ("$TVS_OS_VERSION" or a test's value);
// the kernel's release number is not on that scale and mirrors nothing.
class VTULoggerStandardErrorTest : public VTULoggerTest {
 protected:
  void TearDown() override {
    ::unsetenv("TVS_OS_VERSION");
    platform::ProcessInfo::processInfo().setOperatingSystemVersionForTesting(std::nullopt);
    VTULoggerTest::TearDown();
  }
  // Logs one wanted line and answers whether it reached standard error.
  bool mirrored(const std::string& text) {
    platform::testing::StandardErrorCapture capture(home() / "stderr.txt");
    VTULoggerLogError("[T]", false, "I-TST000010", "%@", text);
    vtu::testing::flushLoggingQueue();
    EXPECT_FALSE(capturedLines().empty());
    return capture.contains(" - [T][I-TST000010] " + text + "\n");
  }
};

TEST_F(VTULoggerStandardErrorTest, OnlyTheKernelsReleaseIsKnownNothingIsMirrored) {
  ::unsetenv("TVS_OS_VERSION");
  ASSERT_FALSE(platform::ProcessInfo::processInfo().declaredOperatingSystemVersion());
  // The kernel's release (6.x here) is what the version string falls back to.
  EXPECT_FALSE(VTUAppEnvironmentUtil::systemVersion().empty());
  EXPECT_FALSE(mirrored("kernel only"));
  // Mirroring asked for explicitly still works.
  VTULoggerMirrorToStandardError();
  EXPECT_TRUE(mirrored("asked for"));
}

TEST_F(VTULoggerStandardErrorTest, ADeclaredPlatformVersionBelowTenMirrors) {
  ::setenv("TVS_OS_VERSION", "9.3", 1);
  EXPECT_TRUE(mirrored("old platform"));
}

TEST_F(VTULoggerStandardErrorTest, ADeclaredPlatformVersionOfTenOrMoreDoesNotMirror) {
  platform::ProcessInfo::processInfo().setOperatingSystemVersionForTesting("15.4");
  EXPECT_FALSE(mirrored("current platform"));
}

}  // namespace
