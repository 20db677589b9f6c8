#include <gtest/gtest.h>

#include <filesystem>

#include "measurement/engine/MSRRemoteConfig.h"
#include "measurement/foundation/MSREvent.h"
#include "measurement/foundation/MSRRawEventData.h"
#include "measurement/foundation/MSRUtilities.h"
#include "measurement/foundation/MSRValue.h"
#include "measurement/messages/MSRPBAccessors.h"
#include "measurement/messages/MSRPBMeasurementBundle.h"
#include "measurement/messages/MSRPBSchema.h"
#include "measurement/storage/MSRDatabase.h"
#include "measurement/storage/MSRFileLocations.h"
#include "measurement/storage/MSRPersistedConfig.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "measurement/storage/tests/MSRStorageTestSupport.h"
#include "platform/base/UserDefaults.h"
#include "platform/testing/PlatformTest.h"
#include "platform/testing/UnreadableFile.h"

namespace fs = std::filesystem;
using platform::ErrorPtr;
using platform::Value;

namespace {

std::int32_t slotOfTag(std::uint32_t tag) {
  const MSRPBMessageType* type = MSRPBMessageTypeNamed("MeasurementBundle");
  for (std::uint32_t slot = 0; slot < type->fieldCount; ++slot) {
    if (type->fields[slot].tag == tag) return static_cast<std::int32_t>(slot);
  }
  return -1;
}

class MSRDatabaseRawEventsTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    config_ = MSRPersistedConfig::initWithSuiteName("suite");
    ErrorPtr error;
    database_ = MSRDatabase::initWithDatabaseName(kMSRDatabaseName, config_, &error);
    ASSERT_TRUE(database_);
  }
  std::shared_ptr<MSRPBMeasurementBundle> bundle(std::int64_t endMillis, const char* appID,
                                                 std::int32_t retry = 0, std::size_t pad = 0) {
    auto message = MSRPBMeasurementBundle::message();
    if (appID) MSRPBSetStringField(message, slotOfTag(14), Value(appID));
    MSRPBSetInt64(message, slotOfTag(6), endMillis);
    if (retry) MSRPBSetInt32(message, slotOfTag(39), retry);
    if (pad) MSRPBSetStringField(message, slotOfTag(14), Value(std::string(pad, 'a')));
    return message;
  }
  std::int64_t nowMillis() { return static_cast<std::int64_t>(clock().now() * 1000); }
  void insertRaw(double timestamp, std::int64_t fingerprint, bool realtime = false) {
    ASSERT_TRUE(database_->insertDataType({{"name", Value("e")},
                                           {"timestamp", Value(timestamp)},
                                           {"metadata_fingerprint", Value(fingerprint)},
                                           {"data", Value::data("x")},
                                           {"is_realtime", Value(realtime)}},
                                          "raw_events", nullptr));
  }
  Value count(const char* table) {
    return database_->sqliteStore()->rowCountForTableWithName(table, nullptr);
  }
  std::shared_ptr<MSRPersistedConfig> config_;
  std::shared_ptr<MSRDatabase> database_;
};

TEST_F(MSRDatabaseRawEventsTest, MetadataIsStoredOncePerFingerprint) {
  auto metadata = bundle(5, "app");
  ASSERT_TRUE(database_->insertIfNotExistsRawEventMetadata(metadata, nullptr));
  ASSERT_TRUE(database_->insertIfNotExistsRawEventMetadata(metadata, nullptr));
  EXPECT_EQ(count("raw_events_metadata"), Value(1LL));
  const std::int64_t fingerprint = msr_64LSBMD5(*metadata->protoBuffer());
  auto read = database_->queryRawEventsMetadataWithFingerprint(fingerprint, nullptr);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->protoBuffer(), metadata->protoBuffer());
  ErrorPtr error;
  EXPECT_FALSE(database_->queryRawEventsMetadataWithFingerprint(fingerprint + 1, &error));
  EXPECT_FALSE(error);

  insertRaw(clock().now(), fingerprint);
  ASSERT_TRUE(database_->insertIfNotExistsRawEventMetadata(bundle(6, "app"), nullptr));
  ASSERT_TRUE(database_->deleteUnusedRawEventsMetadata(nullptr));
  EXPECT_EQ(count("raw_events_metadata"), Value(1LL));
  ASSERT_TRUE(database_->deleteRawEventMetadataWithMetadataFingerprint(fingerprint, nullptr));
  EXPECT_EQ(count("raw_events_metadata"), Value(0LL));
}

TEST_F(MSRDatabaseRawEventsTest, RawEventQueries) {
  ErrorPtr error;
  EXPECT_TRUE(database_->nextMetadataFingerprintToProcess(&error).isNil());
  EXPECT_FALSE(error);
  EXPECT_EQ(database_->isRawEventsTableEmpty(nullptr), Value(1LL));
  EXPECT_TRUE(database_->queryLatestRawEventTime(nullptr).isNil());

  insertRaw(clock().now() - 10, 77);
  insertRaw(clock().now(), 88, true);
  insertRaw(clock().now() - 5, 77);
  EXPECT_EQ(database_->nextMetadataFingerprintToProcess(nullptr), Value(77LL));
  EXPECT_EQ(database_->containsRawEventWithMetadataFingerprint(88, nullptr), Value(1LL));
  EXPECT_EQ(database_->containsRawEventWithMetadataFingerprint(99, nullptr), Value(0LL));
  EXPECT_EQ(database_->containsRealtimeRawEventsWithError(nullptr), Value(1LL));
  EXPECT_EQ(database_->queryLatestRawEventTime(nullptr), Value(clock().now()));
  EXPECT_EQ(database_->deleteRawEventsOverAbsoluteLimit(nullptr), Value(0LL));
  ASSERT_TRUE(database_->deleteRawEventsWithMaxRowID(1, 77, nullptr));
  EXPECT_EQ(database_->nextMetadataFingerprintToProcess(nullptr), Value(88LL));
}

// A list parameter with nothing in it has no value the stored form can hold: it is left out of
// the stored event, which reads back with its other parameters, whatever way the list came in.
TEST_F(MSRDatabaseRawEventsTest, EmptyListsAreLeftOutOfTheStoredEvent) {
  struct Case {
    const char* what;
    Value items;
  };
  const Case cases[] = {
      {"an empty array", Value(Value::Array{})},
      {"an empty typed list", Value(MSRValue::initWithArray(Value(Value::Array{})))},
      {"a typed list of no dictionaries",
       Value(MSRValue::initWithArray(Value(Value::Array{Value(5), Value("x")})))},
  };
  std::int64_t fingerprint = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const MSRParameters parameters{{"items", c.items}, {"value", Value(3)}};
    const auto event = MSREvent::initWithOrigin("app", false, "purchase", 10, 0, &parameters);
    ASSERT_TRUE(event);
    ASSERT_TRUE(database_->insertRawEvent(event, fingerprint, false, nullptr));
    ErrorPtr error;
    const auto read = database_->rawEventsWithMetadataFingerprint(
        fingerprint, &error, [](std::size_t, const MSRDatabase::Record&) { return true; });
    ASSERT_TRUE(read) << description(error);
    ASSERT_EQ(read->size(), 1u);
    const auto& stored = read->front()->rawEvent()->parameters();
    EXPECT_EQ(stored.count("items"), 0u);
    EXPECT_EQ(stored.at("value"), Value(MSRValue::initWithInt64(3)));
    ++fingerprint;
  }
}

TEST_F(MSRDatabaseRawEventsTest, StaleDataGoesInBothDirectionsOncePerInterval) {
  const double maxAge = 2419200;
  insertRaw(clock().now() + maxAge + 10, 1);  // dated in the future beyond the age
  insertRaw(clock().now() - maxAge - 10, 1);
  insertRaw(clock().now(), 2);
  ASSERT_TRUE(database_->insertBundle(bundle(nowMillis(), "app"), false, nullptr));
  // The first insertion ran the deletion; the stale rows were written before it.
  EXPECT_EQ(count("raw_events"), Value(1LL));

  database_->sqliteStore()->upsertRecord(
      {{"bundle_end_timestamp", Value(clock().now() - maxAge - 1)}, {"data", Value::data("z")}},
      "queue", nullptr);
  EXPECT_EQ(database_->maybeDeleteStaleData(nullptr), Value(false));
  EXPECT_EQ(count("queue"), Value(2LL));
  clock().advance(86401);
  EXPECT_EQ(database_->maybeDeleteStaleData(nullptr), Value(true));
  EXPECT_EQ(count("queue"), Value(1LL));
  EXPECT_DOUBLE_EQ(config_->lastDeleteStaleBundlesTimestamp(), clock().now());
}

// When the last deletion cannot be read, whether one is due is not known: nothing is deleted
// and nothing is written over the stored time, in either store; the next call reads again.
TEST_F(MSRDatabaseRawEventsTest, StaleDataWaitsWhileTheLastDeletionCannotBeRead) {
  using platform::testing::UnreadableFile;
  const double maxAge = 2419200;
  int round = 0;
  for (auto cause : UnreadableFile::usableCauses()) {
    SCOPED_TRACE(UnreadableFile::name(cause));
    for (const auto& kind : kConfigStoreKinds) {
      SCOPED_TRACE(kind.name);
      const std::string name = "stale" + std::to_string(round++);
      const double lastDeletion = clock().now();
      const fs::path file = storeConfigAndRelaunch(kind, name, [&](MSRPersistedConfig& config) {
        config.setLastDeleteStaleBundlesTimestamp(lastDeletion);
      });
      std::shared_ptr<MSRPersistedConfig> config;
      {
        UnreadableFile unreadable(cause, file);
        config = MSRPersistedConfig::initWithSuiteName(name);
      }
      auto database = MSRDatabase::initWithDatabaseName(kMSRDatabaseName, config, nullptr);
      ASSERT_TRUE(database);
      clock().advance(100);
      ASSERT_TRUE(database->sqliteStore()->upsertRecord(
          {{"bundle_end_timestamp", Value(clock().now() - maxAge - 1)}, {"data", Value::data("z")}},
          "queue", nullptr));
      {
        UnreadableFile unreadable(cause, file);
        EXPECT_EQ(database->maybeDeleteStaleData(nullptr), Value(false));
      }
      EXPECT_EQ(count("queue"), Value(1LL));
      EXPECT_DOUBLE_EQ(config->lastDeleteStaleBundlesTimestamp(), lastDeletion);
      EXPECT_EQ(database->maybeDeleteStaleData(nullptr), Value(false));
      ASSERT_TRUE(database->sqliteStore()->deleteAllRecordsFromTableWithName("queue", nullptr));
      database.reset();
      config.reset();
    }
  }
}

TEST_F(MSRDatabaseRawEventsTest, BundlesAreCheckedCompressedAndReadBackInOrder) {
  ErrorPtr error;
  EXPECT_FALSE(database_->insertBundle(bundle(nowMillis(), nullptr), false, &error));
  EXPECT_EQ(description(error), "Failed to insert bundle without App ID");
  EXPECT_FALSE(database_->insertBundle(bundle(0, "app"), false, &error));
  EXPECT_EQ(description(error), "Failed to insert bundle without valid timestamp");

  ASSERT_TRUE(database_->insertBundle(bundle(nowMillis() - 2000, "a", 2, 30), true, nullptr));
  ASSERT_TRUE(database_->insertBundle(bundle(nowMillis() - 3000, "b", 0, 30), false, nullptr));
  ASSERT_TRUE(database_->insertBundle(bundle(nowMillis() - 1000, "c", 0, 30), false, nullptr));
  const auto stored =
      database_->sqliteStore()->recordsForQuery("SELECT data FROM queue", {}, nullptr);
  EXPECT_EQ((*stored)[0].at("data").bytes()->at(0), 0x1f);  // gzip magic
  EXPECT_EQ(database_->containsRealtimeBundlesWithError(nullptr), Value(1LL));
  EXPECT_EQ(database_->queryLatestBundleTime(nullptr).doubleValue(), clock().now() - 1);

  const std::size_t size = bundle(nowMillis() - 3000, "b", 0, 30)->protoBuffer()->size();
  auto two = database_->queryBundlesWithCountLimit(10, 2 * size + 10, nullptr);
  ASSERT_EQ(two->size(), 2u);
  EXPECT_EQ((*two)[0].second, 2);  // oldest end time first
  EXPECT_EQ((*two)[1].second, 1);
  EXPECT_EQ(MSRPBGetInt32((*two)[1].first, slotOfTag(39)), 2);
  auto one = database_->queryBundlesWithCountLimit(10, 1, nullptr);
  EXPECT_EQ(one->size(), 1u);
  EXPECT_EQ(database_->queryBundlesWithCountLimit(1, 1000000, nullptr)->size(), 1u);

  ASSERT_TRUE(database_->incrementRetryCounterForBundlesWithIDs({Value(1), Value(2)}, nullptr));
  auto read = database_->queryBundlesWithRowIDs({Value(1), Value(2)}, nullptr);
  ASSERT_EQ(read->size(), 2u);
  for (const auto& [message, rowID] : *read) {
    EXPECT_EQ(MSRPBGetInt32(message, slotOfTag(39)), rowID == 1 ? 3 : 1);
  }
  ASSERT_TRUE(database_->sqliteStore()->updateRecord({{"retry_count", Value(2147483647)}}, "queue",
                                                     "rowid", Value(3), nullptr));
  ASSERT_TRUE(database_->incrementRetryCounterForBundlesWithIDs({Value(3)}, nullptr));
  EXPECT_EQ(MSRPBGetInt32(database_->queryBundlesWithRowIDs({Value(3)}, nullptr)->front().first,
                          slotOfTag(39)),
            2147483647);

  EXPECT_FALSE(database_->deleteBundlesWithRowIDs({}, &error));
  EXPECT_EQ(description(error), "Received empty row IDs to process");
  EXPECT_FALSE(database_->deleteBundlesWithRowIDs({Value("1")}, &error));
  EXPECT_EQ(description(error), "Received invalid type for row ID to process");
  ASSERT_TRUE(database_->deleteBundlesWithRowIDs({Value(1), Value(2), Value(3)}, nullptr));
  EXPECT_EQ(database_->isQueuedBundleTableEmpty(nullptr), Value(1LL));
}

}  // namespace
