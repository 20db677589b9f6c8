#include "measurement/foundation/MSRMonitoringSampledData.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "measurement/foundation/MSRConstants.h"
#include "measurement/foundation/MSRMonitor.h"
#include "measurement/foundation/tests/MSRTestSupport.h"
#include "platform/base/Files.h"
#include "platform/base/UserDefaults.h"
#include "platform/testing/PlatformTest.h"
#include "platform/testing/UnreadableFile.h"

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
  static std::filesystem::path fileOf(const platform::UserDefaults& domain) {
    return platform::SandboxHome::preferences() / (domain.domainName() + ".plist");
  }
  // Both domains' files hold exactly these keys (a nil value: the key is absent), as a run
  // before this one left them; then a relaunch.
  void storeAndRelaunch(const Value& standardSample, const Value& suiteSample,
                        const Value& migrationState) {
    platform::UserDefaults::resetForTesting();
    auto standard = platform::UserDefaults::standardUserDefaults();
    standard->setObject(standardSample, kMSRHealthMonitorKey);
    standard->setObject(Value("keeps the file"), "other");
    ASSERT_TRUE(standard->synchronize());
    suite()->setObject(suiteSample, kMSRHealthMonitorKey);
    suite()->setObject(migrationState, kMSRMonitorMigrationStateKey);
    suite()->setObject(Value("keeps the file"), "other");
    ASSERT_TRUE(suite()->synchronize());
    platform::UserDefaults::resetForTesting();
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
  // How many of the three messages are counted apart (in memory, while the stored sample could
  // not be read) and merged onto the sample of the others; 0: all in one sample.
  for (const int apart : {0, 1, 2}) {
    SCOPED_TRACE(apart);
    int kept[3] = {0, 0, 0};
    for (int round = 0; round < 3000; ++round) {
      MSRMonitoringSampledData data, meanwhile;
      for (int i = 0; i < 3; ++i) {
        (i < 3 - apart ? data : meanwhile).insertOrUpdateSampledDataWithKey(std::to_string(i), "c");
      }
      data.mergeSampledData(meanwhile);
      ASSERT_EQ(data.sampledData().at(1).int64Value(), 3);
      ++kept[std::stoi(*data.sampledData().at(2).string())];
    }
    for (int n : kept) {
      EXPECT_GT(n, 800);  // expected 1000 each; far outside chance otherwise
      EXPECT_LT(n, 1200);
    }
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

TEST_F(MSRMonitoringSampledDataTest, PopulationIsAPositiveThirtyTwoBitCountThatNeverWraps) {
  // A stored record whose population counts no messages, or more than 32 bits hold, is no sample.
  const std::int64_t notCounts[] = {0, -3, std::int64_t{1} << 31, std::int64_t{1} << 40};
  for (const std::int64_t population : notCounts) {
    SCOPED_TRACE(population);
    const Value stored(Value::Array{Value("c"), Value(population), Value("k"), Value::date(1)});
    EXPECT_FALSE(MSRMonitoringSampledData::isValidUserDefaultsArrayEntry(stored));
    EXPECT_TRUE(MSRMonitoringSampledData(stored).sampledData().isNil());
  }
  // A full count stays full, and still samples.
  const auto max = std::numeric_limits<std::int32_t>::max();
  MSRMonitoringSampledData full(
      MSRMonitoringSampledData::sampledDataEntryWithKey("k", clock().now(), "c", max));
  ASSERT_TRUE(full.sampledData().isArray());
  full.insertOrUpdateSampledDataWithKey("k2", "c2");
  full.insertOrUpdateSampledDataWithKey("k3", "c3");
  EXPECT_EQ(full.sampledData().at(1).int64Value(), max);
  clock().advance(2);
  const auto dispatched = full.monitoringDataForDispatchWithSamplePeriod(1, 0);
  ASSERT_TRUE(dispatched);
  EXPECT_EQ(dispatched->rfind("2147483647:", 0), 0u) << *dispatched;
}

TEST_F(MSRMonitoringSampledDataTest, MessagesAreKeyedByTheLetterOfTheirLevel) {
  struct Row {
    std::int64_t level;
    bool verbose;
    const char* dispatched;  // nullptr: the message never reaches the sample
  };
  const Row rows[] = {
      {0, false, nullptr},           {1, false, "1:1E_11400:m:7"}, {2, false, "1:1E_11400:m:7"},
      {3, false, nullptr},           {4, false, "1:1W_11400:m:7"}, {5, false, "1:1W_11400:m:7"},
      {6, false, nullptr},           {7, false, nullptr},          {8, true, nullptr},
      {-1, false, "1:1?_11400:m:7"}, {9, false, nullptr},          {9, true, "1:1?_11400:m:7"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.level);
    auto monitor = makeMonitor();
    monitor->setVerboseLoggingEnabled(row.verbose);
    monitor->logWithLevel(row.level, 1, "m", Value(7));
    monitor->flush();  // the sample takes its date when the monitor queue runs the update
    clock().advance(1);
    const auto result = monitor->monitoringDataForDispatchWithSamplePeriod(0, 0);
    if (row.dispatched) {
      EXPECT_EQ(result, std::optional<std::string>(row.dispatched));
    } else {
      EXPECT_FALSE(result) << *result;
    }
  }
}

TEST_F(MSRMonitoringSampledDataTest, TheStoredRecordFollowsEveryChange) {
  auto monitor = makeMonitor();
  for (int n = 1; n <= 3; ++n) {
    monitor->logWithLevel(5, 1, "w");
    monitor->flush();
    const Value stored = suite()->objectForKey(kMSRHealthMonitorKey);
    ASSERT_TRUE(MSRMonitoringSampledData::isValidUserDefaultsArrayEntry(stored));
    EXPECT_EQ(stored.at(1).int64Value(), n);
    EXPECT_EQ(*stored.at(2).string(), "1W_11400:w");
  }
  // A nil message is keyed as the platform prints nil.
  EXPECT_EQ(MSRMonitor::monitoringDataKeyWithMessage(std::nullopt, 2, 3), "1E_3:(null)");
  // Nothing due yet: the record stays. Due: it goes, and a restart finds none.
  EXPECT_FALSE(monitor->monitoringDataForDispatchWithSamplePeriod(60, 0));
  EXPECT_TRUE(suite()->objectForKey(kMSRHealthMonitorKey).isArray());
  clock().advance(61);
  EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(60, 0), "3:1W_11400:w");
  EXPECT_TRUE(suite()->objectForKey(kMSRHealthMonitorKey).isNil());
  // With no sample, "0:" is due once the last dispatch is older than the period.
  EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(60, clock().now() - 61), "0:");
  EXPECT_FALSE(monitor->monitoringDataForDispatchWithSamplePeriod(60, clock().now() - 60));
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

// A stored sample that cannot be read at launch is not "no sample": it is neither written over nor
// taken for none by a dispatch, and the messages logged meanwhile are counted onto it once it
// reads. Messages counted in memory only are all a relaunch before that may miss.
TEST_F(MSRMonitoringSampledDataTest, ASampleThatCannotBeReadIsNeitherWrittenOverNorDispatched) {
  using platform::testing::UnreadableFile;
  struct Row {
    const char* what;
    int loggedWhileUnreadable;
    bool dispatchWhileUnreadable;
    int loggedOnceItReads;
    std::int64_t population;  // stored after a relaunch
  };
  const Row rows[] = {
      {"messages while it cannot be read, one once it reads", 2, false, 1, 5 + 3},
      {"a dispatch while it cannot be read, one message once it reads", 0, true, 1, 5 + 1},
      {"a message while it cannot be read, then a relaunch", 1, false, 0, 5},
  };
  for (auto cause : UnreadableFile::usableCauses()) {
    SCOPED_TRACE(UnreadableFile::name(cause));
    for (const Row& row : rows) {
      SCOPED_TRACE(row.what);
      const double storedDate = clock().now() - 500;
      storeAndRelaunch(
          Value(), MSRMonitoringSampledData::sampledDataEntryWithKey("stored", storedDate, "", 5),
          Value(2));
      std::shared_ptr<MSRMonitor> monitor;
      {
        UnreadableFile unreadable(cause, fileOf(*suite()));
        monitor = makeMonitor();
        for (int i = 0; i < row.loggedWhileUnreadable; ++i) {
          monitor->logWithLevel(5, 1, "meanwhile");
        }
        monitor->flush();
        if (row.dispatchWhileUnreadable) {
          EXPECT_FALSE(monitor->monitoringDataForDispatchWithSamplePeriod(60, clock().now() - 120));
        }
      }
      for (int i = 0; i < row.loggedOnceItReads; ++i) monitor->logWithLevel(5, 1, "later");
      monitor->flush();
      monitor.reset();
      platform::UserDefaults::resetForTesting();
      const Value stored = suite()->objectForKey(kMSRHealthMonitorKey);
      ASSERT_TRUE(MSRMonitoringSampledData::isValidUserDefaultsArrayEntry(stored))
          << stored.description();
      EXPECT_EQ(stored.at(1).int64Value(), row.population);
      // The first message of the period is still the stored sample's.
      EXPECT_EQ(stored.at(3).dateValue(), storedDate);
      EXPECT_EQ(suite()->stringForKey("other"), "keeps the file");
    }
  }
}

// The old sample in the standard domain moves to the suite only after reads that reached both
// files; until then it stays where it is, the migration runs again at the next need (a message)
// or the next launch, and the suite's own sample still wins over the old one.
TEST_F(MSRMonitoringSampledDataTest, MigrationMovesOnOnlyAfterReadsThatReachedBothFiles) {
  using platform::testing::UnreadableFile;
  struct Row {
    const char* what;
    bool standardUnreadable;  // else the suite's file
    bool suiteHasASample;
    bool messageOnceItReads;
    double expectedDate;      // of the sample the suite holds in the end
    std::int64_t population;  // stored after a relaunch
  };
  const double oldDate = clock().now() - 300, suiteDate = clock().now() - 200;
  const Row rows[] = {
      {"the standard file, a message once it reads", true, false, true, oldDate, 3 + 2},
      {"the standard file, then a relaunch", true, false, false, oldDate, 3},
      {"the suite's file with its own sample, a message once it reads", false, true, true,
       suiteDate, 4 + 2},
      {"the suite's file with its own sample, then a relaunch", false, true, false, suiteDate, 4},
      {"the suite's file without a sample, a message once it reads", false, false, true, oldDate,
       3 + 2},
  };
  for (auto cause : UnreadableFile::usableCauses()) {
    SCOPED_TRACE(UnreadableFile::name(cause));
    for (const Row& row : rows) {
      SCOPED_TRACE(row.what);
      storeAndRelaunch(MSRMonitoringSampledData::sampledDataEntryWithKey("old", oldDate, "", 3),
                       row.suiteHasASample ? MSRMonitoringSampledData::sampledDataEntryWithKey(
                                                 "suite", suiteDate, "", 4)
                                           : Value(),
                       Value());
      std::shared_ptr<MSRMonitor> monitor;
      {
        UnreadableFile unreadable(
            cause, fileOf(row.standardUnreadable ? *platform::UserDefaults::standardUserDefaults()
                                                 : *suite()));
        monitor = makeMonitor();
        monitor->logWithLevel(5, 1, "meanwhile");
        monitor->flush();
      }
      if (row.messageOnceItReads) monitor->logWithLevel(5, 1, "later");
      monitor->flush();
      monitor.reset();
      platform::UserDefaults::resetForTesting();
      makeMonitor();  // the next launch
      platform::UserDefaults::resetForTesting();
      platform::ErrorPtr error;
      EXPECT_TRUE(platform::UserDefaults::standardUserDefaults()
                      ->objectForKey(kMSRHealthMonitorKey, &error)
                      .isNil());
      EXPECT_FALSE(error);
      EXPECT_EQ(suite()->integerForKey(kMSRMonitorMigrationStateKey), 2);
      const Value stored = suite()->objectForKey(kMSRHealthMonitorKey);
      ASSERT_TRUE(MSRMonitoringSampledData::isValidUserDefaultsArrayEntry(stored))
          << stored.description();
      EXPECT_EQ(stored.at(1).int64Value(), row.population);
      EXPECT_EQ(stored.at(3).dateValue(), row.expectedDate);
    }
  }
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
