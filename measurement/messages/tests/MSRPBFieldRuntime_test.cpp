#include "measurement/messages/MSRPBFieldRuntime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "platform/testing/PlatformTest.h"

namespace {

using platform::Value;

class MSRPBFieldRuntimeTest : public platform::testing::PlatformTest {};

TEST_F(MSRPBFieldRuntimeTest, NullTargetsArePrintedAndIgnored) {
  struct Row {
    std::function<void()> call;
    const char* text;
  } rows[] = {
      {[] { MSRPBRepeatedFieldDealloc(nullptr); },
       "<ERROR> Unable to initialize the array. Array pointer is NULL\n"},
      {[] { MSRPBStringFieldDealloc(nullptr); },
       "<ERROR> Unable to dealloc string field. String struct is NULL\n"},
      {[] { MSRPBSetBool(nullptr, true); },
       "<ERROR> Unable to set bool. Destination pointer is NULL\n"},
      {[] { MSRPBSetUInt32(nullptr, 1); },
       "<ERROR> Unable to set uint32. Destination pointer is NULL\n"},
      {[] { MSRPBSetUInt64(nullptr, 1); },
       "<ERROR> Unable to set uint64. Destination pointer is NULL\n"},
      {[] { MSRPBSetFloat(nullptr, 1); },
       "<ERROR> Unable to set float. Destination pointer is NULL\n"},
      {[] { MSRPBSetDouble(nullptr, 1); },
       "<ERROR> Unable to set double. Destination pointer is NULL\n"},
      {[] { MSRPBSetString(nullptr, "a", 1); },
       "<ERROR> Unable to set string. Destination array is NULL\n"},
  };
  for (const Row& row : rows) {
    testing::internal::CaptureStdout();
    row.call();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), row.text);
  }
}

TEST_F(MSRPBFieldRuntimeTest, CellsAreMadeOnceAndOverwritten) {
  void* slot = nullptr;
  MSRPBSetUInt32(&slot, 0xFFFFFFFFu);
  void* const cell = slot;
  EXPECT_EQ(*static_cast<std::uint64_t*>(slot), 0xFFFFFFFFull) << "zero-extended";
  MSRPBSetBool(&slot, true);
  EXPECT_EQ(slot, cell);
  EXPECT_EQ(*static_cast<std::uint64_t*>(slot), 1u);
  std::free(slot);

  void* text = nullptr;
  MSRPBSetString(&text, "abc", 3);
  auto* field = static_cast<MSRPBStringField*>(text);
  EXPECT_EQ(field->length, 3u);
  EXPECT_EQ(field->bytes[3], 0) << "a setter adds a terminator";
  MSRPBSetString(&text, "xy", 2);
  EXPECT_EQ(text, field);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(field->bytes)), "xy");
  MSRPBStringFieldDealloc(field);
  EXPECT_EQ(field->bytes, nullptr);
  EXPECT_EQ(field->length, 0u);
  std::free(field);
}

TEST_F(MSRPBFieldRuntimeTest, ValuesToRecordsByKind) {
  MSRPBStringField field{};
  EXPECT_TRUE(MSRPBCopyStringToHolder(Value(), &field));
  EXPECT_EQ(field.bytes, nullptr);
  EXPECT_FALSE(MSRPBCopyStringToHolder(Value(1), &field));
  EXPECT_TRUE(MSRPBCopyStringToHolder(Value("h\xC3\xA9"), &field));
  EXPECT_EQ(field.length, 3u) << "UTF-8 bytes, not characters";
  MSRPBStringFieldDealloc(&field);

  EXPECT_FALSE(MSRPBCopyDataToHolder(Value("text"), &field));
  EXPECT_TRUE(MSRPBCopyDataToHolder(Value::data(platform::Bytes{0, 1, 2, 0}), &field));
  EXPECT_EQ(field.length, 4u);
  EXPECT_EQ(field.bytes[2], 2);
  MSRPBStringFieldDealloc(&field);
}

TEST_F(MSRPBFieldRuntimeTest, StringDecodeRefusesARecordThatLostItsBytes) {
  const pb_byte_t input[] = {'a', 'b'};
  pb_istream_t stream = pb_istream_from_buffer(input, sizeof input);
  auto* broken = static_cast<MSRPBStringField*>(std::calloc(1, sizeof(MSRPBStringField)));
  void* slot = broken;
  void* arg = &slot;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(MSRPBDecodeString(&stream, nullptr, &arg));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "<ERROR> String decoder failed: string data is NULL\n");
  EXPECT_FALSE(MSRPBDecodeString(&stream, nullptr, nullptr));
  std::free(broken);

  // Encoding such a record fails too, rather than writing garbage.
  pb_ostream_t sizing = PB_OSTREAM_SIZING;
  void* const encodeArg = &slot;
  slot = broken = static_cast<MSRPBStringField*>(std::calloc(1, sizeof(MSRPBStringField)));
  EXPECT_FALSE(MSRPBEncodeString(&sizing, nullptr, &encodeArg));
  std::free(broken);
}

}  // namespace
