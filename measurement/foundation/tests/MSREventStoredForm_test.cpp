#include "measurement/foundation/MSREventStoredForm.h"

#include <gtest/gtest.h>

#include "measurement/foundation/MSREvent.h"
#include "measurement/foundation/MSRValue.h"
#include "measurement/foundation/tests/MSREventShapes.h"
#include "measurement/foundation/tests/MSRTestSupport.h"
#include "platform/base/Saturating.h"
#include "platform/testing/PlatformTest.h"

namespace {

using platform::Bytes;
using platform::Value;

class MSREventStoredFormTest : public platform::testing::PlatformTest {};

std::string hex(const Bytes& bytes) {
  std::string out;
  char digits[4];
  for (std::uint8_t b : bytes) {
    std::snprintf(digits, sizeof digits, "%02X", b);
    out += digits;
  }
  return out;
}

TEST_F(MSREventStoredFormTest, DirectBytesAreTheMessageBytesForEveryOrdinaryShape) {
  const auto shapes = msr_test::EventShapes(20261207).make(3000);
  msr_test::MonitorRecorder recorder;
  std::vector<std::optional<Bytes>> direct;
  for (const auto& shape : shapes) direct.push_back(MSREventStoredFormBytes(*shape.event));
  // The direct writer never logs, so what the general path logs for the shapes it leaves to it
  // is logged once.
  EXPECT_TRUE(recorder.records().empty());

  std::size_t ordinary = 0, unusual = 0;
  for (std::size_t i = 0; i < shapes.size(); ++i) {
    const auto& shape = shapes[i];
    if (!shape.ordinary) {
      ++unusual;
      EXPECT_FALSE(direct[i]) << shape.what << ": " << shape.event->description();
      continue;
    }
    ++ordinary;
    ASSERT_TRUE(direct[i]) << shape.what << ": " << shape.event->description();
    const Bytes expected = msr_test::messageStoredBytes(*shape.event);
    ASSERT_EQ(hex(*direct[i]), hex(expected)) << shape.what << ": " << shape.event->description();
  }
  // About one random event in seven holds an empty item list, which is left to the general path.
  EXPECT_GT(ordinary, 2000u);
  EXPECT_GT(unusual, 20u);
}

TEST_F(MSREventStoredFormTest, TheStoredFormIsTheEventMessageWithoutItsName) {
  const MSRParameters parameters{{"n", Value(MSRValue::initWithInt64(-1))},
                                 {"d", Value(MSRValue::initWithDouble(-0.0))}};
  const auto event = MSREvent::initWithOrigin("app", false, "_e", 1.5, 0.25, &parameters);
  ASSERT_TRUE(event);
  const auto bytes = MSREventStoredFormBytes(*event);
  ASSERT_TRUE(bytes);
  // Parameters by name ("_o" < "d" < "n"), each {1 name, 2 string | 3 int64 | 5 double}; then
  // 3 timestamp and 4 previous timestamp in milliseconds. -1 takes ten varint bytes.
  EXPECT_EQ(hex(*bytes),
            "0A090A025F6F1203617070"
            "0A0C0A01642900000000000000800A0E0A016E18FFFFFFFFFFFFFFFFFF01"
            "18DC0B"
            "20FA01");
}

TEST_F(MSREventStoredFormTest, TheReaderGivesBackWhatTheWriterStored) {
  std::size_t read = 0;
  for (const auto& shape : msr_test::EventShapes(7).make(2000)) {
    if (!shape.ordinary) continue;
    const auto bytes = MSREventStoredFormBytes(*shape.event);
    ASSERT_TRUE(bytes);
    const auto content = MSREventStoredFormRead(bytes->data(), bytes->size());
    if (!msr_test::readableDirectly(*shape.event)) {
      EXPECT_FALSE(content) << shape.event->description();
      continue;
    }
    ASSERT_TRUE(content) << shape.what << ": " << shape.event->description();
    ++read;
    EXPECT_EQ(content->origin, shape.event->origin());
    const double previous = shape.event->previousTimestamp();
    const double expected =
        previous > 2.220446049250313e-16
            ? static_cast<double>(platform::secondsToMilliseconds(previous)) / 1000.0
            : 0.0;
    EXPECT_EQ(content->previousTimestamp, expected);
    MSRParameters parameters = shape.event->parameters();
    parameters.erase("_o");
    std::string why;
    EXPECT_TRUE(msr_test::sameParameters(content->parameters, parameters, &why))
        << why << " in " << shape.event->description();
  }
  EXPECT_GT(read, 1000u);
}

TEST_F(MSREventStoredFormTest, NamesOutOfOrderAndRepeatedReadAsInTheGeneralReader) {
  // b, a, b again, then an item list whose one item holds k, j and k again: a later top-level
  // name replaces the earlier one wherever it sits, an item keeps the first of two equal names.
  const Bytes bytes = {0x0A, 0x09, 0x0A, 0x02, '_', 'o', 0x12, 0x03, 'a', 'p', 'p',  //
                       0x0A, 0x05, 0x0A, 0x01, 'b', 0x18, 0x01,                      //
                       0x0A, 0x05, 0x0A, 0x01, 'a', 0x18, 0x02,                      //
                       0x0A, 0x05, 0x0A, 0x01, 'b', 0x18, 0x03,                      //
                       0x0A, 0x1A, 0x0A, 0x01, 'c', 0x32, 0x15,                      //
                       0x32, 0x05, 0x0A, 0x01, 'k', 0x18, 0x01,                      //
                       0x32, 0x05, 0x0A, 0x01, 'j', 0x18, 0x02,                      //
                       0x32, 0x05, 0x0A, 0x01, 'k', 0x18, 0x03};
  const auto content = MSREventStoredFormRead(bytes.data(), bytes.size());
  ASSERT_TRUE(content);
  EXPECT_EQ(content->origin, "app");
  std::vector<std::string> keys;
  for (const auto& [key, value] : content->parameters) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"a", "b", "c"}));
  auto int64At = [](const MSRParameters& p, const char* key) -> std::int64_t {
    auto it = p.find(key);
    const MSRValue* v = it == p.end() ? nullptr : it->second.objectPointer<MSRValue>();
    return v && v->isInt64() ? v->int64Value() : -1;
  };
  EXPECT_EQ(int64At(content->parameters, "a"), 2);
  EXPECT_EQ(int64At(content->parameters, "b"), 3);
  const MSRValue* list = content->parameters.at("c").objectPointer<MSRValue>();
  ASSERT_TRUE(list && list->isArray());
  ASSERT_EQ(list->arrayValue()->size(), 1u);
  const Value::Dictionary* item = list->arrayValue()->front().dictionary();
  ASSERT_TRUE(item);
  std::vector<std::string> itemKeys;
  for (const auto& [key, value] : *item) itemKeys.push_back(key);
  EXPECT_EQ(itemKeys, (std::vector<std::string>{"j", "k"}));
  EXPECT_EQ(int64At(*item, "j"), 2);
  EXPECT_EQ(int64At(*item, "k"), 1);
}

TEST_F(MSREventStoredFormTest, TheReaderLeavesEverythingButThePlainFormToTheGeneralPath) {
  const auto with = msr_test::storedFormWithOrigin;
  struct Case {
    const char* what;
    Bytes bytes;
    bool direct;
  };
  const Case cases[] = {
      {"origin alone", with({}), true},
      {"timestamp and previous", with({0x18, 0x01, 0x20, 0x02}), true},
      {"empty", {}, false},
      {"timestamp twice", with({0x18, 0x01, 0x18, 0x02}), false},
      {"previous twice", with({0x20, 0x01, 0x20, 0x02}), false},
      {"name field", with({0x12, 0x01, 'e'}), false},
      {"field 5", with({0x28, 0x01}), false},
      {"unknown field", with({0x30, 0x01}), false},
      {"zero key", with({0x00}), false},
      {"two-byte key for field 3", with({0x98, 0x00, 0x01}), false},
      {"timestamp as length-delimited", with({0x1A, 0x00}), false},
      {"truncated varint", with({0x18, 0x80}), false},
      {"ten-byte varint ending in 1", with({0x18, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                           0xFF, 0x01}),
       true},
      {"ten-byte varint ending in 2", with({0x18, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                           0xFF, 0x02}),
       false},
      {"eleven-byte varint", with({0x18, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
                                   0x80, 0x00}),
       false},
      {"parameter length past the end", with({0x0A, 0x05, 0x0A, 0x01, 'a'}), false},
      {"string value without name", with({0x0A, 0x03, 0x12, 0x01, 'v'}), false},
      {"empty name", with({0x0A, 0x04, 0x0A, 0x00, 0x18, 0x01}), false},
      {"float value", with({0x0A, 0x08, 0x0A, 0x01, 'f', 0x25, 0x00, 0x00, 0x80, 0x3F}), false},
      {"two value kinds", with({0x0A, 0x07, 0x0A, 0x01, 'a', 0x18, 0x01, 0x12, 0x00}), false},
      {"no value", with({0x0A, 0x03, 0x0A, 0x01, 'a'}), false},
      {"name twice", with({0x0A, 0x08, 0x0A, 0x01, 'a', 0x0A, 0x01, 'b', 0x18, 0x01}), false},
      {"invalid UTF-8 name", with({0x0A, 0x05, 0x0A, 0x01, 0xFF, 0x18, 0x01}), false},
      {"invalid UTF-8 value", with({0x0A, 0x06, 0x0A, 0x01, 'a', 0x12, 0x01, 0xC3}), false},
      {"origin of another kind", {0x0A, 0x06, 0x0A, 0x02, '_', 'o', 0x18, 0x01}, false},
      {"empty origin", {0x0A, 0x06, 0x0A, 0x02, '_', 'o', 0x12, 0x00}, false},
      {"later origin wins", with({0x0A, 0x08, 0x0A, 0x02, '_', 'o', 0x12, 0x02, 'a', 'b'}), true},
      {"double", with({0x0A, 0x0C, 0x0A, 0x01, 'd', 0x29, 0, 0, 0, 0, 0, 0, 0xF8, 0x7F}), true},
      {"double cut short", with({0x0A, 0x0B, 0x0A, 0x01, 'd', 0x29, 0, 0, 0, 0, 0, 0, 0xF8}),
       false},
      {"item list", with({0x0A, 0x0C, 0x0A, 0x01, 'i', 0x32, 0x07, 0x32, 0x05, 0x0A, 0x01, 'k',
                          0x18, 0x02}),
       true},
      {"empty item", with({0x0A, 0x05, 0x0A, 0x01, 'i', 0x32, 0x00}), false},
      {"item with a name", with({0x0A, 0x0F, 0x0A, 0x01, 'i', 0x32, 0x0A, 0x0A, 0x01, 'x', 0x32,
                                 0x05, 0x0A, 0x01, 'k', 0x18, 0x02}),
       false},
      {"item with a value", with({0x0A, 0x07, 0x0A, 0x01, 'i', 0x32, 0x02, 0x18, 0x01}), false},
      {"field without a name in an item", with({0x0A, 0x09, 0x0A, 0x01, 'i', 0x32, 0x04, 0x32,
                                                0x02, 0x18, 0x02}),
       false},
      {"list inside an item", with({0x0A, 0x0E, 0x0A, 0x01, 'i', 0x32, 0x09, 0x32, 0x07, 0x0A,
                                    0x01, 'k', 0x32, 0x02, 0x18, 0x01}),
       false},
      {"five-byte length", with({0x0A, 0x85, 0x80, 0x80, 0x80, 0x00, 0x0A, 0x01, 'a', 0x18, 0x01}),
       false},
      {"four-byte length", with({0x0A, 0x85, 0x80, 0x80, 0x00, 0x0A, 0x01, 'a', 0x18, 0x01}), true},
  };
  for (const auto& c : cases) {
    const auto content = MSREventStoredFormRead(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(content.has_value(), c.direct) << c.what;
  }
}

}  // namespace
