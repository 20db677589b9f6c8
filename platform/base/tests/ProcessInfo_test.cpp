#include "platform/base/ProcessInfo.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/UserDefaults.h"
#include "platform/base/Value.h"
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

// An option's value is the argument after it unless that is another option; a negative number is
// a value. The user defaults' argument domain pairs the same arguments the same way.
TEST_F(ProcessInfoTest, AnOptionIsNeverTheValueOfTheOptionBeforeIt) {
  struct Row {
    std::vector<std::string> arguments;
    const char* name;
    std::optional<std::string> value;
  };
  const Row rows[] = {
      {{"-snapshot"}, "snapshot", std::nullopt},
      {{"-snapshot", "-ColorScheme", "dark"}, "snapshot", std::nullopt},
      {{"-snapshot", "-ColorScheme", "dark"}, "ColorScheme", "dark"},
      {{"-snapshot", "out.png", "-ColorScheme", "dark"}, "snapshot", "out.png"},
      {{"-LMODebugEnabled", "-MailOutboxDirectory", "/tmp/out"}, "LMODebugEnabled", std::nullopt},
      {{"-LMODebugEnabled", "-MailOutboxDirectory", "/tmp/out"}, "MailOutboxDirectory", "/tmp/out"},
      {{"-Level", "-3"}, "Level", "-3"},
      {{"-Offset", "-.5"}, "Offset", "-.5"},
      {{"-Level", "-"}, "Level", std::nullopt},
      {{"-Name", ""}, "Name", ""},
      {{"-WindowSize", "-DeviceIdiom", "pad"}, "DeviceIdiom", "pad"},
  };
  auto& info = ProcessInfo::processInfo();
  for (const auto& row : rows) {
    std::string shown;
    for (const auto& a : row.arguments) shown += "[" + a + "]";
    SCOPED_TRACE(shown + " " + row.name);
    setArguments(row.arguments);
    EXPECT_EQ(info.argumentValue(row.name), row.value);
    const Value domain = UserDefaults::standardUserDefaults()->objectForKey(row.name);
    if (row.value) {
      EXPECT_EQ(domain, Value(*row.value));
    } else {
      EXPECT_TRUE(domain.isNil());
    }
  }
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
