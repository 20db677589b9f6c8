#include "measurement/experiments/MSREMonitor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRMonitor.h"
#include "measurement/foundation/tests/MSRTestSupport.h"
#include "measurement/messages/MSRPBFlag.h"
#include "platform/runtime/Runtime.h"
#include "platform/testing/PlatformTest.h"
#include "utilities/logger/VTULogger.h"

namespace {

class MSREMonitorTest : public platform::testing::PlatformTest {};

TEST_F(MSREMonitorTest, ForwardsToTheEngineMonitorUnchanged) {
  EXPECT_EQ(MSREManager::monitor(), MSREManager::monitor());
  vtu::testing::startCapturingLines();
  MSREManager::monitor()->logWithLevel(0, 27001, "Experiment failed");
  MSREManager::monitor()->logWithLevel(3, 27002, "Experiment value", platform::Value(7));
  MSRMeasurement::monitor()->flush();
  vtu::testing::flushLoggingQueue();
  std::vector<std::string> lines;
  for (const auto& l : vtu::testing::capturedLines()) lines.push_back(l.line);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("<LumoMeasurement>[I-ACS027001] Experiment failed"), std::string::npos);
  EXPECT_NE(lines[1].find("[I-ACS027002] Experiment value: 7"), std::string::npos);
}

TEST_F(MSREMonitorTest, TheManagerAndItsMonitorAreFoundByName) {
  platform::runtime::Class* manager = platform::runtime::classNamed("MSREManager");
  ASSERT_TRUE(manager);
  auto monitor = platform::runtime::msgSend<platform::ObjectPtr>(manager, "monitor");
  EXPECT_EQ(std::dynamic_pointer_cast<MSREMonitor>(monitor), MSREManager::monitor());
  EXPECT_EQ(platform::runtime::objectGetClassName(monitor.get()), "MSREMonitor");
}

// The flag message's own checks log through this monitor, which hands them to the engine's.
TEST_F(MSREMonitorTest, FlagMessageChecksLogThroughTheExperimentsMonitor) {
  platform::runtime::Class* monitorClass = platform::runtime::classNamed("MSREMonitor");
  ASSERT_TRUE(monitorClass);
  std::vector<std::int64_t> passedThrough;
  for (const char* selector :
       {"logWithLevel:messageCode:message:", "logWithLevel:messageCode:message:context:"}) {
    platform::runtime::IMP original =
        platform::runtime::classGetMethodImplementation(monitorClass, selector);
    ASSERT_TRUE(original) << selector;
    const bool withContext = std::string(selector).ends_with("context:");
    platform::runtime::IMP recording =
        withContext ? platform::runtime::implementationWithBlock(
                          [&passedThrough, original](
                              platform::Object& self, std::int64_t level, std::int64_t code,
                              std::optional<std::string> message, platform::Value context) {
                            passedThrough.push_back(code);
                            original->call<void>(self, level, code, message, context);
                          })
                    : platform::runtime::implementationWithBlock(
                          [&passedThrough, original](platform::Object& self, std::int64_t level,
                                                     std::int64_t code,
                                                     std::optional<std::string> message) {
                            passedThrough.push_back(code);
                            original->call<void>(self, level, code, message);
                          });
    platform::runtime::classReplaceMethod(monitorClass, selector, recording, "");
  }
  msr_test::MonitorRecorder engine;
  EXPECT_FALSE(MSRPBFlagWithNameValue(platform::Value(), platform::Value(1)));
  EXPECT_FALSE(MSRPBFlagWithNameValue(platform::Value(5), platform::Value(1)));
  EXPECT_FALSE(MSRPBFlagWithNameValue(platform::Value("f"), platform::Value::date(1)));
  EXPECT_TRUE(MSRPBFlagWithNameValue(platform::Value("f"), platform::Value(2.5)));
  EXPECT_EQ(passedThrough, (std::vector<std::int64_t>{850000, 850001, 850002}));
  const auto records = engine.records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].message, "Flag name must not be nil");
  EXPECT_TRUE(records[0].contexts.empty());
  EXPECT_EQ(records[1].message, "Flag name must be a string");
  EXPECT_EQ(records[1].contexts, std::vector<platform::Value>{platform::Value("NSNumber")});
  EXPECT_EQ(records[2].message, "Flag value is invalid");
  EXPECT_EQ(records[2].contexts, std::vector<platform::Value>{platform::Value("NSDate")});
  for (const auto& r : records) EXPECT_EQ(r.level, 1);
}

}  // namespace
