#include "measurement/storage/MSRSqliteStore.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <set>
#include <string_view>

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRError.h"
#include "measurement/foundation/MSRMonitor.h"
#include "measurement/storage/MSRFileLocations.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "platform/base/Files.h"
#include "platform/base/Format.h"
#include "platform/base/Strings.h"

namespace fs = std::filesystem;
using platform::ErrorPtr;
using platform::Value;

namespace {

std::shared_ptr<MSRMonitor> monitor() { return MSRMeasurement::monitor(); }

// The file system's immutable flag. A file system that keeps no such flags answers "not set".
std::optional<bool> isImmutable(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  int flags = 0;
  const bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  ::close(fd);
  if (!ok) return false;
  return (flags & FS_IMMUTABLE_FL) != 0;
}

bool clearImmutable(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok && (flags & FS_IMMUTABLE_FL)) {
    flags &= ~FS_IMMUTABLE_FL;
    ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  ::close(fd);
  return ok;
}

ErrorPtr fileError(const std::string& description) {
  return platform::Error::make(platform::kFileErrorDomain, platform::kFileWriteUnknownError,
                               {{"NSLocalizedDescription", Value(description)}});
}

bool containsCaseInsensitive(const std::string& text, const std::string& word) {
  std::string lower = text;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  std::string lowerWord = word;
  std::transform(lowerWord.begin(), lowerWord.end(), lowerWord.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower.find(lowerWord) != std::string::npos;
}

bool isBindable(const Value& value) {
  return value.isData() || value.isNumber() || value.isString() || value.isNull();
}


// One value to one parameter; SQLITE_MISMATCH for a kind that has no column type. Data is never
// copied, and text only when copyText is set: without it both must outlive the statement's next
// reset.
int bindValue(sqlite3_stmt* statement, int index, const Value& value, bool copyText) {
  if (value.isData()) {
    const platform::Bytes* bytes = value.bytes();
    // An empty data value still binds a (zero-length) blob, not NULL.
    static const std::uint8_t kEmpty = 0;
    return sqlite3_bind_blob64(statement, index, bytes->empty() ? &kEmpty : bytes->data(),
                               bytes->size(), SQLITE_STATIC);
  }
  if (value.isNumber()) {
    return value.isFloatingPoint() ? sqlite3_bind_double(statement, index, value.doubleValue())
                                   : sqlite3_bind_int64(statement, index, value.int64Value());
  }
  if (value.isString()) {
    const std::string* text = value.string();
    return sqlite3_bind_text64(statement, index, text->data(), text->size(),
                               copyText ? SQLITE_TRANSIENT : SQLITE_STATIC, SQLITE_UTF8);
  }
  if (value.isNull()) return sqlite3_bind_null(statement, index);
  return SQLITE_MISMATCH;
}

// The value of a record entry for binding, or nullopt for a kind that has no column type.
// Text and bytes are borrowed from the value.
std::optional<MSRSqliteStore::ColumnValue> columnValueOf(const Value& value) {
  using ColumnValue = MSRSqliteStore::ColumnValue;
  if (value.isData()) {
    const platform::Bytes* bytes = value.bytes();
    return ColumnValue::ofBlob(bytes->data(), bytes->size());
  }
  if (value.isNumber()) {
    return value.isFloatingPoint() ? ColumnValue::ofReal(value.doubleValue())
                                   : ColumnValue::ofInteger(value.int64Value());
  }
  if (value.isString()) return ColumnValue::ofText(*value.string());
  if (value.isNull()) return ColumnValue{};
  return std::nullopt;
}

// One borrowed value to one parameter; neither text nor bytes are copied.
int bindColumnValue(sqlite3_stmt* statement, int index, const MSRSqliteStore::ColumnValue& value) {
  using Kind = MSRSqliteStore::ColumnValue::Kind;
  switch (value.kind) {
    case Kind::kInteger:
      return sqlite3_bind_int64(statement, index, value.integer);
    case Kind::kReal:
      return sqlite3_bind_double(statement, index, value.real);
    case Kind::kText:
      return sqlite3_bind_text64(statement, index, static_cast<const char*>(value.bytes),
                                 value.size, SQLITE_STATIC, SQLITE_UTF8);
    case Kind::kBlob: {
      // An empty blob still binds a (zero-length) blob, not NULL.
      static const std::uint8_t kEmpty = 0;
      return sqlite3_bind_blob64(statement, index, value.size == 0 ? &kEmpty : value.bytes,
                                 value.size, SQLITE_STATIC);
    }
    case Kind::kNull:
      break;
  }
  return sqlite3_bind_null(statement, index);
}

// A column's name: the name itself, or the key of a record's entry.
const std::string& columnNameOf(const std::string& name) { return name; }
const std::string& columnNameOf(const MSRSqliteStore::Record::value_type& entry) {
  return entry.first;
}

// "INSERT OR REPLACE INTO t (a, b) VALUES (?, ?);" for the column names (or a record's keys) in
// the order given.
template <typename Names>
std::string upsertSQL(const std::string& tableName, const Names& names) {
  std::string columns;
  std::string markers;
  for (const auto& name : names) {
    columns += columnNameOf(name);
    columns += ", ";
    markers += "?, ";
  }
  columns.resize(columns.size() - 2);
  markers.resize(markers.size() - 2);
  return "INSERT OR REPLACE INTO " + tableName + " (" + columns + ") VALUES (" + markers + ");";
}

// A value no store has had as its statement cache's generation; 0 is never given.
std::uint64_t nextStatementGeneration() {
  static std::atomic<std::uint64_t> last{0};
  return ++last;
}

// "select" at the very start, in any case (only ASCII letters can spell it).
bool beginsWithSelect(const std::string& query) {
  static constexpr char kSelect[] = "select";
  if (query.size() < 6) return false;
  for (std::size_t i = 0; i < 6; ++i) {
    const char c = query[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != kSelect[i]) return false;
  }
  return true;
}

// Holds a connection's (recursive) lock for a scope.
class ConnectionLock {
 public:
  explicit ConnectionLock(sqlite3* connection) : mutex_(sqlite3_db_mutex(connection)) {
    sqlite3_mutex_enter(mutex_);
  }
  ~ConnectionLock() { sqlite3_mutex_leave(mutex_); }
  ConnectionLock(const ConnectionLock&) = delete;
  ConnectionLock& operator=(const ConnectionLock&) = delete;

 private:
  sqlite3_mutex* mutex_;
};

// One column's value by the store's mapping; nil for nothing (invalid text, an empty blob). A
// column's value is read without the connection's lock, so the caller holds it.
Value valueOf(sqlite3_value* value) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
      return Value(static_cast<long long>(sqlite3_value_int64(value)));
    case SQLITE_FLOAT:
      return Value(sqlite3_value_double(value));
    case SQLITE_TEXT: {
      const unsigned char* text = sqlite3_value_text(value);
      if (!text) return Value();
      const std::string_view view(reinterpret_cast<const char*>(text),
                                  static_cast<std::size_t>(sqlite3_value_bytes(value)));
      if (!platform::isValidUtf8(view)) return Value();
      return Value(view);
    }
    case SQLITE_BLOB: {
      const void* blob = sqlite3_value_blob(value);
      if (!blob) return Value();
      const auto* begin = static_cast<const std::uint8_t*>(blob);
      return Value::data(platform::Bytes(begin, begin + sqlite3_value_bytes(value)));
    }
    case SQLITE_NULL:
      return Value::null();
    default:
      return Value();
  }
}

constexpr const char* kTransactionSQL[] = {kMSRBeginTransactionSQL, kMSREndTransactionSQL,
                                           kMSRRollbackSQL};
enum TransactionStatement { kBegin = 0, kEnd = 1, kRollback = 2 };

std::string firstWord(const std::string& text) {
  const auto blank = text.find(' ');
  return blank == std::string::npos ? text : text.substr(0, blank);
}

}  // namespace

MSRSqliteStore::MSRSqliteStore(std::string databasePath)
    : statementGeneration_(nextStatementGeneration()), databasePath_(std::move(databasePath)) {}

MSRSqliteStore::UpsertColumns::UpsertColumns(std::string tableName,
                                             std::vector<std::string> columnNames)
    : tableName_(std::move(tableName)), columnNames_(std::move(columnNames)) {
  if (!tableName_.empty() && !columnNames_.empty()) sql_ = upsertSQL(tableName_, columnNames_);
}

MSRSqliteStore::~MSRSqliteStore() { closeDatabase(); }

std::shared_ptr<MSRSqliteStore> MSRSqliteStore::initWithDatabasePath(
    const std::string& databasePath, ErrorPtr* error) {
  if (!MSRCheckTrue(!databasePath.empty(), error, 1, "Received empty database path on init")) {
    return nullptr;
  }
  std::shared_ptr<MSRSqliteStore> store(new MSRSqliteStore(databasePath));
  if (store->openAndValidateDatabase(error)) return store;
  // Only a file SQLite calls damaged is given up. A lock held elsewhere, an I/O error or no file
  // descriptors left say nothing about the data in it: the open fails and the file stays.
  if (!store->damaged_) return nullptr;
  if (!store->closeAndDeleteDatabase()) return nullptr;
  if (!store->openAndValidateDatabase(error)) return nullptr;
  if (error) error->reset();
  return store;
}

bool MSRSqliteStore::isDamageResultCode(int resultCode) {
  const int primary = resultCode & 0xff;
  return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

bool MSRSqliteStore::isTransientResultCode(int resultCode) {
  switch (resultCode & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR:
    case SQLITE_NOMEM:
    case SQLITE_FULL:
    case SQLITE_INTERRUPT:
    case SQLITE_PROTOCOL:
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_NOLFS:
      return true;
    default:
      return false;
  }
}

bool MSRSqliteStore::lastFailureIsTransient() const {
  return isTransientResultCode(lastFailureResultCode_);
}

bool MSRSqliteStore::openAndValidateDatabase(ErrorPtr* error) {
  bool isDirectory = false;
  if (platform::files::exists(databasePath_, &isDirectory)) {
    ErrorPtr attributesError;
    if (!platform::files::attributes(databasePath_, &attributesError)) {
      if (error) *error = attributesError;
      return false;
    }
    const auto immutable = isImmutable(databasePath_);
    if (immutable.value_or(false) && !clearImmutable(databasePath_)) {
      if (error) *error = fileError("The database file is immutable and cannot be made mutable");
      return false;
    }
  } else {
    const fs::path parent = fs::path(databasePath_).parent_path();
    if (!parent.empty() && !platform::files::createDirectory(parent, true, error)) return false;
  }
  damaged_ = false;
  lastFailureResultCode_ = SQLITE_OK;
  const int rc =
      sqlite3_open_v2(databasePath_.c_str(), &sqliteHandle_,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    if (sqliteHandle_) {
      setDatabaseError(error, "initialize sqlite handle");
    } else {
      lastFailureResultCode_ = rc;
      MSRSetError(error, 3, sqlite3_errstr(rc));
    }
    damaged_ = isDamageResultCode(rc);
    closeDatabase();
    return false;
  }
  // Another connection (a second process, a tool) may hold the file's lock for a moment: wait
  // for it rather than failing at once.
  sqlite3_busy_timeout(sqliteHandle_, kMSRBusyTimeoutMilliseconds);
  ErrorPtr backupError;
  if (!MSRExcludePathFromBackup(databasePath_, &backupError)) {
    monitor()->logWithLevel(4, 34017, "Failed to exclude database file from backup",
                            backupError ? Value(backupError) : Value());
  }
  if (!validateDatabaseWithError(error)) {
    closeDatabase();
    return false;
  }
  return true;
}

bool MSRSqliteStore::validateDatabaseWithError(ErrorPtr* error) {
  if (!MSRCheckTrue(sqliteHandle_ != nullptr, error, 2, "Validate database failed. Database not open.")) {
    return false;
  }
  sqlite3_stmt* statement = nullptr;
  bool valid = false;
  int rc = sqlite3_prepare_v2(sqliteHandle_, kMSRIntegrityCheckSQL, -1, &statement, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_step(statement);
  if (rc == SQLITE_ROW && sqlite3_column_count(statement) == 1) {
    const unsigned char* text = sqlite3_column_text(statement, 0);
    valid = text && std::string(reinterpret_cast<const char*>(text)) == "ok";
    // The check ran and found something wrong in the file.
    damaged_ = !valid;
  } else {
    damaged_ = isDamageResultCode(rc) || !isTransientResultCode(rc);
  }
  if (!valid) setDatabaseError(error, "validate database");
  sqlite3_finalize(statement);
  return valid;
}

void MSRSqliteStore::finalizeAndClearStatements() {
  knownUpserts_.clear();
  statementGeneration_ = nextStatementGeneration();
  for (auto& [sql, statement] : statementCache_) sqlite3_finalize(statement);
  statementCache_.clear();
  for (sqlite3_stmt*& statement : transactionStatements_) {
    sqlite3_finalize(statement);
    statement = nullptr;
  }
}

void MSRSqliteStore::closeDatabase() {
  if (!sqliteHandle_) return;
  finalizeAndClearStatements();
  // A statement still being read (a read whose filter closed the store) keeps the connection
  // until it is finalized, rather than the close failing and the connection never being freed.
  const int rc = sqlite3_close_v2(sqliteHandle_);
  if (rc != SQLITE_OK) {
    monitor()->logWithLevel(1, 34018, "Failed to close database. Got error code", Value(rc));
  }
  sqliteHandle_ = nullptr;
}

bool MSRSqliteStore::closeAndDeleteDatabase() {
  closeDatabase();
  if (platform::files::exists(databasePath_)) {
    clearImmutable(databasePath_);
    std::error_code ec;
    if (!fs::remove(databasePath_, ec) || ec) {
      monitor()->logWithLevel(1, 34019, "Failed to delete database. Error",
                              Value(fileError(ec ? ec.message() : "not removed")));
      return false;
    }
  }
  // A journal left beside a removed file would be replayed into the next file of that name.
  for (const char* suffix : {"-journal", "-wal", "-shm"}) {
    const std::string sidecar = databasePath_ + suffix;
    std::error_code ec;
    fs::remove(sidecar, ec);
    if (ec) {
      monitor()->logWithLevel(1, 34019, "Failed to delete database. Error",
                              Value(fileError(ec.message())));
      return false;
    }
  }
  return true;
}

sqlite3_stmt* MSRSqliteStore::prepareSQL(const std::string& sql, ErrorPtr* error) {
  if (!MSRCheckTrue(!sql.empty(), error, 1, "Received empty SQL string to prepare") ||
      !MSRCheckTrue(sqliteHandle_ != nullptr, error, 2, "Prepare SQL failed. Database not open.")) {
    return nullptr;
  }
  if (!checkTransactionAlive(error)) return nullptr;
  sqlite3_stmt* statement = nullptr;
  const char* tail = nullptr;
  int rc = SQLITE_ERROR;
  if (sqlite3_libversion_number() >= 3020000) {
    rc = sqlite3_prepare_v3(sqliteHandle_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &statement,
                            &tail);
  }
  if (rc != SQLITE_OK) {
    statement = nullptr;
    tail = nullptr;
    rc = sqlite3_prepare_v2(sqliteHandle_, sql.c_str(), -1, &statement, &tail);
    if (rc != SQLITE_OK) {
      setDatabaseError(error, "prepare statement");
      sqlite3_finalize(statement);
      return nullptr;
    }
  }
  if (tail && *tail != '\0') {
    sqlite3_finalize(statement);
    MSRSetError(error, 1, "Query contained more than one SQL statement.");
    return nullptr;
  }
  return statement;
}

sqlite3_stmt* MSRSqliteStore::statementForQuery(const std::string& query,
                                                const Parameters& parameterValues,
                                                ErrorPtr* error) {
  bool cached = false;
  return statementForQuery(query, parameterValues, error, &cached);
}

sqlite3_stmt* MSRSqliteStore::statementForQuery(const std::string& query,
                                                const Parameters& parameterValues, ErrorPtr* error,
                                                bool* isCached) {
  bool cached = false;
  sqlite3_stmt* statement =
      preparedStatementForQuery(query, !parameterValues.empty(), error, &cached);
  if (!statement) return nullptr;
  if (!parameterValues.empty() && !bindValues(parameterValues, statement, error)) {
    handBackStatement(statement, cached);
    return nullptr;
  }
  *isCached = cached;
  return statement;
}

sqlite3_stmt* MSRSqliteStore::preparedStatementForQuery(const std::string& query,
                                                        bool hasParameters, ErrorPtr* error,
                                                        bool* isCached) {
  if (!checkTransactionAlive(error)) return nullptr;
  sqlite3_stmt* statement = nullptr;
  bool cached = false;
  if (auto it = statementCache_.find(query); it != statementCache_.end()) {
    statement = it->second;
    cached = true;
  } else {
    const bool hasMarker = query.find('?') != std::string::npos;
    if (!MSRCheckTrue(sqliteHandle_ != nullptr, error, 2,
                "Statement for query failed. Database not open.") ||
        !MSRCheckTrue(!hasMarker || hasParameters, error, 1, "Received empty parameters")) {
      return nullptr;
    }
    statement = prepareSQL(query, error);
    if (!statement) return nullptr;
    if (hasMarker || !containsCaseInsensitive(query, "WHERE")) {
      statementCache_.emplace(query, statement);
      cached = true;
    }
  }
  *isCached = cached;
  return statement;
}

sqlite3_stmt* MSRSqliteStore::statementForQuery(const std::string& query, ErrorPtr* error) {
  return statementForQuery(query, Parameters{}, error);
}

void MSRSqliteStore::cleanUpStatement(sqlite3_stmt* statement, const std::string& query) {
  if (!statement) return;
  auto it = statementCache_.find(query);
  if (it == statementCache_.end()) {
    sqlite3_finalize(statement);
    return;
  }
  if (it->second != statement) {
    monitor()->logWithLevel(5, 34016, "Statement is not the same one in the cache");
  }
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
}

void MSRSqliteStore::handBackStatement(sqlite3_stmt* statement, bool cached) {
  if (cached) {
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
  } else {
    sqlite3_finalize(statement);
  }
}

bool MSRSqliteStore::executeSQL(const std::string& sql, ErrorPtr* error) {
  if (!MSRCheckTrue(!sql.empty(), error, 1, "Received empty SQL string to execute") ||
      !MSRCheckTrue(sqliteHandle_ != nullptr, error, 2, "Execute SQL failed. Database not open.")) {
    return false;
  }
  sqlite3_stmt* statement = prepareSQL(sql, error);
  if (!statement) return false;
  return executeSQLStatement(statement, error);
}

bool MSRSqliteStore::executeSQLStatement(sqlite3_stmt* statement, ErrorPtr* error) {
  if (!MSRCheckTrue(statement != nullptr, error, 1, "Execute SQL statement failed. Statement is NULL.")) {
    return false;
  }
  if (!MSRCheckTrue(sqliteHandle_ != nullptr, error, 2,
              "Execute SQL statement failed. Database not open.")) {
    // The caller handed the statement over; it is finalized whatever happens.
    sqlite3_finalize(statement);
    return false;
  }
  return stepAndFinalize(statement, "execute statement", error);
}

bool MSRSqliteStore::stepAndFinalize(sqlite3_stmt* statement, const std::string& operation,
                                     ErrorPtr* error) {
  const int rc = sqlite3_step(statement);
  const bool done = rc == SQLITE_DONE || rc == SQLITE_ROW;
  if (!done) setDatabaseError(error, operation);
  sqlite3_finalize(statement);
  return done;
}

bool MSRSqliteStore::bindValues(const Parameters& values, sqlite3_stmt* statement,
                                ErrorPtr* error) {
  if (!MSRCheckTrue(statement != nullptr, error, 1, "Failed to bind to NULL statement")) return false;
  // Parameters bound below are replaced anyway; clearing matters only for any left over.
  if (static_cast<int>(values.size()) < sqlite3_bind_parameter_count(statement)) {
    sqlite3_clear_bindings(statement);
  }
  bool ok = true;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (const int rc = bindValue(statement, static_cast<int>(i + 1), values[i], true);
        rc != SQLITE_OK) {
      setDatabaseError(error, "bind values");
      recordFailure(rc);  // a kind that has no column type never reaches the connection
      ok = false;
    }
  }
  return ok;
}

Value MSRSqliteStore::valueAtColumn(int column, sqlite3_stmt* statement) {
  if (!statement) return Value();
  const ConnectionLock lock(sqlite3_db_handle(statement));
  return valueOf(sqlite3_column_value(statement, column));
}

std::optional<std::string> MSRSqliteStore::upsertSQLForRecord(const Record& record,
                                                              const std::string& tableName,
                                                              Parameters* parameters) {
  for (const auto& [column, value] : record) {
    if (!isBindable(value)) {
      monitor()->logWithLevel(4, 34020, "Record has value of unexpected type");
      return std::nullopt;
    }
    parameters->push_back(value);
  }
  return upsertSQL(tableName, record);
}

sqlite3_stmt* MSRSqliteStore::upsertStatementForRecord(const Record& record,
                                                       const std::string& tableName,
                                                       ErrorPtr* error) {
  if (!MSRCheckTrue(!tableName.empty(), error, 1, "Received empty table name for upsert") ||
      !MSRCheckTrue(!record.empty(), error, 1, "Received empty record for upsert")) {
    return nullptr;
  }
  Parameters parameters;
  const auto sql = upsertSQLForRecord(record, tableName, &parameters);
  if (!sql) return nullptr;
  sqlite3_stmt* statement = prepareSQL(*sql, error);
  if (!statement) return nullptr;
  if (!bindValues(parameters, statement, error)) {
    sqlite3_finalize(statement);
    return nullptr;
  }
  return statement;
}

sqlite3_stmt* MSRSqliteStore::updateStatementForRecord(const Record& record,
                                                       const std::string& tableName,
                                                       const std::string& columnName,
                                                       const Value& columnValue, ErrorPtr* error) {
  if (!MSRCheckTrue(!record.empty(), error, 1, "Empty record for update") ||
      !MSRCheckTrue(!tableName.empty(), error, 1, "Empty table name for update") ||
      !MSRCheckTrue(!columnName.empty(), error, 1, "Empty column name for update") ||
      !MSRCheckTrue(!columnValue.isNil(), error, 1, "Nil column value for update")) {
    return nullptr;
  }
  std::string assignments;
  Parameters parameters;
  for (const auto& [column, value] : record) {
    if (!isBindable(value)) {
      monitor()->logWithLevel(4, 34021, "Record has value of unexpected type (update)");
      MSRSetError(error, 1, "Failed to bind parameter of unexpected type to update statement");
      return nullptr;
    }
    assignments += column + "=?,";
    parameters.push_back(value);
  }
  assignments.pop_back();
  parameters.push_back(columnValue);
  const std::string sql =
      "UPDATE " + tableName + " SET " + assignments + " WHERE " + columnName + "=?";
  sqlite3_stmt* statement = prepareSQL(sql, error);
  if (!statement) return nullptr;
  if (!bindValues(parameters, statement, error)) {
    sqlite3_finalize(statement);
    return nullptr;
  }
  return statement;
}

bool MSRSqliteStore::upsertRecord(const Record& record, const std::string& tableName,
                                  ErrorPtr* error) {
  if (!MSRCheckTrue(!record.empty(), error, 1, "Received empty record for upsert") ||
      !MSRCheckTrue(!tableName.empty(), error, 1, "Received empty table name for upsert") ||
      !MSRCheckTrue(sqliteHandle_ != nullptr, error, 2, "Upsert record failed. Database not open.")) {
    return false;
  }
  // The record's values, borrowed: the record outlives the step, and the bindings are cleared
  // when the statement is handed back. Small records need no allocation for them.
  std::array<ColumnValue, 8> inlineValues;
  std::vector<ColumnValue> heapValues;
  std::span<ColumnValue> values;
  if (record.size() <= inlineValues.size()) {
    values = std::span<ColumnValue>(inlineValues.data(), record.size());
  } else {
    heapValues.resize(record.size());
    values = heapValues;
  }
  std::size_t index = 0;
  for (const auto& [column, value] : record) {
    const auto columnValue = columnValueOf(value);
    if (!columnValue) {
      monitor()->logWithLevel(4, 34020, "Record has value of unexpected type");
      return false;
    }
    values[index++] = *columnValue;
  }
  // The same columns of the same table give the same text: kept in the statement cache, the
  // engine's regular inserts are compiled once per connection, and found again by their columns.
  sqlite3_stmt* statement = knownUpsertStatement(record, tableName);
  bool cached = true;
  if (statement) {
    if (!checkTransactionAlive(error)) return false;
  } else {
    statement = preparedStatementForQuery(upsertSQL(tableName, record), true,
                                          error, &cached);
    if (!statement) return false;
    if (cached && sqlite3_bind_parameter_count(statement) == static_cast<int>(record.size())) {
      std::vector<std::string> columns;
      columns.reserve(record.size());
      for (const auto& [column, value] : record) columns.push_back(column);
      knownUpserts_[tableName].push_back({std::move(columns), statement});
    }
  }
  return bindAndStepUpsert(statement, cached, values, error);
}

bool MSRSqliteStore::upsertValues(UpsertColumns& columns, std::span<const ColumnValue> values,
                                  ErrorPtr* error) {
  if (!MSRCheckTrue(!values.empty() && !columns.columnNames_.empty(), error, 1,
                    "Received empty record for upsert") ||
      !MSRCheckTrue(!columns.tableName_.empty(), error, 1, "Received empty table name for upsert") ||
      !MSRCheckTrue(sqliteHandle_ != nullptr, error, 2, "Upsert record failed. Database not open.")) {
    return false;
  }
  bool cached = true;
  sqlite3_stmt* statement = nullptr;
  if (columns.statementGeneration_ == statementGeneration_) {
    statement = columns.statement_;
    if (!checkTransactionAlive(error)) return false;
  } else {
    statement = preparedStatementForQuery(columns.sql_, true, error, &cached);
    if (!statement) return false;
    if (cached) {
      columns.statement_ = statement;
      columns.statementGeneration_ = statementGeneration_;
    }
  }
  return bindAndStepUpsert(statement, cached, values, error);
}

bool MSRSqliteStore::bindAndStepUpsert(sqlite3_stmt* statement, bool cached,
                                       std::span<const ColumnValue> values, ErrorPtr* error) {
  // Parameters bound below are replaced anyway; clearing matters only for any left over.
  if (static_cast<int>(values.size()) < sqlite3_bind_parameter_count(statement)) {
    sqlite3_clear_bindings(statement);
  }
  bool bound = true;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (const int rc = bindColumnValue(statement, static_cast<int>(i + 1), values[i]);
        rc != SQLITE_OK) {
      setDatabaseError(error, "bind values");
      recordFailure(rc);
      bound = false;
    }
  }
  if (!bound) {
    handBackStatement(statement, cached);
    return false;
  }
  const int rc = sqlite3_step(statement);
  const bool done = rc == SQLITE_DONE || rc == SQLITE_ROW;
  if (!done) setDatabaseError(error, "execute statement");
  handBackStatement(statement, cached);
  return done;
}

sqlite3_stmt* MSRSqliteStore::knownUpsertStatement(const Record& record,
                                                   const std::string& tableName) const {
  const auto table = knownUpserts_.find(tableName);
  if (table == knownUpserts_.end()) return nullptr;
  for (const auto& known : table->second) {
    if (known.columns.size() == record.size() &&
        std::equal(
            known.columns.begin(), known.columns.end(), record.begin(),
            [](const std::string& column, const auto& entry) { return column == entry.first; })) {
      return known.statement;
    }
  }
  return nullptr;
}

bool MSRSqliteStore::updateRecord(const Record& record, const std::string& tableName,
                                  const std::string& columnName, const Value& columnValue,
                                  ErrorPtr* error) {
  if (!MSRCheckTrue(!record.empty(), error, 1, "Empty record for update") ||
      !MSRCheckTrue(!tableName.empty(), error, 1, "Empty table name for update") ||
      !MSRCheckTrue(!columnName.empty(), error, 1, "Empty column name for update") ||
      !MSRCheckTrue(!columnValue.isNil(), error, 1, "Nil column value for update") ||
      !MSRCheckTrue(sqliteHandle_ != nullptr, error, 2, "Update record failed. Database not open.")) {
    return false;
  }
  sqlite3_stmt* statement =
      updateStatementForRecord(record, tableName, columnName, columnValue, error);
  if (!statement) return false;
  return stepAndFinalize(statement, "execute statement", error);
}

bool MSRSqliteStore::updateAllRecordsInTableWithName(const std::string& tableName,
                                                     const std::string& columnName,
                                                     const Value& columnValue, ErrorPtr* error) {
  if (!MSRCheckTrue(!tableName.empty(), error, 1, "Empty table name for update") ||
      !MSRCheckTrue(!columnName.empty(), error, 1, "Empty column name for update") ||
      !MSRCheckTrue(!columnValue.isNil(), error, 1, "Nil column value for update") ||
      !MSRCheckTrue(sqliteHandle_ != nullptr, error, 2, "Update record failed. Database not open.")) {
    return false;
  }
  const std::string sql = "UPDATE " + tableName + " SET " + columnName + "=?";
  sqlite3_stmt* statement = statementForQuery(sql, Parameters{columnValue}, error);
  if (!statement) return false;
  const bool done = sqlite3_step(statement) == SQLITE_DONE;
  if (!done) setDatabaseError(error, "update all records value");
  cleanUpStatement(statement, sql);
  return done;
}

bool MSRSqliteStore::increaseColumn(const std::string& column, std::int64_t byValue,
                                    const std::string& inTable, const std::string& condition,
                                    const Parameters& parameterValues, ErrorPtr* error) {
  if (!MSRCheckTrue(!inTable.empty(), error, 1, "Empty table name for increase column") ||
      !MSRCheckTrue(!column.empty(), error, 1, "Empty column name for increase column") ||
      !MSRCheckTrue(!condition.empty(), error, 1, "Empty condition for increase column") ||
      !MSRCheckTrue(sqliteHandle_ != nullptr, error, 2, "Increase column failed. Database not open.")) {
    return false;
  }
  const auto info = columnInfoForTableWithName(inTable, error);
  if (!info) return false;
  const auto found = info->find(column);
  if (!MSRCheckTrue(found != info->end(), error, 1, "Invalid column or table name")) return false;
  std::string type = found->second;
  std::transform(type.begin(), type.end(), type.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  if (!MSRCheckTrue(type == "INTEGER", error, 1, "Column type is not integer.")) return false;
  const std::string sql = "UPDATE " + inTable + " SET " + column + " = " + column + " + " +
                          std::to_string(byValue) + " WHERE " + condition;
  sqlite3_stmt* statement = statementForQuery(sql, parameterValues, error);
  if (!statement) return false;
  const bool done = sqlite3_step(statement) == SQLITE_DONE;
  if (!done) setDatabaseError(error, "increase records value");
  cleanUpStatement(statement, sql);
  return done;
}

bool MSRSqliteStore::deleteRecordFromTableWithName(const std::string& tableName,
                                                   const std::string& columnName,
                                                   const Value& columnValue, ErrorPtr* error) {
  if (!MSRCheckTrue(!tableName.empty(), error, 1, "Received empty table name for delete record") ||
      !MSRCheckTrue(!columnName.empty(), error, 1, "Received empty column for delete record") ||
      !MSRCheckTrue(!columnValue.isNil(), error, 1, "Received nil value for delete record") ||
      !MSRCheckTrue(sqliteHandle_ != nullptr, error, 2, "Delete record failed. Database not open.")) {
    return false;
  }
  sqlite3_stmt* statement =
      prepareSQL("DELETE FROM " + tableName + " WHERE " + columnName + "=?", error);
  if (!statement) return false;
  if (!bindValues(Parameters{columnValue}, statement, error)) {
    sqlite3_finalize(statement);
    return false;
  }
  const bool done = sqlite3_step(statement) == SQLITE_DONE;
  if (!done) setDatabaseError(error, "delete record");
  sqlite3_finalize(statement);
  return done;
}

std::optional<std::int64_t> MSRSqliteStore::deleteRecordsFromTableWithName(
    const std::string& tableName, const std::string& condition, const Parameters& parameterValues,
    ErrorPtr* error) {
  if (!MSRCheckTrue(!tableName.empty(), error, 1, "Received empty table name for delete record") ||
      !MSRCheckTrue(!condition.empty(), error, 1, "Received empty condition for delete record") ||
      !MSRCheckTrue(sqliteHandle_ != nullptr, error, 2,
              "Delete records with condition failed. Database not open.")) {
    return std::nullopt;
  }
  std::string sql;
  sql.reserve(19 + tableName.size() + condition.size());
  sql.append("DELETE FROM ").append(tableName).append(" WHERE ").append(condition);
  bool cached = false;
  sqlite3_stmt* statement = statementForQuery(sql, parameterValues, error, &cached);
  if (!statement) return std::nullopt;
  const int rc = sqlite3_step(statement);
  // Handed back before reading the count: resetting does not change sqlite3_changes.
  handBackStatement(statement, cached);
  if (rc != SQLITE_DONE) {
    setDatabaseError(error, "delete records with condition");
    return std::nullopt;
  }
  return static_cast<std::int64_t>(sqlite3_changes(sqliteHandle_));
}

bool MSRSqliteStore::deleteAllRecordsFromTableWithName(const std::string& tableName,
                                                       ErrorPtr* error) {
  if (!MSRCheckTrue(!tableName.empty(), error, 1, "Received empty table name for delete all records") ||
      !MSRCheckTrue(sqliteHandle_ != nullptr, error, 2,
              "Delete all records failed. Database not open.")) {
    return false;
  }
  const std::string sql = "DELETE FROM " + tableName;
  sqlite3_stmt* statement = statementForQuery(sql, error);
  if (!statement) return false;
  const bool done = sqlite3_step(statement) == SQLITE_DONE;
  if (!done) setDatabaseError(error, "delete all records");
  cleanUpStatement(statement, sql);
  return done;
}

std::optional<MSRSqliteStore::Records> MSRSqliteStore::recordsForQuery(
    const std::string& query, const Parameters& parameterValues, ErrorPtr* error) {
  return recordsForQuery(query, parameterValues, error,
                         [](std::size_t, const Record&) { return true; });
}

std::optional<MSRSqliteStore::Records> MSRSqliteStore::recordsForQuery(
    const std::string& query, const Parameters& parameterValues, ErrorPtr* error,
    const Filter& withFilter) {
  Records records;
  if (!enumerateRecordsForQuery(query, parameterValues, error, withFilter,
                                [&records](const Record& row) { records.push_back(row); })) {
    return std::nullopt;
  }
  return records;
}

bool MSRSqliteStore::enumerateRecordsForQuery(const std::string& query,
                                              const Parameters& parameterValues, ErrorPtr* error,
                                              const Filter& withFilter,
                                              const RowBlock& usingBlock) {
  if (!MSRCheckTrue(!query.empty(), error, 1, "Received empty query for records for query") ||
      !MSRCheckTrue(static_cast<bool>(withFilter), error, 1,
                    "Received empty filter for selecting records") ||
      !MSRCheckTrue(static_cast<bool>(usingBlock), error, 1,
                    "Received empty block for taking records") ||
      !MSRCheckTrue(sqliteHandle_ != nullptr, error, 2, "Query records failed. Database not open.") ||
      !MSRCheckTrue(beginsWithSelect(query), error, 1, "Received invalid select query")) {
    return false;
  }
  // A filter or block may let go of the last reference to this store (its database resetting
  // itself): the store lives until the read has ended.
  const std::shared_ptr<MSRSqliteStore> keepAlive = weak_from_this().lock();
  bool cached = false;
  sqlite3_stmt* statement = statementForQuery(query, parameterValues, error, &cached);
  if (!statement) return false;
  int rc = sqlite3_step(statement);
  if (rc != SQLITE_ROW) {
    // A locked or damaged file must not read as an empty table.
    if (rc != SQLITE_DONE) setDatabaseError(error, kMSRQueryRecordsOperation);
    handBackStatement(statement, cached);
    return rc == SQLITE_DONE;
  }
  // Every row has the same columns: their names are read once, and the order in which the
  // record keeps them (by name, equal names in column order) is worked out once.
  const int columnCount = sqlite3_column_count(statement);
  std::vector<std::string> names(static_cast<std::size_t>(columnCount));
  std::vector<bool> named(static_cast<std::size_t>(columnCount));
  std::vector<int> keyOrder;
  keyOrder.reserve(names.size());
  for (int column = 0; column < columnCount; ++column) {
    if (const char* name = sqlite3_column_name(statement, column)) {
      names[static_cast<std::size_t>(column)] = name;
      named[static_cast<std::size_t>(column)] = true;
      keyOrder.push_back(column);
    }
  }
  std::stable_sort(keyOrder.begin(), keyOrder.end(), [&](int a, int b) {
    return names[static_cast<std::size_t>(a)] < names[static_cast<std::size_t>(b)];
  });
  // One record serves every row, its keys made once. A key stands for the columns of one name;
  // in a row where none of them has a value its node is taken out of the record and kept for a
  // later row, so the record never shows a key, or a value, of a row before.
  struct Key {
    std::size_t first;  // the key's columns: keyOrder[first, last)
    std::size_t last;
    bool present;
    Record::iterator at;     // while present
    Record::node_type node;  // while absent
  };
  Record record;
  std::vector<Key> keys;
  for (std::size_t i = 0; i < keyOrder.size();) {
    const std::string& name = names[static_cast<std::size_t>(keyOrder[i])];
    std::size_t last = i + 1;
    while (last < keyOrder.size() && names[static_cast<std::size_t>(keyOrder[last])] == name) {
      ++last;
    }
    keys.push_back(Key{i, last, true, record.emplace_hint(record.end(), name, Value()), {}});
    i = last;
  }
  std::vector<Value> values(names.size());
  std::size_t position = 0;
  std::size_t taken = 0;
  // A filter or block may close the store. The statement is then not handed back: a cached one
  // is finalized by then and must not be touched again, an uncached one is finalized here.
  const std::uint64_t generation = statementGeneration_;
  const auto release = [&] {
    if (statementGeneration_ == generation) {
      handBackStatement(statement, cached);
    } else if (!cached) {
      sqlite3_finalize(statement);
    }
  };
  const auto closedWhileReading = [&] {
    if (statementGeneration_ == generation) return false;
    release();
    MSRSetError(error, 2, "Query records failed. Database not open.");
    return true;
  };
  // A filter or block that throws must not leave the statement half-way through its rows: a
  // cached one could not be bound again, and its read would outlive the transaction being
  // rolled back.
  try {
    do {
      // The row's values under one hold of the connection's lock rather than one per column;
      // what is logged about them is logged after it is let go.
      {
        const ConnectionLock lock(sqliteHandle_);
        for (int column = 0; column < columnCount; ++column) {
          const auto at = static_cast<std::size_t>(column);
          if (named[at]) values[at] = valueOf(sqlite3_column_value(statement, column));
        }
      }
      for (int column = 0; column < columnCount; ++column) {
        const auto at = static_cast<std::size_t>(column);
        if (!named[at]) {
          monitor()->logWithLevel(4, 34003, "Failed to get column name");
        } else if (values[at].isNil()) {
          monitor()->logWithLevel(4, 34004, "Value is nil for column", Value(names[at]));
        }
      }
      // Keys are visited in the record's order, so `next` is always where the current key's
      // node is, or goes back in.
      auto next = record.begin();
      for (Key& key : keys) {
        // A name met twice keeps its first value that is not nil.
        Value* chosen = nullptr;
        for (std::size_t i = key.first; i < key.last && !chosen; ++i) {
          Value& value = values[static_cast<std::size_t>(keyOrder[i])];
          if (!value.isNil()) chosen = &value;
        }
        if (chosen && key.present) {
          key.at->second = std::move(*chosen);
          next = std::next(key.at);
        } else if (chosen) {
          key.node.mapped() = std::move(*chosen);
          key.at = record.insert(next, std::move(key.node));
          key.present = true;
        } else if (key.present) {
          next = std::next(key.at);
          key.node = record.extract(key.at);
          key.node.mapped() = Value();
          key.present = false;
        }
      }
      const bool wanted = withFilter(position++, record);
      if (closedWhileReading()) return false;
      if (!wanted) {
        rc = SQLITE_DONE;
        break;
      }
      ++taken;
      usingBlock(record);
      if (closedWhileReading()) return false;
    } while ((rc = sqlite3_step(statement)) == SQLITE_ROW);
  } catch (...) {
    release();
    throw;
  }
  if (rc != SQLITE_DONE) {
    // Rows cut short by a failed step are not the query's answer.
    setDatabaseError(error, kMSRQueryRecordsOperation);
    handBackStatement(statement, cached);
    return false;
  }
  if (taken == 0) {
    monitor()->logWithLevel(4, 34005, "Database contains records that were all filtered out");
  }
  handBackStatement(statement, cached);
  return true;
}

Value MSRSqliteStore::numberForQuery(const std::string& query, const Parameters& parameterValues,
                                     ErrorPtr* error) {
  if (!MSRCheckTrue(!query.empty(), error, 1, "Received empty query to get numeric result") ||
      !MSRCheckTrue(sqliteHandle_ != nullptr, error, 2,
              "Query numeric result failed. Database not open.")) {
    return Value();
  }
  bool cached = false;
  sqlite3_stmt* statement = statementForQuery(query, parameterValues, error, &cached);
  if (!statement) return Value();
  Value result;
  if (sqlite3_step(statement) == SQLITE_ROW) {
    Value value = valueAtColumn(0, statement);
    if (value.isNumber()) {
      result = std::move(value);
    } else if (!value.isNull()) {
      MSRSetError(error, 1, "Found result that was not numeric");
    }
  } else {
    setDatabaseError(error, "query numeric result");
  }
  handBackStatement(statement, cached);
  return result;
}

Value MSRSqliteStore::rowCountForTableWithName(const std::string& tableName, ErrorPtr* error) {
  return rowCountForTableWithName(tableName, "", Value(), error);
}

Value MSRSqliteStore::rowCountForTableWithName(const std::string& tableName,
                                               const std::string& columnName,
                                               const Value& columnValue, ErrorPtr* error) {
  if (!MSRCheckTrue(!tableName.empty(), error, 1, "Received empty table name for row count") ||
      !MSRCheckTrue(sqliteHandle_ != nullptr, error, 2, "Row count failed. Database not open.")) {
    return Value();
  }
  std::string sql = "SELECT count(1) FROM " + tableName;
  Parameters parameters;
  if (!columnName.empty() && !columnValue.isNil()) {
    sql += " WHERE " + columnName + "=?";
    parameters.push_back(columnValue);
  }
  return numberForQuery(sql, parameters, error);
}

std::optional<bool> MSRSqliteStore::tableExists(const std::string& tableName, ErrorPtr* error) {
  if (!MSRCheckTrue(!tableName.empty(), error, 1, "Received empty table name for table exists") ||
      !MSRCheckTrue(sqliteHandle_ != nullptr, error, 2, "Table exists failed. Database not open.")) {
    return std::nullopt;
  }
  sqlite3_stmt* statement =
      prepareSQL("SELECT name FROM sqlite_master WHERE type='table' AND name=?", error);
  if (!statement) return std::nullopt;
  if (!bindValues(Parameters{Value(tableName)}, statement, error)) {
    sqlite3_finalize(statement);
    return std::nullopt;
  }
  const int rc = sqlite3_step(statement);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    setDatabaseError(error, kMSRTableExistsOperation);
    sqlite3_finalize(statement);
    return std::nullopt;
  }
  sqlite3_finalize(statement);
  return rc == SQLITE_ROW;
}

std::optional<std::vector<std::string>> MSRSqliteStore::columnsForTableWithName(
    const std::string& tableName, ErrorPtr* error) {
  if (!MSRCheckTrue(!tableName.empty(), error, 1, "Received empty table name for get columns") ||
      !MSRCheckTrue(sqliteHandle_ != nullptr, error, 2, "Get table columns failed. Database not open.")) {
    return std::nullopt;
  }
  const std::string sql = "PRAGMA table_info(" + tableName + ")";
  sqlite3_stmt* statement = statementForQuery(sql, error);
  if (!statement) return std::nullopt;
  std::vector<std::string> columns;
  int rc;
  while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
    const Value name = valueAtColumn(1, statement);
    if (name.string() && !name.string()->empty()) columns.push_back(*name.string());
  }
  if (rc != SQLITE_DONE) {
    setDatabaseError(error, kMSRTableInfoOperation);
    cleanUpStatement(statement, sql);
    return std::nullopt;
  }
  cleanUpStatement(statement, sql);
  return columns;
}

std::optional<MSRSqliteStore::ColumnTypes> MSRSqliteStore::columnInfoForTableWithName(
    const std::string& tableName, ErrorPtr* error) {
  if (!MSRCheckTrue(!tableName.empty(), error, 1, "Received empty table name for column info") ||
      !MSRCheckTrue(sqliteHandle_ != nullptr, error, 2,
              "Get table column info failed. Database not open.")) {
    return std::nullopt;
  }
  const std::string sql = "PRAGMA table_info(" + tableName + ")";
  sqlite3_stmt* statement = statementForQuery(sql, error);
  if (!statement) return std::nullopt;
  ColumnTypes info;
  int rc;
  while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
    const Value name = valueAtColumn(1, statement);
    const Value type = valueAtColumn(2, statement);
    if (name.string() && !name.string()->empty() && type.string() && !type.string()->empty()) {
      info[*name.string()] = *type.string();
    }
  }
  if (rc != SQLITE_DONE) {
    setDatabaseError(error, kMSRTableInfoOperation);
    cleanUpStatement(statement, sql);
    return std::nullopt;
  }
  cleanUpStatement(statement, sql);
  return info;
}

bool MSRSqliteStore::dropTableWithName(const std::string& tableName, ErrorPtr* error) {
  if (!MSRCheckTrue(!tableName.empty(), error, 1, "Received empty table name for drop table")) {
    return false;
  }
  return executeSQL("DROP TABLE " + tableName, error);
}

bool MSRSqliteStore::renameTable(const std::string& oldName, const std::string& toName,
                                 ErrorPtr* error) {
  if (!MSRCheckTrue(!oldName.empty(), error, 1, "Received empty old name for rename table") ||
      !MSRCheckTrue(!toName.empty(), error, 1, "Received empty new name for rename table") ||
      !MSRCheckTrue(oldName != toName, error, 1, "Received duplicate name for rename table")) {
    return false;
  }
  return executeSQL("ALTER TABLE " + oldName + " RENAME TO " + toName, error);
}

bool MSRSqliteStore::copyContentsFromTable(const std::string& source, const std::string& toTable,
                                           ErrorPtr* error) {
  if (!MSRCheckTrue(!source.empty(), error, 1, "Received empty source name for copy table") ||
      !MSRCheckTrue(!toTable.empty(), error, 1, "Received empty destination name for copy table") ||
      !MSRCheckTrue(source != toTable, error, 1, "Received duplicate name for copy table")) {
    return false;
  }
  // By name, never by position: add-on columns may sit in another order in either table, and
  // the source may carry columns the destination no longer has.
  const auto sourceColumns = columnsForTableWithName(source, error);
  if (!sourceColumns) return false;
  const auto destinationColumns = columnsForTableWithName(toTable, error);
  if (!destinationColumns) return false;
  const std::set<std::string> inSource(sourceColumns->begin(), sourceColumns->end());
  std::string shared;
  for (const auto& column : *destinationColumns) {
    if (!inSource.count(column)) continue;
    if (!shared.empty()) shared += ", ";
    shared += column;
  }
  if (shared.empty()) return true;
  return executeSQL(
      "INSERT INTO " + toTable + " (" + shared + ") SELECT " + shared + " FROM " + source, error);
}

std::optional<bool> MSRSqliteStore::validateTableWithName(
    const std::string& tableName, const std::vector<std::string>& requiredColumnNames,
    const AddOnStatements& addOnColumns, ErrorPtr* error) {
  if (!MSRCheckTrue(!tableName.empty(), error, 1, "Received empty table name for validate table") ||
      !MSRCheckTrue(!requiredColumnNames.empty(), error, 1,
              "Received no table columns for validate table") ||
      !MSRCheckTrue(sqliteHandle_ != nullptr, error, 2, "Validate table failed. Database not open.")) {
    return std::nullopt;
  }
  const auto columns = columnsForTableWithName(tableName, error);
  if (!columns || columns->empty()) return std::nullopt;
  std::set<std::string> remaining(columns->begin(), columns->end());
  for (const auto& name : requiredColumnNames) {
    if (!remaining.count(name)) {
      MSRSetError(error, 2, "Table is missing required columns");
      return false;
    }
  }
  for (const auto& name : requiredColumnNames) remaining.erase(name);
  for (const auto& [name, alter] : addOnColumns) {
    if (remaining.erase(name)) continue;
    if (!executeSQL(alter, error)) return false;
  }
  if (!remaining.empty()) {
    const std::string sql = "PRAGMA table_info(" + tableName + ")";
    sqlite3_stmt* statement = statementForQuery(sql, error);
    if (!statement) return false;
    bool unknownRequired = false;
    int rc = SQLITE_DONE;
    while (!unknownRequired && (rc = sqlite3_step(statement)) == SQLITE_ROW) {
      const Value name = valueAtColumn(1, statement);
      unknownRequired = name.string() && remaining.count(*name.string()) &&
                        sqlite3_column_int64(statement, 3) != 0;
    }
    if (!unknownRequired && rc != SQLITE_DONE) {
      setDatabaseError(error, kMSRTableInfoOperation);
      cleanUpStatement(statement, sql);
      return false;
    }
    cleanUpStatement(statement, sql);
    if (unknownRequired) {
      MSRSetError(error, 2, "Table contains unknown non-optional columns");
      return false;
    }
  }
  return true;
}

bool MSRSqliteStore::ensureTableWithName(const std::string& tableName, const std::string& createSQL,
                                         const std::vector<std::string>& requiredColumnNames,
                                         const AddOnStatements& addOnColumns, ErrorPtr* error) {
  if (!MSRCheckTrue(!tableName.empty(), error, 1, "Received empty table name for ensure table") ||
      !MSRCheckTrue(!requiredColumnNames.empty(), error, 1,
              "Received no table columns for ensure table") ||
      !MSRCheckTrue(!createSQL.empty(), error, 1, "Received empty create statement for ensure table") ||
      !MSRCheckTrue(sqliteHandle_ != nullptr, error, 2, "Ensure table failed. Database not open.")) {
    return false;
  }
  const auto exists = tableExists(tableName, error);
  if (!exists) return false;
  if (!*exists && !executeSQL(createSQL, error)) return false;
  return validateTableWithName(tableName, requiredColumnNames, addOnColumns, error).value_or(false);
}

bool MSRSqliteStore::ensureTableWithName(const std::string& tableName,
                                         const ColumnInfo& elementaryColumnInfo,
                                         const ColumnInfo& addOnColumnInfo, ErrorPtr* error) {
  if (!MSRCheckTrue(!tableName.empty(), error, 1, "Received empty table name for ensure table") ||
      !MSRCheckTrue(!elementaryColumnInfo.empty(), error, 1,
              "Received empty elementary column info for ensure table")) {
    return false;
  }
  std::string create = "CREATE TABLE IF NOT EXISTS " + tableName + " ( ";
  std::vector<std::string> required;
  for (const auto& [name, type] : elementaryColumnInfo) {
    create += name + " " + type + ", ";
    if (name != kMSRPrimaryKey) required.push_back(name);
  }
  create.resize(create.size() - 2);
  create += ");";
  AddOnStatements addOns;
  for (const auto& [name, type] : addOnColumnInfo) {
    addOns.emplace_back(name, "ALTER TABLE " + tableName + " ADD COLUMN " + name + " " + type);
  }
  return ensureTableWithName(tableName, create, required, addOns, error);
}

bool MSRSqliteStore::ensureSchemaOfTableWithName(const std::string& tableName,
                                                 const ColumnInfo& elementaryColumnInfo,
                                                 const ColumnInfo& addOnColumnInfo,
                                                 ErrorPtr* error) {
  if (!MSRCheckTrue(!tableName.empty(), error, 1, "Received empty table name for ensure table schema") ||
      !MSRCheckTrue(!elementaryColumnInfo.empty(), error, 1,
              "Received empty column info for ensure table schema")) {
    return false;
  }
  const auto info = columnInfoForTableWithName(tableName, error);
  if (!info) return false;
  if (!MSRCheckTrue(!info->empty(), error, 2, "Table does not exist for ensure table schema")) {
    return false;
  }
  ColumnTypes expected;
  for (const auto& [name, type] : elementaryColumnInfo) {
    if (name == kMSRPrimaryKey || name.empty() || type.empty()) continue;
    expected[name] = firstWord(type);
  }
  for (const auto& [name, type] : addOnColumnInfo) {
    if (name.empty() || type.empty()) continue;
    expected[name] = type;
  }
  if (*info == expected) return true;
  const std::string oldName = tableName + "_old";
  return performTransactionWithError(error, [&] {
    return renameTable(tableName, oldName, nullptr) &&
           ensureTableWithName(tableName, elementaryColumnInfo, addOnColumnInfo, nullptr) &&
           copyContentsFromTable(oldName, tableName, nullptr) &&
           dropTableWithName(oldName, nullptr);
  });
}

bool MSRSqliteStore::ensureTableWithName(const std::string& tableName,
                                         const ColumnInfo& elementaryColumnInfo,
                                         const ColumnInfo& addOnColumnInfo,
                                         const ColumnTypes& modifyColumnInfo, ErrorPtr* error) {
  if (!ensureTableWithName(tableName, elementaryColumnInfo, addOnColumnInfo, error)) return false;
  if (modifyColumnInfo.empty()) return true;
  auto modified = [&](const ColumnInfo& list) {
    ColumnInfo out;
    for (const auto& [name, type] : list) {
      if (name == kMSRPrimaryKey) continue;
      const auto it = modifyColumnInfo.find(name);
      out.emplace_back(name, it == modifyColumnInfo.end() ? type : it->second);
    }
    return out;
  };
  return ensureSchemaOfTableWithName(tableName, modified(elementaryColumnInfo),
                                     modified(addOnColumnInfo), error);
}

bool MSRSqliteStore::performTransactionWithError(ErrorPtr* error,
                                                 const std::function<bool()>& block) {
  if (!MSRCheckTrue(static_cast<bool>(block), error, 1, "Received nil transaction block") ||
      !MSRCheckTrue(sqliteHandle_ != nullptr, error, 2, "Database not open")) {
    return false;
  }
  // The block may let go of the last reference to this store (its database resetting itself):
  // the store lives until the call has ended.
  const std::shared_ptr<MSRSqliteStore> keepAlive = weak_from_this().lock();
  if (transactionDepth_ > 0) return performNestedTransaction(error, block);
  if (!beginTransaction()) {
    MSRSetError(error, 3, "Failed to begin transaction");
    return false;
  }
  // While a block runs, a transaction that SQLite ended by itself (disk full, I/O error) makes
  // every further statement of the block fail instead of committing on its own.
  struct Depth {
    int& depth;
    explicit Depth(int& d) : depth(d) { ++depth; }
    ~Depth() { --depth; }
  };
  bool succeeded = false;
  try {
    const Depth depth(transactionDepth_);
    succeeded = block();
  } catch (...) {
    if (sqliteHandle_ && !sqlite3_get_autocommit(sqliteHandle_) && !rollbackTransaction()) {
      monitor()->logWithLevel(1, 34009, "Failed to rollback transaction after exception");
    }
    throw;
  }
  // SQLite already rolled the whole block back, or the block closed the store, which rolls it
  // back: nothing of it is stored.
  if (!sqliteHandle_ || sqlite3_get_autocommit(sqliteHandle_)) {
    MSRSetError(error, 3, "Transaction failed");
    return false;
  }
  if (succeeded) {
    if (endTransaction()) return true;
    setDatabaseError(nullptr, "end transaction");
    MSRSetError(error, 3, "Failed to end transaction");
    // A failed END can leave the transaction open; the next BEGIN would fail and later plain
    // writes would sit in it uncommitted.
    if (!sqlite3_get_autocommit(sqliteHandle_) && !rollbackTransaction()) {
      monitor()->logWithLevel(1, 34011, "Failed to rollback transaction");
    }
    return false;
  }
  MSRSetError(error, 3, "Transaction failed");
  if (!rollbackTransaction()) {
    monitor()->logWithLevel(1, 34011, "Failed to rollback transaction");
  }
  return false;
}

bool MSRSqliteStore::performNestedTransaction(ErrorPtr* error,
                                              const std::function<bool()>& block) {
  // A SAVEPOINT outside a transaction would begin one of its own, so a transaction SQLite has
  // already ended stops here.
  if (!checkTransactionAlive(error)) return false;
  if (!executeStatement(kMSRNestedBeginSQL)) {
    MSRSetError(error, 3, "Failed to begin transaction");
    return false;
  }
  const auto alive = [this] { return sqliteHandle_ && !sqlite3_get_autocommit(sqliteHandle_); };
  const auto undo = [this] {
    if (!executeStatement(kMSRNestedRollbackSQL) || !executeStatement(kMSRNestedReleaseSQL)) {
      monitor()->logWithLevel(1, 34011, "Failed to rollback transaction");
    }
  };
  bool succeeded = false;
  try {
    succeeded = block();
  } catch (...) {
    if (alive()) undo();
    throw;
  }
  if (!alive()) {
    MSRSetError(error, 3, "Transaction failed");
    return false;
  }
  if (!succeeded) {
    MSRSetError(error, 3, "Transaction failed");
    undo();
    return false;
  }
  if (executeStatement(kMSRNestedReleaseSQL)) return true;
  MSRSetError(error, 3, "Failed to end transaction");
  if (alive()) undo();
  return false;
}

bool MSRSqliteStore::executeStatement(const char* sql) {
  if (!sqliteHandle_) return false;
  if (sqlite3_exec(sqliteHandle_, sql, nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  recordFailure(sqlite3_errcode(sqliteHandle_));
  return false;
}

bool MSRSqliteStore::checkTransactionAlive(ErrorPtr* error) {
  if (transactionDepth_ == 0 || !sqliteHandle_ || !sqlite3_get_autocommit(sqliteHandle_)) {
    return true;
  }
  MSRSetError(error, 3, kMSRTransactionRolledBack);
  return false;
}

void MSRSqliteStore::recordFailure(int resultCode) {
  if (resultCode != SQLITE_OK) lastFailureResultCode_ = resultCode;
}

bool MSRSqliteStore::beginTransaction() { return runTransactionStatement(kBegin); }

bool MSRSqliteStore::endTransaction() { return runTransactionStatement(kEnd); }

bool MSRSqliteStore::rollbackTransaction() { return runTransactionStatement(kRollback); }

// Each fixed statement runs exactly as sqlite3_exec would run it (one step to completion, the
// error left on the connection), without compiling its text again for every transaction.
bool MSRSqliteStore::runTransactionStatement(int which) {
  if (!sqliteHandle_) return false;
  const char* sql = kTransactionSQL[which];
  sqlite3_stmt*& statement = transactionStatements_[which];
  if (!statement && sqlite3_prepare_v3(sqliteHandle_, sql, -1, SQLITE_PREPARE_PERSISTENT,
                                       &statement, nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement);
    statement = nullptr;
    return executeStatement(sql);
  }
  const int rc = sqlite3_step(statement);
  // Reset at once: a statement left mid-way would count as one still running when the
  // transaction ends, and keeps the step's error on the connection as exec does.
  sqlite3_reset(statement);
  // A lock held elsewhere must be known as such to whoever decides about the file.
  if (rc != SQLITE_DONE) recordFailure(rc);
  return rc == SQLITE_DONE;
}

std::optional<std::string> MSRSqliteStore::lastErrorMessage() {
  if (!sqliteHandle_) {
    monitor()->logWithLevel(1, 34022, "Failed to get last error message. Database not open");
    return std::nullopt;
  }
  const char* message = sqlite3_errmsg(sqliteHandle_);
  return std::string(message ? message : "");
}

std::string MSRSqliteStore::errorDescriptionForDatabaseOperation(const std::string& operation) {
  if (!sqliteHandle_) return "";
  return platform::format(
      "Database operation \"%@\" failed with sqlite code %d and error message \"%@\"", operation,
      sqlite3_errcode(sqliteHandle_), lastErrorMessage().value_or(""));
}

std::string MSRSqliteStore::monitorContextForDatabaseOperation(const std::string& operation) {
  const int code = sqliteHandle_ ? sqlite3_errcode(sqliteHandle_) : 0;
  const bool writable = ::access(databasePath_.c_str(), W_OK) == 0;
  std::string freeSpace;
  struct statvfs stats {};
  const fs::path parent = fs::path(databasePath_).parent_path();
  if (::statvfs(databasePath_.c_str(), &stats) == 0 ||
      ::statvfs(parent.empty() ? "." : parent.c_str(), &stats) == 0) {
    const unsigned long long freeBytes =
        static_cast<unsigned long long>(stats.f_bavail) * stats.f_frsize;
    if (freeBytes >= 1048576ULL) {
      freeSpace = std::to_string(static_cast<int>(std::to_string(freeBytes >> 20).size()) - 1);
    } else {
      freeSpace = "-1";
    }
  }
  return (operation.empty() ? std::string("Unknown operation") : operation) + "," +
         std::to_string(code) + "," + (writable ? "A" : "NA") + "," + freeSpace;
}

void MSRSqliteStore::setDatabaseError(ErrorPtr* error, const std::string& operation) {
  if (sqliteHandle_) recordFailure(sqlite3_errcode(sqliteHandle_));
  if (!error) return;
  MSRSetErrorWithContext(error, 3, errorDescriptionForDatabaseOperation(operation),
                         monitorContextForDatabaseOperation(operation));
}
