// The core logger's one-time set-up: line prefix and the persisted debug switch.
#include "core/LMOLogger.h"

#include <gtest/gtest.h>

#include "core/tests/CoreTestSupport.h"
#include "platform/base/UserDefaults.h"
#include "platform/testing/StandardErrorCapture.h"
#include "utilities/logger/VTULogger.h"

namespace {

using core_testing::CoreTest;

class LMOLoggerTest : public CoreTest {
 protected:
  platform::Value storedDebugMode() {
    return platform::UserDefaults::standardUserDefaults()->objectForKey("/veltro/lumo/debug_mode");
  }
};

TEST_F(LMOLoggerTest, LinesCarryTheCoreVersionTagAndCode) {
  LMOLoggerLogError("[Lumo/Core]", "I-COR000099", "value %@ and %ld", "x", 5L);
  auto lines = linesWithCode("I-COR000099");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "8.10.0 - [Lumo/Core][I-COR000099] value x and 5");
  EXPECT_EQ(LMOCoreSDKVersion(), "8.10.0");
}

TEST_F(LMOLoggerTest, StandardErrorGetsTheLinesOnlyWhenTheLaunchArgumentAsks) {
  for (bool asked : {false, true}) {
    SCOPED_TRACE(asked);
    if (asked) setArguments({"-LMOLoggerForceSTDERR"});
    platform::testing::StandardErrorCapture capture(home() / "stderr.txt");
    if (asked) LMOLoggerSetUp();  // a later launch: the set-up reads its arguments
    LMOLoggerLogError("[Lumo/Core]", "I-COR000097", "to the console? %@", asked ? "yes" : "no");
    vtu::testing::flushLoggingQueue();
    EXPECT_EQ(capture.contains("8.10.0 - [Lumo/Core][I-COR000097] to the console? " +
                               std::string(asked ? "yes" : "no")),
              asked);
  }
}

TEST_F(LMOLoggerTest, DebugArgumentSwitchesDebugModeOnAndPersistsIt) {
  setArguments({"-LMODebugEnabled"});
  LMOLoggerLogDebug("[Lumo/Core]", "I-COR000098", "debug line");
  EXPECT_TRUE(vtu::testing::isDebugModeOn());
  EXPECT_EQ(storedDebugMode(), platform::Value(true));
  EXPECT_EQ(linesWithCode("I-COR000098").size(), 1u) << "debug mode lets debug lines through";
}

TEST_F(LMOLoggerTest, StoredSwitchKeepsDebugModeOnInALaterLaunchWithoutArguments) {
  platform::UserDefaults::standardUserDefaults()->setObject(platform::Value(true),
                                                            "/veltro/lumo/debug_mode");
  LMOLoggerSetMaximumLevel(kVTULoggerLevelNotice);
  EXPECT_TRUE(vtu::testing::isDebugModeOn());
  EXPECT_EQ(storedDebugMode(), platform::Value(true));
}

TEST_F(LMOLoggerTest, DisabledArgumentWinsAndClearsTheStoredSwitch) {
  platform::UserDefaults::standardUserDefaults()->setObject(platform::Value(true),
                                                            "/veltro/lumo/debug_mode");
  setArguments({"-LMODebugEnabled", "-LMODebugDisabled"});
  LMOLoggerLogDebug("[Lumo/Core]", "I-COR000098", "debug line");
  EXPECT_FALSE(vtu::testing::isDebugModeOn());
  EXPECT_TRUE(storedDebugMode().isNil());
  EXPECT_TRUE(linesWithCode("I-COR000098").empty());
}

TEST_F(LMOLoggerTest, MaximumLevelIsPassedOn) {
  LMOLoggerSetMaximumLevel(kVTULoggerLevelError);
  EXPECT_EQ(vtu::testing::maximumLevel(), kVTULoggerLevelError);
  LMOLoggerLogWarning("[Lumo/Core]", "I-COR000097", "hidden");
  LMOLoggerLogError("[Lumo/Core]", "I-COR000096", "shown");
  EXPECT_TRUE(linesWithCode("I-COR000097").empty());
  EXPECT_EQ(linesWithCode("I-COR000096").size(), 1u);
}

}  // namespace
