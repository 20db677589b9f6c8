#include "measurement/experiments/MSREMonitor.h"

#include <gtest/gtest.h>

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRMonitor.h"
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

}  // namespace
