// The raw events' stored form written and read directly against the general message path: the
// same bytes in the file, the same log lines, and the same content or error for any bytes read.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <random>
#include <vector>

#include "measurement/foundation/MSREvent.h"
#include "measurement/foundation/MSREventStoredForm.h"
#include "measurement/foundation/MSRRawEventData.h"
#include "measurement/foundation/tests/MSREventShapes.h"
#include "measurement/foundation/tests/MSRTestSupport.h"
#include "measurement/storage/MSRDatabase.h"
#include "measurement/storage/MSRFileLocations.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "measurement/storage/tests/MSRStorageTestSupport.h"
#include "measurement/storage/tests/MSRStoredEventDifferential.h"
#include "platform/testing/PlatformTest.h"

using platform::Bytes;
using platform::ErrorPtr;
using platform::Value;

namespace {

class MSRDatabaseRawEventStoredFormTest : public platform::testing::PlatformTest {
 protected:
  // Counts a comparison; a divergence fails the test with the input in hex.
  void check(const Bytes& bytes, const std::string& what) {
    const auto result = msr_test::compareStoredEventReadings(bytes.data(), bytes.size());
    ++compared_;
    if (result.direct) ++direct_;
    if (!result.divergence.empty()) {
      std::string hex;
      char digits[4];
      for (std::uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", b);
        hex += digits;
      }
      ADD_FAILURE() << what << ": " << result.divergence << "\n  input " << hex;
    }
  }
  std::size_t compared_ = 0, direct_ = 0;
};

// A log call as code, level and contexts.
std::string line(const MSRMonitor::LogRecord& record) {
  std::string text = std::to_string(record.messageCode) + "/" + std::to_string(record.level);
  for (const auto& context : record.contexts) text += " " + context.description();
  return text;
}

std::vector<Bytes> storedEncodings(std::uint64_t start, std::size_t count) {
  std::vector<Bytes> encodings;
  for (const auto& shape : msr_test::EventShapes(start).make(count)) {
    encodings.push_back(msr_test::messageStoredBytes(*shape.event));
  }
  return encodings;
}

TEST_F(MSRDatabaseRawEventStoredFormTest, StoredEncodingsReadTheSameBothWays) {
  std::size_t expectedDirect = 0;
  for (const auto& shape : msr_test::EventShapes(99).make(1500)) {
    const Bytes bytes = msr_test::messageStoredBytes(*shape.event);
    const auto result = msr_test::compareStoredEventReadings(bytes.data(), bytes.size());
    EXPECT_EQ(result.divergence, "") << shape.event->description();
    // Every ordinary event that reads back at all reads back directly.
    if (shape.ordinary && msr_test::readableDirectly(*shape.event)) {
      ++expectedDirect;
      EXPECT_TRUE(result.direct) << shape.event->description();
      EXPECT_TRUE(result.general) << shape.event->description();
    }
  }
  EXPECT_GT(expectedDirect, 1000u);
}

TEST_F(MSRDatabaseRawEventStoredFormTest, CutAndMutatedBytesReadTheSameBothWays) {
  const auto encodings = storedEncodings(5, 120);
  std::mt19937_64 random(31337);
  auto pick = [&random](std::size_t bound) { return bound ? random() % bound : 0; };
  for (const Bytes& encoding : encodings) {
    for (std::size_t cut = 0; cut < encoding.size(); ++cut) {
      check(Bytes(encoding.begin(), encoding.begin() + static_cast<std::ptrdiff_t>(cut)), "cut");
    }
    for (int m = 0; m < 30; ++m) {
      Bytes mutated = encoding;
      const int edits = 1 + static_cast<int>(pick(3));
      for (int e = 0; e < edits; ++e) {
        const std::size_t at = pick(mutated.size() + 1);
        static const std::uint8_t kNotable[] = {0x00, 0x01, 0x02, 0x7F, 0x80, 0xFF, 0x0A, 0x12,
                                                0x18, 0x20, 0x22, 0x25, 0x28, 0x29, 0x32, 0xC3};
        const std::uint8_t byte = pick(2) ? kNotable[pick(std::size(kNotable))]
                                          : static_cast<std::uint8_t>(random());
        switch (pick(5)) {
          case 0:
            if (at < mutated.size()) mutated[at] = byte;
            break;
          case 1:
            if (at < mutated.size()) mutated[at] ^= static_cast<std::uint8_t>(1u << pick(8));
            break;
          case 2:
            mutated.insert(mutated.begin() + static_cast<std::ptrdiff_t>(at), byte);
            break;
          case 3:
            if (at < mutated.size()) mutated.erase(mutated.begin() + static_cast<std::ptrdiff_t>(at));
            break;
          default: {
            // A piece of another encoding spliced in: repeated fields and parameters.
            const Bytes& other = encodings[pick(encodings.size())];
            const std::size_t from = pick(other.size() + 1);
            const std::size_t to = from + pick(other.size() - from + 1);
            mutated.insert(mutated.begin() + static_cast<std::ptrdiff_t>(at),
                           other.begin() + static_cast<std::ptrdiff_t>(from),
                           other.begin() + static_cast<std::ptrdiff_t>(to));
          }
        }
      }
      check(mutated, "mutated");
    }
  }
  for (int r = 0; r < 5000; ++r) {
    Bytes bytes(pick(24));
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
    check(bytes, "random");
  }
  // Whole encodings joined read as one event with the parameters of both, and some mutations
  // keep the form plain (a changed character, a changed number): the direct reader met those.
  for (std::size_t i = 0; i + 1 < encodings.size(); i += 2) {
    Bytes joined = encodings[i];
    joined.insert(joined.end(), encodings[i + 1].begin(), encodings[i + 1].end());
    check(joined, "joined");
  }
  EXPECT_GT(direct_, 500u);
}

TEST_F(MSRDatabaseRawEventStoredFormTest, RepeatedNamesReadTheSameBothWays) {
  const auto with = msr_test::storedFormWithOrigin;
  const std::pair<const char*, Bytes> cases[] = {
      {"two parameters of one name", with({0x0A, 0x05, 0x0A, 0x01, 'n', 0x18, 0x01,  //
                                           0x0A, 0x05, 0x0A, 0x01, 'n', 0x18, 0x02})},
      {"two origins", with({0x0A, 0x08, 0x0A, 0x02, '_', 'o', 0x12, 0x02, 'a', 'b'})},
      {"two item fields of one name",
       with({0x0A, 0x13, 0x0A, 0x01, 'i', 0x32, 0x0E, 0x32, 0x05, 0x0A, 0x01, 'k', 0x18, 0x01,
             0x32, 0x05, 0x0A, 0x01, 'k', 0x18, 0x02})},
      {"item field with an empty name",
       with({0x0A, 0x0B, 0x0A, 0x01, 'j', 0x32, 0x06, 0x32, 0x04, 0x0A, 0x00, 0x18, 0x05})},
      {"two item lists of one name",
       with({0x0A, 0x0C, 0x0A, 0x01, 'i', 0x32, 0x07, 0x32, 0x05, 0x0A, 0x01, 'k', 0x18, 0x01,
             0x0A, 0x05, 0x0A, 0x01, 'i', 0x18, 0x03})},
  };
  for (const auto& [what, bytes] : cases) {
    check(bytes, what);
    EXPECT_TRUE(msr_test::compareStoredEventReadings(bytes.data(), bytes.size()).direct) << what;
  }
}

TEST_F(MSRDatabaseRawEventStoredFormTest, TheRowReaderFallsBackWithTheMessagePathsErrors) {
  ErrorPtr error;
  auto database = MSRDatabase::initWithDatabaseName(kMSRDatabaseName, nullptr, &error);
  ASSERT_TRUE(database);
  auto row = [](Value data) {
    return MSRDatabase::Record{{"rowid", Value(3LL)},
                               {"name", Value("_e")},
                               {"timestamp", Value(2.0)},
                               {"metadata_fingerprint", Value(9LL)},
                               {"data", std::move(data)}};
  };
  struct Case {
    const char* what;
    Value data;
    long code;
    const char* description;
  };
  const Case cases[] = {
      {"not bytes", Value("text"), 3, "Failed to parse event from data"},
      {"not an Event", Value::data(Bytes{0x0A, 0x05}), 3, "Failed to parse event from data"},
      {"no origin", Value::data(Bytes{0x18, 0x01}), 2,
       "Cannot create an event from database. Missing origin parameter"},
      {"origin not a string", Value::data(Bytes{0x0A, 0x06, 0x0A, 0x02, '_', 'o', 0x18, 0x01}), 2,
       "Cannot create an event from database. Origin parameter is not a string"},
      {"parameter without value",
       Value::data(Bytes{0x0A, 0x09, 0x0A, 0x02, '_', 'o', 0x12, 0x03, 'a', 'p', 'p', 0x0A, 0x03,
                         0x0A, 0x01, 'a'}),
       2, "Failed to parse event params from data"},
  };
  for (const auto& c : cases) {
    error.reset();
    EXPECT_FALSE(database->rawEventDataFromDictionary(row(c.data), &error)) << c.what;
    ASSERT_TRUE(error) << c.what;
    EXPECT_EQ(error->code(), c.code) << c.what;
    EXPECT_EQ(description(error), c.description) << c.what;
  }
  // A stored form the direct reader takes: the later of two origins and of two equal names win.
  error.reset();
  const auto read = database->rawEventDataFromDictionary(
      row(Value::data(Bytes{0x0A, 0x08, 0x0A, 0x02, '_', 'o', 0x12, 0x02, 'a', 'b',  //
                            0x0A, 0x05, 0x0A, 0x01, 'n', 0x18, 0x01,                 //
                            0x0A, 0x09, 0x0A, 0x02, '_', 'o', 0x12, 0x03, 'a', 'p', 'p',
                            0x0A, 0x05, 0x0A, 0x01, 'n', 0x18, 0x02, 0x20, 0xE8, 0x07})),
      &error);
  ASSERT_TRUE(read);
  EXPECT_FALSE(error);
  EXPECT_EQ(read->rowID(), 3);
  EXPECT_EQ(read->metadataFingerprint(), 9);
  EXPECT_EQ(read->rawEvent()->origin(), "app");
  EXPECT_EQ(read->rawEvent()->name(), "_e");
  EXPECT_EQ(read->rawEvent()->previousTimestamp(), 1.0);
  const auto n = read->rawEvent()->parameters().at("n").objectAs<MSRValue>();
  ASSERT_TRUE(n && n->isInt64());
  EXPECT_EQ(n->int64Value(), 2);
}

TEST_F(MSRDatabaseRawEventStoredFormTest, TheFileHoldsTheMessageBytesAndTheLogsAreTheSame) {
  // SQLite stores a NaN timestamp as NULL, which the table refuses, whatever the data column.
  std::vector<msr_test::EventShape> shapes;
  for (auto& shape : msr_test::EventShapes(11).make(150)) {
    if (!std::isnan(shape.event->timestamp())) shapes.push_back(std::move(shape));
  }
  std::vector<std::int64_t> generalCodes, storedCodes;
  std::vector<std::string> generalLines, storedLines;
  std::vector<Bytes> expected;
  {
    msr_test::MonitorRecorder recorder;
    for (const auto& shape : shapes) expected.push_back(msr_test::messageStoredBytes(*shape.event));
    for (const auto& record : recorder.records()) {
      generalCodes.push_back(record.messageCode);
      generalLines.push_back(line(record));
    }
  }
  ErrorPtr error;
  auto database = MSRDatabase::initWithDatabaseName(kMSRDatabaseName, nullptr, &error);
  ASSERT_TRUE(database);
  {
    msr_test::MonitorRecorder recorder;
    for (const auto& shape : shapes) {
      ASSERT_TRUE(database->insertRawEvent(shape.event, 77, false, &error))
          << description(error) << " " << shape.event->description();
    }
    for (const auto& record : recorder.records()) {
      storedCodes.push_back(record.messageCode);
      storedLines.push_back(line(record));
    }
  }
  EXPECT_EQ(storedCodes, generalCodes);
  EXPECT_EQ(storedLines, generalLines);
  EXPECT_NE(std::count(generalCodes.begin(), generalCodes.end(), 16005), 0);
  EXPECT_NE(std::count(generalCodes.begin(), generalCodes.end(), 16007), 0);

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(MSRApplicationSupportPath(kMSRDatabaseName).c_str(), &db,
                            SQLITE_OPEN_READONLY, nullptr),
            SQLITE_OK);
  sqlite3_stmt* statement = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT data, name FROM raw_events ORDER BY rowid", -1,
                               &statement, nullptr),
            SQLITE_OK);
  std::size_t row = 0;
  while (sqlite3_step(statement) == SQLITE_ROW && row < expected.size()) {
    const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(statement, 0));
    const Bytes stored(data, data + sqlite3_column_bytes(statement, 0));
    EXPECT_EQ(stored, expected[row]) << shapes[row].event->description();
    EXPECT_EQ(reinterpret_cast<const char*>(sqlite3_column_text(statement, 1)),
              shapes[row].event->name());
    ++row;
  }
  EXPECT_EQ(row, shapes.size());
  sqlite3_finalize(statement);
  sqlite3_close(db);
}

}  // namespace
