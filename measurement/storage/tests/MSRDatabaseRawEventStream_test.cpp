// Raw events decoded row by row as they are read: the same events and errors as decoding each
// row kept whole, rows whose columns change kind from one to the next, and a read cut short by
// a failed step or a throwing filter. Real database files in the test's sandbox home.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "measurement/foundation/MSREvent.h"
#include "measurement/foundation/MSRRawEventData.h"
#include "measurement/storage/MSRDatabase.h"
#include "measurement/storage/MSRPersistedConfig.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "measurement/storage/tests/MSRStorageTestSupport.h"
#include "platform/testing/PlatformTest.h"

using platform::ErrorPtr;
using platform::Value;
using Record = MSRDatabase::Record;

namespace {

constexpr const char* kReadQuery =
    "SELECT rowid, * FROM raw_events WHERE metadata_fingerprint = ? ORDER BY rowid ASC LIMIT ?";
const auto kAll = [](std::size_t, const Record&) { return true; };

struct Read {
  std::optional<std::vector<std::shared_ptr<MSRRawEventData>>> events;
  ErrorPtr error;
};

class MSRDatabaseRawEventStreamTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    ErrorPtr error;
    database_ = openTestDatabase(&error);
    ASSERT_TRUE(database_) << description(error);
  }
  void insertEvent(const char* name, double timestamp, std::int64_t fingerprint,
                   const MSRParameters& parameters = {}) {
    const auto event = MSREvent::initWithOrigin("app", true, name, timestamp, 1.5, &parameters);
    ASSERT_TRUE(event);
    ASSERT_TRUE(database_->insertRawEvent(event, fingerprint, false, nullptr));
  }
  // A row written as SQL text, so that its columns can hold what the store never writes.
  void insertRow(const std::string& name, const std::string& timestamp, const std::string& data,
                 std::int64_t fingerprint) {
    ASSERT_TRUE(database_->sqliteStore()->executeSQL(
        "INSERT INTO raw_events (name, timestamp, metadata_fingerprint, data, is_realtime) "
        "VALUES (" + name + ", " + timestamp + ", " + std::to_string(fingerprint) + ", " + data +
            ", 0)",
        nullptr));
  }
  static std::string blobLiteral(const Value& data) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text = "x'";
    for (const std::uint8_t byte : *data.bytes()) {
      text += kDigits[byte >> 4];
      text += kDigits[byte & 15];
    }
    return text + "'";
  }
  // The stored bytes of the first raw event with this name.
  Value storedData(const char* name) {
    const auto rows = database_->sqliteStore()->recordsForQuery(
        "SELECT data FROM raw_events WHERE name = ? ORDER BY rowid LIMIT 1", {Value(name)},
        nullptr);
    EXPECT_TRUE(rows && rows->size() == 1);
    return rows && rows->size() == 1 ? rows->front().at("data") : Value();
  }
  Read read(std::int64_t fingerprint, const MSRSqliteStore::Filter& filter = kAll) {
    Read out;
    out.events = database_->rawEventsWithMetadataFingerprint(fingerprint, &out.error, filter);
    return out;
  }
  // Every row kept as a record first and decoded afterwards, by the rule the read follows.
  Read readKeepingRecords(std::int64_t fingerprint) {
    Read out;
    const auto rows = database_->sqliteStore()->recordsForQuery(
        kReadQuery, {Value(fingerprint), Value(1000LL)}, &out.error);
    if (!rows) return out;
    std::vector<std::shared_ptr<MSRRawEventData>> events;
    for (const auto& row : *rows) {
      if (auto data = database_->rawEventDataFromDictionary(row, &out.error)) {
        events.push_back(std::move(data));
      }
    }
    if (!events.empty() || rows->empty()) out.events = std::move(events);
    return out;
  }
  static void expectSame(const Read& streamed, const Read& kept) {
    ASSERT_EQ(streamed.events.has_value(), kept.events.has_value());
    EXPECT_EQ(description(streamed.error), description(kept.error));
    EXPECT_EQ(streamed.error ? streamed.error->code() : 0, kept.error ? kept.error->code() : 0);
    if (!kept.events) return;
    ASSERT_EQ(streamed.events->size(), kept.events->size());
    for (std::size_t i = 0; i < kept.events->size(); ++i) {
      const auto& a = *(*streamed.events)[i];
      const auto& b = *(*kept.events)[i];
      EXPECT_EQ(a.rowID(), b.rowID());
      EXPECT_EQ(a.metadataFingerprint(), b.metadataFingerprint());
      EXPECT_EQ(a.rawEvent()->description(), b.rawEvent()->description());
      EXPECT_EQ(a.rawEvent()->previousTimestamp(), b.rawEvent()->previousTimestamp());
    }
  }
  std::shared_ptr<MSRDatabase> database_;
};

TEST_F(MSRDatabaseRawEventStreamTest, RowsOfChangingKindsDecodeAsWhenKeptWhole) {
  const MSRParameters first{{"sound", Value("thunder")}, {"volume", Value(0.75)}};
  const MSRParameters second{{"index", Value(12)}};
  insertEvent("purchase", 100.5, 1, first);
  const std::string bytes = blobLiteral(storedData("purchase"));
  const std::string notText = "CAST(x'ff' AS TEXT)";  // read as no value at all
  // Fingerprint 1: good rows between rows whose columns change kind from the row before: an
  // empty blob (read as no value, so no data key) after data, a name that is not UTF-8 (no name
  // key) after text, bytes that are no event, a time that is text.
  insertRow("'empty'", "7", "x''", 1);
  insertEvent("second", 101, 1, second);
  insertRow(notText, "7", bytes, 1);
  insertRow("'junk'", "7", "x'ffff'", 1);
  insertEvent("third", 102, 1);
  insertRow("'again'", "'late'", bytes, 1);
  // Fingerprint 2: no row decodes; the last one's error stands, and the rows, which can never be
  // read, are gone for the second read. Fingerprint 3: nothing stored.
  insertRow("'junk'", "7", "x'ffff'", 2);
  insertRow(notText, "7", bytes, 2);
  insertRow("'empty'", "7", "x''", 2);

  struct Case {
    std::int64_t fingerprint;
    std::vector<std::string> names;  // of the events read, or none when the read gives nothing
    bool gives;
    const char* lastError;
  };
  const Case cases[] = {
      {1, {"purchase", "second", "third", "again"}, true,
       "Failed to parse event from data"},
      {2, {}, false, "Unable to find event data in the database dictionary"},
      {3, {}, true, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fingerprint);
    for (int pass = 0; pass < 2; ++pass) {  // the statement compiled once, read twice
      const Read kept = readKeepingRecords(c.fingerprint);
      const Read streamed = read(c.fingerprint);
      const bool deleted = pass == 1 && !c.gives;
      ASSERT_EQ(streamed.events.has_value(), c.gives || deleted);
      EXPECT_EQ(description(streamed.error), deleted ? "" : c.lastError);
      if (streamed.events) {
        std::vector<std::string> names;
        for (const auto& e : *streamed.events) names.push_back(e->rawEvent()->name());
        EXPECT_EQ(names, c.names);
      }
      expectSame(streamed, kept);
    }
  }
  const Read one = read(1);
  ASSERT_TRUE(one.events);
  const auto& purchase = *(*one.events)[0]->rawEvent();
  const auto& again = *(*one.events)[3]->rawEvent();
  // The same bytes under another row's name and time: only the columns differ.
  EXPECT_EQ(purchase.parameters(), again.parameters());
  EXPECT_DOUBLE_EQ(purchase.timestamp(), 100.5);
  EXPECT_DOUBLE_EQ(again.timestamp(), 0.0);
  EXPECT_EQ((*one.events)[1]->rawEvent()->parameters().count("volume"), 0u);
}

TEST_F(MSRDatabaseRawEventStreamTest, FilterSeesEachRowAndEndsTheReadWhereItRefuses) {
  for (const char* name : {"a", "b", "stop", "c"}) insertEvent(name, 10, 4);
  std::vector<std::string> seen;
  const Read streamed = read(4, [&](std::size_t, const Record& row) {
    seen.push_back(*row.at("name").string());
    return *row.at("name").string() != "stop";
  });
  ASSERT_TRUE(streamed.events) << description(streamed.error);
  ASSERT_EQ(streamed.events->size(), 2u);
  EXPECT_EQ((*streamed.events)[1]->rawEvent()->name(), "b");
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "stop"}));
  // Refused at the first row: rows were read, none taken, and that is an empty answer.
  const Read none = read(4, [](std::size_t, const Record&) { return false; });
  ASSERT_TRUE(none.events);
  EXPECT_TRUE(none.events->empty());
  EXPECT_FALSE(none.error);
}

TEST_F(MSRDatabaseRawEventStreamTest, FailedStepOrThrowingFilterGivesNoEventsAndLosesNone) {
  for (int i = 0; i < 5; ++i) insertEvent("tap", 20 + i, 6);
  sqlite3* handle = database_->sqliteStore()->sqliteHandle();
  // A step that fails after rows were decoded: the read fails with the database's error.
  const Read interrupted = read(6, [&](std::size_t position, const Record&) {
    if (position == 2) sqlite3_interrupt(handle);
    return true;
  });
  EXPECT_FALSE(interrupted.events);
  ASSERT_TRUE(interrupted.error);
  EXPECT_EQ(interrupted.error->code(), 3);
  EXPECT_NE(description(interrupted.error).find("\"query records\" failed with sqlite code 9"),
            std::string::npos)
      << description(interrupted.error);
  // A filter that throws inside the engine's transaction: the exception goes on, the transaction
  // rolls back (the delete with it), and the statement serves the next read.
  EXPECT_THROW(database_->performTransaction([&] {
    if (!database_->deleteRawEventsWithMaxRowID(1, 6, nullptr)) return false;
    database_->rawEventsWithMetadataFingerprint(
        6, nullptr, [](std::size_t position, const Record&) -> bool {
          if (position == 3) throw std::runtime_error("stop");
          return true;
        });
    return true;
  }),
               std::runtime_error);
  const Read all = read(6);
  ASSERT_TRUE(all.events) << description(all.error);
  ASSERT_EQ(all.events->size(), 5u);
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ((*all.events)[i]->rowID(), static_cast<std::int64_t>(i + 1));
    EXPECT_DOUBLE_EQ((*all.events)[i]->rawEvent()->timestamp(), 20.0 + static_cast<double>(i));
  }
  expectSame(all, readKeepingRecords(6));
}

}  // namespace
