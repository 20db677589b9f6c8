#include "measurement/foundation/MSRMonitoringSampledData.h"

#include <gtest/gtest.h>

#include "measurement/foundation/MSRConstants.h"
#include "measurement/foundation/MSRMonitor.h"
#include "measurement/foundation/tests/MSRTestSupport.h"
#include "platform/base/UserDefaults.h"
#include "platform/testing/PlatformTest.h"

namespace {

using platform::Value;

class MSRMonitoringSampledDataTest : public platform::testing::PlatformTest {
 protected:
  std::shared_ptr<MSRMonitor> makeMonitor() {
    auto monitor =
        MSRMonitor::initWithLogLevel(6, std::make_shared<msr_test::RecordingLogger>(), 11400);
    monitor->flush();
    return monitor;
  }
  std::shared_ptr<platform::UserDefaults> suite() {
    return platform::UserDefaults::initWithSuiteName(kMSRMonitorSuiteName);
  }
};

TEST_F(MSRMonitoringSampledDataTest, ReservoirCountsEveryMessageAndKeepsTheFirstDate) {
  MSRMonitoringSampledData data;
  const double first = clock().now();
  data.insertOrUpdateSampledDataWithKey("k1", "c1");
  clock().advance(10);
  data.insertOrUpdateSampledDataWithKey("k2", "c2");
  data.insertOrUpdateSampledDataWithKey("k3", "c3");
  data.insertOrUpdateSampledDataWithKey(std::nullopt, "c4");  // skipped
  const Value sample = data.sampledData();
  ASSERT_TRUE(MSRMonitoringSampledData::isValidUserDefaultsArrayEntry(sample));
  EXPECT_EQ(sample.at(1).int64Value(), 3);
  EXPECT_EQ(sample.at(3).dateValue(), first);
  const std::string key = *sample.at(2).string();
  const std::string context = *sample.at(0).string();
  EXPECT_TRUE(key == "k1" || key == "k2" || key == "k3");
  EXPECT_EQ(context, "c" + key.substr(1));  // key and context are replaced together
}

TEST_F(MSRMonitoringSampledDataTest, EachMessageIsKeptAboutAsOftenAsTheOthers) {
  int kept[3] = {0, 0, 0};
  for (int round = 0; round < 3000; ++round) {
    MSRMonitoringSampledData data;
    for (int i = 0; i < 3; ++i) data.insertOrUpdateSampledDataWithKey(std::to_string(i), "c");
    ++kept[std::stoi(*data.sampledData().at(2).string())];
  }
  for (int n : kept) {
    EXPECT_GT(n, 800);  // expected 1000 each; far outside chance otherwise
    EXPECT_LT(n, 1200);
  }
}

TEST_F(MSRMonitoringSampledDataTest, DispatchRulesByAgeAndLastDispatch) {
  MSRMonitoringSampledData data;
  const double now = clock().now();
  EXPECT_EQ(data.monitoringDataForDispatchWithSamplePeriod(60, now - 120), "0:");
  EXPECT_FALSE(data.monitoringDataForDispatchWithSamplePeriod(60, 0));
  EXPECT_FALSE(data.monitoringDataForDispatchWithSamplePeriod(60, now - 30));
  data.insertOrUpdateSampledDataWithKey("key", "");
  EXPECT_FALSE(data.monitoringDataForDispatchWithSamplePeriod(60, 0));  // too young
  EXPECT_TRUE(data.sampledData().isArray());
  clock().advance(61);
  EXPECT_EQ(data.monitoringDataForDispatchWithSamplePeriod(60, 0), "1:key");
  EXPECT_TRUE(data.sampledData().isNil());
}

TEST_F(MSRMonitoringSampledDataTest, UrlParameterAndEntryShapes) {
  EXPECT_EQ(MSRMonitoringSampledData::monitoringURLParamWithKey("k", 5, ""), "5:k");
  EXPECT_EQ(MSRMonitoringSampledData::monitoringURLParamWithKey("k", 5, "-,7"), "5:k:-,7");
  EXPECT_TRUE(MSRMonitoringSampledData::sampledDataEntryWithKey(std::nullopt, 1, "c", 1).isNil());
  const Value good = MSRMonitoringSampledData::sampledDataEntryWithKey("k", 1, "c", 2);
  EXPECT_TRUE(MSRMonitoringSampledData::isValidUserDefaultsArrayEntry(good));
  const Value bad[] = {
      Value(),
      Value(Value::Array{Value("c"), Value(2), Value("k")}),
      Value(Value::Array{Value("c"), Value("2"), Value("k"), Value::date(1)}),
      Value(Value::Array{Value("c"), Value(2), Value("k"), Value(1)}),
  };
  for (const Value& v : bad) {
    EXPECT_FALSE(MSRMonitoringSampledData::isValidUserDefaultsArrayEntry(v));
    EXPECT_TRUE(MSRMonitoringSampledData(v).sampledData().isNil());
  }
  EXPECT_EQ(MSRMonitor::monitoringDataKeyWithMessage("msg", -1, 7), "1?_7:msg");
  EXPECT_EQ(MSRMonitor::monitoringDataKeyWithMessage("msg", 4, 7), "1W_7:msg");
}

TEST_F(MSRMonitoringSampledDataTest, SampleSurvivesRestartUntilDispatched) {
  {
    auto monitor = makeMonitor();
    monitor->logWithLevel(4, 1, "warn", Value(7));
    monitor->flush();
  }
  platform::UserDefaults::resetForTesting();
  clock().advance(100);
  auto monitor = makeMonitor();
  EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(50, 0), "1:1W_11400:warn:7");
  EXPECT_TRUE(suite()->objectForKey(kMSRHealthMonitorKey).isNil());
  platform::UserDefaults::resetForTesting();
  auto again = makeMonitor();
  EXPECT_FALSE(again->monitoringDataForDispatchWithSamplePeriod(50, 0));
}

TEST_F(MSRMonitoringSampledDataTest, MigrationPrefersTheSuiteAndEmptiesTheStandardDomain) {
  auto standard = platform::UserDefaults::standardUserDefaults();
  const Value old = MSRMonitoringSampledData::sampledDataEntryWithKey("old", 1, "", 1);
  const Value kept = MSRMonitoringSampledData::sampledDataEntryWithKey("suite", 1, "", 4);
  standard->setObject(old, kMSRHealthMonitorKey);
  suite()->setObject(kept, kMSRHealthMonitorKey);
  auto monitor = makeMonitor();
  EXPECT_TRUE(standard->objectForKey(kMSRHealthMonitorKey).isNil());
  EXPECT_EQ(suite()->integerForKey(kMSRMonitorMigrationStateKey), 2);
  EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(1, 0), "4:suite");
}

TEST_F(MSRMonitoringSampledDataTest, MigrationCopiesAnOldSampleAndFinishesAnInterruptedRun) {
  auto standard = platform::UserDefaults::standardUserDefaults();
  standard->setObject(MSRMonitoringSampledData::sampledDataEntryWithKey("old", 1, "", 2),
                      kMSRHealthMonitorKey);
  auto monitor = makeMonitor();
  EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(1, 0), "2:old");

  // State 1 (copied, not yet removed) finishes; a state outside 0..2 stops migration.
  standard->setObject(Value(Value::Array{}), kMSRHealthMonitorKey);
  suite()->setObject(Value(1), kMSRMonitorMigrationStateKey);
  makeMonitor();
  EXPECT_TRUE(standard->objectForKey(kMSRHealthMonitorKey).isNil());
  standard->setObject(Value(Value::Array{}), kMSRHealthMonitorKey);
  suite()->setObject(Value(7), kMSRMonitorMigrationStateKey);
  makeMonitor();
  EXPECT_TRUE(standard->objectForKey(kMSRHealthMonitorKey).isArray());
}

TEST_F(MSRMonitoringSampledDataTest, ClearRemovesTheSampleAndTheDebugFlag) {
  auto monitor = makeMonitor();
  monitor->setDebugModeEnabled(true);
  monitor->logWithLevel(1, 1, "err");
  monitor->clearMonitoringData();
  auto standard = platform::UserDefaults::standardUserDefaults();
  EXPECT_TRUE(standard->objectForKey(kMSRDebugModeKey).isNil());
  EXPECT_TRUE(suite()->objectForKey(kMSRHealthMonitorKey).isNil());
  clock().advance(1000);
  EXPECT_FALSE(monitor->monitoringDataForDispatchWithSamplePeriod(1, 0));
}

}  // namespace
