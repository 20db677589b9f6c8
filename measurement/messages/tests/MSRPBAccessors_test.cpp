#include "measurement/messages/MSRPBAccessors.h"

#include <gtest/gtest.h>

#include "measurement/messages/MSRPBAudienceLeafFilterResult.h"
#include "measurement/messages/MSRPBEvent.h"
#include "measurement/messages/MSRPBEventParam.h"
#include "measurement/messages/MSRPBFlag.h"
#include "measurement/messages/MSRPBHashedUserData.h"
#include "measurement/messages/MSRPBMeasurementBundle.h"
#include "measurement/messages/MSRPBResultData.h"
#include "measurement/messages/MSRPBStringFilter.h"
#include "measurement/messages/MSRPBUserAttribute.h"
#include "platform/dispatch/SystemLog.h"
#include "platform/testing/PlatformTest.h"

namespace {

using platform::Value;

class MSRPBAccessorsTest : public platform::testing::PlatformTest {
 protected:
  platform::SystemLogCapture log_;
};

TEST_F(MSRPBAccessorsTest, ScalarsAndStringsRoundTripThroughTheirSlots) {
  auto attribute = MSRPBUserAttribute::message();
  MSRPBSetInt64(attribute, 0, -1700000000123);
  MSRPBSetStringField(attribute, 1, Value("name"));
  MSRPBSetDoubleField(attribute, 5, 0.125);
  auto filter = MSRPBStringFilter::message();
  MSRPBSetInt32(filter, 0, 4);
  MSRPBSetBoolField(filter, 2, true);

  EXPECT_EQ(MSRPBGetInt64(attribute, 0), -1700000000123);
  EXPECT_EQ(MSRPBGetString(attribute, 1), Value("name"));
  EXPECT_EQ(MSRPBGetDouble(attribute, 5), 0.125);
  EXPECT_EQ(MSRPBGetInt32(filter, 0), 4);
  EXPECT_TRUE(MSRPBGetBool(filter, 2));
  EXPECT_FALSE(MSRPBHasField(attribute, 2));
  EXPECT_TRUE(log_.lines().empty());

  // Through the wire and back.
  auto decoded = MSRPBUserAttribute::initWithBuffer(*attribute->protoBuffer());
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(MSRPBGetInt64(decoded, 0), -1700000000123);
  EXPECT_EQ(MSRPBGetString(decoded, 1), Value("name"));
  EXPECT_EQ(MSRPBGetDouble(decoded, 5), 0.125);

  // Setting a string again replaces it; nil clears it.
  MSRPBSetStringField(attribute, 1, Value("other"));
  EXPECT_EQ(MSRPBGetString(attribute, 1), Value("other"));
  MSRPBSetStringField(attribute, 1, Value());
  EXPECT_FALSE(MSRPBHasField(attribute, 1));
  EXPECT_TRUE(MSRPBGetString(attribute, 1).isNil());
}

TEST_F(MSRPBAccessorsTest, KindMismatchesAreLoggedAndChangeNothing) {
  auto event = MSRPBEvent::message();
  MSRPBSetInt64(event, 2, 77);
  struct Row {
    std::function<void()> call;
    const char* text;
  } rows[] = {
      {[&] { EXPECT_EQ(MSRPBGetInt32(event, 2), 0); },
       "<Nano/Failure> Field type isn't a scalar INT32. Message: Event, field ID: 2"},
      {[&] { EXPECT_FALSE(MSRPBGetBool(event, 0)); },
       "<Nano/Failure> Field type isn't a scalar BOOL. Message: Event, field ID: 0"},
      {[&] { MSRPBSetDoubleField(event, 1, 1.0); },
       "<Nano/Failure> Field type isn't a scalar DOUBLE. Message: Event, field ID: 1"},
      {[&] { EXPECT_TRUE(MSRPBGetString(event, 2).isNil()); },
       "<Nano/Failure> Field type isn't a scalar STRING. Message: Event, field ID: 2"},
      {[&] { EXPECT_TRUE(MSRPBGetRepeated(event, 1).isNil()); },
       "<Nano/Failure> Field type isn't REPEATED. Message: Event, field ID: 1"},
      {[&] { MSRPBSetStringField(event, 1, Value(3)); },
       "<ERROR> Invalid object type. String fields expect NSString. Type: NSNumber"},
      {[&] { EXPECT_EQ(MSRPBGetInt64(nullptr, 2), 0); },
       "ProtocolBuffer message hasn't been initialized. GetInt64 can't be performed"},
      {[&] { EXPECT_FALSE(MSRPBHasField(nullptr, 0)); },
       "ProtocolBuffer message hasn't been initialized. HasField operation can't be performed. "
       "Message name (null)"},
      {[&] { EXPECT_EQ(MSRPBGetInt64(event, 5), 0); },
       "<Nano/Failure> Field ID is out of range. Message: Event, field ID: 5"},
  };
  for (const Row& row : rows) {
    log_.clear();
    row.call();
    EXPECT_TRUE(log_.contains(row.text)) << row.text;
  }
  EXPECT_EQ(MSRPBGetInt64(event, 2), 77);
}

TEST_F(MSRPBAccessorsTest, HasFieldAnswersYesForRepeatedFieldsAndNoAfterClear) {
  auto event = MSRPBEvent::message();
  EXPECT_TRUE(MSRPBHasField(event, 0));
  MSRPBSetStringField(event, 1, Value("e"));
  EXPECT_TRUE(MSRPBHasField(event, 1));
  MSRPBClearField(event, 1);
  EXPECT_FALSE(MSRPBHasField(event, 1));
}

TEST_F(MSRPBAccessorsTest, RepeatedScalarsStoreEveryElementOrNone) {
  auto data = MSRPBResultData::message();
  MSRPBSetRepeated(data, 0, Value(Value::Array{Value(1), Value(2), Value(3)}));
  EXPECT_EQ(MSRPBGetRepeated(data, 0), Value(Value::Array{Value(1), Value(2), Value(3)}));

  log_.clear();
  MSRPBSetRepeated(data, 0, Value(Value::Array{Value(1), Value(2), Value(3), Value("four")}));
  EXPECT_TRUE(
      log_.contains("<ERROR> Invalid object type. Int64 fields expect NSNumber. Type: "
                    "NSString"));
  EXPECT_EQ(MSRPBGetRepeated(data, 0), Value(Value::Array{}));

  MSRPBSetRepeated(data, 1, Value(Value::Array{Value(9)}));
  MSRPBSetRepeated(data, 1, Value());
  const Value empty = MSRPBGetRepeated(data, 1);
  ASSERT_TRUE(empty.isArray());
  EXPECT_EQ(empty.count(), 0u);

  auto filter = MSRPBStringFilter::message();
  MSRPBSetRepeated(filter, 3, Value(Value::Array{Value("a"), Value("b")}));
  auto decoded = MSRPBStringFilter::initWithBuffer(*filter->protoBuffer());
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(MSRPBGetRepeated(decoded, 3), Value(Value::Array{Value("a"), Value("b")}));

  auto bundle = MSRPBMeasurementBundle::message();
  MSRPBSetRepeated(bundle, 37, Value(Value::Array{Value(4000000000u)}));
  EXPECT_EQ(MSRPBGetRepeated(bundle, 37), Value(Value::Array{Value(4000000000u)}));
}

TEST_F(MSRPBAccessorsTest, RepeatedMessagesAreCopiesInBothDirections) {
  auto inner = MSRPBEventParam::message();
  MSRPBSetStringField(inner, 0, Value("p"));
  MSRPBSetInt64(inner, 2, 5);
  auto event = MSRPBEvent::message();
  MSRPBSetRepeated(event, 0, Value(Value::Array{Value(inner), Value(inner)}));
  MSRPBSetInt64(inner, 2, 6);  // the event holds its own copies

  const Value params = MSRPBGetRepeated<MSRPBEventParam>(event, 0);
  ASSERT_EQ(params.count(), 2u);
  auto first = params.at(0).objectAs<MSRPBEventParam>();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(MSRPBGetInt64(first, 2), 5);
  MSRPBSetInt64(first, 2, 8);
  auto again = MSRPBGetRepeated<MSRPBEventParam>(event, 0).at(0).objectAs<MSRPBEventParam>();
  EXPECT_EQ(MSRPBGetInt64(again, 2), 5);

  // Elements of another message kind are refused; the field ends up empty.
  log_.clear();
  MSRPBSetRepeated(event, 0, Value(Value::Array{Value(inner), Value(MSRPBFlag::message())}));
  EXPECT_TRUE(
      log_.contains("<ERROR> Invalid object type. Message fields expect NANOMessageBase. "
                    "Type: MSRPBFlag"));
  EXPECT_EQ(MSRPBGetRepeated<MSRPBEventParam>(event, 0).count(), 0u);

  // A class of another kind gives nothing, without a log.
  MSRPBSetRepeated(event, 0, Value(Value::Array{Value(inner)}));
  log_.clear();
  EXPECT_EQ(MSRPBGetRepeated<MSRPBFlag>(event, 0).count(), 0u);
  EXPECT_TRUE(log_.lines().empty());
  // No class at all is logged.
  EXPECT_EQ(MSRPBGetRepeated(event, 0).count(), 0u);
  EXPECT_TRUE(
      log_.contains("<ERROR> Provided class doesn't implement initWithMessageInfo: "
                    "method. Class: nil"));
}

TEST_F(MSRPBAccessorsTest, SingularMessagesAreCopiesAndCheckedForKind) {
  auto hashed = MSRPBHashedUserData::message();
  MSRPBSetStringField(hashed, 0, Value("h"));
  auto bundle = MSRPBMeasurementBundle::message();
  MSRPBSetMessage(bundle, 45, hashed);
  MSRPBSetStringField(hashed, 0, Value("changed"));

  auto stored = MSRPBGetMessage<MSRPBHashedUserData>(bundle, 45);
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(MSRPBGetString(stored, 0), Value("h"));
  log_.clear();
  EXPECT_EQ(MSRPBGetMessage<MSRPBFlag>(bundle, 45), nullptr);
  EXPECT_TRUE(log_.lines().empty());

  // A message of another kind would be read with the wrong schema later: refused.
  MSRPBSetMessage(bundle, 45, MSRPBFlag::message());
  EXPECT_NE(MSRPBGetMessage<MSRPBHashedUserData>(bundle, 45), nullptr);
  MSRPBSetMessage(bundle, 45, nullptr);
  EXPECT_FALSE(MSRPBHasField(bundle, 45));

  // A sub-message with repeated fields survives the wire.
  auto leaf = MSRPBAudienceLeafFilterResult::message();
  auto data = MSRPBResultData::message();
  MSRPBSetRepeated(data, 1, Value(Value::Array{Value(7), Value(8)}));
  MSRPBSetMessage(leaf, 1, data);
  auto decoded = MSRPBAudienceLeafFilterResult::initWithBuffer(*leaf->protoBuffer());
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(MSRPBGetRepeated(MSRPBGetMessage<MSRPBResultData>(decoded, 1), 1),
            Value(Value::Array{Value(7), Value(8)}));
  EXPECT_FALSE(MSRPBHasField(decoded, 2));
}

TEST_F(MSRPBAccessorsTest, InvalidUtf8ReadsAsNil) {
  auto event = MSRPBEvent::message();
  const platform::Bytes wire = {0x12, 0x02, 0xC3, 0x28};  // tag 2, two bytes that are not UTF-8
  auto decoded = MSRPBEvent::initWithBuffer(wire);
  ASSERT_NE(decoded, nullptr);
  EXPECT_TRUE(MSRPBHasField(decoded, 1));
  EXPECT_TRUE(MSRPBGetString(decoded, 1).isNil());
}

}  // namespace
