// What the measurement database keeps when something goes wrong around it: another connection
// holding the file's lock, no file descriptors left, a transaction that cannot end or that SQLite
// rolled back by itself, an older table rebuilt, events of several fingerprints interleaved.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include "measurement/audiences/MSREventFilter.h"
#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSREvent.h"
#include "measurement/foundation/MSRRawEventData.h"
#include "measurement/foundation/MSRUserAttribute.h"
#include "measurement/foundation/MSRUtilities.h"
#include "measurement/foundation/MSRValue.h"
#include "measurement/foundation/tests/MSRTestSupport.h"
#include "measurement/messages/MSRPBAccessors.h"
#include "measurement/messages/MSRPBMeasurementBundle.h"
#include "measurement/messages/MSRPBSchema.h"
#include "measurement/storage/MSRDatabase.h"
#include "measurement/storage/MSRFileLocations.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "platform/testing/ChildProcess.h"
#include "platform/testing/PlatformTest.h"
#include "utilities/logger/VTULogger.h"

namespace fs = std::filesystem;
using platform::ErrorPtr;
using platform::Value;

namespace {

// A second, independent connection to the same file, as another process would hold it.
class OtherConnection {
 public:
  explicit OtherConnection(const std::string& path) {
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  }
  ~OtherConnection() { sqlite3_close(db_); }
  int exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }

 private:
  sqlite3* db_ = nullptr;
};

class MSRStorageDurabilityTest : public platform::testing::PlatformTest {
 protected:
  std::string path() const { return MSRApplicationSupportPath(kMSRDatabaseName); }
  std::shared_ptr<MSRDatabase> open(ErrorPtr* error = nullptr) {
    return MSRDatabase::initWithDatabaseName(kMSRDatabaseName, nullptr, error);
  }
  MSREventPtr event(const std::string& name, double timestamp) {
    const MSRParameters parameters{{"n", Value(1)}};
    return MSREvent::initWithOrigin("app", false, name, timestamp, 0, &parameters);
  }
  // A database holding one purchase, one raw event, its metadata and one user attribute.
  void fill() {
    auto database = open();
    ASSERT_TRUE(database);
    ASSERT_EQ(database->insertIfNotDuplicatePurchaseFingerprint("fp", nullptr), Value(true));
    auto metadata = MSRPBMeasurementBundle::message();
    MSRPBSetStringField(metadata, bundleSlot(14), Value("app-id"));
    fingerprint_ = msr_64LSBMD5(*metadata->protoBuffer());
    ASSERT_TRUE(database->insertIfNotExistsRawEventMetadata(metadata, nullptr));
    ASSERT_TRUE(database->insertRawEvent(event("e", 10), fingerprint_, false, nullptr));
    ASSERT_TRUE(database->updateUserAttribute(
        MSRUserAttribute::initWithOrigin("app", "u", MSRValue::initWithInt64(3), 1), nullptr));
  }
  void expectFilled(MSRDatabase& database) {
    EXPECT_EQ(database.insertIfNotDuplicatePurchaseFingerprint("fp", nullptr), Value(false));
    const auto events = database.rawEventsWithMetadataFingerprint(
        fingerprint_, nullptr, [](std::size_t, const MSRDatabase::Record&) { return true; });
    ASSERT_TRUE(events);
    EXPECT_EQ(events->size(), 1u);
    EXPECT_TRUE(database.userAttributeWithName("u", nullptr));
  }
  static std::int32_t bundleSlot(std::uint32_t tag) {
    const MSRPBMessageType* type = MSRPBMessageTypeNamed("MeasurementBundle");
    for (std::uint32_t slot = 0; slot < type->fieldCount; ++slot) {
      if (type->fields[slot].tag == tag) return static_cast<std::int32_t>(slot);
    }
    return -1;
  }
  std::int64_t fingerprint_ = 0;
};

TEST_F(MSRStorageDurabilityTest, LockHeldThroughOpeningFailsTheOpenAndKeepsTheData) {
  fill();
  {
    OtherConnection other(path());
    ASSERT_EQ(other.exec("BEGIN EXCLUSIVE"), SQLITE_OK);
    ErrorPtr error;
    EXPECT_FALSE(open(&error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), 3);
    EXPECT_TRUE(fs::exists(path()));
    ASSERT_EQ(other.exec("COMMIT"), SQLITE_OK);
  }
  ErrorPtr error;
  auto database = open(&error);
  ASSERT_TRUE(database);
  EXPECT_FALSE(error);
  expectFilled(*database);
}

// Another process reads the file, or has begun to write it, for longer than the open waits while
// the open rebuilds raw_events (a file of the older layout): the rebuild cannot take the file, so
// the open fails, and the file and every row stay for the next open, which rebuilds.
TEST_F(MSRStorageDurabilityTest, OpenThatRebuildsUnderAnotherProcesssLockKeepsFileAndRows) {
  struct Holder {
    const char* role;
    const char* sql;
  };
  const Holder holders[] = {
      {"reader", "BEGIN; SELECT count(*) FROM raw_events;"},
      {"writer", "BEGIN IMMEDIATE;"},
  };
  const std::string& role = platform::testing::testRole();
  if (!role.empty()) {
    for (const auto& holder : holders) {
      if (role != holder.role) continue;
      OtherConnection other(path());
      if (other.exec(holder.sql) != SQLITE_OK) _exit(2);
      platform::testing::announce(std::string("holding-") + holder.role);
      for (;;) pause();  // until the parent has seen the open fail and ends this process
    }
    _exit(3);
  }
  for (const auto& holder : holders) {
    SCOPED_TRACE(holder.role);
    fs::remove(path());
    fs::remove(path() + "-journal");
    fill();
    {
      auto database = open();
      ASSERT_TRUE(database);
      auto store = database->sqliteStore();
      ASSERT_TRUE(store->executeSQL("ALTER TABLE raw_events RENAME TO raw_events_now", nullptr));
      ASSERT_TRUE(store->executeSQL(
          "CREATE TABLE raw_events (name TEXT NOT NULL, timestamp INTEGER NOT NULL, "
          "metadata_fingerprint INTEGER NOT NULL, data BLOB NOT NULL, is_realtime INTEGER)",
          nullptr));
      ASSERT_TRUE(
          store->executeSQL("INSERT INTO raw_events SELECT * FROM raw_events_now", nullptr));
      ASSERT_TRUE(store->executeSQL("DROP TABLE raw_events_now", nullptr));
    }
    auto child = platform::testing::ChildProcess::start(holder.role);
    ASSERT_TRUE(child);
    ASSERT_TRUE(
        platform::testing::awaitAnnouncement(std::string("holding-") + holder.role, *child));
    ErrorPtr error;
    EXPECT_FALSE(open(&error));
    EXPECT_TRUE(fs::exists(path()));
    child->kill(SIGKILL);
    child->wait();
    auto database = open(&error);
    ASSERT_TRUE(database) << (error ? error->localizedDescription() : "");
    EXPECT_EQ(
        database->sqliteStore()->columnInfoForTableWithName("raw_events", nullptr)->at("timestamp"),
        "REAL");
    expectFilled(*database);
  }
}

TEST_F(MSRStorageDurabilityTest, LockReleasedWhileOpeningIsWaitedFor) {
  fill();
  OtherConnection other(path());
  ASSERT_EQ(other.exec("BEGIN EXCLUSIVE"), SQLITE_OK);
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    other.exec("COMMIT");
  });
  ErrorPtr error;
  auto database = open(&error);
  release.join();
  ASSERT_TRUE(database);
  EXPECT_FALSE(error);
  expectFilled(*database);
}

TEST_F(MSRStorageDurabilityTest, ReadsUnderAnotherConnectionsLockReportTheFailure) {
  fill();
  auto database = open();
  ASSERT_TRUE(database);
  // Fail at once instead of waiting out the store's busy timeout for every read.
  sqlite3_busy_timeout(database->sqliteStore()->sqliteHandle(), 0);
  const auto all = [](std::size_t, const MSRDatabase::Record&) { return true; };
  struct Read {
    const char* name;
    std::function<bool(ErrorPtr*)> failed;  // true when the read gave nothing
  };
  const Read reads[] = {
      {"raw events",
       [&](ErrorPtr* e) {
         return !database->rawEventsWithMetadataFingerprint(fingerprint_, e, all);
       }},
      {"metadata",
       [&](ErrorPtr* e) {
         return !database->queryRawEventsMetadataWithFingerprint(fingerprint_, e);
       }},
      {"raw events empty", [&](ErrorPtr* e) { return database->isRawEventsTableEmpty(e).isNil(); }},
      {"next fingerprint",
       [&](ErrorPtr* e) { return database->nextMetadataFingerprintToProcess(e).isNil(); }},
      {"attribute", [&](ErrorPtr* e) { return !database->userAttributeWithName("u", e); }},
      {"all attributes",
       [&](ErrorPtr* e) { return !database->userAttributesIncludingInternal(true, e); }},
      {"aggregates", [&](ErrorPtr* e) { return !database->allEventAggregates(e); }},
      {"app metadata", [&](ErrorPtr* e) { return !database->queryAppMetadata(e); }},
      {"bundles", [&](ErrorPtr* e) { return !database->queryBundlesWithCountLimit(10, 1000, e); }},
      {"purchase",
       [&](ErrorPtr* e) {
         return database->insertIfNotDuplicatePurchaseFingerprint("fp", e).isNil();
       }},
  };
  {
    OtherConnection other(path());
    ASSERT_EQ(other.exec("BEGIN EXCLUSIVE"), SQLITE_OK);
    for (const auto& read : reads) {
      ErrorPtr error;
      EXPECT_TRUE(read.failed(&error)) << read.name;
      ASSERT_TRUE(error) << read.name;
      EXPECT_EQ(error->code(), 3) << read.name;
    }
    ASSERT_EQ(other.exec("COMMIT"), SQLITE_OK);
  }
  for (const auto& read : reads) {
    ErrorPtr error;
    EXPECT_FALSE(read.failed(&error) && error) << read.name;
  }
  expectFilled(*database);
}

TEST_F(MSRStorageDurabilityTest, NoDescriptorsLeftFailsTheOpenAndKeepsTheFile) {
  // In a child of its own: use up every descriptor the process may have, then try. The engine's
  // monitor is made first, as in a running engine, and its queue and the logger's are left idle,
  // so that no other thread holds a descriptor it could hand back while the open runs.
  if (platform::testing::testRole() == "no-descriptors") {
    // The sanitizer checks an object's type with a pipe the first time it meets the type: the
    // database is opened once, and an error made, while descriptors are still free.
    ASSERT_TRUE(open());
    (void)platform::Error::make(platform::kFileErrorDomain, 0);
    MSRMeasurement::monitor()->flush();
    vtu::testing::flushLoggingQueue();
    rlimit low{};
    getrlimit(RLIMIT_NOFILE, &low);
    low.rlim_cur = 64;
    if (setrlimit(RLIMIT_NOFILE, &low) != 0) _exit(3);
    while (::open("/dev/null", O_RDONLY) >= 0) {
    }
    ErrorPtr error;
    const bool opened = static_cast<bool>(open(&error));
    _exit(opened ? 1 : error ? 0 : 2);
  }
  fill();
  auto child = platform::testing::ChildProcess::start("no-descriptors");
  ASSERT_TRUE(child);
  EXPECT_EQ(child->wait(), 0) << "1: opened anyway, 2: failed without an error";
  EXPECT_TRUE(fs::exists(path()));
  auto database = open();
  ASSERT_TRUE(database);
  expectFilled(*database);
}

TEST_F(MSRStorageDurabilityTest, DamagedFileIsReplacedWithItsJournalAndLeavesNoStaleError) {
  fs::create_directories(fs::path(path()).parent_path());
  for (const char* suffix : {"", "-journal", "-wal"}) {
    std::ofstream(path() + suffix, std::ios::binary) << std::string(8192, '\x5a');
  }
  ErrorPtr error;
  auto database = open(&error);
  ASSERT_TRUE(database);
  EXPECT_FALSE(error);
  EXPECT_FALSE(fs::exists(path() + "-journal"));
  EXPECT_FALSE(fs::exists(path() + "-wal"));
  EXPECT_EQ(database->sqliteStore()->rowCountForTableWithName(kMSRTableAppMetadata, nullptr),
            Value(1LL));
}

// The events bundled are deleted by the fingerprint they were read for, also when the row at
// the highest row ID read has gone in the meantime (aged out, or over the limit); events of
// other fingerprints interleaved with them were not bundled, and stay.
TEST_F(MSRStorageDurabilityTest, BundlingOneFingerprintLeavesInterleavedOnesAlone) {
  for (const bool lastReadGone : {false, true}) {
    SCOPED_TRACE(lastReadGone ? "the last row read has gone" : "every row read is there");
    fs::remove(path());
    auto database = open();
    ASSERT_TRUE(database);
    const std::int64_t fingerprints[] = {111, 222, 111, 333, 111};
    for (std::size_t i = 0; i < std::size(fingerprints); ++i) {
      ASSERT_TRUE(database->insertRawEvent(event("e" + std::to_string(i), 10 + i), fingerprints[i],
                                           false, nullptr));
    }
    const auto all = [](std::size_t, const MSRDatabase::Record&) { return true; };
    const auto bundled = database->rawEventsWithMetadataFingerprint(111, nullptr, all);
    ASSERT_TRUE(bundled);
    ASSERT_EQ(bundled->size(), 3u);
    const std::int64_t maxRowID = bundled->back()->rowID();
    if (lastReadGone) {
      ASSERT_TRUE(database->sqliteStore()->deleteRecordFromTableWithName(
          kMSRTableRawEvents, "rowid", Value(static_cast<long long>(maxRowID)), nullptr));
    }
    ASSERT_TRUE(database->deleteRawEventsWithMaxRowID(maxRowID, 111, nullptr));
    EXPECT_TRUE(database->rawEventsWithMetadataFingerprint(111, nullptr, all)->empty());
    for (std::int64_t other : {222, 333}) {
      const auto left = database->rawEventsWithMetadataFingerprint(other, nullptr, all);
      ASSERT_TRUE(left);
      EXPECT_EQ(left->size(), 1u) << other;
    }
    // The next fingerprint to bundle is the oldest left, not lost.
    EXPECT_EQ(database->nextMetadataFingerprintToProcess(nullptr), Value(222LL));
  }
}

// Rows that can never be read (an empty items list stored before it was left out, bytes that
// are no event) must not hold up their fingerprint: when a read of it finds nothing but such
// rows, they are deleted with a log line, and the next fingerprint comes up. Among rows that read
// they stay until the bundled rows are deleted, which takes them too.
TEST_F(MSRStorageDurabilityTest, UnreadableRawEventsDoNotHoldUpTheirFingerprint) {
  // An Event message whose only parameters are the origin and a name without a value, as an
  // empty list was stored.
  const platform::Bytes emptyItems = {0x0A, 0x09, 0x0A, 0x02, '_',  'o', 0x12, 0x03, 'a', 'p',
                                      'p',  0x0A, 0x07, 0x0A, 0x05, 'i', 't',  'e',  'm', 's'};
  const platform::Bytes garbage = {0xFF, 0xFF, 0xFF};
  for (const bool withReadableRow : {false, true}) {
    SCOPED_TRACE(withReadableRow ? "a readable row among them" : "only unreadable rows");
    fs::remove(path());
    auto database = open();
    ASSERT_TRUE(database);
    auto store = database->sqliteStore();
    for (const auto* data : {&emptyItems, &garbage}) {
      ASSERT_TRUE(store->upsertRecord({{"name", Value("purchase")},
                                       {"timestamp", Value(10.0)},
                                       {"metadata_fingerprint", Value(7)},
                                       {"data", Value::data(*data)},
                                       {"is_realtime", Value(0)}},
                                      kMSRTableRawEvents, nullptr));
    }
    if (withReadableRow) {
      ASSERT_TRUE(database->insertRawEvent(event("e", 11), 7, false, nullptr));
    }
    ASSERT_TRUE(database->insertRawEvent(event("later", 12), 8, false, nullptr));
    msr_test::MonitorRecorder logs;
    const auto all = [](std::size_t, const MSRDatabase::Record&) { return true; };
    ErrorPtr error;
    const auto read = database->rawEventsWithMetadataFingerprint(7, &error, all);
    if (withReadableRow) {
      ASSERT_TRUE(read);
      ASSERT_EQ(read->size(), 1u);
      EXPECT_EQ(read->front()->rawEvent()->name(), "e");
      EXPECT_EQ(logs.count(12061), 0);
      ASSERT_TRUE(database->deleteRawEventsWithMaxRowID(read->back()->rowID(), 7, nullptr));
    } else {
      EXPECT_FALSE(read);
      ASSERT_TRUE(error);
      EXPECT_EQ(logs.lines(),
                std::vector<std::string>{"12061 2 Deleted raw events that cannot be read | 2"});
    }
    EXPECT_EQ(database->sqliteStore()->rowCountForTableWithName(
                  kMSRTableRawEvents, "metadata_fingerprint", Value(7), nullptr),
              Value(0LL));
    EXPECT_EQ(database->nextMetadataFingerprintToProcess(nullptr), Value(8LL));
  }
}

TEST_F(MSRStorageDurabilityTest, LifetimeValuesMatchTheirPrefixLiterally) {
  auto database = open();
  ASSERT_TRUE(database);
  const char* names[] = {"_ltv_USD", "sltv_score", "_LTV_EUR", "xltvy", "_ltv_"};
  for (const char* name : names) {
    ASSERT_TRUE(database->updateUserAttribute(
        MSRUserAttribute::initWithOrigin("app", name, MSRValue::initWithInt64(1), 1), nullptr))
        << name;
  }
  const auto values = database->allLifetimeValueUserAttributes(nullptr);
  ASSERT_TRUE(values);
  std::vector<std::string> found;
  for (const auto& value : *values) found.push_back(value->name());
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{"_ltv_", "_ltv_USD"}));
}

TEST_F(MSRStorageDurabilityTest, FailedEndRollsBackAndLaterWritesAreKept) {
  auto database = open();
  ASSERT_TRUE(database);
  auto store = database->sqliteStore();
  // A deferred foreign key is checked only at END, which then fails and leaves the transaction
  // open unless the store closes it.
  ASSERT_TRUE(store->executeSQL("PRAGMA foreign_keys = ON", nullptr));
  ASSERT_TRUE(store->executeSQL("CREATE TABLE parent (id INTEGER PRIMARY KEY)", nullptr));
  ASSERT_TRUE(store->executeSQL(
      "CREATE TABLE child (id INTEGER REFERENCES parent(id) DEFERRABLE INITIALLY DEFERRED)",
      nullptr));
  ErrorPtr error;
  EXPECT_FALSE(store->performTransactionWithError(&error, [&] {
    return store->upsertRecord({{"id", Value(5)}}, "child", nullptr);
  }));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), 3);
  EXPECT_NE(error->localizedDescription().find("Failed to end transaction"), std::string::npos);
  EXPECT_TRUE(sqlite3_get_autocommit(store->sqliteHandle()));
  // The store is usable again: a transaction begins, and a plain write commits.
  EXPECT_TRUE(store->performTransactionWithError(nullptr, [&] {
    return store->upsertRecord({{"id", Value(1)}}, "parent", nullptr);
  }));
  ASSERT_EQ(database->insertIfNotDuplicatePurchaseFingerprint("after", nullptr), Value(true));
  database.reset();
  store.reset();
  database = open();
  ASSERT_TRUE(database);
  EXPECT_EQ(database->insertIfNotDuplicatePurchaseFingerprint("after", nullptr), Value(false));
  EXPECT_EQ(database->sqliteStore()->rowCountForTableWithName("child", nullptr), Value(0LL));
  EXPECT_EQ(database->sqliteStore()->rowCountForTableWithName("parent", nullptr), Value(1LL));
}

// After SQLite rolled a transaction back by itself, what the block does next fails, a
// transaction begun inside it included, and so does every write after that: nothing of the block
// is stored, and the transaction reports the failure.
TEST_F(MSRStorageDurabilityTest, TransactionSQLiteRolledBackStopsTheBlocksLaterWrites) {
  struct Next {
    const char* what;
    std::function<bool(MSRDatabase&, MSRSqliteStore&, ErrorPtr*)> run;
  };
  const Next nexts[] = {
      {"a plain write",
       [](MSRDatabase&, MSRSqliteStore& store, ErrorPtr* e) {
         return store.upsertRecord({{"fingerprint", Value("third")}}, kMSRTablePurchaseTransactions,
                                   e);
       }},
      {"a transaction of its own",
       [](MSRDatabase&, MSRSqliteStore& store, ErrorPtr* e) {
         return store.performTransactionWithError(e, [&] {
           return store.upsertRecord({{"fingerprint", Value("third")}},
                                     kMSRTablePurchaseTransactions, nullptr);
         });
       }},
      {"an operation that runs in a transaction",
       [](MSRDatabase& database, MSRSqliteStore&, ErrorPtr* e) {
         return database.deleteEventFilters(
             {std::make_shared<MSREventFilter>(1, 1, "ev", platform::Bytes{1}, false, false,
                                               false)},
             e);
       }},
  };
  for (const auto& next : nexts) {
    SCOPED_TRACE(next.what);
    fs::remove(path());
    auto database = open();
    ASSERT_TRUE(database);
    auto store = database->sqliteStore();
    sqlite3* handle = store->sqliteHandle();
    ErrorPtr nextError;
    ErrorPtr laterError;
    ErrorPtr error;
    const bool committed = store->performTransactionWithError(&error, [&] {
      EXPECT_TRUE(database->insertIfNotDuplicatePurchaseFingerprint("first", nullptr).isNumber());
      // An interrupted write inside a transaction makes SQLite roll back all of it.
      sqlite3_progress_handler(
          handle, 1, [](void*) { return 1; }, nullptr);
      EXPECT_FALSE(store->upsertRecord({{"fingerprint", Value("second")}},
                                       kMSRTablePurchaseTransactions, nullptr));
      sqlite3_progress_handler(handle, 0, nullptr, nullptr);
      EXPECT_FALSE(next.run(*database, *store, &nextError));
      EXPECT_FALSE(store->upsertRecord({{"fingerprint", Value("fourth")}},
                                       kMSRTablePurchaseTransactions, &laterError));
      return true;
    });
    EXPECT_FALSE(committed);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), 3);
    ASSERT_TRUE(nextError);
    EXPECT_EQ(nextError->code(), 3);
    ASSERT_TRUE(laterError);
    EXPECT_EQ(laterError->code(), 3);
    EXPECT_EQ(store->rowCountForTableWithName(kMSRTablePurchaseTransactions, nullptr), Value(0LL));
    // Outside the block, writes go on as usual.
    EXPECT_EQ(database->insertIfNotDuplicatePurchaseFingerprint("fifth", nullptr), Value(true));
  }
}

// A transaction begun inside a running one joins it: what its block wrote is kept or undone by
// its own result, and the outer block's result decides about the whole.
TEST_F(MSRStorageDurabilityTest, TransactionsNestByDepth) {
  struct Case {
    const char* what;
    bool innerSucceeds;
    bool outerSucceeds;
    std::vector<std::string> kept;
  };
  const Case cases[] = {
      {"both succeed", true, true, {"after", "before", "inner"}},
      {"inner fails", false, true, {"after", "before"}},
      {"outer fails", true, false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(path());
    auto database = open();
    ASSERT_TRUE(database);
    auto store = database->sqliteStore();
    const auto write = [&](const char* fingerprint) {
      return store->upsertRecord({{"fingerprint", Value(fingerprint)}},
                                 kMSRTablePurchaseTransactions, nullptr);
    };
    ErrorPtr innerError;
    const bool outer = store->performTransactionWithError(nullptr, [&] {
      EXPECT_TRUE(write("before"));
      const bool inner = store->performTransactionWithError(
          &innerError, [&] { return write("inner") && c.innerSucceeds; });
      EXPECT_EQ(inner, c.innerSucceeds);
      EXPECT_EQ(static_cast<bool>(innerError), !c.innerSucceeds);
      EXPECT_TRUE(write("after"));
      return c.outerSucceeds;
    });
    EXPECT_EQ(outer, c.outerSucceeds);
    const auto rows = store->recordsForQuery(
        "SELECT fingerprint FROM purchase_transactions ORDER BY fingerprint", {}, nullptr);
    ASSERT_TRUE(rows);
    std::vector<std::string> kept;
    for (const auto& row : *rows) kept.push_back(*row.at("fingerprint").string());
    EXPECT_EQ(kept, c.kept);
  }
}

// A database reset from inside a read's filter or a transaction's block replaces the store that
// is running it: that store lives until the operation has ended, which then fails, and the
// database goes on with the new, empty file.
TEST_F(MSRStorageDurabilityTest, ResetInsideAnOperationEndsItAndLeavesAnEmptyDatabase) {
  struct Case {
    const char* what;
    std::function<bool(MSRDatabase&)> run;  // true when the operation succeeded
  };
  const Case cases[] = {
      {"read filter",
       [this](MSRDatabase& database) {
         return database
             .rawEventsWithMetadataFingerprint(fingerprint_, nullptr,
                                               [&](std::size_t, const MSRDatabase::Record&) {
                                                 EXPECT_TRUE(database.reset(nullptr));
                                                 return true;
                                               })
             .has_value();
       }},
      {"transaction block",
       [](MSRDatabase& database) {
         return database.performTransaction([&] {
           EXPECT_EQ(database.insertIfNotDuplicatePurchaseFingerprint("inside", nullptr),
                     Value(true));
           EXPECT_TRUE(database.reset(nullptr));
           return true;
         });
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(path());
    fill();
    auto database = open();
    ASSERT_TRUE(database);
    EXPECT_FALSE(c.run(*database));
    EXPECT_EQ(database->isRawEventsTableEmpty(nullptr), Value(1LL));
    EXPECT_EQ(database->insertIfNotDuplicatePurchaseFingerprint("fp", nullptr), Value(true));
    EXPECT_EQ(database->insertIfNotDuplicatePurchaseFingerprint("inside", nullptr), Value(true));
  }
}

TEST_F(MSRStorageDurabilityTest, RebuiltTableKeepsAddOnValuesByColumnName) {
  const std::string file = (home() / "rebuild.sql").string();
  {
    auto store = MSRSqliteStore::initWithDatabasePath(file, nullptr);
    ASSERT_TRUE(store);
    // Add-on columns added over the years in their own order, not the alphabet's.
    ASSERT_TRUE(
        store->executeSQL("CREATE TABLE t (k TEXT NOT NULL, ts INTEGER NOT NULL)", nullptr));
    ASSERT_TRUE(store->executeSQL("ALTER TABLE t ADD COLUMN zeta TEXT", nullptr));
    ASSERT_TRUE(store->executeSQL("ALTER TABLE t ADD COLUMN alpha TEXT", nullptr));
    ASSERT_TRUE(store->upsertRecord(
        {{"k", Value("row")}, {"ts", Value(5)}, {"zeta", Value("z")}, {"alpha", Value("a")}}, "t",
        nullptr));
  }
  auto store = MSRSqliteStore::initWithDatabasePath(file, nullptr);
  ASSERT_TRUE(store);
  ErrorPtr error;
  ASSERT_TRUE(store->ensureTableWithName("t", {{"k", "TEXT NOT NULL"}, {"ts", "INTEGER NOT NULL"}},
                                         {{"zeta", "TEXT"}, {"alpha", "TEXT"}},
                                         {{"ts", "REAL NOT NULL"}}, &error))
      << (error ? error->localizedDescription() : "");
  EXPECT_EQ(store->columnInfoForTableWithName("t", nullptr)->at("ts"), "REAL");
  const auto rows = store->recordsForQuery("SELECT * FROM t", {}, nullptr);
  ASSERT_TRUE(rows);
  ASSERT_EQ(rows->size(), 1u);
  const Value row(rows->front());
  EXPECT_EQ(row["k"], Value("row"));
  EXPECT_EQ(row["ts"], Value(5.0));
  EXPECT_EQ(row["zeta"], Value("z"));
  EXPECT_EQ(row["alpha"], Value("a"));
}

}  // namespace
