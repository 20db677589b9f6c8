// Inserting rows from a fixed column list with borrowed values (MSRSqliteStore::upsertValues, and
// MSRDatabase::insertRawEvent on top of it): what reaches the file, read through a second
// connection, must be what a record of the same values gives through upsertRecord, including
// failures, statement reuse beside record upserts and a cleared statement cache. Real files in
// the test's sandbox home.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "measurement/foundation/MSREvent.h"
#include "measurement/foundation/MSREventStoredForm.h"
#include "measurement/storage/MSRDatabase.h"
#include "measurement/storage/MSRPersistedConfig.h"
#include "measurement/storage/MSRSqliteStore.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "measurement/storage/tests/MSRStorageTestSupport.h"
#include "platform/testing/PlatformTest.h"

using platform::ErrorPtr;
using platform::Value;
using ColumnValue = MSRSqliteStore::ColumnValue;
using Record = MSRSqliteStore::Record;

namespace {

// One stored cell as SQLite hands it to any reader: its type and its exact content.
struct Cell {
  int type = SQLITE_NULL;
  std::int64_t integer = 0;
  std::uint64_t realBits = 0;
  std::string bytes;
  bool operator==(const Cell&) const = default;
};

std::string describe(const std::vector<Cell>& row) {
  std::string out;
  for (const Cell& cell : row) {
    out += "[type " + std::to_string(cell.type) + " int " + std::to_string(cell.integer) +
           " bits " + std::to_string(cell.realBits) + " bytes " +
           std::to_string(cell.bytes.size()) + "] ";
  }
  return out;
}

// The rows of a query, read through a connection of their own.
std::vector<std::vector<Cell>> rowsThroughSecondConnection(const std::string& path,
                                                           const std::string& query) {
  sqlite3* other = nullptr;
  EXPECT_EQ(sqlite3_open_v2(path.c_str(), &other, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* statement = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(other, query.c_str(), -1, &statement, nullptr), SQLITE_OK)
      << sqlite3_errmsg(other);
  std::vector<std::vector<Cell>> rows;
  while (statement && sqlite3_step(statement) == SQLITE_ROW) {
    std::vector<Cell> row;
    for (int column = 0; column < sqlite3_column_count(statement); ++column) {
      Cell cell;
      cell.type = sqlite3_column_type(statement, column);
      if (cell.type == SQLITE_INTEGER) cell.integer = sqlite3_column_int64(statement, column);
      if (cell.type == SQLITE_FLOAT) {
        const double real = sqlite3_column_double(statement, column);
        std::memcpy(&cell.realBits, &real, sizeof real);
      }
      if (cell.type == SQLITE_TEXT || cell.type == SQLITE_BLOB) {
        const void* data = sqlite3_column_blob(statement, column);
        const int size = sqlite3_column_bytes(statement, column);
        if (size > 0) cell.bytes.assign(static_cast<const char*>(data), size);
      }
      row.push_back(std::move(cell));
    }
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(statement);
  sqlite3_close(other);
  return rows;
}

int preparedStatementCount(sqlite3* db) {
  int count = 0;
  for (sqlite3_stmt* s = sqlite3_next_stmt(db, nullptr); s; s = sqlite3_next_stmt(db, s)) ++count;
  return count;
}

Cell cellOf(int type, std::int64_t integer, double real, std::string bytes) {
  Cell cell{type, integer, 0, std::move(bytes)};
  if (type == SQLITE_FLOAT) std::memcpy(&cell.realBits, &real, sizeof real);
  return cell;
}

class MSRRawEventInsertTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    ErrorPtr error;
    database_ = openTestDatabase(&error);
    ASSERT_TRUE(database_) << description(error);
    path_ = database_->sqliteStore()->databasePath();
  }
  // The row a raw event was always written as: a record of its five columns.
  Record recordOf(const MSREvent& event, std::int64_t fingerprint, bool realtime) {
    const auto data = MSREventStoredFormBytes(event);
    EXPECT_TRUE(data);
    return {{"name", Value(event.name())},
            {"timestamp", Value(event.timestamp())},
            {"metadata_fingerprint", Value(static_cast<long long>(fingerprint))},
            {"data", Value::data(data.value_or(platform::Bytes()))},
            {"is_realtime", Value(realtime)}};
  }
  std::vector<std::vector<Cell>> storedRows() {
    return rowsThroughSecondConnection(
        path_, "SELECT data, is_realtime, metadata_fingerprint, name, timestamp FROM raw_events "
               "ORDER BY rowid");
  }
  std::shared_ptr<MSRDatabase> database_;
  std::string path_;
};

TEST_F(MSRRawEventInsertTest, StoredRowIsTheRecordsRowColumnByColumn) {
  struct Case {
    const char* label;
    std::string name;
    double timestamp;
    std::int64_t fingerprint;
    bool realtime;
    MSRParameters parameters;
  };
  const std::vector<Case> cases = {
      {"plain", "purchase", 1700000000.5, 42, true, {{"n", Value(7)}}},
      {"not realtime, negative fingerprint", "purchase", 12.25, -1, false, {}},
      {"smallest fingerprint", "screen_view", -3.5, std::numeric_limits<std::int64_t>::min(),
       true, {{"s", Value("x")}}},
      {"largest fingerprint", "screen_view", 0.0, std::numeric_limits<std::int64_t>::max(), false,
       {}},
      {"whole-number timestamp", "tick", 1700000000.0, 0, false, {}},
      {"infinite timestamp", "tick", std::numeric_limits<double>::infinity(), 5, true, {}},
      {"huge timestamp", "tick", 1e300, 5, false, {}},
      {"multibyte name", "\xC3\xBC" "ber_\xE6\x97\xA5\xE6\x9C\xAC", 3.0, 9, true,
       {{"d", Value(2.5)}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const auto event = MSREvent::initWithOrigin("app", false, c.name, c.timestamp, 1.5,
                                                &c.parameters);
    ASSERT_TRUE(event);
    ASSERT_TRUE(database_->sqliteStore()->executeSQL("DELETE FROM raw_events", nullptr));
    ErrorPtr error;
    ASSERT_TRUE(database_->insertRawEvent(event, c.fingerprint, c.realtime, &error))
        << description(error);
    ASSERT_TRUE(database_->insertDataType(recordOf(*event, c.fingerprint, c.realtime),
                                          "raw_events", &error))
        << description(error);
    const auto rows = storedRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], rows[1]) << describe(rows[0]) << "\n" << describe(rows[1]);
    // And what each column holds, whatever the record path does.
    const auto data = MSREventStoredFormBytes(*event);
    ASSERT_TRUE(data);
    const std::vector<Cell> expected = {
        cellOf(SQLITE_BLOB, 0, 0, std::string(data->begin(), data->end())),
        cellOf(SQLITE_INTEGER, c.realtime ? 1 : 0, 0, ""),
        cellOf(SQLITE_INTEGER, c.fingerprint, 0, ""),
        cellOf(SQLITE_TEXT, 0, 0, event->name()),
        // A real, also without a fraction.
        cellOf(SQLITE_FLOAT, 0, event->timestamp(), ""),
    };
    EXPECT_EQ(rows[0], expected) << describe(rows[0]) << "\n" << describe(expected);
  }
}

TEST_F(MSRRawEventInsertTest, NotANumberTimestampFailsAsTheRecordDidAndTheNextInsertWorks) {
  const MSRParameters none;
  const auto event = MSREvent::initWithOrigin("app", false, "tick",
                                              std::numeric_limits<double>::quiet_NaN(), 0, &none);
  ASSERT_TRUE(event);
  {
    // SQLite binds NaN as NULL, which the NOT NULL column refuses.
    ErrorPtr fromInsert;
    EXPECT_FALSE(database_->insertRawEvent(event, 1, false, &fromInsert));
    ErrorPtr fromRecord;
    EXPECT_FALSE(database_->insertDataType(recordOf(*event, 1, false), "raw_events", &fromRecord));
    ASSERT_TRUE(fromInsert);
    ASSERT_TRUE(fromRecord);
    EXPECT_EQ(fromInsert->code(), 3);
    EXPECT_EQ(fromInsert->code(), fromRecord->code());
    EXPECT_EQ(description(fromInsert), description(fromRecord));
    EXPECT_TRUE(storedRows().empty());
  }
  const auto good = MSREvent::initWithOrigin("app", false, "tick", 4.5, 0, &none);
  ASSERT_TRUE(good);
  ErrorPtr error;
  ASSERT_TRUE(database_->insertRawEvent(good, 1, true, &error)) << description(error);
  const auto rows = storedRows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][4], cellOf(SQLITE_FLOAT, 0, 4.5, ""));
  EXPECT_EQ(rows[0][1], cellOf(SQLITE_INTEGER, 1, 0, ""));
}

TEST_F(MSRRawEventInsertTest, ClosedDatabaseAndLockedFileFailAsTheRecordDid) {
  const MSRParameters none;
  const auto event = MSREvent::initWithOrigin("app", false, "purchase", 8.5, 0, &none);
  ASSERT_TRUE(event);
  ASSERT_TRUE(database_->insertRawEvent(event, 3, false, nullptr));

  // Another connection holds the file: the step fails with SQLite's busy code.
  sqlite3_busy_timeout(database_->sqliteStore()->sqliteHandle(), 0);
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path_.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  ErrorPtr fromInsert;
  EXPECT_FALSE(database_->insertRawEvent(event, 4, true, &fromInsert));
  ErrorPtr fromRecord;
  EXPECT_FALSE(database_->insertDataType(recordOf(*event, 4, true), "raw_events", &fromRecord));
  ASSERT_TRUE(fromInsert);
  ASSERT_TRUE(fromRecord);
  EXPECT_EQ(fromInsert->code(), 3);
  EXPECT_EQ(description(fromInsert), description(fromRecord));
  EXPECT_NE(description(fromInsert).find("sqlite code 5"), std::string::npos)
      << description(fromInsert);
  ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);

  // The next insert works and stores its own values only.
  ASSERT_TRUE(database_->insertRawEvent(event, 5, true, nullptr));
  auto rows = storedRows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1][2], cellOf(SQLITE_INTEGER, 5, 0, ""));
  EXPECT_EQ(rows[1][1], cellOf(SQLITE_INTEGER, 1, 0, ""));

  // A closed database: the store's "not open" error, as for a record.
  database_->sqliteStore()->closeDatabase();
  fromInsert.reset();
  fromRecord.reset();
  EXPECT_FALSE(database_->insertRawEvent(event, 6, false, &fromInsert));
  EXPECT_FALSE(database_->insertDataType(recordOf(*event, 6, false), "raw_events", &fromRecord));
  ASSERT_TRUE(fromInsert);
  ASSERT_TRUE(fromRecord);
  EXPECT_EQ(fromInsert->code(), 2);
  EXPECT_EQ(description(fromInsert), "Upsert record failed. Database not open.");
  EXPECT_EQ(description(fromInsert), description(fromRecord));

  // Reopened, the connection's statements are new ones and the insert compiles its own again.
  ErrorPtr error;
  ASSERT_TRUE(database_->sqliteStore()->openAndValidateDatabase(&error)) << description(error);
  ASSERT_TRUE(database_->insertRawEvent(event, 7, false, &error)) << description(error);
  rows = storedRows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[2][2], cellOf(SQLITE_INTEGER, 7, 0, ""));
}

class MSRUpsertValuesTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    path_ = (home() / "Library/Application Support/Veltro/Measurement/columns.sql").string();
    ErrorPtr error;
    store_ = MSRSqliteStore::initWithDatabasePath(path_, &error);
    ASSERT_TRUE(store_) << description(error);
    ASSERT_TRUE(store_->executeSQL("CREATE TABLE t (a BLOB, b INTEGER, c TEXT, d REAL)", nullptr));
    ASSERT_TRUE(store_->executeSQL("CREATE TABLE u (k INTEGER PRIMARY KEY, v TEXT)", nullptr));
  }
  std::vector<std::vector<Cell>> rowsOf(const char* table) {
    return rowsThroughSecondConnection(path_, std::string("SELECT * FROM ") + table +
                                                  " ORDER BY rowid");
  }
  std::string path_;
  std::shared_ptr<MSRSqliteStore> store_;
};

TEST_F(MSRUpsertValuesTest, ValuesOfEveryKindAreStoredAsTheirRecordIs) {
  MSRSqliteStore::UpsertColumns columns("t", {"a", "b", "c", "d"});
  const std::string large(1 << 20, '\xfe');
  const std::string withNul("x\0y\xff", 4);
  const std::string empty;
  struct Case {
    const char* label;
    std::vector<ColumnValue> values;
    Record record;
  };
  const auto blob = [](const std::string& s) {
    return ColumnValue::ofBlob(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
  };
  const std::vector<Case> cases = {
      {"empty blob and empty text",
       {blob(empty), ColumnValue::ofInteger(0), ColumnValue::ofText(empty), ColumnValue::ofReal(0)},
       {{"a", Value::data(platform::Bytes())}, {"b", Value(0LL)}, {"c", Value("")}, {"d", Value(0.0)}}},
      {"large blob, extreme integer, NUL bytes",
       {blob(large), ColumnValue::ofInteger(std::numeric_limits<std::int64_t>::min()),
        ColumnValue::ofText("t\xC3\xA9"), ColumnValue::ofReal(-1e-300)},
       {{"a", Value::data(large)},
        {"b", Value(static_cast<long long>(std::numeric_limits<std::int64_t>::min()))},
        {"c", Value("t\xC3\xA9")},
        {"d", Value(-1e-300)}}},
      {"nulls and infinities",
       {ColumnValue{}, ColumnValue::ofInteger(std::numeric_limits<std::int64_t>::max()),
        ColumnValue{}, ColumnValue::ofReal(-std::numeric_limits<double>::infinity())},
       {{"a", Value::null()},
        {"b", Value(static_cast<long long>(std::numeric_limits<std::int64_t>::max()))},
        {"c", Value::null()},
        {"d", Value(-std::numeric_limits<double>::infinity())}}},
      {"blob with NUL and not-a-number",
       {blob(withNul), ColumnValue::ofInteger(-1), ColumnValue::ofText("z"),
        ColumnValue::ofReal(std::numeric_limits<double>::quiet_NaN())},
       {{"a", Value::data(withNul)},
        {"b", Value(-1LL)},
        {"c", Value("z")},
        {"d", Value(std::numeric_limits<double>::quiet_NaN())}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ASSERT_TRUE(store_->executeSQL("DELETE FROM t", nullptr));
    ErrorPtr error;
    ASSERT_TRUE(store_->upsertValues(columns, c.values, &error)) << description(error);
    ASSERT_TRUE(store_->upsertRecord(c.record, "t", &error)) << description(error);
    const auto rows = rowsOf("t");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], rows[1]) << describe(rows[0]) << "\n" << describe(rows[1]);
  }
  // Spot checks of what the shared result is: a zero-length blob, not NULL; NaN as NULL.
  ASSERT_TRUE(store_->executeSQL("DELETE FROM t", nullptr));
  ASSERT_TRUE(store_->upsertValues(columns, cases[0].values, nullptr));
  ASSERT_TRUE(store_->upsertValues(columns, cases[3].values, nullptr));
  const auto rows = rowsOf("t");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][0], cellOf(SQLITE_BLOB, 0, 0, ""));
  EXPECT_EQ(rows[0][2], cellOf(SQLITE_TEXT, 0, 0, ""));
  EXPECT_EQ(rows[1][0], cellOf(SQLITE_BLOB, 0, 0, withNul));
  EXPECT_EQ(rows[1][3], cellOf(SQLITE_NULL, 0, 0, ""));
}

TEST_F(MSRUpsertValuesTest, InterleavedWithRecordUpsertsEachRowHoldsOnlyItsOwnValues) {
  MSRSqliteStore::UpsertColumns columns("t", {"a", "b", "c", "d"});
  ASSERT_TRUE(store_->upsertValues(columns,
                                   std::vector<ColumnValue>{ColumnValue::ofText("a0"),
                                                            ColumnValue::ofInteger(0),
                                                            ColumnValue::ofText("c0"),
                                                            ColumnValue::ofReal(0.5)},
                                   nullptr));
  const int compiled = preparedStatementCount(store_->sqliteHandle());
  std::vector<std::vector<Cell>> expectedT;
  std::vector<std::vector<Cell>> expectedU;
  expectedT.push_back({cellOf(SQLITE_TEXT, 0, 0, "a0"), cellOf(SQLITE_INTEGER, 0, 0, ""),
                       cellOf(SQLITE_TEXT, 0, 0, "c0"), cellOf(SQLITE_FLOAT, 0, 0.5, "")});
  for (int i = 1; i <= 6; ++i) {
    const std::string text = "v" + std::to_string(i);
    const std::string bytes(static_cast<std::size_t>(i), static_cast<char>(i));
    ErrorPtr error;
    switch (i % 3) {
      case 0:  // the same columns as a record: the same statement
        ASSERT_TRUE(store_->upsertRecord(
            {{"a", Value::data(bytes)}, {"b", Value(i)}, {"c", Value(text)}, {"d", Value(i + 0.25)}},
            "t", &error))
            << description(error);
        expectedT.push_back({cellOf(SQLITE_BLOB, 0, 0, bytes), cellOf(SQLITE_INTEGER, i, 0, ""),
                             cellOf(SQLITE_TEXT, 0, 0, text),
                             cellOf(SQLITE_FLOAT, 0, i + 0.25, "")});
        break;
      case 1:  // fewer columns of the same table, then another table
        ASSERT_TRUE(store_->upsertRecord({{"b", Value(i)}, {"c", Value(text)}}, "t", &error))
            << description(error);
        expectedT.push_back({cellOf(SQLITE_NULL, 0, 0, ""), cellOf(SQLITE_INTEGER, i, 0, ""),
                             cellOf(SQLITE_TEXT, 0, 0, text), cellOf(SQLITE_NULL, 0, 0, "")});
        ASSERT_TRUE(store_->upsertRecord({{"k", Value(i)}, {"v", Value(text)}}, "u", &error))
            << description(error);
        expectedU.push_back({cellOf(SQLITE_INTEGER, i, 0, ""), cellOf(SQLITE_TEXT, 0, 0, text)});
        break;
      default: {  // the column list, with a NULL where the last call had a value
        const std::vector<ColumnValue> values = {
            ColumnValue{}, ColumnValue::ofInteger(-i), ColumnValue::ofText(text), ColumnValue{}};
        ASSERT_TRUE(store_->upsertValues(columns, values, &error)) << description(error);
        expectedT.push_back({cellOf(SQLITE_NULL, 0, 0, ""), cellOf(SQLITE_INTEGER, -i, 0, ""),
                             cellOf(SQLITE_TEXT, 0, 0, text), cellOf(SQLITE_NULL, 0, 0, "")});
      }
    }
  }
  EXPECT_EQ(rowsOf("t"), expectedT);
  EXPECT_EQ(rowsOf("u"), expectedU);
  // The record of the list's columns used the list's statement: only the smaller record of t and
  // the record of u compiled one each.
  EXPECT_EQ(preparedStatementCount(store_->sqliteHandle()), compiled + 2);
}

TEST_F(MSRUpsertValuesTest, FailuresReportTheRecordsErrorsAndLeaveTheStatementReady) {
  MSRSqliteStore::UpsertColumns columns("t", {"a", "b", "c", "d"});
  const std::vector<ColumnValue> values = {ColumnValue::ofText("a"), ColumnValue::ofInteger(1),
                                           ColumnValue::ofText("c"), ColumnValue::ofReal(1.5)};
  const Record record = {{"a", Value("a")}, {"b", Value(1)}, {"c", Value("c")}, {"d", Value(1.5)}};
  // Arguments.
  {
    ErrorPtr error;
    EXPECT_FALSE(store_->upsertValues(columns, {}, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), 1);
    EXPECT_EQ(description(error), "Received empty record for upsert");
    MSRSqliteStore::UpsertColumns noTable("", {"a"});
    error.reset();
    EXPECT_FALSE(store_->upsertValues(noTable, values, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), 1);
    EXPECT_EQ(description(error), "Received empty table name for upsert");
    MSRSqliteStore::UpsertColumns noColumns("t", {});
    error.reset();
    EXPECT_FALSE(store_->upsertValues(noColumns, values, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(description(error), "Received empty record for upsert");
  }
  // A column the table lacks: the same prepare error, and nothing is remembered.
  {
    MSRSqliteStore::UpsertColumns missing("t", {"a", "zz"});
    const std::vector<ColumnValue> two = {ColumnValue::ofText("a"), ColumnValue::ofInteger(2)};
    ErrorPtr fromValues;
    ErrorPtr fromRecord;
    EXPECT_FALSE(store_->upsertValues(missing, two, &fromValues));
    EXPECT_FALSE(store_->upsertRecord({{"a", Value("a")}, {"zz", Value(2)}}, "t", &fromRecord));
    ASSERT_TRUE(fromValues);
    ASSERT_TRUE(fromRecord);
    EXPECT_EQ(fromValues->code(), 3);
    EXPECT_EQ(description(fromValues), description(fromRecord));
    ASSERT_TRUE(store_->executeSQL("ALTER TABLE t ADD COLUMN zz INTEGER", nullptr));
    ErrorPtr error;
    EXPECT_TRUE(store_->upsertValues(missing, two, &error)) << description(error);
  }
  // A failed step under another connection's exclusive lock.
  ASSERT_TRUE(store_->upsertValues(columns, values, nullptr));
  sqlite3_busy_timeout(store_->sqliteHandle(), 0);
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path_.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  ErrorPtr fromValues;
  ErrorPtr fromRecord;
  EXPECT_FALSE(store_->upsertValues(columns, values, &fromValues));
  EXPECT_FALSE(store_->upsertRecord(record, "t", &fromRecord));
  ASSERT_TRUE(fromValues);
  ASSERT_TRUE(fromRecord);
  EXPECT_EQ(fromValues->code(), 3);
  EXPECT_EQ(description(fromValues), description(fromRecord));
  EXPECT_NE(description(fromValues).find("execute statement"), std::string::npos)
      << description(fromValues);
  ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);
  // The next insert works with its own values.
  const std::vector<ColumnValue> next = {ColumnValue{}, ColumnValue::ofInteger(9), ColumnValue{},
                                         ColumnValue{}};
  ErrorPtr error;
  ASSERT_TRUE(store_->upsertValues(columns, next, &error)) << description(error);
  auto rows = rowsOf("t");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[2][0], cellOf(SQLITE_NULL, 0, 0, ""));
  EXPECT_EQ(rows[2][1], cellOf(SQLITE_INTEGER, 9, 0, ""));
  EXPECT_EQ(rows[2][2], cellOf(SQLITE_NULL, 0, 0, ""));

  // A block whose transaction SQLite already ended refuses further writes, as for a record.
  ASSERT_FALSE(store_->performTransactionWithError(&error, [&] {
    EXPECT_EQ(sqlite3_exec(store_->sqliteHandle(), "ROLLBACK", nullptr, nullptr, nullptr),
              SQLITE_OK);
    ErrorPtr inside;
    EXPECT_FALSE(store_->upsertValues(columns, values, &inside));
    ErrorPtr insideRecord;
    EXPECT_FALSE(store_->upsertRecord(record, "t", &insideRecord));
    EXPECT_TRUE(inside);
    EXPECT_TRUE(insideRecord);
    if (inside && insideRecord) {
      EXPECT_EQ(inside->code(), insideRecord->code());
      EXPECT_EQ(description(inside), description(insideRecord));
    }
    return true;
  }));
  EXPECT_EQ(rowsOf("t").size(), 3u);

  // A cleared cache and a closed store: the list compiles its statement again, and a closed
  // store gives the record's "not open" error.
  store_->finalizeAndClearStatements();
  ASSERT_TRUE(store_->upsertValues(columns, values, &error)) << description(error);
  store_->closeDatabase();
  fromValues.reset();
  EXPECT_FALSE(store_->upsertValues(columns, values, &fromValues));
  ASSERT_TRUE(fromValues);
  EXPECT_EQ(fromValues->code(), 2);
  EXPECT_EQ(description(fromValues), "Upsert record failed. Database not open.");
  ASSERT_TRUE(store_->openAndValidateDatabase(&error)) << description(error);
  ASSERT_TRUE(store_->upsertValues(columns, next, &error)) << description(error);
  rows = rowsOf("t");
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[4][1], cellOf(SQLITE_INTEGER, 9, 0, ""));

  // One list used with a second store of the same file finds that store's own statement.
  auto second = MSRSqliteStore::initWithDatabasePath(path_, &error);
  ASSERT_TRUE(second) << description(error);
  ASSERT_TRUE(second->upsertValues(columns, values, &error)) << description(error);
  ASSERT_TRUE(store_->upsertValues(columns, values, &error)) << description(error);
  EXPECT_EQ(rowsOf("t").size(), 7u);
}

}  // namespace
