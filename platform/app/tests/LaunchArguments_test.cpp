#include "platform/app/LaunchArguments.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/testing/PlatformTest.h"

namespace platform::app {
namespace {

class LaunchArgumentsTest : public platform::testing::PlatformTest {};

TEST_F(LaunchArgumentsTest, AnOptionGivenWithoutItsValueIsAOneLineUsageError) {
  struct Row {
    std::vector<std::string> arguments;  // after the program
    std::optional<std::string> missing;  // the option the message names, none when all is well
  };
  const Row rows[] = {
      {{}, std::nullopt},
      {{"-snapshot", "out.png", "-ColorScheme", "dark", "-WindowSize", "300x500", "-DeviceIdiom",
        "pad", "-MailOutboxDirectory", "/tmp/outbox"},
       std::nullopt},
      // Options that take no value, before, between and after them.
      {{"-LMODebugEnabled", "-snapshot", "out.png", "-LMOAnalyticsDebugEnabled"}, std::nullopt},
      {{"-snapshot", "out.png", "-LMODebugDisabled", "-ColorScheme", "light"}, std::nullopt},
      // Any value that is not an option, an option's name without its dash included.
      {{"-MailOutboxDirectory", "snapshot", "-WindowSize", "-5x3"}, std::nullopt},
      {{"-snapshot"}, "-snapshot"},
      {{"-snapshot", "-ColorScheme", "dark"}, "-snapshot"},
      {{"-snapshot", ""}, "-snapshot"},
      {{"-snapshot", "out.png", "-ColorScheme"}, "-ColorScheme"},
      {{"-ColorScheme", "dark", "-ColorScheme"}, "-ColorScheme"},
      {{"-WindowSize", "-LMODebugEnabled"}, "-WindowSize"},
      {{"-DeviceIdiom"}, "-DeviceIdiom"},
      {{"-MailOutboxDirectory", "-snapshot", "out.png"}, "-MailOutboxDirectory"},
  };
  for (const auto& row : rows) {
    std::vector<std::string> arguments = {"/opt/tvs/TavoVastrowSoundboard"};
    arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
    std::string shown;
    for (const auto& a : arguments) shown += "[" + a + "]";
    SCOPED_TRACE(shown);
    const auto error = launchArgumentsError(arguments);
    if (!row.missing) {
      EXPECT_FALSE(error) << *error;
      continue;
    }
    ASSERT_TRUE(error);
    EXPECT_EQ(error->find('\n'), std::string::npos) << *error;
    EXPECT_EQ(error->rfind("TavoVastrowSoundboard: " + *row.missing + " ", 0), 0u) << *error;
    EXPECT_NE(error->find("usage: TavoVastrowSoundboard [-snapshot PATH]"), std::string::npos)
        << *error;
    for (const char* option :
         {"-ColorScheme", "-WindowSize", "-DeviceIdiom", "-MailOutboxDirectory"}) {
      EXPECT_NE(error->find(std::string("[") + option + " "), std::string::npos) << option;
    }
  }
}

}  // namespace
}  // namespace platform::app
