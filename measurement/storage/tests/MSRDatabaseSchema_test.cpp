// The measurement database's 13 tables as a first launch creates them: every column in order
// with its declared type, NOT NULL and key position, and no other table.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "measurement/storage/MSRDatabase.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "platform/testing/PlatformTest.h"

using platform::Value;

namespace {

struct Column {
  const char* name;
  const char* type;
  long long notNull;
  long long primaryKey;  // position in the key, 0 when not part of it
};

struct Table {
  const char* name;
  std::vector<Column> columns;  // elementary columns, then add-on columns, in order
};

class MSRDatabaseSchemaTest : public platform::testing::PlatformTest {};

TEST_F(MSRDatabaseSchemaTest, EveryTableHasTheSchemasColumnsInOrder) {
  const Table tables[] = {
      {"app_metadata",
       {{"last_bundle_index", "INTEGER", 1, 0},
        {"last_bundle_end_timestamp", "REAL", 1, 0},
        {"last_bundle_start_timestamp", "REAL", 0, 0},
        {"day", "INTEGER", 0, 0},
        {"daily_conversions_count", "INTEGER", 0, 0},
        {"daily_events_count", "INTEGER", 0, 0},
        {"daily_public_events_count", "INTEGER", 0, 0},
        {"daily_error_events_count", "INTEGER", 0, 0},
        {"remote_config_data", "BLOB", 0, 0},
        {"remote_config_timestamp", "REAL", 0, 0},
        {"daily_real_time_conversion_events_count", "INTEGER", 0, 0}}},
      {"raw_events_metadata",
       {{"metadata_fingerprint", "INTEGER", 1, 1}, {"metadata", "BLOB", 1, 0}}},
      {"raw_events",
       {{"name", "TEXT", 1, 0},
        {"timestamp", "REAL", 1, 0},
        {"metadata_fingerprint", "INTEGER", 1, 0},
        {"data", "BLOB", 1, 0},
        {"is_realtime", "INTEGER", 0, 0}}},
      {"events",
       {{"name", "TEXT", 1, 1},
        {"lifetime_count", "INTEGER", 1, 0},
        {"current_bundle_count", "INTEGER", 1, 0},
        {"last_fire_timestamp", "REAL", 1, 0},
        {"last_bundled_timestamp", "REAL", 0, 0},
        {"last_sampled_complex_event_id", "INTEGER", 0, 0},
        {"last_sampling_rate", "INTEGER", 0, 0},
        {"last_exempt_from_sampling", "INTEGER", 0, 0},
        {"last_bundled_day", "INTEGER", 0, 0},
        {"current_session_count", "INTEGER", 0, 0}}},
      {"user_attributes",
       {{"name", "TEXT", 1, 1},
        {"set_timestamp", "REAL", 1, 0},
        {"value", "BLOB", 1, 0},
        {"origin", "TEXT", 0, 0}}},
      {"queue",
       {{"data", "BLOB", 1, 0},
        {"bundle_end_timestamp", "REAL", 1, 0},
        {"is_realtime", "INTEGER", 0, 0},
        {"retry_count", "INTEGER", 0, 0}}},
      {"event_filters",
       {{"audience_id", "INTEGER", 1, 1},
        {"filter_id", "INTEGER", 1, 2},
        {"event_name", "TEXT", 1, 0},
        {"data", "BLOB", 1, 0},
        {"session_scoped", "INTEGER", 0, 0}}},
      {"property_filters",
       {{"audience_id", "INTEGER", 1, 1},
        {"filter_id", "INTEGER", 1, 2},
        {"property_name", "TEXT", 1, 0},
        {"data", "BLOB", 1, 0},
        {"session_scoped", "INTEGER", 0, 0}}},
      {"audience_filter_values",
       {{"audience_id", "INTEGER", 1, 1},
        {"current_results", "BLOB", 0, 0},
        {"previous_results", "BLOB", 0, 0}}},
      {"purchase_transactions", {{"fingerprint", "TEXT", 1, 1}}},
      {"subscriptions", {{"subscription_id", "TEXT", 1, 1}}},
      {"conditional_properties",
       {{"name", "TEXT", 1, 1},
        {"origin", "TEXT", 1, 0},
        {"value", "BLOB", 1, 0},
        {"creation_timestamp", "REAL", 1, 0},
        {"active", "INTEGER", 1, 0},
        {"trigger_timeout", "REAL", 1, 0},
        {"triggered_timestamp", "REAL", 1, 0},
        {"time_to_live", "REAL", 1, 0},
        {"trigger_event_name", "TEXT", 0, 0},
        {"timed_out_event", "BLOB", 0, 0},
        {"triggered_event", "BLOB", 0, 0},
        {"expired_event", "BLOB", 0, 0}}},
      {"main_event_params",
       {{"event_id", "INTEGER", 1, 1},
        {"children_to_process", "INTEGER", 1, 0},
        {"main_event", "BLOB", 1, 0}}},
  };
  auto database = MSRDatabase::initWithDatabaseName(kMSRDatabaseName, nullptr, nullptr);
  ASSERT_TRUE(database);
  auto store = database->sqliteStore();
  const auto master = store->recordsForQuery(
      "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite!_%' "
      "ESCAPE '!'",
      {}, nullptr);
  ASSERT_TRUE(master);
  std::set<std::string> found;
  for (const auto& row : *master) found.insert(*Value(row)["name"].string());
  std::set<std::string> expected;
  for (const Table& table : tables) expected.insert(table.name);
  EXPECT_EQ(found, expected);
  EXPECT_EQ(expected.size(), 13u);

  for (const Table& table : tables) {
    SCOPED_TRACE(table.name);
    const auto info = store->recordsForQuery(
        std::string("SELECT name, type, \"notnull\", pk FROM pragma_table_info('") + table.name +
            "')",
        {}, nullptr);
    ASSERT_TRUE(info);
    ASSERT_EQ(info->size(), table.columns.size());
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
      const Value row((*info)[i]);
      const Column& column = table.columns[i];
      EXPECT_EQ(row["name"], Value(column.name)) << i;
      EXPECT_EQ(row["type"], Value(column.type)) << column.name;
      EXPECT_EQ(row["notnull"], Value(column.notNull)) << column.name;
      EXPECT_EQ(row["pk"], Value(column.primaryKey)) << column.name;
    }
  }
}

}  // namespace
