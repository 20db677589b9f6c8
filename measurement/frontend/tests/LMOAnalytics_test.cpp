#include "measurement/frontend/LMOAnalytics.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/runtime/Runtime.h"
#include "platform/testing/PlatformTest.h"
#include "utilities/logger/VTULogger.h"

namespace {

class LMOAnalyticsTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    vtu::testing::startCapturingLines();
  }

  std::vector<std::string> loggedLines() {
    vtu::testing::flushLoggingQueue();
    std::vector<std::string> lines;
    for (const auto& line : vtu::testing::capturedLines()) {
      EXPECT_EQ(line.level, kVTULoggerLevelWarning) << line.line;
      lines.push_back(line.line);
    }
    return lines;
  }

  // Stands in for the app core: a runtime class "LMOApp" whose isDefaultAppConfigured answers
  // `configured`.
  static void registerAppClass(bool configured) {
    static bool answer;
    answer = configured;
    auto* cls = platform::runtime::registerClass(
        "LMOApp", platform::runtime::kRootClassName, 0, [](platform::runtime::Class& c) {
          c.addClassMethod("isDefaultAppConfigured",
                           [](platform::Object&) -> bool { return answer; });
        });
    ASSERT_NE(cls, nullptr);
  }
};

TEST_F(LMOAnalyticsTest, UnconfiguredAppDropsEachAppEventWithTheMonitorLine) {
  ASSERT_FALSE(LMOAnalytics::isDefaultAppConfigured());
  for (const char* name : {"sound_play", "sound_share", "sound_favorited"}) {
    LMOAnalytics::logEventWithName(name, platform::Value::Dictionary{{"id", "tavo_hello"}});
  }
  auto lines = loggedLines();
  ASSERT_EQ(lines.size(), 3u);
  const char* names[] = {"sound_play", "sound_share", "sound_favorited"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_NE(lines[i].find(std::string("<LumoMeasurement>[I-ACS025018] Event not logged. Call "
                                        "+[LMOApp configure]: ") +
                            names[i]),
              std::string::npos)
        << lines[i];
  }
}

TEST_F(LMOAnalyticsTest, PercentInTheEventNameIsDoubledBecauseTheTextIsNotAFormat) {
  LMOAnalytics::logEventWithName("odd%dname", std::nullopt);
  auto lines = loggedLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("configure]: odd%%dname"), std::string::npos) << lines[0];
}

TEST_F(LMOAnalyticsTest, AppClassThatSaysNoIsNotConfigured) {
  registerAppClass(false);
  EXPECT_FALSE(LMOAnalytics::isDefaultAppConfigured());
  LMOAnalytics::logEventWithName("sound_play", std::nullopt);
  EXPECT_EQ(loggedLines().size(), 1u);
}

TEST_F(LMOAnalyticsTest, ConfiguredAppLogsNoDropLine) {
  registerAppClass(true);
  EXPECT_TRUE(LMOAnalytics::isDefaultAppConfigured());
  LMOAnalytics::logEventWithName("sound_play", platform::Value::Dictionary{{"id", "x"}});
  EXPECT_TRUE(loggedLines().empty());
}

TEST_F(LMOAnalyticsTest, AppClassWithoutTheQueryIsNotConfigured) {
  ASSERT_NE(platform::runtime::registerClass("LMOApp", platform::runtime::kRootClassName, 0),
            nullptr);
  EXPECT_FALSE(LMOAnalytics::isDefaultAppConfigured());
}

}  // namespace
