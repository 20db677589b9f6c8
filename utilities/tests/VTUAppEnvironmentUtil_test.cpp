#include "utilities/VTUAppEnvironmentUtil.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/base/Bundle.h"
#include "platform/base/ProcessInfo.h"
#include "platform/testing/PlatformTest.h"

namespace {

class VTUAppEnvironmentUtilTest : public platform::testing::PlatformTest {
 protected:
  void touch(const std::filesystem::path& path) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << "x";
  }
  void onDevice() { platform::ProcessInfo::processInfo().setDeviceModelForTesting("iPhone14,2"); }
};

TEST_F(VTUAppEnvironmentUtilTest, SimulatorFollowsTheDeviceModel) {
  auto& info = platform::ProcessInfo::processInfo();
  const std::vector<std::pair<std::string, bool>> table = {
      {"x86_64", true}, {"i386", true}, {"iPhone14,2", false}, {"arm64", false}};
  for (const auto& [model, simulator] : table) {
    info.setDeviceModelForTesting(model);
    EXPECT_EQ(VTUAppEnvironmentUtil::deviceModel(), model);
    EXPECT_EQ(VTUAppEnvironmentUtil::isSimulator(), simulator) << model;
  }
}

TEST_F(VTUAppEnvironmentUtilTest, StoreInfoFolderMakesAStoreInstallUnlessSimulatorOrSandbox) {
  onDevice();
  EXPECT_FALSE(VTUAppEnvironmentUtil::isFromAppStore());
  std::filesystem::create_directories(bundleDir() / "SC_Info");
  EXPECT_TRUE(VTUAppEnvironmentUtil::isFromAppStore());

  platform::ProcessInfo::processInfo().setDeviceModelForTesting("x86_64");
  EXPECT_FALSE(VTUAppEnvironmentUtil::isFromAppStore());

  onDevice();
  touch(bundleDir() / "StoreKit" / "sandboxReceipt");
  EXPECT_TRUE(VTUAppEnvironmentUtil::isAppStoreReceiptSandbox());
  EXPECT_FALSE(VTUAppEnvironmentUtil::isFromAppStore());
}

TEST_F(VTUAppEnvironmentUtilTest, ReceiptCheckSwitchedOffIgnoresASandboxReceipt) {
  touch(bundleDir() / "StoreKit" / "sandboxReceipt");
  writeInfoPlist({{"CFBundleIdentifier", "com.tavo.tests"},
                  {"LumoAppStoreReceiptURLCheckEnabled", false}});
  platform::Bundle::resetMainBundleForTesting();
  EXPECT_FALSE(VTUAppEnvironmentUtil::isAppStoreReceiptSandbox());
}

TEST_F(VTUAppEnvironmentUtilTest, EncryptedExecutableCountsOnlyWithoutAProvisioningProfile) {
  onDevice();
  platform::ProcessInfo::processInfo().setAppStoreInstallForTesting(true);
  EXPECT_TRUE(VTUAppEnvironmentUtil::isFromAppStore());
  touch(bundleDir() / "embedded.mobileprovision");
  EXPECT_FALSE(VTUAppEnvironmentUtil::isFromAppStore());
}

TEST_F(VTUAppEnvironmentUtilTest, FixedFacts) {
  EXPECT_FALSE(VTUAppEnvironmentUtil::isAppExtension());
  EXPECT_TRUE(VTUAppEnvironmentUtil::isIOS7OrHigher());
  EXPECT_EQ(VTUAppEnvironmentUtil::applePlatform(), "ios");
  EXPECT_EQ(VTUAppEnvironmentUtil::deploymentType(), "swiftpm");
  EXPECT_FALSE(VTUAppEnvironmentUtil::hasSwiftRuntime());
  platform::ProcessInfo::processInfo().setOperatingSystemVersionForTesting("15.4");
  EXPECT_EQ(VTUAppEnvironmentUtil::systemVersion(), "15.4");
}

}  // namespace
