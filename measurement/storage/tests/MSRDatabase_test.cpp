#include "measurement/storage/MSRDatabase.h"

#include <gtest/gtest.h>

#include "measurement/foundation/MSRValue.h"
#include "measurement/storage/MSRFileLocations.h"
#include "measurement/storage/MSRPersistedConfig.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "measurement/storage/tests/MSRStorageTestSupport.h"
#include "platform/base/Files.h"
#include "platform/testing/PlatformTest.h"

using platform::ErrorPtr;
using platform::Value;

namespace {

class MSRDatabaseTest : public platform::testing::PlatformTest {
 protected:
  std::shared_ptr<MSRDatabase> open() {
    ErrorPtr error;
    auto database = openTestDatabase(&error);
    EXPECT_TRUE(database) << description(error);
    return database;
  }
  static MSRDatabase::CreateDataTypeBlock passThrough() {
    return [](const MSRDatabase::Record& row, ErrorPtr*) { return Value(row); };
  }
  // The number of write transactions the database file has seen: SQLite counts them in the
  // file's header (a big-endian 32-bit number at offset 24).
  static long writeTransactionsOfTheFile() {
    const auto bytes =
        platform::files::readFile(MSRApplicationSupportPath("veltro-lumo-measurement.sql"));
    if (!bytes || bytes->size() < 28) return -1;
    long count = 0;
    for (std::size_t i = 24; i < 28; ++i) count = count * 256 + (*bytes)[i];
    return count;
  }
};

TEST_F(MSRDatabaseTest, FirstLaunchCreatesTheSchemaAndOneAppMetadataRow) {
  auto database = open();
  ASSERT_TRUE(database);
  auto store = database->sqliteStore();
  EXPECT_EQ(store->databasePath(), MSRApplicationSupportPath("veltro-lumo-measurement.sql"));
  const char* tables[] = {"app_metadata",
                          "raw_events_metadata",
                          "raw_events",
                          "events",
                          "user_attributes",
                          "queue",
                          "event_filters",
                          "property_filters",
                          "audience_filter_values",
                          "purchase_transactions",
                          "subscriptions",
                          "conditional_properties",
                          "main_event_params"};
  for (const char* table : tables) {
    EXPECT_EQ(store->tableExists(table, nullptr), std::optional<bool>(true)) << table;
  }
  EXPECT_EQ(store->columnInfoForTableWithName("raw_events", nullptr)->at("timestamp"), "REAL");
  EXPECT_EQ(store->columnInfoForTableWithName("queue", nullptr)->count("retry_count"), 1u);
  EXPECT_EQ(store->columnsForTableWithName("event_filters", nullptr)->back(), "session_scoped");

  auto rows = database->allDataTypesFromTableWithName("app_metadata", -1, nullptr, passThrough());
  ASSERT_TRUE(rows);
  ASSERT_EQ(rows->size(), 1u);
  const Value& row = rows->front();
  EXPECT_EQ(row["rowid"], Value(1LL));
  EXPECT_EQ(row["last_bundle_index"], Value(0LL));
  EXPECT_EQ(row["last_bundle_start_timestamp"], Value(0.0));
  EXPECT_EQ(row["last_bundle_end_timestamp"], Value(0.0));
  EXPECT_TRUE(row["daily_events_count"].isNull());
  // Tables, columns and the row are made in one write transaction: one round of journal and
  // syncs for the whole schema instead of one per table and column.
  EXPECT_EQ(writeTransactionsOfTheFile(), 1);

  // A composite key is a real key.
  MSRDatabase::Record filter{{"audience_id", Value(1)},
                             {"filter_id", Value(2)},
                             {"event_name", Value("e")},
                             {"data", Value::data("d")}};
  ASSERT_TRUE(database->insertDataType(filter, "event_filters", nullptr));
  filter["event_name"] = Value("f");
  ASSERT_TRUE(database->insertDataType(filter, "event_filters", nullptr));
  EXPECT_EQ(store->rowCountForTableWithName("event_filters", nullptr), Value(1LL));
}

TEST_F(MSRDatabaseTest, OlderFileIsMigratedWithRowsKept) {
  {
    auto store =
        MSRSqliteStore::initWithDatabasePath(MSRApplicationSupportPath(kMSRDatabaseName), nullptr);
    ASSERT_TRUE(store);
    ASSERT_TRUE(store->executeSQL(
        "CREATE TABLE raw_events (name TEXT NOT NULL, timestamp INTEGER NOT NULL, "
        "metadata_fingerprint INTEGER NOT NULL, data BLOB NOT NULL)",
        nullptr));
    ASSERT_TRUE(store->upsertRecord({{"name", Value("e")},
                                     {"timestamp", Value(1700000000)},
                                     {"metadata_fingerprint", Value(3)},
                                     {"data", Value::data("x")}},
                                    "raw_events", nullptr));
    ASSERT_TRUE(store->executeSQL(
        "CREATE TABLE events (name TEXT NOT NULL PRIMARY KEY, lifetime_count INTEGER NOT NULL, "
        "current_bundle_count INTEGER NOT NULL, last_fire_timestamp REAL NOT NULL)",
        nullptr));
    ASSERT_TRUE(store->upsertRecord({{"name", Value("e")},
                                     {"lifetime_count", Value(4)},
                                     {"current_bundle_count", Value(1)},
                                     {"last_fire_timestamp", Value(2.5)}},
                                    "events", nullptr));
  }
  auto database = open();
  ASSERT_TRUE(database);
  auto store = database->sqliteStore();
  EXPECT_EQ(store->columnInfoForTableWithName("raw_events", nullptr)->at("timestamp"), "REAL");
  auto raw = database->allDataTypesFromTableWithName("raw_events", -1, nullptr, passThrough());
  ASSERT_EQ(raw->size(), 1u);
  EXPECT_EQ(raw->front()["timestamp"].doubleValue(), 1700000000.0);
  EXPECT_TRUE(raw->front()["is_realtime"].isNull());
  auto events =
      database->dataTypesFromTableWithName("events", "name", Value("e"), nullptr, passThrough());
  ASSERT_EQ(events->size(), 1u);
  EXPECT_EQ(events->front()["lifetime_count"], Value(4LL));
  EXPECT_TRUE(events->front()["current_session_count"].isNull());
}

TEST_F(MSRDatabaseTest, OpeningTwiceKeepsOneAppMetadataRow) {
  open();
  const long writes = writeTransactionsOfTheFile();
  auto database = open();
  EXPECT_EQ(database->sqliteStore()->rowCountForTableWithName("app_metadata", nullptr), Value(1LL));
  EXPECT_EQ(writeTransactionsOfTheFile(), writes) << "a file that is complete is not written";
}

TEST_F(MSRDatabaseTest, UpsertIntoAFullTableOnlyReplaces) {
  auto database = open();
  ErrorPtr error;
  ASSERT_TRUE(database->upsertDataType({{"fingerprint", Value("a")}}, "purchase_transactions",
                                       "fingerprint", Value("a"), 1, &error));
  EXPECT_TRUE(database->upsertDataType({{"fingerprint", Value("a")}}, "purchase_transactions",
                                       "fingerprint", Value("a"), 1, &error));
  EXPECT_FALSE(database->upsertDataType({{"fingerprint", Value("b")}}, "purchase_transactions",
                                        "fingerprint", Value("b"), 1, &error));
  EXPECT_EQ(error->code(), 2);
  EXPECT_EQ(description(error), "Failed to insert data type. Table is full");
}

TEST_F(MSRDatabaseTest, ReadsByKeyAndUpdates) {
  auto database = open();
  ASSERT_TRUE(
      database->insertDataType({{"subscription_id", Value("s1")}}, "subscriptions", nullptr));
  ErrorPtr error;
  auto none = database->dataTypesFromTableWithName("subscriptions", "subscription_id", Value("zz"),
                                                   &error, passThrough());
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->empty());
  EXPECT_FALSE(error);

  auto failed = database->dataTypesFromTableWithName(
      "subscriptions", "subscription_id", Value("s1"), &error,
      [](const MSRDatabase::Record&, ErrorPtr*) { return Value(); });
  EXPECT_FALSE(failed);
  EXPECT_EQ(error->code(), 2);
  EXPECT_EQ(description(error), "Failed to initialize data types from dictionaries");

  EXPECT_FALSE(database->updateDataType({{"subscription_id", Value("s9")}}, "subscriptions",
                                        "subscription_id", Value("s2"), &error));
  EXPECT_EQ(description(error), "Failed to update record. Item doesn't exist");
  EXPECT_EQ(database->sqliteStore()->rowCountForTableWithName("subscriptions", nullptr),
            Value(1LL));
  EXPECT_TRUE(database->updateDataType({{"subscription_id", Value("s2")}}, "subscriptions",
                                       "subscription_id", Value("s1"), &error));
  EXPECT_EQ(database->sqliteStore()->rowCountForTableWithName("subscriptions", "subscription_id",
                                                              Value("s2"), nullptr),
            Value(1LL));
}

TEST_F(MSRDatabaseTest, ResetLeavesAnEmptyDatabaseWithAFreshAppMetadataRow) {
  auto database = open();
  ASSERT_TRUE(
      database->insertDataType({{"subscription_id", Value("s1")}}, "subscriptions", nullptr));
  ASSERT_TRUE(database->performTransaction([&] {
    return database->sqliteStore()->updateAllRecordsInTableWithName(
        "app_metadata", "last_bundle_index", Value(9), nullptr);
  }));
  ErrorPtr error;
  ASSERT_TRUE(database->reset(&error)) << description(error);
  EXPECT_EQ(database->sqliteStore()->rowCountForTableWithName("subscriptions", nullptr),
            Value(0LL));
  auto rows = database->allDataTypesFromTableWithName("app_metadata", 5, nullptr, passThrough());
  ASSERT_EQ(rows->size(), 1u);
  EXPECT_EQ(rows->front()["last_bundle_index"], Value(0LL));
}

TEST_F(MSRDatabaseTest, ArgumentChecksAndValueConversion) {
  ErrorPtr error;
  EXPECT_FALSE(MSRDatabase::initWithDatabaseName("", nullptr, &error));
  EXPECT_EQ(description(error), "Received empty database name in init");
  auto database = open();
  EXPECT_FALSE(database->performTransaction([] { return false; }));
  EXPECT_FALSE(database->insertDataType({}, "subscriptions", &error));
  EXPECT_EQ(description(error), "Failed to insert empty record");

  EXPECT_EQ(MSRObjectFromValue(*MSRValue::initWithString(Value("s"))), Value("s"));
  EXPECT_EQ(MSRObjectFromValue(*MSRValue::initWithDouble(1.5)), Value(1.5));
  EXPECT_EQ(MSRObjectFromValue(*MSRValue::initWithInt64(7)), Value(7LL));
}

}  // namespace
