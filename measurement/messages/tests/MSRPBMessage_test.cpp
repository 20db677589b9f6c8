#include "measurement/messages/MSRPBMessage.h"

#include <gtest/gtest.h>

#include "measurement/messages/MSRPBAccessors.h"
#include "measurement/messages/MSRPBCodecs.h"
#include "measurement/messages/MSRPBEvent.h"
#include "measurement/messages/MSRPBEventParam.h"
#include "measurement/messages/MSRPBFlag.h"
#include "measurement/messages/MSRPBMeasurementBatch.h"
#include "measurement/messages/MSRPBMeasurementBundle.h"
#include "measurement/messages/MSRPBUserAttribute.h"
#include "platform/dispatch/SystemLog.h"
#include "platform/testing/PlatformTest.h"

namespace {

using platform::Value;

class MSRPBMessageTest : public platform::testing::PlatformTest {};

TEST_F(MSRPBMessageTest, ClassesCarryTheirMessageNameAndFunctions) {
  auto bundle = MSRPBMeasurementBundle::message();
  ASSERT_NE(bundle, nullptr);
  EXPECT_STREQ(bundle->messageID(), "MeasurementBundle");
  EXPECT_STREQ(bundle->messageInfo()->name, "MeasurementBundle");
  EXPECT_EQ(bundle->className(), "MSRPBMeasurementBundle");
  EXPECT_EQ(bundle->initMessageInfoFn(), &MSRPBMeasurementBundleInit);
  EXPECT_EQ(bundle->deallocMessageFieldFn(), &MSRPBMeasurementBundleFreeField);
  EXPECT_EQ(bundle->copyMessageInfoFn(), &MSRPBMeasurementBundleCopy);
}

TEST_F(MSRPBMessageTest, AnEmptyFlagEncodesToEmptyData) {
  auto flag = MSRPBFlag::initWithBuffer(Value());
  ASSERT_NE(flag, nullptr);
  auto bytes = flag->protoBuffer();
  ASSERT_TRUE(bytes.has_value());
  EXPECT_TRUE(bytes->empty());
  EXPECT_EQ(MSRPBFlag::initWithBuffer(Value("not data")), nullptr);
}

TEST_F(MSRPBMessageTest, MessagesOfAnotherKindAreRefused) {
  auto event = MSRPBEvent::message();
  EXPECT_EQ(MSRPBEventParam::initWithMessageInfo(event->messageInfo()), nullptr);
  EXPECT_NE(MSRPBEvent::initWithMessageInfo(event->messageInfo()), nullptr);
}

TEST_F(MSRPBMessageTest, BatchOfBundlesRoundTripsByteIdentically) {
  auto param = MSRPBEventParam::message();
  MSRPBSetStringField(param, 0, Value("value"));
  MSRPBSetDoubleField(param, 4, 9.75);
  auto event = MSRPBEvent::message();
  MSRPBSetRepeated(event, 0, Value(Value::Array{Value(param)}));
  MSRPBSetStringField(event, 1, Value("_e"));
  MSRPBSetInt64(event, 2, 1700000000000);
  auto attribute = MSRPBUserAttribute::message();
  MSRPBSetStringField(attribute, 1, Value("_fot"));
  MSRPBSetInt64(attribute, 3, 1);
  auto bundle = MSRPBMeasurementBundle::message();
  MSRPBSetInt32(bundle, 0, 1);
  MSRPBSetRepeated(bundle, 1, Value(Value::Array{Value(event), Value(event)}));
  MSRPBSetRepeated(bundle, 2, Value(Value::Array{Value(attribute)}));
  MSRPBSetStringField(bundle, 8, Value("ios"));
  MSRPBSetBoolField(bundle, 21, true);
  MSRPBSetInt32(bundle, 41, 3);
  auto batch = MSRPBMeasurementBatch::message();
  MSRPBSetRepeated(batch, 0, Value(Value::Array{Value(bundle)}));

  const auto bytes = batch->protoBuffer();
  ASSERT_TRUE(bytes.has_value());
  auto decoded = MSRPBMeasurementBatch::initWithBuffer(*bytes);
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(decoded->protoBuffer(), bytes);

  auto bundles = MSRPBGetRepeated<MSRPBMeasurementBundle>(decoded, 0);
  ASSERT_EQ(bundles.count(), 1u);
  auto back = bundles.at(0).objectAs<MSRPBMeasurementBundle>();
  EXPECT_EQ(MSRPBGetString(back, 8), Value("ios"));
  EXPECT_TRUE(MSRPBGetBool(back, 21));
  EXPECT_EQ(MSRPBGetInt32(back, 41), 3);
  auto events = MSRPBGetRepeated<MSRPBEvent>(back, 1);
  ASSERT_EQ(events.count(), 2u);
  auto firstEvent = events.at(0).objectAs<MSRPBEvent>();
  EXPECT_EQ(MSRPBGetString(firstEvent, 1), Value("_e"));
  auto params = MSRPBGetRepeated<MSRPBEventParam>(firstEvent, 0);
  ASSERT_EQ(params.count(), 1u);
  EXPECT_EQ(MSRPBGetDouble(params.at(0).objectAs<MSRPBEventParam>(), 4), 9.75);
}

TEST_F(MSRPBMessageTest, UndecodableBytesGiveNull) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(MSRPBEvent::initWithBuffer(platform::Bytes{0x0A, 0x05, 0x01}), nullptr);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("<ERROR> Event decoder failed: "), std::string::npos) << out;
}

TEST_F(MSRPBMessageTest, FlagValuesByKind) {
  struct Row {
    Value value;
    int slot;
    Value expected;
  } rows[] = {
      {Value(2.5), 3, Value(2.5)},
      {Value(true), 1, Value(1)},
      {Value(-4), 1, Value(-4)},
      {Value("on"), 2, Value("on")},
  };
  for (const Row& row : rows) {
    auto flag = MSRPBFlagWithNameValue(Value("f"), row.value);
    ASSERT_NE(flag, nullptr) << row.value.description();
    EXPECT_EQ(MSRPBGetString(flag, 0), Value("f"));
    for (int slot = 1; slot <= 4; ++slot) {
      EXPECT_EQ(MSRPBHasField(flag, slot), slot == row.slot) << row.value.description();
    }
    EXPECT_EQ(MSRPBFlagValueObject(flag), row.expected);
    EXPECT_FALSE(MSRPBFlagValueObject(flag).isFloatingPoint() && row.slot == 1);
  }
  auto boolFlag = MSRPBFlag::message();
  MSRPBSetBoolField(boolFlag, 4, true);
  EXPECT_EQ(MSRPBFlagValueObject(boolFlag), Value(true));
  EXPECT_TRUE(MSRPBFlagValueObject(MSRPBFlag::message()).isNil());
  EXPECT_TRUE(MSRPBFlagValueObject(nullptr).isNil());
}

TEST_F(MSRPBMessageTest, FlagsRefuseBadNamesAndValuesThroughTheEngineMonitor) {
  platform::SystemLogCapture log;
  struct Row {
    Value name;
    Value value;
    const char* logged;
  } rows[] = {
      {Value(), Value(1), "I-ACS850000"},
      {Value(3), Value(1), "I-ACS850001"},
      {Value("f"), Value::date(5), "I-ACS850002"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(MSRPBFlagWithNameValue(row.name, row.value), nullptr) << row.logged;
    // The monitor writes on its own queue.
    EXPECT_TRUE(pumpUntil([&] { return log.contains(row.logged); })) << row.logged;
  }
  EXPECT_TRUE(log.contains("Flag value is invalid"));
  EXPECT_EQ(MSRPBFlagWithNameValue(Value("f"), Value()), nullptr);
}

}  // namespace
