// The measurement engine's one database: a single SQLite file with its 13 tables (app metadata
// and daily counters, raw events and their metadata, the bundle queue, per-event aggregates, user
// attributes, audience filters and results, conditional user properties, purchase and
// subscription fingerprints, complex-event parameters). This part opens, validates, repairs and
// resets it and gives the typed-row operations every table's queries are built on. No lock and no
// queue: the engine calls it from its serial worker queue.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "measurement/storage/MSRSqliteStore.h"
#include "platform/base/Error.h"
#include "platform/base/Value.h"

class MSRPersistedConfig;
class MSRValue;

// A column value of an engine value: a string, a double, or else its 64-bit integer.
platform::Value MSRObjectFromValue(const MSRValue& value);

class MSRDatabase {
 public:
  using Record = MSRSqliteStore::Record;
  // Decodes one row; nil skips the row.
  using CreateDataTypeBlock = std::function<platform::Value(const Record&, platform::ErrorPtr*)>;

  // The name is an entry of the engine folder ("veltro-lumo-measurement.sql"). Null on failure.
  static std::shared_ptr<MSRDatabase> initWithDatabaseName(
      const std::string& databaseName, std::shared_ptr<MSRPersistedConfig> persistedConfig,
      platform::ErrorPtr* error);

  // Deletes the file and starts again on an empty one.
  bool reset(platform::ErrorPtr* error);
  // The context ("Init", "Reset") only names the attempt in log texts.
  bool initializeDatabaseResourcesWithContext(const std::string& context,
                                              const std::string& databasePath,
                                              platform::ErrorPtr* error);
  bool ensureAllTables();
  bool initializeAppMetadata();
  // One exclusive transaction: true commits, false rolls back.
  bool performTransaction(const std::function<bool()>& block);

  // Typed rows. A limit of -1 reads every row.
  std::optional<platform::Value::Array> allDataTypesFromTableWithName(
      const std::string& tableName, long tableLimit, platform::ErrorPtr* error,
      const CreateDataTypeBlock& createDataTypeBlock);
  std::optional<platform::Value::Array> dataTypesFromTableWithName(
      const std::string& tableName, const std::string& columnName,
      const platform::Value& columnValue, platform::ErrorPtr* error,
      const CreateDataTypeBlock& createDataTypeBlock);
  bool insertDataType(const Record& record, const std::string& tableName,
                      platform::ErrorPtr* error);
  // A full table still takes replacements of existing keys.
  bool upsertDataType(const Record& record, const std::string& tableName,
                      const std::string& columnName, const platform::Value& columnValue,
                      long tableLimit, platform::ErrorPtr* error);
  bool updateDataType(const Record& record, const std::string& tableName,
                      const std::string& columnName, const platform::Value& columnValue,
                      platform::ErrorPtr* error);

  const std::shared_ptr<MSRSqliteStore>& sqliteStore() const { return sqliteStore_; }
  const std::shared_ptr<MSRPersistedConfig>& persistedConfig() const { return persistedConfig_; }

 private:
  MSRDatabase() = default;

  std::shared_ptr<MSRSqliteStore> sqliteStore_;
  std::shared_ptr<MSRPersistedConfig> persistedConfig_;
};
