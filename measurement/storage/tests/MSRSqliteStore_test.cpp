#include "measurement/storage/MSRSqliteStore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "measurement/foundation/MSRConstants.h"
#include "platform/base/Files.h"
#include "platform/network/BackupExclusion.h"
#include "platform/testing/PlatformTest.h"

namespace fs = std::filesystem;
using platform::ErrorPtr;
using platform::Value;

namespace {

std::string description(const ErrorPtr& error) {
  return error ? error->userInfo().count("NSLocalizedDescription")
                     ? *error->userInfo().at("NSLocalizedDescription").string()
                     : ""
               : "";
}

class MSRSqliteStoreTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    path_ = (home() / "Library/Application Support/Veltro/Measurement/test.sql").string();
    ErrorPtr error;
    store_ = MSRSqliteStore::initWithDatabasePath(path_, &error);
    ASSERT_TRUE(store_) << (error ? error->localizedDescription() : "");
  }
  void createT() {
    ASSERT_TRUE(store_->executeSQL(
        "CREATE TABLE t (k INTEGER PRIMARY KEY, s TEXT, n INTEGER, r REAL, b BLOB)", nullptr));
  }
  std::string path_;
  std::shared_ptr<MSRSqliteStore> store_;
};

TEST_F(MSRSqliteStoreTest, OpensCreatingParentFolderAndMarksFileExcludedFromBackup) {
  EXPECT_TRUE(fs::exists(path_));
  EXPECT_TRUE(platform::isExcludedFromBackup(path_));
  EXPECT_EQ(store_->databasePath(), path_);
  EXPECT_NE(store_->sqliteHandle(), nullptr);
}

TEST_F(MSRSqliteStoreTest, EmptyPathIsRefused) {
  ErrorPtr error;
  EXPECT_FALSE(MSRSqliteStore::initWithDatabasePath("", &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain(), kMSRErrorDomain);
  EXPECT_EQ(error->code(), 1);
  EXPECT_EQ(description(error), "Received empty database path on init");
}

TEST_F(MSRSqliteStoreTest, CorruptFileIsReplacedByAnEmptyDatabase) {
  const std::string corrupt = (home() / "corrupt.sql").string();
  {
    std::ofstream out(corrupt, std::ios::binary);
    out << std::string("SQLite format 3") + '\0' + std::string(4000, '\x7f');
  }
  ErrorPtr error;
  auto store = MSRSqliteStore::initWithDatabasePath(corrupt, &error);
  ASSERT_TRUE(store);
  EXPECT_EQ(store->tableExists("t", nullptr), std::optional<bool>(false));
  EXPECT_TRUE(store->executeSQL("CREATE TABLE x (a INTEGER)", nullptr));
}

TEST_F(MSRSqliteStoreTest, UnopenablePathGivesNil) {
  // A directory where the file should be can be neither opened nor deleted as a file.
  const fs::path dir = home() / "dir.sql";
  fs::create_directories(dir / "inner");
  ErrorPtr error;
  EXPECT_FALSE(MSRSqliteStore::initWithDatabasePath(dir.string(), &error));
}

TEST_F(MSRSqliteStoreTest, ValuesRoundTripByKind) {
  createT();
  MSRSqliteStore::Record record{{"k", Value(1)},
                                {"s", Value("héllo")},
                                {"n", Value(true)},
                                {"r", Value(2.5)},
                                {"b", Value::data(std::string_view("\x01\x02", 2))}};
  ASSERT_TRUE(store_->upsertRecord(record, "t", nullptr));
  auto rows = store_->recordsForQuery("SELECT * FROM t", {}, nullptr);
  ASSERT_TRUE(rows);
  ASSERT_EQ(rows->size(), 1u);
  const auto& row = rows->front();
  EXPECT_EQ(row.at("s"), Value("héllo"));
  EXPECT_EQ(row.at("n").int64Value(), 1);  // a boolean is stored as 1
  EXPECT_FALSE(row.at("n").isFloatingPoint());
  EXPECT_TRUE(row.at("r").isFloatingPoint());
  EXPECT_DOUBLE_EQ(row.at("r").doubleValue(), 2.5);
  EXPECT_EQ(*row.at("b").bytes(), (platform::Bytes{1, 2}));

  // Replacing by key, NULL and an empty blob.
  ASSERT_TRUE(store_->upsertRecord({{"k", Value(1)}, {"s", Value::null()}, {"b", Value::data("")}},
                                   "t", nullptr));
  rows = store_->recordsForQuery("SELECT k, s, b FROM t", {}, nullptr);
  ASSERT_EQ(rows->size(), 1u);
  EXPECT_TRUE(rows->front().at("s").isNull());
  EXPECT_FALSE(rows->front().count("b"));  // a zero-length blob reads as nothing
}

TEST_F(MSRSqliteStoreTest, UnsupportedValueKindIsNotWritten) {
  createT();
  ErrorPtr error;
  EXPECT_FALSE(store_->upsertRecord({{"k", Value(1)}, {"s", Value::date(5)}}, "t", &error));
  EXPECT_FALSE(error);
  EXPECT_FALSE(store_->updateRecord({{"s", Value::date(5)}}, "t", "k", Value(1), &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(description(error), "Failed to bind parameter of unexpected type to update statement");
  EXPECT_EQ(store_->rowCountForTableWithName("t", nullptr), Value(0LL));
}

TEST_F(MSRSqliteStoreTest, ArgumentAndStateChecksReportTheirCodes) {
  struct Case {
    std::function<bool(MSRSqliteStore&, ErrorPtr*)> call;
    long code;
    std::string message;
  };
  const std::vector<Case> cases = {
      {[](auto& s, auto e) { return s.executeSQL("", e); }, 1,
       "Received empty SQL string to execute"},
      {[](auto& s, auto e) { return s.statementForQuery("SELECT ? ", e) != nullptr; }, 1,
       "Received empty parameters"},
      {[](auto& s, auto e) { return s.executeSQL("SELECT 1; SELECT 2", e); }, 1,
       "Query contained more than one SQL statement."},
      {[](auto& s, auto e) { return s.recordsForQuery(" SELECT 1", {}, e).has_value(); }, 1,
       "Received invalid select query"},
      {[](auto& s, auto e) { return s.recordsForQuery("PRAGMA table_info(t)", {}, e).has_value(); },
       1, "Received invalid select query"},
      {[](auto& s, auto e) { return s.renameTable("a", "a", e); }, 1,
       "Received duplicate name for rename table"},
      {[](auto& s, auto e) { return s.upsertRecord({}, "t", e); }, 1,
       "Received empty record for upsert"},
      {[](auto& s, auto e) { return s.increaseColumn("zz", 1, "t", "k=1", {}, e); }, 1,
       "Invalid column or table name"},
      {[](auto& s, auto e) { return s.increaseColumn("s", 1, "t", "k=1", {}, e); }, 1,
       "Column type is not integer."},
      {[](auto& s, auto e) { return s.performTransactionWithError(e, nullptr); }, 1,
       "Received nil transaction block"},
  };
  createT();
  for (const auto& c : cases) {
    ErrorPtr error;
    EXPECT_FALSE(c.call(*store_, &error)) << c.message;
    ASSERT_TRUE(error) << c.message;
    EXPECT_EQ(error->code(), c.code) << c.message;
    EXPECT_EQ(description(error), c.message);
  }
  store_->closeDatabase();
  ErrorPtr error;
  EXPECT_FALSE(store_->upsertRecord({{"k", Value(1)}}, "t", &error));
  EXPECT_EQ(error->code(), 2);
  EXPECT_EQ(description(error), "Upsert record failed. Database not open.");
  EXPECT_FALSE(store_->lastErrorMessage());
}

TEST_F(MSRSqliteStoreTest, NumberQueries) {
  createT();
  ASSERT_TRUE(store_->upsertRecord({{"k", Value(1)}, {"n", Value(7)}}, "t", nullptr));
  ASSERT_TRUE(store_->upsertRecord({{"k", Value(2)}, {"s", Value("x")}}, "t", nullptr));
  EXPECT_EQ(store_->rowCountForTableWithName("t", nullptr), Value(2LL));
  EXPECT_EQ(store_->rowCountForTableWithName("t", "n", Value(7), nullptr), Value(1LL));

  ErrorPtr error;
  EXPECT_TRUE(store_->numberForQuery("SELECT n FROM t WHERE k=?", {Value(5)}, &error).isNil());
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), 3);
  EXPECT_NE(description(error).find("\"query numeric result\""), std::string::npos);
  EXPECT_EQ(error->userInfo().at(kMSRMonitorContextKey).string()->substr(0, 23),
            "query numeric result,10");  // SQLITE_DONE as the last code

  error.reset();
  EXPECT_TRUE(store_->numberForQuery("SELECT n FROM t WHERE k=?", {Value(2)}, &error).isNil());
  EXPECT_FALSE(error);  // NULL is no error
  EXPECT_TRUE(store_->numberForQuery("SELECT s FROM t WHERE k=?", {Value(2)}, &error).isNil());
  EXPECT_EQ(description(error), "Found result that was not numeric");
}

TEST_F(MSRSqliteStoreTest, MonitorContextReadsOperationCodeWritabilityAndFreeSpace) {
  ErrorPtr error;
  EXPECT_FALSE(store_->executeSQL("SELEKT 1", &error));
  ASSERT_TRUE(error);
  const std::string context = *error->userInfo().at(kMSRMonitorContextKey).string();
  EXPECT_EQ(context.substr(0, 22), "prepare statement,1,A,");
  EXPECT_EQ(description(error),
            "Database operation \"prepare statement\" failed with sqlite code 1 and error message "
            "\"near \"SELEKT\": syntax error\"");
  EXPECT_EQ(store_->monitorContextForDatabaseOperation("").substr(0, 18), "Unknown operation,");
}

TEST_F(MSRSqliteStoreTest, UpdatesIncreasesAndDeletes) {
  createT();
  for (int k = 1; k <= 3; ++k) {
    ASSERT_TRUE(store_->upsertRecord({{"k", Value(k)}, {"n", Value(k * 10)}}, "t", nullptr));
  }
  ASSERT_TRUE(store_->updateRecord({{"s", Value("two")}}, "t", "k", Value(2), nullptr));
  ASSERT_TRUE(store_->increaseColumn("n", 5, "t", "k>=?", {Value(2)}, nullptr));
  auto rows = store_->recordsForQuery("SELECT k, n, s FROM t ORDER BY k", {}, nullptr);
  ASSERT_EQ(rows->size(), 3u);
  EXPECT_EQ((*rows)[0].at("n"), Value(10LL));
  EXPECT_EQ((*rows)[1].at("n"), Value(25LL));
  EXPECT_EQ((*rows)[1].at("s"), Value("two"));
  EXPECT_EQ((*rows)[2].at("n"), Value(35LL));

  ASSERT_TRUE(store_->updateAllRecordsInTableWithName("t", "s", Value("all"), nullptr));
  EXPECT_EQ(store_->rowCountForTableWithName("t", "s", Value("all"), nullptr), Value(3LL));

  EXPECT_EQ(store_->deleteRecordsFromTableWithName("t", "k > ?", {Value(10)}, nullptr),
            std::optional<std::int64_t>(0));
  EXPECT_EQ(store_->deleteRecordsFromTableWithName("t", "k > ?", {Value(1)}, nullptr),
            std::optional<std::int64_t>(2));
  ASSERT_TRUE(store_->deleteRecordFromTableWithName("t", "k", Value(1), nullptr));
  EXPECT_EQ(store_->rowCountForTableWithName("t", nullptr), Value(0LL));
  ASSERT_TRUE(store_->upsertRecord({{"k", Value(9)}}, "t", nullptr));
  ASSERT_TRUE(store_->deleteAllRecordsFromTableWithName("t", nullptr));
  EXPECT_EQ(store_->rowCountForTableWithName("t", nullptr), Value(0LL));
}

TEST_F(MSRSqliteStoreTest, FilterSeesPositionsAndStopsTheQuery) {
  createT();
  for (int k = 1; k <= 5; ++k) ASSERT_TRUE(store_->upsertRecord({{"k", Value(k)}}, "t", nullptr));
  std::vector<std::size_t> positions;
  auto rows = store_->recordsForQuery("SELECT k FROM t ORDER BY k", {}, nullptr,
                                      [&](std::size_t position, const auto& record) {
                                        positions.push_back(position);
                                        return record.at("k").int64Value() < 3;
                                      });
  ASSERT_TRUE(rows);
  EXPECT_EQ(rows->size(), 2u);
  EXPECT_EQ(positions, (std::vector<std::size_t>{0, 1, 2}));
  rows = store_->recordsForQuery("SELECT k FROM t WHERE k > ?", {Value(99)}, nullptr);
  ASSERT_TRUE(rows);
  EXPECT_TRUE(rows->empty());
}

TEST_F(MSRSqliteStoreTest, CachedStatementsAreReusedAndRebound) {
  createT();
  for (int k = 1; k <= 3; ++k) ASSERT_TRUE(store_->upsertRecord({{"k", Value(k)}}, "t", nullptr));
  const std::string sql = "SELECT k FROM t WHERE k=?";
  sqlite3_stmt* first = store_->statementForQuery(sql, {Value(2)}, nullptr);
  ASSERT_TRUE(first);
  ASSERT_EQ(sqlite3_step(first), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int64(first, 0), 2);
  store_->cleanUpStatement(first, sql);
  sqlite3_stmt* second = store_->statementForQuery(sql, {Value(3)}, nullptr);
  EXPECT_EQ(second, first);
  ASSERT_EQ(sqlite3_step(second), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int64(second, 0), 3);
  store_->cleanUpStatement(second, sql);
}

TEST_F(MSRSqliteStoreTest, TransactionsCommitRollBackAndRethrow) {
  createT();
  ErrorPtr error;
  EXPECT_TRUE(store_->performTransactionWithError(&error, [&] {
    return store_->upsertRecord({{"k", Value(1)}}, "t", nullptr);
  }));
  EXPECT_FALSE(store_->performTransactionWithError(&error, [&] {
    store_->upsertRecord({{"k", Value(2)}}, "t", nullptr);
    return false;
  }));
  EXPECT_EQ(description(error), "Transaction failed");
  EXPECT_EQ(error->code(), 3);
  EXPECT_THROW(
      store_->performTransactionWithError(nullptr,
                                          [&]() -> bool {
                                            store_->upsertRecord({{"k", Value(3)}}, "t", nullptr);
                                            throw std::runtime_error("boom");
                                          }),
      std::runtime_error);
  EXPECT_EQ(store_->rowCountForTableWithName("t", nullptr), Value(1LL));
}

TEST_F(MSRSqliteStoreTest, ValidationAddsMissingAddOnColumnsAndJudgesUnknownOnes) {
  ASSERT_TRUE(store_->executeSQL("CREATE TABLE v (a INTEGER NOT NULL, x TEXT)", nullptr));
  ASSERT_TRUE(store_->upsertRecord({{"a", Value(4)}, {"x", Value("keep")}}, "v", nullptr));
  // x is unknown but accepts NULL; c is an add-on column that is missing.
  ErrorPtr error;
  EXPECT_TRUE(
      store_->ensureTableWithName("v", {{"a", "INTEGER NOT NULL"}}, {{"c", "BLOB"}}, &error));
  EXPECT_EQ(store_->columnsForTableWithName("v", nullptr),
            (std::vector<std::string>{"a", "x", "c"}));
  auto rows = store_->recordsForQuery("SELECT a, x FROM v", {}, nullptr);
  EXPECT_EQ(rows->front().at("x"), Value("keep"));

  ASSERT_TRUE(store_->executeSQL("CREATE TABLE w (a INTEGER, y TEXT NOT NULL)", nullptr));
  EXPECT_FALSE(store_->ensureTableWithName("w", {{"a", "INTEGER"}}, {}, &error));
  EXPECT_EQ(description(error), "Table contains unknown non-optional columns");
  EXPECT_FALSE(store_->ensureTableWithName("w", {{"a", "INTEGER"}, {"z", "TEXT"}}, {}, &error));
  EXPECT_EQ(description(error), "Table is missing required columns");
}

TEST_F(MSRSqliteStoreTest, ModifiedColumnRebuildsTableOnceAndKeepsRows) {
  const MSRSqliteStore::ColumnInfo elementary{
      {"id", "INTEGER NOT NULL"}, {"timestamp", "INTEGER NOT NULL"}, {"PRIMARY KEY", "(id)"}};
  const MSRSqliteStore::ColumnInfo addOn{{"extra", "BLOB"}};
  const MSRSqliteStore::ColumnTypes modify{{"timestamp", "REAL NOT NULL"}};
  ErrorPtr error;
  ASSERT_TRUE(store_->ensureTableWithName("raw", elementary, addOn, modify, &error))
      << description(error);
  auto info = store_->columnInfoForTableWithName("raw", nullptr);
  EXPECT_EQ(*info, (MSRSqliteStore::ColumnTypes{
                       {"id", "INTEGER"}, {"timestamp", "REAL"}, {"extra", "BLOB"}}));
  ASSERT_TRUE(store_->upsertRecord(
      {{"id", Value(1)}, {"timestamp", Value(1.5)}, {"extra", Value::data("e")}}, "raw", nullptr));
  ASSERT_TRUE(store_->ensureTableWithName("raw", elementary, addOn, modify, &error));
  EXPECT_EQ(store_->tableExists("raw_old", nullptr), std::optional<bool>(false));
  auto rows = store_->recordsForQuery("SELECT * FROM raw", {}, nullptr);
  ASSERT_EQ(rows->size(), 1u);
  EXPECT_DOUBLE_EQ(rows->front().at("timestamp").doubleValue(), 1.5);
}

TEST_F(MSRSqliteStoreTest, CloseAndDeleteRemovesOnlyTheFile) {
  const fs::path sibling = fs::path(path_).parent_path() / "other";
  { std::ofstream(sibling) << "x"; }
  EXPECT_TRUE(store_->closeAndDeleteDatabase());
  EXPECT_FALSE(fs::exists(path_));
  EXPECT_TRUE(fs::exists(sibling));
  EXPECT_EQ(store_->sqliteHandle(), nullptr);
  EXPECT_TRUE(store_->closeAndDeleteDatabase());  // nothing left to delete
}

}  // namespace
