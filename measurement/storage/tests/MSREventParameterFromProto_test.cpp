#include <gtest/gtest.h>

#include "measurement/foundation/MSRValue.h"
#include "measurement/messages/MSRPBAccessors.h"
#include "measurement/messages/MSRPBEventParam.h"
#include "measurement/messages/MSRPBSchema.h"
#include "measurement/storage/MSRDatabase.h"
#include "measurement/storage/tests/MSRStorageTestSupport.h"
#include "platform/testing/PlatformTest.h"

using platform::ErrorPtr;
using platform::Value;

namespace {

std::int32_t slot(std::uint32_t tag) {
  const MSRPBMessageType* type = MSRPBMessageTypeNamed("EventParam");
  for (std::uint32_t i = 0; i < type->fieldCount; ++i) {
    if (type->fields[i].tag == tag) return static_cast<std::int32_t>(i);
  }
  return -1;
}

std::shared_ptr<MSRPBEventParam> param(const char* name) {
  auto message = MSRPBEventParam::message();
  if (name) MSRPBSetStringField(message, slot(1), Value(name));
  return message;
}

class MSREventParameterFromProtoTest : public platform::testing::PlatformTest {};

TEST_F(MSREventParameterFromProtoTest, SingleValuesByTheirFirstPresentField) {
  auto text = param("s");
  MSRPBSetStringField(text, slot(2), Value("v"));
  MSRPBSetInt64(text, slot(3), 5);  // the string comes first
  auto number = param("n");
  MSRPBSetInt64(number, slot(3), 7);
  auto real = param("d");
  MSRPBSetDoubleField(real, slot(5), 1.5);

  auto read = [](const std::shared_ptr<MSRPBEventParam>& p, const char* name) {
    auto entry = MSREventParameterFromProto(p, false, nullptr);
    EXPECT_TRUE(entry && entry->count(name));
    return entry ? entry->at(name).objectAs<MSRValue>() : nullptr;
  };
  EXPECT_EQ(read(text, "s")->stringValue(), std::optional<std::string>("v"));
  EXPECT_EQ(read(number, "n")->int64Value(), 7);
  EXPECT_DOUBLE_EQ(read(real, "d")->doubleValue(), 1.5);
}

TEST_F(MSREventParameterFromProtoTest, UnreadableParametersFail) {
  ErrorPtr error;
  EXPECT_FALSE(MSREventParameterFromProto(param("f"), false, &error));
  EXPECT_EQ(description(error), "Failed to parse invalid event params data");
  auto unnamed = param(nullptr);
  MSRPBSetInt64(unnamed, slot(3), 1);
  EXPECT_FALSE(MSREventParameterFromProto(unnamed, false, &error));
  EXPECT_EQ(description(error), "Event parameter name is empty");
  EXPECT_TRUE(MSREventParameterFromProto(unnamed, true, nullptr));  // nested may lack a name
  EXPECT_FALSE(MSREventParameterFromProto(nullptr, false, &error));
  EXPECT_EQ(description(error), "Failed to parse empty event params data");
}

TEST_F(MSREventParameterFromProtoTest, ItemListReadsAsArrayOfDictionaries) {
  auto field = param("id");
  MSRPBSetStringField(field, slot(2), Value("sku"));
  auto price = param("price");
  MSRPBSetDoubleField(price, slot(5), 2.5);
  auto deeper = param("deep");
  MSRPBSetRepeated(deeper, slot(6), Value(Value::Array{Value(param("x"))}));
  auto item = param(nullptr);
  MSRPBSetRepeated(item, slot(6), Value(Value::Array{Value(field), Value(price), Value(deeper)}));
  auto items = param("items");
  MSRPBSetRepeated(items, slot(6), Value(Value::Array{Value(item)}));

  auto entry = MSREventParameterFromProto(items, false, nullptr);
  ASSERT_TRUE(entry);
  auto value = entry->at("items").objectAs<MSRValue>();
  ASSERT_TRUE(value && value->arrayValue());
  ASSERT_EQ(value->arrayValue()->size(), 1u);
  const Value& first = value->arrayValue()->front();
  ASSERT_TRUE(first.isDictionary());
  EXPECT_EQ(first.count(), 2u);  // the deeper list is dropped
  EXPECT_TRUE(first.dictionary()->count("id"));
  EXPECT_TRUE(first.dictionary()->count("price"));
}

}  // namespace
