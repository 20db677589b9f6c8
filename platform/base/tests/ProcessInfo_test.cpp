#include "platform/base/ProcessInfo.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <algorithm>

#include "platform/testing/PlatformTest.h"

namespace platform {
namespace {

class ProcessInfoTest : public testing::PlatformTest {};

TEST_F(ProcessInfoTest, ArgumentsAreInjectable) {
  auto& info = ProcessInfo::processInfo();
  setArguments({"-LMODebugEnabled", "-MSRAnalyticsDebugEnabled", "-Level", "3"});
  auto args = info.arguments();
  ASSERT_EQ(args.size(), 5u);
  EXPECT_EQ(args[1], "-LMODebugEnabled");
  EXPECT_TRUE(info.hasArgument("-LMODebugEnabled"));
  EXPECT_FALSE(info.hasArgument("-LMODebugDisabled"));
  EXPECT_EQ(info.argumentValue("Level"), "3");
  EXPECT_EQ(info.argumentValue("-Level"), "3");
  EXPECT_FALSE(info.argumentValue("Missing"));
  EXPECT_FALSE(info.argumentValue("3"));  // the last argument has no value after it
  unsigned long generation = info.argumentsGeneration();
  info.setArguments({"/usr/bin/prog"});
  EXPECT_GT(info.argumentsGeneration(), generation);
  EXPECT_EQ(info.processName(), "prog");
  EXPECT_FALSE(info.hasArgument("/usr/bin/prog"));  // the program is not an argument
}

TEST_F(ProcessInfoTest, FactsAndOverrides) {
  auto& info = ProcessInfo::processInfo();
  struct utsname u {};
  ASSERT_EQ(::uname(&u), 0);
  EXPECT_EQ(info.deviceModel(), u.machine);
  std::string version = info.operatingSystemVersion();
  EXPECT_EQ(std::string(u.release).rfind(version, 0), 0u) << version;
  EXPECT_EQ(std::count(version.begin(), version.end(), '.'), 1);
  EXPECT_FALSE(info.isAppExtension());
  EXPECT_FALSE(info.isAppStoreInstall());
  EXPECT_FALSE(info.isSimulator());
  EXPECT_FALSE(info.hostName().empty());
  EXPECT_GT(info.processIdentifier(), 0);

  ::setenv("TVS_OS_VERSION", "17.2", 1);
  EXPECT_EQ(info.operatingSystemVersion(), "17.2");
  info.setOperatingSystemVersionForTesting("16.0.1");
  info.setDeviceModelForTesting("iPhone14,2");
  info.setAppExtensionForTesting(true);
  info.setAppStoreInstallForTesting(true);
  info.setSimulatorForTesting(true);
  EXPECT_EQ(info.operatingSystemVersion(), "16.0.1");
  EXPECT_EQ(info.deviceModel(), "iPhone14,2");
  EXPECT_TRUE(info.isAppExtension());
  EXPECT_TRUE(info.isAppStoreInstall());
  EXPECT_TRUE(info.isSimulator());
  info.setOperatingSystemVersionForTesting(std::nullopt);
  info.setDeviceModelForTesting(std::nullopt);
  EXPECT_EQ(info.operatingSystemVersion(), "17.2");
  EXPECT_EQ(info.deviceModel(), u.machine);
  EXPECT_EQ(info.environmentValue("TVS_OS_VERSION"), "17.2");
  EXPECT_FALSE(info.environmentValue("TVS_SURELY_NOT_SET"));
}

}  // namespace
}  // namespace platform
