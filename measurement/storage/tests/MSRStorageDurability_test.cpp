// What the measurement database keeps when something goes wrong around it: another connection
// holding the file's lock, no file descriptors left, a transaction that cannot end or that SQLite
// rolled back by itself, an older table rebuilt, events of several fingerprints interleaved.
#include <fcntl.h>
#include <gtest/gtest.h>
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

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSREvent.h"
#include "measurement/foundation/MSRRawEventData.h"
#include "measurement/foundation/MSRUserAttribute.h"
#include "measurement/foundation/MSRUtilities.h"
#include "measurement/foundation/MSRValue.h"
#include "measurement/messages/MSRPBAccessors.h"
#include "measurement/messages/MSRPBMeasurementBundle.h"
#include "measurement/messages/MSRPBSchema.h"
#include "measurement/storage/MSRDatabase.h"
#include "measurement/storage/MSRFileLocations.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "platform/testing/PlatformTest.h"

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
  fill();
  MSRMeasurement::monitor();  // made before, as in a running engine
  // In a child, where no other thread can hand a descriptor back while the open runs: use up
  // every descriptor the process may have, then try.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
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
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: opened anyway, 2: failed without an error";
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

TEST_F(MSRStorageDurabilityTest, BundlingOneFingerprintLeavesInterleavedOnesAlone) {
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
  ASSERT_TRUE(database->deleteRawEventsWithMaxRowID(bundled->back()->rowID(), nullptr));
  EXPECT_TRUE(database->rawEventsWithMetadataFingerprint(111, nullptr, all)->empty());
  for (std::int64_t other : {222, 333}) {
    const auto left = database->rawEventsWithMetadataFingerprint(other, nullptr, all);
    ASSERT_TRUE(left);
    EXPECT_EQ(left->size(), 1u) << other;
  }
  // The next fingerprint to bundle is the oldest left, not lost.
  EXPECT_EQ(database->nextMetadataFingerprintToProcess(nullptr), Value(222LL));
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

TEST_F(MSRStorageDurabilityTest, TransactionSQLiteRolledBackStopsTheBlocksLaterWrites) {
  auto database = open();
  ASSERT_TRUE(database);
  auto store = database->sqliteStore();
  sqlite3* handle = store->sqliteHandle();
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
    EXPECT_FALSE(store->upsertRecord({{"fingerprint", Value("third")}},
                                     kMSRTablePurchaseTransactions, &laterError));
    return true;
  });
  EXPECT_FALSE(committed);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), 3);
  ASSERT_TRUE(laterError);
  EXPECT_EQ(laterError->code(), 3);
  EXPECT_EQ(store->rowCountForTableWithName(kMSRTablePurchaseTransactions, nullptr), Value(0LL));
  // Outside the block, writes go on as usual.
  EXPECT_EQ(database->insertIfNotDuplicatePurchaseFingerprint("fourth", nullptr), Value(true));
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
