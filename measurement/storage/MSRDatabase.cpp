#include "measurement/storage/MSRDatabase.h"

#include <map>

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRError.h"
#include "measurement/foundation/MSRMonitor.h"
#include "measurement/foundation/MSRUtilities.h"
#include "measurement/foundation/MSRValue.h"
#include "measurement/storage/MSRFileLocations.h"
#include "measurement/storage/MSRPersistedConfig.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "platform/base/Files.h"
#include "platform/base/Format.h"

using platform::ErrorPtr;
using platform::Value;
using ColumnInfo = MSRSqliteStore::ColumnInfo;

namespace {

std::shared_ptr<MSRMonitor> monitor() { return MSRMeasurement::monitor(); }

std::pair<std::string, std::string> compositeKey(const std::string& a, const std::string& b) {
  return {kMSRPrimaryKey, platform::format("(%@, %@)", a, b)};
}

std::map<std::string, ColumnInfo> elementaryColumns() {
  return {
      {kMSRTableAppMetadata,
       {{"last_bundle_index", "INTEGER NOT NULL"}, {"last_bundle_end_timestamp", "REAL NOT NULL"}}},
      {kMSRTableRawEventsMetadata,
       {{"metadata_fingerprint", "INTEGER NOT NULL PRIMARY KEY"}, {"metadata", "BLOB NOT NULL"}}},
      {kMSRTableRawEvents,
       {{"name", "TEXT NOT NULL"},
        {"timestamp", "INTEGER NOT NULL"},
        {"metadata_fingerprint", "INTEGER NOT NULL"},
        {"data", "BLOB NOT NULL"}}},
      {kMSRTableEvents,
       {{"name", "TEXT NOT NULL PRIMARY KEY"},
        {"lifetime_count", "INTEGER NOT NULL"},
        {"current_bundle_count", "INTEGER NOT NULL"},
        {"last_fire_timestamp", "REAL NOT NULL"}}},
      {kMSRTableUserAttributes,
       {{"name", "TEXT NOT NULL PRIMARY KEY"},
        {"set_timestamp", "REAL NOT NULL"},
        {"value", "BLOB NOT NULL"}}},
      {kMSRTableQueue, {{"data", "BLOB NOT NULL"}, {"bundle_end_timestamp", "REAL NOT NULL"}}},
      {kMSRTableEventFilters,
       {{"audience_id", "INTEGER NOT NULL"},
        {"filter_id", "INTEGER NOT NULL"},
        {"event_name", "TEXT NOT NULL"},
        {"data", "BLOB NOT NULL"},
        compositeKey("audience_id", "filter_id")}},
      {kMSRTablePropertyFilters,
       {{"audience_id", "INTEGER NOT NULL"},
        {"filter_id", "INTEGER NOT NULL"},
        {"property_name", "TEXT NOT NULL"},
        {"data", "BLOB NOT NULL"},
        compositeKey("audience_id", "filter_id")}},
      {kMSRTableAudienceFilterValues,
       {{"audience_id", "INTEGER NOT NULL PRIMARY KEY"},
        {"current_results", "BLOB"},
        {"previous_results", "BLOB"}}},
      {kMSRTablePurchaseTransactions, {{"fingerprint", "TEXT NOT NULL PRIMARY KEY"}}},
      {kMSRTableSubscriptions, {{"subscription_id", "TEXT NOT NULL PRIMARY KEY"}}},
      {kMSRTableConditionalProperties,
       {{"name", "TEXT NOT NULL PRIMARY KEY"},
        {"origin", "TEXT NOT NULL"},
        {"value", "BLOB NOT NULL"},
        {"creation_timestamp", "REAL NOT NULL"},
        {"active", "INTEGER NOT NULL"},
        {"trigger_timeout", "REAL NOT NULL"},
        {"triggered_timestamp", "REAL NOT NULL"},
        {"time_to_live", "REAL NOT NULL"},
        {"trigger_event_name", "TEXT"},
        {"timed_out_event", "BLOB"},
        {"triggered_event", "BLOB"},
        {"expired_event", "BLOB"}}},
      {kMSRTableMainEventParams,
       {{"event_id", "INTEGER NOT NULL PRIMARY KEY"},
        {"children_to_process", "INTEGER NOT NULL"},
        {"main_event", "BLOB NOT NULL"}}},
  };
}

std::map<std::string, ColumnInfo> addOnColumns() {
  return {
      {kMSRTableAppMetadata,
       {{"last_bundle_start_timestamp", "REAL"},
        {"day", "INTEGER"},
        {"daily_conversions_count", "INTEGER"},
        {"daily_events_count", "INTEGER"},
        {"daily_public_events_count", "INTEGER"},
        {"daily_error_events_count", "INTEGER"},
        {"remote_config_data", "BLOB"},
        {"remote_config_timestamp", "REAL"},
        {"daily_real_time_conversion_events_count", "INTEGER"}}},
      {kMSRTableRawEvents, {{"is_realtime", "INTEGER"}}},
      {kMSRTableEvents,
       {{"last_bundled_timestamp", "REAL"},
        {"last_sampled_complex_event_id", "INTEGER"},
        {"last_sampling_rate", "INTEGER"},
        {"last_exempt_from_sampling", "INTEGER"},
        {"last_bundled_day", "INTEGER"},
        {"current_session_count", "INTEGER"}}},
      {kMSRTableUserAttributes, {{"origin", "TEXT"}}},
      {kMSRTableQueue, {{"is_realtime", "INTEGER"}, {"retry_count", "INTEGER"}}},
      {kMSRTableEventFilters, {{"session_scoped", "INTEGER"}}},
      {kMSRTablePropertyFilters, {{"session_scoped", "INTEGER"}}},
  };
}

std::map<std::string, MSRSqliteStore::ColumnTypes> modifiedColumns() {
  return {{kMSRTableRawEvents, {{"timestamp", "REAL NOT NULL"}}}};
}

}  // namespace

Value MSRObjectFromValue(const MSRValue& value) {
  if (value.isString()) return Value(value.stringValue().value_or(""));
  if (value.isDouble()) return Value(value.doubleValue());
  return Value(static_cast<long long>(value.int64Value()));
}

std::shared_ptr<MSRDatabase> MSRDatabase::initWithDatabaseName(
    const std::string& databaseName, std::shared_ptr<MSRPersistedConfig> persistedConfig,
    ErrorPtr* error) {
  if (!MSRCheckTrue(!databaseName.empty(), error, 1, "Received empty database name in init")) {
    return nullptr;
  }
  const std::string path = MSRApplicationSupportPath(databaseName);
  std::shared_ptr<MSRDatabase> database(new MSRDatabase());
  if (!database->initializeDatabaseResourcesWithContext(kMSRContextInit, path, error)) {
    return nullptr;
  }
  database->persistedConfig_ = std::move(persistedConfig);
  return database;
}

bool MSRDatabase::reset(ErrorPtr* error) {
  const std::string path = sqliteStore_ ? sqliteStore_->databasePath() : "";
  if (!MSRCheckTrue(sqliteStore_ && sqliteStore_->closeAndDeleteDatabase(), error, 2,
              "Failed to delete database data")) {
    return false;
  }
  return initializeDatabaseResourcesWithContext(kMSRContextReset, path, error);
}

bool MSRDatabase::initializeDatabaseResourcesWithContext(const std::string& context,
                                                         const std::string& databasePath,
                                                         ErrorPtr* error) {
  sqliteStore_ = MSRSqliteStore::initWithDatabasePath(databasePath, error);
  if (!sqliteStore_) return false;
  // The tables, their columns and the app metadata row are made in one write transaction: a new
  // file costs one round of journal and syncs, not one per table and column, and a failure leaves
  // no half-made schema behind.
  bool tablesEnsured = false;
  bool appMetadataReady = false;
  const bool committed = sqliteStore_->performTransactionWithError(nullptr, [&] {
    tablesEnsured = ensureAllTables();
    appMetadataReady = tablesEnsured && initializeAppMetadata();
    return appMetadataReady;
  });
  // Tables ensured in a transaction that did not begin or did not commit were not made.
  if (!committed && (!tablesEnsured || appMetadataReady)) {
    monitor()->logWithLevel(
        1, 12002,
        platform::format("Failed to create or validate required database tables (%@)", context));
    // The half-made store must let go of the file before it goes.
    const bool transient = sqliteStore_->lastFailureIsTransient();
    sqliteStore_->closeDatabase();
    // A lock held elsewhere or an I/O error is no reason to throw the data away; the next
    // attempt opens the same file.
    if (transient) return false;
    ErrorPtr deleteError;
    if (!MSRDeleteFileAtPath(databasePath, &deleteError) && deleteError) {
      monitor()->logWithLevel(
          4, 12003,
          platform::format("Failed to delete old database file after failed validation. Error (%@)",
                           context),
          Value(deleteError));
    } else {
      for (const char* suffix : {"-journal", "-wal", "-shm"}) {
        if (platform::files::exists(databasePath + suffix)) {
          MSRDeleteFileAtPath(databasePath + suffix, nullptr);
        }
      }
    }
    return false;
  }
  if (!committed) {
    monitor()->logWithLevel(
        1, 12004, platform::format("Failed to initialize App Metadata table (%@)", context));
    return false;
  }
  return true;
}

bool MSRDatabase::ensureAllTables() {
  const auto elementary = elementaryColumns();
  const auto addOns = addOnColumns();
  const auto modified = modifiedColumns();
  for (const auto& [table, columns] : elementary) {
    const auto addOn = addOns.find(table);
    const auto modify = modified.find(table);
    ErrorPtr error;
    const bool ok = sqliteStore_->ensureTableWithName(
        table, columns, addOn == addOns.end() ? ColumnInfo{} : addOn->second,
        modify == modified.end() ? MSRSqliteStore::ColumnTypes{} : modify->second, &error);
    if (!ok) {
      // Stop whether or not the failure came with an error: a later table must not be built on
      // a database that already failed.
      monitor()->logWithLevel(1, 12047, "Failed to ensure table. Table, error", Value(table),
                              error ? Value(error) : Value());
      return false;
    }
  }
  return true;
}

bool MSRDatabase::initializeAppMetadata() {
  return performTransaction([this] {
    ErrorPtr error;
    const auto rows = dataTypesFromTableWithName(
        kMSRTableAppMetadata, kMSRColumnRowID, Value(kMSRAppMetadataRowID), &error,
        [](const Record& row, ErrorPtr*) { return Value(row); });
    if (!rows) {
      if (error) {
        monitor()->logWithLevel(1, 12005, "Failed to query app metadata");
        return false;
      }
    } else if (!rows->empty()) {
      return true;
    }
    const Record record{{kMSRColumnRowID, Value(kMSRAppMetadataRowID)},
                        {"last_bundle_index", Value(0)},
                        {"last_bundle_start_timestamp", Value(0.0)},
                        {"last_bundle_end_timestamp", Value(0.0)}};
    if (!upsertDataType(record, kMSRTableAppMetadata, kMSRColumnRowID, Value(kMSRAppMetadataRowID),
                        1, &error)) {
      monitor()->logWithLevel(1, 12006, "Unable to update the app metadata. Error",
                              error ? Value(error) : Value());
      return false;
    }
    return true;
  });
}

bool MSRDatabase::performTransaction(const std::function<bool()>& block) {
  ErrorPtr error;
  if (sqliteStore_ && sqliteStore_->performTransactionWithError(&error, block)) return true;
  monitor()->logWithLevel(
      1, 12056,
      platform::format("Transaction failed. %@", error ? error->localizedDescription() : ""));
  return false;
}

std::optional<Value::Array> MSRDatabase::allDataTypesFromTableWithName(
    const std::string& tableName, long tableLimit, ErrorPtr* error,
    const CreateDataTypeBlock& createDataTypeBlock) {
  if (!MSRCheckTrue(static_cast<bool>(createDataTypeBlock), error, 1,
              "Received nil block to get all data types")) {
    return std::nullopt;
  }
  const std::string query =
      "SELECT rowid, * FROM " + tableName + " ORDER BY rowid LIMIT " + std::to_string(tableLimit);
  const auto records = sqliteStore_->recordsForQuery(query, {}, error);
  if (!records) return std::nullopt;
  Value::Array result;
  for (const auto& record : *records) {
    Value made = createDataTypeBlock(record, error);
    if (!made.isNil()) result.push_back(std::move(made));
  }
  return result;
}

std::optional<Value::Array> MSRDatabase::dataTypesFromTableWithName(
    const std::string& tableName, const std::string& columnName, const Value& columnValue,
    ErrorPtr* error, const CreateDataTypeBlock& createDataTypeBlock) {
  if (!MSRCheckTrue(!tableName.empty(), error, 1,
              "Received empty table name to create data type from table") ||
      !MSRCheckTrue(!columnName.empty(), error, 1,
              "Received empty column name to create data type from table") ||
      !MSRCheckTrue(!columnValue.isNil(), error, 1,
              "Received nil column value to create data type from table") ||
      !MSRCheckTrue(static_cast<bool>(createDataTypeBlock), error, 2,
              "Received nil block to create data type from table")) {
    return std::nullopt;
  }
  const std::string query = "SELECT rowid, * FROM " + tableName + " WHERE " + columnName + " = ?";
  const auto records = sqliteStore_->recordsForQuery(query, {columnValue}, error);
  if (!records) return std::nullopt;
  Value::Array result;
  for (const auto& record : *records) {
    Value made = createDataTypeBlock(record, error);
    if (!made.isNil()) result.push_back(std::move(made));
  }
  if (result.empty() && !records->empty()) {
    MSRSetError(error, 2, "Failed to initialize data types from dictionaries");
    return std::nullopt;
  }
  return result;
}

bool MSRDatabase::insertDataType(const Record& record, const std::string& tableName,
                                 ErrorPtr* error) {
  if (!MSRCheckTrue(!tableName.empty(), error, 1, "Received empty table name for inserting") ||
      !MSRCheckTrue(!record.empty(), error, 2, "Failed to insert empty record")) {
    return false;
  }
  return sqliteStore_->upsertRecord(record, tableName, error);
}

bool MSRDatabase::insertColumnValues(MSRSqliteStore::UpsertColumns& columns,
                                     std::span<const MSRSqliteStore::ColumnValue> values,
                                     ErrorPtr* error) {
  if (!MSRCheckTrue(!columns.tableName().empty(), error, 1,
                    "Received empty table name for inserting") ||
      !MSRCheckTrue(!values.empty(), error, 2, "Failed to insert empty record")) {
    return false;
  }
  return sqliteStore_->upsertValues(columns, values, error);
}

bool MSRDatabase::upsertDataType(const Record& record, const std::string& tableName,
                                 const std::string& columnName, const Value& columnValue,
                                 long tableLimit, ErrorPtr* error) {
  if (!MSRCheckTrue(!record.empty(), error, 1, "Received empty data type to upsert") ||
      !MSRCheckTrue(!tableName.empty(), error, 1, "Received empty table name for checking upsert")) {
    return false;
  }
  const Value keyCount =
      sqliteStore_->rowCountForTableWithName(tableName, columnName, columnValue, error);
  if (keyCount.isNil()) return false;
  const Value tableCount = sqliteStore_->rowCountForTableWithName(tableName, error);
  if (tableCount.isNil()) return false;
  if (keyCount.int64Value() == 0 && tableCount.int64Value() >= tableLimit) {
    MSRSetError(error, 2, "Failed to insert data type. Table is full");
    return false;
  }
  return sqliteStore_->upsertRecord(record, tableName, error);
}

bool MSRDatabase::updateDataType(const Record& record, const std::string& tableName,
                                 const std::string& columnName, const Value& columnValue,
                                 ErrorPtr* error) {
  if (!MSRCheckTrue(!record.empty(), error, 1, "Received empty data type to update") ||
      !MSRCheckTrue(!tableName.empty(), error, 1, "Received empty table name for updating")) {
    return false;
  }
  const Value keyCount =
      sqliteStore_->rowCountForTableWithName(tableName, columnName, columnValue, error);
  if (keyCount.isNil()) return false;
  if (!MSRCheckTrue(keyCount.int64Value() != 0, error, 2,
              "Failed to update record. Item doesn't exist")) {
    return false;
  }
  return sqliteStore_->updateRecord(record, tableName, columnName, columnValue, error);
}
