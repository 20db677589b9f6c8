#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <utility>

#include "measurement/storage/MSRAppMetadata.h"
#include "measurement/storage/MSRDailyCounts.h"
#include "measurement/storage/MSRDatabase.h"
#include "measurement/storage/MSRFileLocations.h"
#include "measurement/storage/MSRPersistedConfig.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "platform/base/UserDefaults.h"
#include "platform/testing/PlatformTest.h"
#include "platform/testing/UnreadableFile.h"

namespace fs = std::filesystem;
using platform::ErrorPtr;
using platform::Value;

namespace {

class MSRAppMetadataTest : public platform::testing::PlatformTest {};

TEST_F(MSRAppMetadataTest, BundleIndexWrapsToZeroAndNegativeIsRefused) {
  EXPECT_FALSE(MSRAppMetadata::initWithLastBundleIndex(-1, 0, 0));
  auto zero = MSRAppMetadata::initWithLastBundleIndex(0, 1, 2);
  zero->incrementLastBundleIndex();
  EXPECT_EQ(zero->lastBundleIndex(), 1);
  auto top = MSRAppMetadata::initWithLastBundleIndex(2147483647, 1, 2);
  top->incrementLastBundleIndex();
  EXPECT_EQ(top->lastBundleIndex(), 0);
}

struct Counts {
  std::int32_t day, conversions, all, pub, errors, realtime;
};
Counts of(const MSRDailyCounts& c) {
  return {c.day(),
          c.conversionsCount(),
          c.allEventsCount(),
          c.publicEventsCount(),
          c.errorEventsCount(),
          c.realtimeCount()};
}
bool operator==(const Counts& a, const Counts& b) {
  return a.day == b.day && a.conversions == b.conversions && a.all == b.all && a.pub == b.pub &&
         a.errors == b.errors && a.realtime == b.realtime;
}
std::ostream& operator<<(std::ostream& out, const Counts& c) {
  return out << c.day << "/" << c.conversions << "/" << c.all << "/" << c.pub << "/" << c.errors
             << "/" << c.realtime;
}

TEST(MSRDailyCountsTest, TransitionsOnTheSameAndAnotherDay) {
  struct Case {
    const char* what;
    std::function<void(MSRDailyCounts&)> change;
    Counts expected;
  };
  // Start: day 10, conversions 2, all 5, public 4, errors 1, realtime 3.
  const Case cases[] = {
      {"new day",
       [](auto& c) { c.incrementCountsForCurrentDay(11, true, false, 3); },
       {11, 0, 3, 3, 0, 0}},
      {"same day",
       [](auto& c) { c.incrementCountsForCurrentDay(10, true, false, 3); },
       {10, 2, 8, 7, 1, 3}},
      {"conversion counts once",
       [](auto& c) { c.incrementCountsForCurrentDay(10, false, true, 4); },
       {10, 3, 9, 4, 1, 3}},
      {"single event",
       [](auto& c) { c.incrementCountsForCurrentDay(10, true, true); },
       {10, 3, 6, 5, 1, 3}},
      {"error same day",
       [](auto& c) { c.incrementErrorEventsCountForCurrentDay(10); },
       {10, 2, 6, 4, 2, 3}},
      {"error new day",
       [](auto& c) { c.incrementErrorEventsCountForCurrentDay(12); },
       {12, 0, 1, 0, 1, 0}},
      {"realtime same day",
       [](auto& c) { c.incrementRealtimeCountsForCurrentDay(10); },
       {10, 2, 5, 4, 1, 4}},
      {"realtime new day",
       [](auto& c) { c.incrementRealtimeCountsForCurrentDay(9); },
       {9, 0, 0, 0, 0, 1}},
      {"decrement", [](auto& c) { c.decrementAllEventsCount(); }, {10, 2, 4, 4, 1, 3}},
      {"reset", [](auto& c) { c.resetWithNewDay(10); }, {10, 0, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    MSRDailyCounts counts(10, 2, 5, 4, 1, 3);
    c.change(counts);
    EXPECT_EQ(of(counts), c.expected) << c.what;
  }
  MSRDailyCounts empty(1, 0, 0, 0, 0, 0);
  empty.decrementAllEventsCount();
  EXPECT_EQ(empty.allEventsCount(), 0);
}

class MSRDatabaseAppMetadataTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    config_ = MSRPersistedConfig::initWithSuiteName("suite");
    ErrorPtr error;
    database_ = MSRDatabase::initWithDatabaseName(kMSRDatabaseName, config_, &error);
    ASSERT_TRUE(database_);
  }
  std::int32_t today() {
    return static_cast<std::int32_t>(
        std::floor((clock().now() - config_->midnightOffset()) / 86400.0));
  }
  std::shared_ptr<MSRPersistedConfig> config_;
  std::shared_ptr<MSRDatabase> database_;
};

TEST_F(MSRDatabaseAppMetadataTest, MetadataAndCountsShareTheRowWithoutTouchingEachOther) {
  auto fresh = database_->queryAppMetadata(nullptr);
  ASSERT_TRUE(fresh);
  EXPECT_EQ(fresh->lastBundleIndex(), 0);
  auto counts = database_->dailyCounts(nullptr);
  ASSERT_TRUE(counts);
  EXPECT_EQ(of(*counts), (Counts{today(), 0, 0, 0, 0, 0}));

  auto metadata = MSRAppMetadata::initWithLastBundleIndex(41, 10.5, 20.25);
  ASSERT_TRUE(database_->updateAppMetadata(metadata, nullptr));
  auto written = std::make_shared<MSRDailyCounts>(today() - 1, 1, 2, 3, 4, 5);
  ASSERT_TRUE(database_->updateDailyCounts(written, nullptr));

  // A new connection reads what the file holds.
  ErrorPtr error;
  auto reopened = MSRDatabase::initWithDatabaseName(kMSRDatabaseName, config_, &error);
  ASSERT_TRUE(reopened);
  auto read = reopened->queryAppMetadata(&error);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->lastBundleIndex(), 41);
  EXPECT_DOUBLE_EQ(read->lastBundleStartTimestamp(), 10.5);
  EXPECT_DOUBLE_EQ(read->lastBundleEndTimestamp(), 20.25);
  auto readCounts = reopened->dailyCounts(&error);
  ASSERT_TRUE(readCounts);
  EXPECT_EQ(of(*readCounts), (Counts{today() - 1, 1, 2, 3, 4, 5}));
}

TEST_F(MSRDatabaseAppMetadataTest, MissingObjectsAndRowAreErrors) {
  ErrorPtr error;
  EXPECT_FALSE(database_->updateAppMetadata(nullptr, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), 3);
  error.reset();
  EXPECT_FALSE(database_->updateDailyCounts(nullptr, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), 3);

  ASSERT_TRUE(
      database_->sqliteStore()->deleteAllRecordsFromTableWithName(kMSRTableAppMetadata, nullptr));
  error.reset();
  EXPECT_FALSE(database_->queryAppMetadata(&error));
  EXPECT_FALSE(error);
  EXPECT_FALSE(
      database_->updateAppMetadata(MSRAppMetadata::initWithLastBundleIndex(1, 0, 0), &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), 2);
}

}  // namespace

namespace {

TEST_F(MSRDatabaseAppMetadataTest, StoredNegativeIndexAndMissingStartRead) {
  ASSERT_TRUE(database_->updateDataType(
      {{"last_bundle_index", Value(-4)}, {"last_bundle_start_timestamp", Value::null()}},
      kMSRTableAppMetadata, kMSRColumnRowID, Value(kMSRAppMetadataRowID), nullptr));
  ErrorPtr error;
  EXPECT_FALSE(database_->queryAppMetadata(&error));
  ASSERT_TRUE(database_->updateDataType(
      {{"last_bundle_index", Value(3)}, {"last_bundle_end_timestamp", Value(8.5)}},
      kMSRTableAppMetadata, kMSRColumnRowID, Value(kMSRAppMetadataRowID), nullptr));
  auto read = database_->queryAppMetadata(nullptr);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->lastBundleIndex(), 3);
  EXPECT_DOUBLE_EQ(read->lastBundleStartTimestamp(), 0.0);
  EXPECT_DOUBLE_EQ(read->lastBundleEndTimestamp(), 8.5);
}

// The day counts from a stored offset: whatever number it holds, the day is a defined one.
TEST_F(MSRDatabaseAppMetadataTest, AnyStoredMidnightOffsetGivesADefinedDay) {
  const std::pair<double, std::int32_t> rows[] = {
      {std::nan(""), 0},
      {1e300, std::numeric_limits<std::int32_t>::min()},
      {-1e300, std::numeric_limits<std::int32_t>::max()},
  };
  for (const auto& [offset, day] : rows) {
    SCOPED_TRACE(offset);
    config_->setDouble(offset, kMSRConfigKeyMidnightOffset);
    auto counts = database_->dailyCounts(nullptr);
    ASSERT_TRUE(counts);
    EXPECT_EQ(counts->day(), day);
  }
}

// The day of the counts hangs on the stored midnight offset: while it cannot be read the counts
// fail rather than count from another offset, and nothing is drawn over the stored one.
TEST_F(MSRDatabaseAppMetadataTest, DailyCountsFailWhileTheMidnightOffsetCannotBeRead) {
  using platform::testing::UnreadableFile;
  config_->setDouble(1234.5, kMSRConfigKeyMidnightOffset);
  config_->synchronizeToDisk();
  ASSERT_TRUE(database_->updateDailyCounts(std::make_shared<MSRDailyCounts>(today(), 1, 2, 3, 4, 5),
                                           nullptr));
  const Counts stored{today(), 1, 2, 3, 4, 5};
  const fs::path file = MSRPreferencesPlistPath("suite");
  for (auto cause : UnreadableFile::usableCauses()) {
    SCOPED_TRACE(UnreadableFile::name(cause));
    config_.reset();
    database_.reset();
    platform::UserDefaults::resetForTesting();  // a relaunch
    config_ = MSRPersistedConfig::initWithSuiteName("suite");
    database_ = MSRDatabase::initWithDatabaseName(kMSRDatabaseName, config_, nullptr);
    ASSERT_TRUE(database_);
    {
      UnreadableFile unreadable(cause, file);
      ErrorPtr error;
      EXPECT_FALSE(database_->dailyCounts(&error));
      ASSERT_TRUE(error);
      EXPECT_EQ(error->code(), 2);
    }
    ErrorPtr error;
    auto counts = database_->dailyCounts(&error);
    ASSERT_TRUE(counts) << (error ? error->localizedDescription() : "");
    EXPECT_EQ(of(*counts), stored);
    EXPECT_DOUBLE_EQ(config_->midnightOffset(), 1234.5);
  }
}

}  // namespace
