// The store's compiled statements used again and again: an insert of the same columns after a
// failed step, a failed bind, a schema change or a table rebuild; records whose columns change
// from call to call; rows read back into records with odd or repeated column names; the fixed
// transaction statements. Everything runs on real files in the test's sandbox home.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRMonitor.h"
#include "measurement/foundation/tests/MSRTestSupport.h"
#include "measurement/storage/MSRSqliteStore.h"
#include "measurement/storage/tests/MSRStorageTestSupport.h"
#include "platform/testing/PlatformTest.h"

using platform::ErrorPtr;
using platform::Value;
using Record = MSRSqliteStore::Record;
using msr_test::MonitorRecorder;

namespace {

class MSRSqliteStoreStatementsTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    path_ = (home() / "Library/Application Support/Veltro/Measurement/statements.sql").string();
    reopen();
    ASSERT_TRUE(store_->executeSQL(
        "CREATE TABLE t (k INTEGER PRIMARY KEY, s TEXT NOT NULL, n INTEGER, b BLOB)", nullptr));
  }
  void reopen() {
    store_.reset();
    ErrorPtr error;
    store_ = MSRSqliteStore::initWithDatabasePath(path_, &error);
    ASSERT_TRUE(store_) << (error ? error->localizedDescription() : "");
  }
  // The row with key k as the store reads it back; an empty record when there is none.
  Record row(std::int64_t k) {
    const auto rows = store_->recordsForQuery("SELECT * FROM t WHERE k = ?", {Value(k)}, nullptr);
    EXPECT_TRUE(rows);
    return rows && !rows->empty() ? rows->front() : Record{};
  }
  std::string path_;
  std::shared_ptr<MSRSqliteStore> store_;
};

TEST_F(MSRSqliteStoreStatementsTest, RepeatedInsertAfterFailedStepOrBindStoresOnlyItsOwnValues) {
  const platform::Bytes blob{9, 8, 7};
  ASSERT_TRUE(store_->upsertRecord(
      {{"k", Value(1)}, {"s", Value("first")}, {"n", Value(5)}, {"b", Value::data(blob)}}, "t",
      nullptr));

  // The same columns break the NOT NULL rule: the step fails, the SQLite error is reported.
  ErrorPtr error;
  EXPECT_FALSE(store_->upsertRecord(
      {{"k", Value(2)}, {"s", Value::null()}, {"n", Value(6)}, {"b", Value::data(blob)}}, "t",
      &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), 3);
  EXPECT_NE(description(error).find("\"execute statement\" failed with sqlite code 19"),
            std::string::npos)
      << description(error);

  // A text longer than the connection allows cannot be bound: nothing is written, and the
  // statement serves the next insert with that insert's values only.
  sqlite3_limit(store_->sqliteHandle(), SQLITE_LIMIT_LENGTH, 8);
  error.reset();
  EXPECT_FALSE(store_->upsertRecord(
      {{"k", Value(3)}, {"s", Value("far too long a text")}, {"n", Value(7)}, {"b", Value::null()}},
      "t", &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), 3);
  EXPECT_NE(description(error).find("\"bind values\""), std::string::npos) << description(error);
  sqlite3_limit(store_->sqliteHandle(), SQLITE_LIMIT_LENGTH, 1000000000);

  ASSERT_TRUE(store_->upsertRecord(
      {{"k", Value(4)}, {"s", Value("fourth")}, {"n", Value::null()}, {"b", Value::null()}}, "t",
      nullptr));
  EXPECT_EQ(store_->rowCountForTableWithName("t", nullptr), Value(2LL));
  const Record fourth = row(4);
  EXPECT_EQ(fourth.at("s"), Value("fourth"));
  EXPECT_TRUE(fourth.at("n").isNull());
  EXPECT_TRUE(fourth.at("b").isNull());
  EXPECT_EQ(*row(1).at("b").bytes(), blob);
}

TEST_F(MSRSqliteStoreStatementsTest, ColumnSetsChangingBetweenCallsLandInTheirOwnColumns) {
  struct Step {
    Record record;
    Record expected;  // the row with that key afterwards, rowid aside
  };
  const std::vector<Step> steps = {
      {{{"k", Value(1)}, {"s", Value("a")}, {"n", Value(10)}},
       {{"k", Value(1)}, {"s", Value("a")}, {"n", Value(10)}, {"b", Value::null()}}},
      // Fewer columns: what the earlier call bound is not carried over.
      {{{"k", Value(1)}, {"s", Value("b")}},
       {{"k", Value(1)}, {"s", Value("b")}, {"n", Value::null()}, {"b", Value::null()}}},
      {{{"k", Value(2)}, {"s", Value("c")}, {"b", Value::data(std::string_view("\x01", 1))}},
       {{"k", Value(2)},
        {"s", Value("c")},
        {"n", Value::null()},
        {"b", Value::data(std::string_view("\x01", 1))}}},
      // The first column set again, with other values.
      {{{"k", Value(2)}, {"s", Value("d")}, {"n", Value(-4)}},
       {{"k", Value(2)}, {"s", Value("d")}, {"n", Value(-4)}, {"b", Value::null()}}},
      {{{"k", Value(1)}, {"s", Value("e")}},
       {{"k", Value(1)}, {"s", Value("e")}, {"n", Value::null()}, {"b", Value::null()}}},
  };
  for (std::size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(store_->upsertRecord(steps[i].record, "t", nullptr));
    const std::int64_t k = steps[i].record.at("k").int64Value();
    EXPECT_EQ(Value(row(k)), Value(steps[i].expected));
  }
}

TEST_F(MSRSqliteStoreStatementsTest, HandedOutStatementWithFewerValuesKeepsNothingOfAnInsert) {
  ASSERT_TRUE(store_->upsertRecord({{"b", Value::data(std::string_view("\x05", 1))},
                                    {"k", Value(1)},
                                    {"n", Value(3)},
                                    {"s", Value("kept")}},
                                   "t", nullptr));
  // The insert's own text, asked for with values for only its first two markers.
  const std::string sql = "INSERT OR REPLACE INTO t (b, k, n, s) VALUES (?, ?, ?, ?);";
  sqlite3_stmt* statement = store_->statementForQuery(sql, {Value::null(), Value(2)}, nullptr);
  ASSERT_TRUE(statement);
  EXPECT_NE(sqlite3_step(statement), SQLITE_DONE);  // s is NULL now, not "kept"
  store_->cleanUpStatement(statement, sql);
  EXPECT_EQ(store_->rowCountForTableWithName("t", nullptr), Value(1LL));
  // And the insert that follows binds all of its own values again.
  ASSERT_TRUE(store_->upsertRecord(
      {{"b", Value::null()}, {"k", Value(3)}, {"n", Value(4)}, {"s", Value("third")}}, "t",
      nullptr));
  EXPECT_EQ(row(3).at("s"), Value("third"));
}

TEST_F(MSRSqliteStoreStatementsTest, RepeatedInsertFollowsSchemaChangesAndRebuilds) {
  const Record first{{"k", Value(1)}, {"s", Value("one")}};
  ASSERT_TRUE(store_->upsertRecord(first, "t", nullptr));

  // A column added after the statement was compiled.
  ASSERT_TRUE(store_->executeSQL("ALTER TABLE t ADD COLUMN z TEXT DEFAULT 'zed'", nullptr));
  ASSERT_TRUE(store_->upsertRecord({{"k", Value(2)}, {"s", Value("two")}}, "t", nullptr));
  EXPECT_EQ(row(2).at("z"), Value("zed"));

  // The table rebuilt with another column type: the rows move over, later inserts go to the
  // new table, and all of it is in the file.
  ErrorPtr error;
  ASSERT_TRUE(store_->ensureTableWithName("t", {{"k", "INTEGER"}, {"s", "TEXT NOT NULL"}},
                                          {{"n", "INTEGER"}, {"b", "BLOB"}, {"z", "TEXT"}},
                                          {{"k", "REAL"}}, &error))
      << (error ? error->localizedDescription() : "");
  EXPECT_EQ(store_->columnInfoForTableWithName("t", nullptr)->at("k"), "REAL");
  ASSERT_TRUE(store_->upsertRecord({{"k", Value(3)}, {"s", Value("three")}}, "t", nullptr));
  reopen();
  EXPECT_EQ(store_->rowCountForTableWithName("t", nullptr), Value(3LL));
  EXPECT_EQ(row(3).at("s"), Value("three"));

  // A table dropped and made again without one of the columns: the insert fails with SQLite's
  // error, and succeeds once the column is back.
  ASSERT_TRUE(store_->upsertRecord({{"k", Value(4)}, {"s", Value("four")}}, "t", nullptr));
  ASSERT_TRUE(store_->executeSQL("DROP TABLE t", nullptr));
  ASSERT_TRUE(store_->executeSQL("CREATE TABLE t (k INTEGER PRIMARY KEY)", nullptr));
  error.reset();
  EXPECT_FALSE(store_->upsertRecord({{"k", Value(5)}, {"s", Value("five")}}, "t", &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), 3);
  ASSERT_TRUE(store_->executeSQL("ALTER TABLE t ADD COLUMN s TEXT", nullptr));
  ASSERT_TRUE(store_->upsertRecord({{"k", Value(5)}, {"s", Value("five")}}, "t", nullptr));
  EXPECT_EQ(row(5).at("s"), Value("five"));
}

TEST_F(MSRSqliteStoreStatementsTest, ValuesRoundTripThroughTheFileByKind) {
  platform::Bytes large(1 << 20);
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<std::uint8_t>(i * 31);
  struct Case {
    Value stored;
    Value read;  // as a reopened store reads it
  };
  const std::vector<Case> cases = {
      {Value(std::numeric_limits<long long>::max()), Value(std::numeric_limits<long long>::max())},
      {Value(std::numeric_limits<long long>::min()), Value(std::numeric_limits<long long>::min())},
      {Value(-1.5e300), Value(-1.5e300)},
      {Value(true), Value(1LL)},
      {Value("ünïcode ✓"), Value("ünïcode ✓")},
      {Value(""), Value("")},
      {Value::null(), Value::null()},
      {Value::data(large), Value::data(large)},
      {Value::data(std::string_view("\0\xff", 2)), Value::data(std::string_view("\0\xff", 2))},
      {Value::data(platform::Bytes{}), Value()},  // a zero-length blob reads as nothing
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    ASSERT_TRUE(store_->upsertRecord(
        {{"k", Value(static_cast<long long>(i))}, {"s", Value("x")}, {"n", cases[i].stored}}, "t",
        nullptr));
  }
  reopen();
  const auto rows = store_->recordsForQuery("SELECT k, n FROM t ORDER BY k", {}, nullptr);
  ASSERT_TRUE(rows);
  ASSERT_EQ(rows->size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    const Record& record = (*rows)[i];
    if (cases[i].read.isNil()) {
      EXPECT_FALSE(record.count("n"));
      continue;
    }
    ASSERT_TRUE(record.count("n"));
    EXPECT_EQ(record.at("n").kind(), cases[i].read.kind());
    EXPECT_EQ(record.at("n"), cases[i].read);
    if (cases[i].read.isNumber()) {
      EXPECT_EQ(record.at("n").isFloatingPoint(), cases[i].read.isFloatingPoint());
      EXPECT_EQ(record.at("n").int64Value(), cases[i].read.int64Value());
    }
  }
}

TEST_F(MSRSqliteStoreStatementsTest, RowColumnsBecomeKeysWhateverTheirOrderOrRepetition) {
  struct Case {
    std::string query;
    Record expected;
    std::vector<Value> nilColumns;  // logged as nil, in column order
  };
  const std::vector<Case> cases = {
      {"SELECT 3 AS c, 1 AS a, 2 AS b", {{"a", Value(1)}, {"b", Value(2)}, {"c", Value(3)}}, {}},
      // A name met twice keeps its first value.
      {"SELECT 'first' AS v, 'second' AS v, 0 AS a", {{"a", Value(0)}, {"v", Value("first")}}, {}},
      // ... that is not nil.
      {"SELECT x'' AS v, 'second' AS v", {{"v", Value("second")}}, {Value("v")}},
      {"SELECT x'' AS z, NULL AS m, x'' AS a", {{"m", Value::null()}}, {Value("z"), Value("a")}},
      {"SELECT CAST(x'ff' AS TEXT) AS bad, 'ok' AS good", {{"good", Value("ok")}}, {Value("bad")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query);
    MonitorRecorder logs;
    for (int pass = 0; pass < 2; ++pass) {  // compiled once, read twice
      logs.clear();
      const auto rows = store_->recordsForQuery(c.query, {}, nullptr);
      ASSERT_TRUE(rows);
      ASSERT_EQ(rows->size(), 1u);
      EXPECT_EQ(Value(rows->front()), Value(c.expected));
      EXPECT_EQ(logs.contextsOf(34004), c.nilColumns);
    }
  }
}

TEST_F(MSRSqliteStoreStatementsTest, ManyRowsKeepTheirOwnValues) {
  ASSERT_TRUE(store_->performTransactionWithError(nullptr, [&] {
    for (int k = 0; k < 300; ++k) {
      Record record{{"k", Value(k)}, {"s", Value("row " + std::to_string(k))}};
      if (k % 3) record.emplace("n", Value(k * 7));
      if (!store_->upsertRecord(record, "t", nullptr)) return false;
    }
    return true;
  }));
  // The row ID comes back under its alias k, beside k itself: one key.
  const auto rows = store_->recordsForQuery("SELECT rowid, * FROM t ORDER BY k", {}, nullptr);
  ASSERT_TRUE(rows);
  ASSERT_EQ(rows->size(), 300u);
  for (int k = 0; k < 300; ++k) {
    const Record& record = (*rows)[static_cast<std::size_t>(k)];
    ASSERT_EQ(record.size(), 4u);  // k, s, n, b
    ASSERT_EQ(record.at("k"), Value(k));
    ASSERT_TRUE(record.at("b").isNull());
    ASSERT_EQ(record.at("s"), Value("row " + std::to_string(k)));
    ASSERT_EQ(record.at("n"), k % 3 ? Value(k * 7) : Value::null());
  }
}

TEST_F(MSRSqliteStoreStatementsTest, FilterThatThrowsLeavesTheQueryUsable) {
  ASSERT_TRUE(store_->upsertRecord({{"k", Value(1)}, {"s", Value("a")}}, "t", nullptr));
  ASSERT_TRUE(store_->upsertRecord({{"k", Value(2)}, {"s", Value("b")}}, "t", nullptr));
  const std::string query = "SELECT k FROM t WHERE k >= ? ORDER BY k";
  EXPECT_THROW(store_->performTransactionWithError(nullptr,
                                                   [&]() -> bool {
                                                     store_->recordsForQuery(
                                                         query, {Value(0)}, nullptr,
                                                         [](std::size_t, const Record&) -> bool {
                                                           throw std::runtime_error("stop");
                                                         });
                                                     return true;
                                                   }),
               std::runtime_error);
  ErrorPtr error;
  const auto rows = store_->recordsForQuery(query, {Value(2)}, &error);
  ASSERT_TRUE(rows) << (error ? error->localizedDescription() : "");
  ASSERT_EQ(rows->size(), 1u);
  EXPECT_EQ(rows->front().at("k"), Value(2));
}

TEST_F(MSRSqliteStoreStatementsTest, TransactionStatementsRecoverAndLetTheConnectionClose) {
  MonitorRecorder logs;
  ASSERT_TRUE(store_->performTransactionWithError(nullptr, [&] {
    return store_->upsertRecord({{"k", Value(1)}, {"s", Value("a")}}, "t", nullptr);
  }));
  // A transaction already open elsewhere on the connection: BEGIN fails and says so.
  ASSERT_TRUE(store_->executeSQL("BEGIN", nullptr));
  ErrorPtr error;
  EXPECT_FALSE(store_->performTransactionWithError(&error, [] { return true; }));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), 3);
  EXPECT_EQ(description(error), "Failed to begin transaction");
  ASSERT_TRUE(store_->executeSQL("COMMIT", nullptr));
  // Then every fixed statement works again: begin, end, begin and roll back.
  EXPECT_TRUE(store_->performTransactionWithError(nullptr, [&] {
    return store_->upsertRecord({{"k", Value(2)}, {"s", Value("b")}}, "t", nullptr);
  }));
  EXPECT_FALSE(store_->performTransactionWithError(nullptr, [&] {
    store_->upsertRecord({{"k", Value(3)}, {"s", Value("c")}}, "t", nullptr);
    return false;
  }));
  EXPECT_TRUE(sqlite3_get_autocommit(store_->sqliteHandle()));
  EXPECT_EQ(store_->rowCountForTableWithName("t", nullptr), Value(2LL));
  // Closing finalizes them too: SQLite closes the connection at once.
  store_->closeDatabase();
  EXPECT_EQ(logs.count(34018), 0);
  EXPECT_EQ(logs.count(34011), 0);
  reopen();
  EXPECT_EQ(store_->rowCountForTableWithName("t", nullptr), Value(2LL));
}

TEST_F(MSRSqliteStoreStatementsTest, UnbindableValueStopsARepeatedInsertWithoutAnError) {
  ASSERT_TRUE(store_->upsertRecord({{"k", Value(1)}, {"s", Value("a")}}, "t", nullptr));
  MonitorRecorder logs;
  ErrorPtr error;
  EXPECT_FALSE(store_->upsertRecord({{"k", Value(2)}, {"s", Value::date(5)}}, "t", &error));
  EXPECT_FALSE(error);
  EXPECT_EQ(logs.records().size(), 1u);
  EXPECT_EQ(logs.count(34020), 1);
  EXPECT_EQ(store_->rowCountForTableWithName("t", nullptr), Value(1LL));
}

}  // namespace
