// The measurement database's raw-event path against plain sqlite3 prepared statements running
// the same SQL in the same transactions, in one run (counter "ratio" = database rate / plain
// rate; the goal is at least 0.8):
// - BM_RawEventCycle: store 100,000 events of one fingerprint (a thousand per transaction), then
//   read them back a thousand at a time by fingerprint and delete each read batch by its highest
//   row ID and its fingerprint, one transaction per batch, as the engine bundles them; in several
//   rounds, the counters being medians over them;
// - BM_InsertOneTransactionEach: single inserts, each committed on its own;
// - BM_InsertCostWithRowsStored/N: the cost of one insert (own transaction) with N rows already
//   stored, which must stay flat as N grows (counter "us_per_insert");
// - BM_UserDefaultsBurst: 1,000 changes to one user-defaults domain in a burst, then its delayed
//   write: counter "file_writes" is how many complete writes of the domain's file a burst cost
//   (the goal is 1), "us_per_change" what one change costs the caller.
// Everything lives in a fresh sandbox home under the temporary folder.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "measurement/foundation/MSREvent.h"
#include "measurement/foundation/MSRRawEventData.h"
#include "measurement/messages/MSRPBAccessors.h"
#include "measurement/messages/MSRPBEvent.h"
#include "measurement/messages/MSRPBSchema.h"
#include "measurement/storage/MSRDatabase.h"
#include "measurement/storage/MSRFileLocations.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "platform/base/Files.h"
#include "platform/base/UserDefaults.h"
#include "platform/testing/RenameCounter.h"

namespace {

namespace fs = std::filesystem;
using platform::Value;
using Clock = std::chrono::steady_clock;

// The sanitized test build runs every bench once only to see it work: there the sizes shrink.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kScale = 20;
constexpr int kRounds = 1;
#else
constexpr int kScale = 1;
constexpr int kRounds = 7;
#endif

constexpr std::int64_t kFingerprint = 4242;
constexpr int kBatch = 1000;

// The statements MSRDatabase runs for these operations, word for word.
constexpr const char* kInsertSQL =
    "INSERT OR REPLACE INTO raw_events (data, is_realtime, metadata_fingerprint, name, timestamp) "
    "VALUES (?, ?, ?, ?, ?);";
constexpr const char* kReadSQL =
    "SELECT rowid, * FROM raw_events WHERE metadata_fingerprint = ? ORDER BY rowid ASC LIMIT ?";
constexpr const char* kDeleteSQL =
    "DELETE FROM raw_events WHERE rowid <= ? AND metadata_fingerprint = ?";

double seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The process's CPU time: on a loaded machine less noisy than wall time, and the work of both
// sides runs on this one thread.
double cpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// A fresh sandbox home for each benchmark; the database file is its engine folder's.
void freshHome() {
  static int run = 0;
  static const fs::path root = [] {
    std::string pattern = (fs::temp_directory_path() / "tvs-storage-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    return fs::path(pattern);
  }();
  const fs::path home = root / std::to_string(run++);
  fs::create_directories(home);
  ::setenv("TVS_HOME", home.c_str(), 1);
}

MSREventPtr sampleEvent() {
  const MSRParameters parameters{
      {"sound", Value("thunder")}, {"volume", Value(0.75)}, {"index", Value(12)}};
  auto event = MSREvent::initWithOrigin("app", false, "play_sound", 1765100000.25, 0, &parameters);
  if (!event) std::abort();
  return event;
}

// The event's stored blob: its message without the name, as the database writes it.
platform::Bytes storedBlob(const MSREvent& event) {
  const auto proto = event.protoEvent();
  const MSRPBMessageType* type = MSRPBMessageTypeNamed("Event");
  for (std::uint32_t slot = 0; slot < type->fieldCount; ++slot) {
    if (type->fields[slot].tag == 2) MSRPBClearField(proto, static_cast<std::int32_t>(slot));
  }
  return *proto->protoBuffer();
}

std::shared_ptr<MSRDatabase> openDatabase() {
  auto database = MSRDatabase::initWithDatabaseName(kMSRDatabaseName, nullptr, nullptr);
  if (!database) std::abort();
  return database;
}

// The plain side: its own file with the same raw_events table as the database creates.
class Plain {
 public:
  Plain() {
    const std::string path = MSRApplicationSupportPath("plain.sql");
    fs::create_directories(fs::path(path).parent_path());
    if (sqlite3_open_v2(path.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
      std::abort();
    }
    exec(
        "CREATE TABLE IF NOT EXISTS raw_events ( name TEXT NOT NULL, timestamp REAL NOT NULL, "
        "metadata_fingerprint INTEGER NOT NULL, data BLOB NOT NULL, is_realtime INTEGER);");
    insert_ = prepare(kInsertSQL);
    read_ = prepare(kReadSQL);
    delete_ = prepare(kDeleteSQL);
  }
  ~Plain() {
    sqlite3_finalize(insert_);
    sqlite3_finalize(read_);
    sqlite3_finalize(delete_);
    sqlite3_close(db_);
  }
  void exec(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
  }
  void insert(const platform::Bytes& blob, const std::string& name, double timestamp) {
    sqlite3_bind_blob64(insert_, 1, blob.data(), blob.size(), SQLITE_STATIC);
    sqlite3_bind_int64(insert_, 2, 0);
    sqlite3_bind_int64(insert_, 3, kFingerprint);
    sqlite3_bind_text64(insert_, 4, name.data(), name.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    sqlite3_bind_double(insert_, 5, timestamp);
    if (sqlite3_step(insert_) != SQLITE_DONE) std::abort();
    sqlite3_reset(insert_);
    sqlite3_clear_bindings(insert_);
  }
  // Reads one batch (every column of every row, each as its stored type, as the database does)
  // and deletes it; the number of rows read.
  int readAndDeleteBatch() {
    sqlite3_bind_int64(read_, 1, kFingerprint);
    sqlite3_bind_int64(read_, 2, kBatch);
    int rows = 0;
    std::int64_t maxRowID = 0;
    std::size_t bytes = 0;
    double numbers = 0;
    while (sqlite3_step(read_) == SQLITE_ROW) {
      ++rows;
      maxRowID = sqlite3_column_int64(read_, 0);
      for (int column = 1; column < sqlite3_column_count(read_); ++column) {
        // Asking a number column for its bytes would first turn the number into text.
        switch (sqlite3_column_type(read_, column)) {
          case SQLITE_INTEGER:
            numbers += static_cast<double>(sqlite3_column_int64(read_, column));
            break;
          case SQLITE_FLOAT:
            numbers += sqlite3_column_double(read_, column);
            break;
          case SQLITE_TEXT:
            benchmark::DoNotOptimize(sqlite3_column_text(read_, column));
            bytes += static_cast<std::size_t>(sqlite3_column_bytes(read_, column));
            break;
          case SQLITE_BLOB:
            benchmark::DoNotOptimize(sqlite3_column_blob(read_, column));
            bytes += static_cast<std::size_t>(sqlite3_column_bytes(read_, column));
            break;
          default:
            break;
        }
      }
    }
    benchmark::DoNotOptimize(bytes);
    benchmark::DoNotOptimize(numbers);
    sqlite3_reset(read_);
    if (rows) {
      sqlite3_bind_int64(delete_, 1, maxRowID);
      sqlite3_bind_int64(delete_, 2, kFingerprint);
      if (sqlite3_step(delete_) != SQLITE_DONE) std::abort();
      sqlite3_reset(delete_);
    }
    return rows;
  }

 private:
  sqlite3_stmt* prepare(const char* sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) !=
        SQLITE_OK) {
      std::abort();
    }
    return statement;
  }
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  sqlite3_stmt* read_ = nullptr;
  sqlite3_stmt* delete_ = nullptr;
};

int databaseReadAndDeleteBatch(MSRDatabase& database) {
  int rows = 0;
  std::int64_t maxRowID = 0;
  if (!database.performTransaction([&] {
        const auto events = database.rawEventsWithMetadataFingerprint(
            kFingerprint, nullptr, [](std::size_t, const MSRDatabase::Record&) { return true; });
        if (!events) return false;
        rows = static_cast<int>(events->size());
        if (rows == 0) return true;
        maxRowID = events->back()->rowID();
        return database.deleteRawEventsWithMaxRowID(maxRowID, kFingerprint, nullptr);
      })) {
    std::abort();
  }
  return rows;
}

// The time one side took for a cycle: storing, then reading back with deleting; and its CPU
// time for the whole cycle.
struct CycleTimes {
  double insertSeconds = 0;
  double readSeconds = 0;
  double cpuSeconds = 0;
  double total() const { return insertSeconds + readSeconds; }
};

CycleTimes databaseCycle(MSRDatabase& database, const MSREventPtr& event, int count) {
  CycleTimes times;
  const double cpuStart = cpuSeconds();
  auto start = Clock::now();
  for (int done = 0; done < count; done += kBatch) {
    if (!database.performTransaction([&] {
          for (int i = done; i < done + kBatch && i < count; ++i) {
            if (!database.insertRawEvent(event, kFingerprint, false, nullptr)) return false;
          }
          return true;
        })) {
      std::abort();
    }
  }
  times.insertSeconds = seconds(start);
  start = Clock::now();
  int read = 0;
  while (const int rows = databaseReadAndDeleteBatch(database)) read += rows;
  times.readSeconds = seconds(start);
  times.cpuSeconds = cpuSeconds() - cpuStart;
  if (read != count) std::abort();  // the database did not read back every event
  return times;
}

CycleTimes plainCycle(Plain& plain, const platform::Bytes& blob, const MSREvent& event,
                      int count) {
  CycleTimes times;
  const double cpuStart = cpuSeconds();
  auto start = Clock::now();
  for (int done = 0; done < count; done += kBatch) {
    plain.exec("BEGIN EXCLUSIVE TRANSACTION");
    for (int i = done; i < done + kBatch && i < count; ++i) {
      plain.insert(blob, event.name(), event.timestamp());
    }
    plain.exec("END TRANSACTION");
  }
  times.insertSeconds = seconds(start);
  start = Clock::now();
  int read = 0;
  for (;;) {
    plain.exec("BEGIN EXCLUSIVE TRANSACTION");
    const int rows = plain.readAndDeleteBatch();
    plain.exec("END TRANSACTION");
    if (!rows) break;
    read += rows;
  }
  times.readSeconds = seconds(start);
  times.cpuSeconds = cpuSeconds() - cpuStart;
  if (read != count) std::abort();  // the plain side did not read back every event
  return times;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The two sides take turns, which goes first alternating, so that a busy moment of the machine
// falls on one round rather than on one side; each counter is the median over the rounds.
void BM_RawEventCycle(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  freshHome();
  const auto event = sampleEvent();
  const platform::Bytes blob = storedBlob(*event);
  std::vector<double> ratios, insertRatios, readRatios, cpuRatios;
  double databaseSeconds = 0, plainSeconds = 0;
  for (auto _ : state) {
    auto database = openDatabase();
    Plain plain;
    for (int round = 0; round < kRounds; ++round) {
      CycleTimes ours, theirs;
      if (round % 2 == 0) {
        ours = databaseCycle(*database, event, count);
        theirs = plainCycle(plain, blob, *event, count);
      } else {
        theirs = plainCycle(plain, blob, *event, count);
        ours = databaseCycle(*database, event, count);
      }
      databaseSeconds += ours.total();
      plainSeconds += theirs.total();
      ratios.push_back(theirs.total() / ours.total());
      insertRatios.push_back(theirs.insertSeconds / ours.insertSeconds);
      readRatios.push_back(theirs.readSeconds / ours.readSeconds);
      cpuRatios.push_back(theirs.cpuSeconds / ours.cpuSeconds);
    }
  }
  const double events = static_cast<double>(count) * static_cast<double>(ratios.size());
  state.counters["db_events_per_s"] = events / databaseSeconds;
  state.counters["plain_events_per_s"] = events / plainSeconds;
  state.counters["ratio"] = median(ratios);
  state.counters["ratio_min"] = *std::min_element(ratios.begin(), ratios.end());
  state.counters["ratio_max"] = *std::max_element(ratios.begin(), ratios.end());
  // The two halves apart: storing, and reading back with deleting.
  state.counters["insert_ratio"] = median(insertRatios);
  state.counters["read_delete_ratio"] = median(readRatios);
  state.counters["cpu_ratio"] = median(cpuRatios);
}
BENCHMARK(BM_RawEventCycle)
    ->Arg(100000 / kScale)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_InsertOneTransactionEach(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  freshHome();
  const auto event = sampleEvent();
  const platform::Bytes blob = storedBlob(*event);
  auto database = openDatabase();
  Plain plain;
  double databaseSeconds = 0;
  double plainSeconds = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
      if (!database->performTransaction(
              [&] { return database->insertRawEvent(event, kFingerprint, false, nullptr); })) {
        std::abort();
      }
    }
    databaseSeconds += seconds(start);
    start = Clock::now();
    for (int i = 0; i < count; ++i) {
      plain.exec("BEGIN EXCLUSIVE TRANSACTION");
      plain.insert(blob, event->name(), event->timestamp());
      plain.exec("END TRANSACTION");
    }
    plainSeconds += seconds(start);
  }
  const double events = static_cast<double>(count) * static_cast<double>(state.iterations());
  state.counters["db_events_per_s"] = events / databaseSeconds;
  state.counters["plain_events_per_s"] = events / plainSeconds;
  state.counters["ratio"] = plainSeconds / databaseSeconds;
}
BENCHMARK(BM_InsertOneTransactionEach)
    ->Arg(500 / kScale)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_InsertCostWithRowsStored(benchmark::State& state) {
  const int stored = static_cast<int>(state.range(0));
  constexpr int kMeasured = 300 / kScale;
  freshHome();
  const auto event = sampleEvent();
  auto database = openDatabase();
  for (int done = 0; done < stored; done += kBatch) {
    if (!database->performTransaction([&] {
          for (int i = done; i < done + kBatch && i < stored; ++i) {
            if (!database->insertRawEvent(event, kFingerprint + i % 7, false, nullptr)) {
              return false;
            }
          }
          return true;
        })) {
      std::abort();
    }
  }
  double total = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    for (int i = 0; i < kMeasured; ++i) {
      if (!database->performTransaction(
              [&] { return database->insertRawEvent(event, kFingerprint, false, nullptr); })) {
        std::abort();
      }
    }
    total += seconds(start);
  }
  state.counters["us_per_insert"] =
      total * 1e6 / (kMeasured * static_cast<double>(state.iterations()));
}
BENCHMARK(BM_InsertCostWithRowsStored)
    ->Arg(1000 / kScale)
    ->Arg(10000 / kScale)
    ->Arg(100000 / kScale)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_UserDefaultsBurst(benchmark::State& state) {
  freshHome();
  const fs::path folder = platform::SandboxHome::preferences();
  fs::create_directories(folder);
  auto defaults = platform::UserDefaults::initWithSuiteName("bench.burst");
  double writes = 0;
  double changing = 0;
  for (auto _ : state) {
    platform::testing::RenameCounter counter(folder, "bench.burst.plist");
    const auto start = Clock::now();
    for (int i = 0; i < 1000; ++i) {
      defaults->setObject(Value(i), "key" + std::to_string(i % 100));
    }
    changing += seconds(start);
    // The domain writes by itself a second after the last change.
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (counter.count() == 0 && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!defaults->synchronize()) std::abort();  // nothing left to write: no more writes
    writes += counter.count();
  }
  const double bursts = static_cast<double>(state.iterations());
  state.counters["file_writes"] = writes / bursts;
  state.counters["us_per_change"] = changing * 1e6 / (1000 * bursts);
}
BENCHMARK(BM_UserDefaultsBurst)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
