// Rows handed over one at a time through one record per query: what each row shows (never a
// value or a key of the row before), where a filter, a throwing callback or a failed step ends
// the reading, and that the statement serves the next query afterwards. Real files in the
// test's sandbox home.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdint>
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

const auto kAll = [](std::size_t, const Record&) { return true; };

class MSRSqliteStoreRowStreamTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    path_ = (home() / "Library/Application Support/Veltro/Measurement/rows.sql").string();
    ErrorPtr error;
    store_ = MSRSqliteStore::initWithDatabasePath(path_, &error);
    ASSERT_TRUE(store_) << description(error);
    ASSERT_TRUE(store_->executeSQL("CREATE TABLE t (k INTEGER PRIMARY KEY, s TEXT, b BLOB)",
                                   nullptr));
  }
  void insertNumbered(int count) {
    ASSERT_TRUE(store_->performTransactionWithError(nullptr, [&] {
      for (int k = 1; k <= count; ++k) {
        if (!store_->upsertRecord({{"k", Value(k)}, {"s", Value("row " + std::to_string(k))}},
                                  "t", nullptr)) {
          return false;
        }
      }
      return true;
    }));
  }
  // Every row the block was handed, copied as it was at that moment.
  struct Streamed {
    bool ok = false;
    std::vector<Record> rows;
    std::vector<std::size_t> offered;  // positions the filter was asked about
  };
  Streamed stream(const std::string& query, const MSRSqliteStore::Parameters& parameters,
                  ErrorPtr* error, const MSRSqliteStore::Filter& filter = kAll) {
    Streamed out;
    out.ok = store_->enumerateRecordsForQuery(
        query, parameters, error,
        [&](std::size_t position, const Record& row) {
          out.offered.push_back(position);
          return filter(position, row);
        },
        [&](const Record& row) { out.rows.push_back(row); });
    return out;
  }
  std::string path_;
  std::shared_ptr<MSRSqliteStore> store_;
};

TEST_F(MSRSqliteStoreRowStreamTest, EachRowShowsOnlyItsOwnValuesAndKeys) {
  const platform::Bytes blob{1, 0, 0xff};
  // Text, blobs, NULLs and values that read as nothing (an empty blob, text that is not UTF-8)
  // follow one another in every order.
  ASSERT_TRUE(store_->executeSQL(
      "INSERT INTO t VALUES (1, 'one', x'0100ff'), (2, NULL, NULL), (3, 'three', x''), "
      "(4, CAST(x'ff' AS TEXT), x'0100ff'), (5, '', NULL), (6, 'six', x'0100ff'), "
      "(7, CAST(x'fe' AS TEXT), x''), (8, 'eight', x'0100ff')",
      nullptr));
  const Value data = Value::data(blob);
  const std::vector<Record> expected = {
      {{"k", Value(1)}, {"s", Value("one")}, {"b", data}},
      {{"k", Value(2)}, {"s", Value::null()}, {"b", Value::null()}},
      {{"k", Value(3)}, {"s", Value("three")}},
      {{"k", Value(4)}, {"b", data}},
      {{"k", Value(5)}, {"s", Value("")}, {"b", Value::null()}},
      {{"k", Value(6)}, {"s", Value("six")}, {"b", data}},
      {{"k", Value(7)}},
      {{"k", Value(8)}, {"s", Value("eight")}, {"b", data}},
  };
  struct Case {
    const char* query;
    std::vector<Record> expected;
  };
  // The same rows with a name met twice: the first value that is not nil wins, row by row.
  std::vector<Record> twice;
  for (const Record& row : expected) {
    Record r{{"k", row.at("k")}};
    if (row.count("b")) {
      r.emplace("v", row.at("b"));
    } else if (row.count("s")) {
      r.emplace("v", row.at("s"));
    }
    twice.push_back(r);
  }
  const Case cases[] = {
      {"SELECT * FROM t ORDER BY k", expected},
      {"SELECT k, b AS v, s AS v FROM t ORDER BY k", twice},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query);
    for (int pass = 0; pass < 2; ++pass) {  // compiled once, read twice
      ErrorPtr error;
      const auto streamed = stream(c.query, {}, &error);
      ASSERT_TRUE(streamed.ok) << description(error);
      EXPECT_FALSE(error);
      ASSERT_EQ(streamed.rows.size(), c.expected.size());
      for (std::size_t i = 0; i < c.expected.size(); ++i) {
        EXPECT_EQ(Value(streamed.rows[i]), Value(c.expected[i])) << "row " << i;
      }
      // Records kept whole read the same.
      const auto kept = store_->recordsForQuery(c.query, {}, nullptr);
      ASSERT_TRUE(kept);
      EXPECT_EQ(*kept, streamed.rows);
    }
  }
}

TEST_F(MSRSqliteStoreRowStreamTest, FilterTakesRowsUntilItFirstRefuses) {
  insertNumbered(5);
  const std::string query = "SELECT k FROM t WHERE k >= ? ORDER BY k";
  struct Case {
    std::int64_t from;
    std::size_t refuseAt;  // the first position the filter refuses
    std::size_t taken;
    std::size_t offered;
    bool allFilteredOutLogged;
  };
  const Case cases[] = {
      {1, 0, 0, 1, true},     // the first row refused: nothing taken, and that is logged
      {1, 1, 1, 2, false},
      {1, 3, 3, 4, false},    // stops midway
      {1, 99, 5, 5, false},   // never refuses
      {6, 0, 0, 0, false},    // no row at all: the filter is never asked
      {4, 1, 1, 2, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "from " << c.from << " refuse at " << c.refuseAt);
    MonitorRecorder logs;
    ErrorPtr error;
    const auto streamed =
        stream(query, {Value(c.from)}, &error,
               [&](std::size_t position, const Record&) { return position < c.refuseAt; });
    ASSERT_TRUE(streamed.ok) << description(error);
    EXPECT_FALSE(error);
    ASSERT_EQ(streamed.rows.size(), c.taken);
    ASSERT_EQ(streamed.offered.size(), c.offered);
    for (std::size_t i = 0; i < streamed.offered.size(); ++i) EXPECT_EQ(streamed.offered[i], i);
    for (std::size_t i = 0; i < c.taken; ++i) {
      EXPECT_EQ(streamed.rows[i].at("k"), Value(c.from + static_cast<std::int64_t>(i)));
    }
    EXPECT_EQ(logs.count(34005), c.allFilteredOutLogged ? 1 : 0);
  }
  // The statement a stopped read left behind reads from its start again.
  const auto again = store_->recordsForQuery(query, {Value(2)}, nullptr);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->size(), 4u);
}

TEST_F(MSRSqliteStoreRowStreamTest, ThrowingFilterOrBlockHandsTheStatementBack) {
  insertNumbered(4);
  const std::string query = "SELECT k, s FROM t WHERE k >= ? ORDER BY k";
  struct Case {
    const char* what;
    bool inFilter;  // else in the block
  };
  for (const Case c : {Case{"filter", true}, Case{"block", false}}) {
    SCOPED_TRACE(c.what);
    int handed = 0;
    // Thrown at the third row, inside a transaction that writes first: the write is rolled back
    // and the read does not outlive it.
    EXPECT_THROW(
        store_->performTransactionWithError(
            nullptr,
            [&]() -> bool {
              if (!store_->upsertRecord({{"k", Value(10)}, {"s", Value("x")}}, "t", nullptr)) {
                return false;
              }
              store_->enumerateRecordsForQuery(
                  query, {Value(1)}, nullptr,
                  [&](std::size_t position, const Record&) {
                    if (c.inFilter && position == 2) throw std::runtime_error("stop");
                    return true;
                  },
                  [&](const Record&) {
                    if (!c.inFilter && handed == 2) throw std::runtime_error("stop");
                    ++handed;
                  });
              return true;
            }),
        std::runtime_error);
    EXPECT_EQ(handed, 2);
    ErrorPtr error;
    const auto streamed = stream(query, {Value(3)}, &error);
    ASSERT_TRUE(streamed.ok) << description(error);
    ASSERT_EQ(streamed.rows.size(), 2u);
    EXPECT_EQ(streamed.rows[0].at("k"), Value(3));
    EXPECT_EQ(streamed.rows[1].at("s"), Value("row 4"));
  }
  EXPECT_EQ(store_->rowCountForTableWithName("t", nullptr), Value(4LL));
}

TEST_F(MSRSqliteStoreRowStreamTest, FailedStepEndsTheReadWithTheDatabaseError) {
  insertNumbered(6);
  const std::string query = "SELECT rowid, * FROM t WHERE k >= ? ORDER BY k";
  // Midway: the connection is interrupted while the third row is being looked at, so the step
  // after it fails. The rows handed over before are not the answer.
  {
    ErrorPtr error;
    const auto streamed = stream(query, {Value(1)}, &error, [&](std::size_t position,
                                                                const Record&) {
      if (position == 2) sqlite3_interrupt(store_->sqliteHandle());
      return true;
    });
    EXPECT_FALSE(streamed.ok);
    EXPECT_EQ(streamed.rows.size(), 3u);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), 3);
    EXPECT_NE(description(error).find("\"query records\" failed with sqlite code 9"),
              std::string::npos)
        << description(error);
    // The records kept whole fail the same way.
    error.reset();
    EXPECT_FALSE(store_->recordsForQuery(query, {Value(1)}, &error,
                                         [&](std::size_t position, const Record&) {
                                           if (position == 4) {
                                             sqlite3_interrupt(store_->sqliteHandle());
                                           }
                                           return true;
                                         }));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), 3);
  }
  // At the first step: another connection holds the file.
  {
    sqlite3_busy_timeout(store_->sqliteHandle(), 0);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    ErrorPtr error;
    const auto streamed = stream(query, {Value(1)}, &error);
    EXPECT_FALSE(streamed.ok);
    EXPECT_TRUE(streamed.offered.empty());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), 3);
    EXPECT_NE(description(error).find("sqlite code 5"), std::string::npos) << description(error);
    ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
  }
  // Nothing was lost and the statement serves the next read whole.
  ErrorPtr error;
  const auto streamed = stream(query, {Value(1)}, &error);
  ASSERT_TRUE(streamed.ok) << description(error);
  ASSERT_EQ(streamed.rows.size(), 6u);
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(streamed.rows[i].at("k"), Value(static_cast<std::int64_t>(i + 1)));
    EXPECT_EQ(streamed.rows[i].at("s"), Value("row " + std::to_string(i + 1)));
  }
}

TEST_F(MSRSqliteStoreRowStreamTest, BadArgumentsAreRefusedInOrder) {
  struct Case {
    const char* what;
    std::string query;
    bool filter;
    bool block;
    bool close;
    long code;
    const char* text;
  };
  const Case cases[] = {
      {"empty query", "", false, false, true, 1, "Received empty query for records for query"},
      {"no filter", "SELECT 1", false, false, true, 1,
       "Received empty filter for selecting records"},
      {"no block", "SELECT 1", true, false, true, 1, "Received empty block for taking records"},
      {"closed", "update t set s = 1", true, true, true, 2,
       "Query records failed. Database not open."},
      {"not a select", "UPDATE t SET s = 'x'", true, true, false, 1,
       "Received invalid select query"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.close) store_->closeDatabase();
    if (!c.close && !store_->sqliteHandle()) {
      ASSERT_TRUE(store_->openAndValidateDatabase(nullptr));
    }
    bool called = false;
    ErrorPtr error;
    EXPECT_FALSE(store_->enumerateRecordsForQuery(
        c.query, {}, &error,
        c.filter ? MSRSqliteStore::Filter(kAll) : MSRSqliteStore::Filter(),
        c.block ? MSRSqliteStore::RowBlock([&](const Record&) { called = true; })
                : MSRSqliteStore::RowBlock()));
    EXPECT_FALSE(called);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), c.code);
    EXPECT_EQ(description(error), c.text);
  }
  ASSERT_TRUE(store_->sqliteHandle());
  EXPECT_EQ(store_->rowCountForTableWithName("t", nullptr), Value(0LL));
}

// A filter or block that closes the store ends the read there: the statement it was reading is
// not touched after being finalized, the connection is let go, and the file is left intact.
TEST_F(MSRSqliteStoreRowStreamTest, ClosingTheStoreWhileReadingEndsTheRead) {
  struct Case {
    const char* what;
    const char* query;  // with a marker the statement is cached, without one it is not
    bool inFilter;      // else in the block
    bool thenThrows;
    std::size_t handedBefore;
  };
  const char* kCached = "SELECT k, s FROM t WHERE k >= ? ORDER BY k";
  const char* kUncached = "SELECT k, s FROM t WHERE k >= 1 ORDER BY k";
  const Case cases[] = {
      {"cached, filter", kCached, true, false, 1},
      {"cached, block", kCached, false, false, 2},
      {"uncached, filter", kUncached, true, false, 1},
      {"uncached, block", kUncached, false, false, 2},
      {"cached, filter, throws", kCached, true, true, 1},
      {"uncached, block, throws", kUncached, false, true, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ErrorPtr error;
    store_ = MSRSqliteStore::initWithDatabasePath(path_, &error);
    ASSERT_TRUE(store_) << description(error);
    if (store_->rowCountForTableWithName("t", nullptr) == Value(0LL)) insertNumbered(4);
    MonitorRecorder logs;
    const bool cached = std::string(c.query).find('?') != std::string::npos;
    std::size_t handed = 0;
    const auto close = [&] {
      store_->closeDatabase();
      if (c.thenThrows) throw std::runtime_error("stop");
    };
    const auto read = [&] {
      return store_->enumerateRecordsForQuery(
          c.query, cached ? MSRSqliteStore::Parameters{Value(1)} : MSRSqliteStore::Parameters{},
          &error,
          [&](std::size_t position, const Record&) {
            if (c.inFilter && position == 1) close();
            return true;
          },
          [&](const Record&) {
            ++handed;
            if (!c.inFilter && handed == 2) close();
          });
    };
    if (c.thenThrows) {
      EXPECT_THROW(read(), std::runtime_error);
    } else {
      EXPECT_FALSE(read());
      ASSERT_TRUE(error);
      EXPECT_EQ(error->code(), 2);
      EXPECT_EQ(description(error), "Query records failed. Database not open.");
    }
    EXPECT_EQ(handed, c.handedBefore);
    EXPECT_EQ(logs.count(34018), 0);  // the connection closed, none left open
    EXPECT_FALSE(store_->sqliteHandle());
  }
  store_ = MSRSqliteStore::initWithDatabasePath(path_, nullptr);
  ASSERT_TRUE(store_);
  EXPECT_EQ(store_->rowCountForTableWithName("t", nullptr), Value(4LL));
}

// A transaction block that closes the store fails the transaction: closing rolled its writes
// back, and nothing is asked of the closed connection afterwards.
TEST_F(MSRSqliteStoreRowStreamTest, ClosingTheStoreInsideATransactionFailsIt) {
  insertNumbered(2);
  for (const bool throws : {false, true}) {
    SCOPED_TRACE(throws ? "block throws" : "block returns");
    ErrorPtr error;
    store_ = MSRSqliteStore::initWithDatabasePath(path_, &error);
    ASSERT_TRUE(store_) << description(error);
    const auto transaction = [&] {
      return store_->performTransactionWithError(&error, [&]() -> bool {
        if (!store_->upsertRecord({{"k", Value(9)}, {"s", Value("x")}}, "t", nullptr)) {
          return false;
        }
        store_->closeDatabase();
        if (throws) throw std::runtime_error("stop");
        return true;
      });
    };
    if (throws) {
      EXPECT_THROW(transaction(), std::runtime_error);
    } else {
      EXPECT_FALSE(transaction());
      ASSERT_TRUE(error);
      EXPECT_EQ(error->code(), 3);
      EXPECT_EQ(description(error), "Transaction failed");
    }
  }
  store_ = MSRSqliteStore::initWithDatabasePath(path_, nullptr);
  ASSERT_TRUE(store_);
  EXPECT_EQ(store_->rowCountForTableWithName("t", nullptr), Value(2LL));
}

}  // namespace
