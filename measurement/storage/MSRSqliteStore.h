// One SQLite database file of the measurement engine: opening (with delete-and-retry when the
// file cannot be opened or fails its integrity check), schema creation and migration from column
// lists, parameterised statements through a cache of prepared statements, records in and out,
// and exclusive transactions. Failures are engine errors (codes 1 argument, 2 state, 3 SQLite)
// through optional out-parameters. Takes no lock: each store is used from one serial queue (the
// connection itself is opened in SQLite's serialized mode).
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/base/Error.h"
#include "platform/base/Value.h"

class MSRSqliteStore : public std::enable_shared_from_this<MSRSqliteStore> {
 public:
  // Column name to a string, a number, byte data or the null marker.
  using Record = platform::Value::Dictionary;
  using Records = std::vector<Record>;
  using Parameters = platform::Value::Array;
  // Column name then type text; one entry may be {"PRIMARY KEY", "(a, b)"}.
  using ColumnInfo = std::vector<std::pair<std::string, std::string>>;
  using ColumnTypes = std::map<std::string, std::string>;  // name to declared type
  // Add-on column name to its ALTER statement; missing columns are added in this order.
  using AddOnStatements = std::vector<std::pair<std::string, std::string>>;
  // Zero-based row position and the row; false ends the query without taking the row.
  using Filter = std::function<bool(std::size_t, const Record&)>;
  // A row the filter took. The record is the reader's own and is good for the call only: the
  // next row replaces its values in place.
  using RowBlock = std::function<void(const Record&)>;

  // One value of a fixed column list (upsertValues), borrowed from the caller: text and bytes
  // are bound without a copy and must outlive the call. Text must be valid UTF-8.
  struct ColumnValue {
    enum class Kind { kNull, kInteger, kReal, kText, kBlob };
    Kind kind = Kind::kNull;
    std::int64_t integer = 0;
    double real = 0;
    const void* bytes = nullptr;  // the text or the blob
    std::size_t size = 0;

    static ColumnValue ofInteger(std::int64_t value) {
      return {Kind::kInteger, value, 0, nullptr, 0};
    }
    static ColumnValue ofReal(double value) { return {Kind::kReal, 0, value, nullptr, 0}; }
    static ColumnValue ofText(std::string_view text) {
      return {Kind::kText, 0, 0, text.data(), text.size()};
    }
    static ColumnValue ofBlob(const std::uint8_t* data, std::size_t size) {
      return {Kind::kBlob, 0, 0, data, size};
    }
  };
  // The columns of one table that a caller inserts into again and again. The upsert's text is
  // made once; the statement compiled for it stays in the store's cache under that text, and
  // the list remembers it until the cache is cleared, so a repeated insert binds and steps
  // without looking anything up. Name the columns in the order a record of them would list
  // them (by name) to share the statement with upsertRecord.
  class UpsertColumns {
   public:
    UpsertColumns(std::string tableName, std::vector<std::string> columnNames);
    const std::string& tableName() const { return tableName_; }
    const std::vector<std::string>& columnNames() const { return columnNames_; }

   private:
    friend class MSRSqliteStore;
    std::string tableName_;
    std::vector<std::string> columnNames_;
    std::string sql_;
    sqlite3_stmt* statement_ = nullptr;
    std::uint64_t statementGeneration_ = 0;  // of the store cache the statement belongs to
  };

  // Null on failure (error set); the database is open and valid otherwise.
  static std::shared_ptr<MSRSqliteStore> initWithDatabasePath(const std::string& databasePath,
                                                              platform::ErrorPtr* error);
  ~MSRSqliteStore();
  MSRSqliteStore(const MSRSqliteStore&) = delete;
  MSRSqliteStore& operator=(const MSRSqliteStore&) = delete;

  sqlite3* sqliteHandle() const { return sqliteHandle_; }
  const std::string& databasePath() const { return databasePath_; }

  // Life cycle.
  bool openAndValidateDatabase(platform::ErrorPtr* error);
  bool validateDatabaseWithError(platform::ErrorPtr* error);
  void closeDatabase();
  void finalizeAndClearStatements();
  // Closes and removes the file (only that file); true also when none existed.
  bool closeAndDeleteDatabase();

  // Statements. Hand back what statementForQuery/prepareSQL gave with cleanUpStatement and the
  // same text; executeSQLStatement finalizes its statement itself.
  sqlite3_stmt* prepareSQL(const std::string& sql, platform::ErrorPtr* error);
  sqlite3_stmt* statementForQuery(const std::string& query, const Parameters& parameterValues,
                                  platform::ErrorPtr* error);
  sqlite3_stmt* statementForQuery(const std::string& query, platform::ErrorPtr* error);
  void cleanUpStatement(sqlite3_stmt* statement, const std::string& query);
  bool executeSQL(const std::string& sql, platform::ErrorPtr* error);
  bool executeSQLStatement(sqlite3_stmt* statement, platform::ErrorPtr* error);
  // Data values are bound without copying: they must outlive the statement's next reset.
  bool bindValues(const Parameters& values, sqlite3_stmt* statement, platform::ErrorPtr* error);
  // Nil for nothing (no statement, invalid text, NULL or empty blob).
  platform::Value valueAtColumn(int column, sqlite3_stmt* statement);
  // Prepared, bound and uncached; the record must outlive the statement.
  sqlite3_stmt* upsertStatementForRecord(const Record& record, const std::string& tableName,
                                         platform::ErrorPtr* error);
  sqlite3_stmt* updateStatementForRecord(const Record& record, const std::string& tableName,
                                         const std::string& columnName,
                                         const platform::Value& columnValue,
                                         platform::ErrorPtr* error);

  // Rows.
  // upsertRecord's statement, checks, errors and hand-back, for one value per column.
  bool upsertValues(UpsertColumns& columns, std::span<const ColumnValue> values,
                    platform::ErrorPtr* error);
  bool upsertRecord(const Record& record, const std::string& tableName, platform::ErrorPtr* error);
  bool updateRecord(const Record& record, const std::string& tableName,
                    const std::string& columnName, const platform::Value& columnValue,
                    platform::ErrorPtr* error);
  bool updateAllRecordsInTableWithName(const std::string& tableName, const std::string& columnName,
                                       const platform::Value& columnValue,
                                       platform::ErrorPtr* error);
  bool increaseColumn(const std::string& column, std::int64_t byValue, const std::string& inTable,
                      const std::string& condition, const Parameters& parameterValues,
                      platform::ErrorPtr* error);
  bool deleteRecordFromTableWithName(const std::string& tableName, const std::string& columnName,
                                     const platform::Value& columnValue, platform::ErrorPtr* error);
  // The number of rows deleted, or nullopt on failure.
  std::optional<std::int64_t> deleteRecordsFromTableWithName(const std::string& tableName,
                                                             const std::string& condition,
                                                             const Parameters& parameterValues,
                                                             platform::ErrorPtr* error);
  bool deleteAllRecordsFromTableWithName(const std::string& tableName, platform::ErrorPtr* error);
  std::optional<Records> recordsForQuery(const std::string& query,
                                         const Parameters& parameterValues,
                                         platform::ErrorPtr* error);
  std::optional<Records> recordsForQuery(const std::string& query,
                                         const Parameters& parameterValues,
                                         platform::ErrorPtr* error, const Filter& withFilter);
  // recordsForQuery one row at a time, with one record for the whole query instead of one per
  // row: rows are taken in order while withFilter answers true and each is handed to usingBlock.
  // The checks, errors, logs and statement hand-back are recordsForQuery's. False (error set) on
  // failure; rows handed over before a step that failed are not the query's answer.
  bool enumerateRecordsForQuery(const std::string& query, const Parameters& parameterValues,
                                platform::ErrorPtr* error, const Filter& withFilter,
                                const RowBlock& usingBlock);
  // A number, or nil (no row: error code 3; a NULL value: no error).
  platform::Value numberForQuery(const std::string& query, const Parameters& parameterValues,
                                 platform::ErrorPtr* error);
  platform::Value rowCountForTableWithName(const std::string& tableName, platform::ErrorPtr* error);
  platform::Value rowCountForTableWithName(const std::string& tableName,
                                           const std::string& columnName,
                                           const platform::Value& columnValue,
                                           platform::ErrorPtr* error);

  // Tables and schema.
  std::optional<bool> tableExists(const std::string& tableName, platform::ErrorPtr* error);
  std::optional<std::vector<std::string>> columnsForTableWithName(const std::string& tableName,
                                                                  platform::ErrorPtr* error);
  std::optional<ColumnTypes> columnInfoForTableWithName(const std::string& tableName,
                                                        platform::ErrorPtr* error);
  bool dropTableWithName(const std::string& tableName, platform::ErrorPtr* error);
  bool renameTable(const std::string& oldName, const std::string& toName,
                   platform::ErrorPtr* error);
  bool copyContentsFromTable(const std::string& source, const std::string& toTable,
                             platform::ErrorPtr* error);
  // addOnColumns: column name to its ALTER statement, run in the order given.
  std::optional<bool> validateTableWithName(const std::string& tableName,
                                            const std::vector<std::string>& requiredColumnNames,
                                            const AddOnStatements& addOnColumns,
                                            platform::ErrorPtr* error);
  bool ensureTableWithName(const std::string& tableName, const std::string& createSQL,
                           const std::vector<std::string>& requiredColumnNames,
                           const AddOnStatements& addOnColumns, platform::ErrorPtr* error);
  bool ensureTableWithName(const std::string& tableName, const ColumnInfo& elementaryColumnInfo,
                           const ColumnInfo& addOnColumnInfo, platform::ErrorPtr* error);
  bool ensureSchemaOfTableWithName(const std::string& tableName,
                                   const ColumnInfo& elementaryColumnInfo,
                                   const ColumnInfo& addOnColumnInfo, platform::ErrorPtr* error);
  // The databases' entry point, once per table at start-up.
  bool ensureTableWithName(const std::string& tableName, const ColumnInfo& elementaryColumnInfo,
                           const ColumnInfo& addOnColumnInfo, const ColumnTypes& modifyColumnInfo,
                           platform::ErrorPtr* error);

  // Transactions. An exception from the block rolls back and is rethrown. Inside a running
  // transaction's block a call joins it under a savepoint: its block's failure undoes only what
  // that block wrote, and the outer block decides about the rest. Once SQLite has rolled the
  // transaction back by itself, every operation until the outermost block returns fails, nested
  // transactions included, and the outermost call reports the failure.
  bool performTransactionWithError(platform::ErrorPtr* error, const std::function<bool()>& block);
  bool beginTransaction();
  bool endTransaction();
  bool rollbackTransaction();

  // Error reporting.
  std::optional<std::string> lastErrorMessage();
  std::string errorDescriptionForDatabaseOperation(const std::string& operation);
  std::string monitorContextForDatabaseOperation(const std::string& operation);
  void setDatabaseError(platform::ErrorPtr* error, const std::string& operation);
  // Whether the last SQLite failure says nothing about the file itself (a lock held elsewhere,
  // I/O, no descriptors, no memory): such a file is never given up.
  bool lastFailureIsTransient() const;
  static bool isTransientResultCode(int resultCode);
  static bool isDamageResultCode(int resultCode);  // corrupt, or not a database at all

 private:
  explicit MSRSqliteStore(std::string databasePath);
  // The upsert's text, with its values appended to parameters; nullopt (logged) for a value
  // that cannot be bound.
  std::optional<std::string> upsertSQLForRecord(const Record& record, const std::string& tableName,
                                                Parameters* parameters);
  // The cached statement of query, compiled and cached on first use, unbound. hasParameters
  // says whether the caller will bind values to it.
  sqlite3_stmt* preparedStatementForQuery(const std::string& query, bool hasParameters,
                                          platform::ErrorPtr* error, bool* cached);
  // Binds one value per parameter in order, steps once and hands the statement back.
  bool bindAndStepUpsert(sqlite3_stmt* statement, bool cached,
                         std::span<const ColumnValue> values, platform::ErrorPtr* error);
  bool stepAndFinalize(sqlite3_stmt* statement, const std::string& operation,
                       platform::ErrorPtr* error);
  // statementForQuery that also says whether the statement is the cache's, so that handing it
  // back needs no second search by text.
  sqlite3_stmt* statementForQuery(const std::string& query, const Parameters& parameterValues,
                                  platform::ErrorPtr* error, bool* cached);
  void handBackStatement(sqlite3_stmt* statement, bool cached);
  // The cached upsert statement compiled earlier for these columns of this table, or null.
  sqlite3_stmt* knownUpsertStatement(const Record& record, const std::string& tableName) const;
  bool runTransactionStatement(int which);
  bool performNestedTransaction(platform::ErrorPtr* error, const std::function<bool()>& block);
  // Runs one statement once (no cache); a failure keeps its result code.
  bool executeStatement(const char* sql);
  // Keeps a failed call's SQLite result code for lastFailureIsTransient.
  void recordFailure(int resultCode);

  // False (error set) inside a transaction block that SQLite has already rolled back.
  bool checkTransactionAlive(platform::ErrorPtr* error);

  sqlite3* sqliteHandle_ = nullptr;
  bool damaged_ = false;        // the last open failed because the file is damaged
  int transactionDepth_ = 0;  // transaction blocks running, the outermost one included
  int lastFailureResultCode_ = SQLITE_OK;
  std::map<std::string, sqlite3_stmt*, std::less<>> statementCache_;
  // Upserts already compiled, by table and then by the record's column names in order: a
  // repeated insert finds its statement without building its text or searching the cache by it.
  // The statements belong to statementCache_ (under their text) and are forgotten with it.
  struct KnownUpsert {
    std::vector<std::string> columns;
    sqlite3_stmt* statement;
  };
  std::map<std::string, std::vector<KnownUpsert>, std::less<>> knownUpserts_;
  // Changes whenever the cache is cleared, and differs between stores: an UpsertColumns whose
  // remembered generation is not this one compiles or finds its statement again.
  std::uint64_t statementGeneration_;
  // BEGIN, END and ROLLBACK, each compiled once per connection and kept outside the cache.
  sqlite3_stmt* transactionStatements_[3] = {};
  const std::string databasePath_;
};
