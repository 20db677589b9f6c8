// The user agent's rendering and the per-tag heartbeat.
#include "core/LMOLumoUserAgent.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/LMOApp.h"
#include "core/LMOHeartbeatInfo.h"
#include "core/tests/CoreTestSupport.h"
#include "platform/base/Files.h"
#include "platform/base/ProcessInfo.h"
#include "platform/testing/UnreadableFile.h"
#include "utilities/storage/VTUHeartbeatDateStorage.h"

namespace {

using core_testing::CoreTest;
using platform::Value;

class LMOLumoUserAgentTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    platform::ProcessInfo::processInfo().setDeviceModelForTesting("x86_64");
    platform::ProcessInfo::processInfo().setOperatingSystemVersionForTesting("6.1");
  }
  void TearDown() override {
    platform::ProcessInfo::processInfo().setDeviceModelForTesting(std::nullopt);
    platform::ProcessInfo::processInfo().setOperatingSystemVersionForTesting(std::nullopt);
    CoreTest::TearDown();
  }
};

TEST_F(LMOLumoUserAgentTest, RendersSortedEntriesOfLibrariesAndEnvironment) {
  writeInfoPlist({{"DTSDKBuild", Value("21A5")}, {"DTXcodeBuild", Value("15A")}});
  LMOLumoUserAgent agent;
  agent.setValue(std::string("8.10.0"), "lumo-ios");
  agent.setValue(std::string("8.9.1"), "lumo-analytics");
  agent.setValue(std::string("1"), "Zeta");
  agent.setValue(std::string("1"), "alpha");
  EXPECT_EQ(agent.lumoUserAgent(),
            "alpha/1 apple-platform/ios apple-sdk/21A5 appstore/false deploy/swiftpm "
            "device/x86_64 lumo-analytics/8.9.1 lumo-ios/8.10.0 os-version/6.1 xcode/15A Zeta/1");
}

TEST_F(LMOLumoUserAgentTest, ChangesShowInTheNextString) {
  LMOLumoUserAgent agent;
  agent.setValue(std::string("8.10.0"), "lumo-ios");
  const std::string first = agent.lumoUserAgent();
  EXPECT_EQ(first.find("apple-sdk/"), std::string::npos) << "no DTSDKBuild, no entry";
  EXPECT_EQ(first.find("xcode/"), std::string::npos);
  agent.setValue(std::string("8.10.0"), "lumo-install");
  EXPECT_NE(agent.lumoUserAgent().find("lumo-install/8.10.0 lumo-ios/8.10.0"), std::string::npos);
  agent.setValue(std::nullopt, "lumo-install");
  EXPECT_EQ(agent.lumoUserAgent(), first);
  // An environment fact replaces a library of the same name.
  agent.setValue(std::string("fake"), "device");
  EXPECT_EQ(agent.lumoUserAgent(), first);
}

TEST_F(LMOLumoUserAgentTest, LibrariesLinkedIntoTheProgramAppearWithTheirVersions) {
  const std::string agent = LMOApp::lumoUserAgent();
  for (const char* entry : {"lumo-analytics/8.9.1", "lumo-install/8.10.0", "lumo-ios/8.10.0"}) {
    EXPECT_NE(agent.find(entry), std::string::npos) << entry << " in " << agent;
  }
}

TEST_F(LMOLumoUserAgentTest, ResetKeepsOnlyTheEnvironment) {
  auto agent = LMOApp::userAgent();
  ASSERT_NE(agent->lumoUserAgent().find("lumo-ios/8.10.0"), std::string::npos);
  LMOApp::resetApps();
  EXPECT_EQ(LMOApp::lumoUserAgent(),
            "apple-platform/ios appstore/false deploy/swiftpm device/x86_64 os-version/6.1");
}

TEST_F(LMOLumoUserAgentTest, HeartbeatCodesPerDay) {
  EXPECT_EQ(LMOHeartbeatInfo::heartbeatCodeForTag("lumo-install"), LMOHeartbeatCode::Combined);
  EXPECT_EQ(LMOHeartbeatInfo::heartbeatCodeForTag("lumo-install"), LMOHeartbeatCode::None);
  EXPECT_EQ(LMOHeartbeatInfo::heartbeatCodeForTag("other"), LMOHeartbeatCode::SDK)
      << "GLOBAL was reported today already";
  clock().advance(86399);
  EXPECT_EQ(LMOHeartbeatInfo::heartbeatCodeForTag("lumo-install"), LMOHeartbeatCode::None);
  clock().advance(1);
  EXPECT_EQ(LMOHeartbeatInfo::heartbeatCodeForTag("lumo-install"), LMOHeartbeatCode::Combined);
  // Only GLOBAL due: a tag reported later than GLOBAL.
  clock().advance(86400);
  ASSERT_TRUE(LMOHeartbeatInfo::updateIfNeededHeartbeatDateForTag("GLOBAL"));
  clock().advance(100);
  EXPECT_EQ(LMOHeartbeatInfo::heartbeatCodeForTag("lumo-install"), LMOHeartbeatCode::SDK);
  clock().advance(86350);
  EXPECT_EQ(LMOHeartbeatInfo::heartbeatCodeForTag("lumo-install"), LMOHeartbeatCode::Global);
}

TEST_F(LMOLumoUserAgentTest, HeartbeatDateInTheFutureWaitsItOut) {
  auto storage = VTUHeartbeatDateStorage::initWithFileName(std::string("HEARTBEAT_INFO_STORAGE"));
  const double now = clock().now();
  ASSERT_TRUE(storage->setHearbeatDate(Value::date(now + 3 * 86400), "tag"));
  EXPECT_FALSE(LMOHeartbeatInfo::updateIfNeededHeartbeatDateForTag("tag"));
  clock().advance(5 * 86400);
  EXPECT_TRUE(LMOHeartbeatInfo::updateIfNeededHeartbeatDateForTag("tag"));
  EXPECT_EQ(storage->heartbeatDateForTag("tag").dateValue(), now + 5 * 86400);
}

// Dates that cannot be read now are not "never reported": nothing is due, nothing is recorded,
// and once they read again they decide as before.
TEST_F(LMOLumoUserAgentTest, HeartbeatOfDatesThatCannotBeReadIsNotDueAndRecordsNothing) {
  using platform::testing::UnreadableFile;
  const auto file =
      platform::SandboxHome::applicationSupport() / "Veltro" / "LMOApp" / "HEARTBEAT_INFO_STORAGE";
  for (auto cause : UnreadableFile::usableCauses()) {
    SCOPED_TRACE(UnreadableFile::name(cause));
    std::filesystem::remove(file);
    ASSERT_EQ(LMOHeartbeatInfo::heartbeatCodeForTag("lumo-install"), LMOHeartbeatCode::Combined);
    const double reported = clock().now();
    clock().advance(86400);
    {
      UnreadableFile unreadable(cause, file);
      EXPECT_EQ(LMOHeartbeatInfo::heartbeatCodeForTag("lumo-install"), LMOHeartbeatCode::None);
      EXPECT_FALSE(LMOHeartbeatInfo::updateIfNeededHeartbeatDateForTag("other"));
    }
    auto storage = VTUHeartbeatDateStorage::initWithFileName(std::string("HEARTBEAT_INFO_STORAGE"));
    EXPECT_EQ(storage->heartbeatDateForTag("GLOBAL").dateValue(), reported);
    EXPECT_TRUE(storage->heartbeatDateForTag("other").isNil());
    EXPECT_EQ(LMOHeartbeatInfo::heartbeatCodeForTag("lumo-install"), LMOHeartbeatCode::Combined);
  }
}

}  // namespace
