#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "measurement/foundation/MSREvent.h"
#include "measurement/foundation/MSRUserAttribute.h"
#include "measurement/foundation/MSRValue.h"
#include "measurement/foundation/tests/MSRTestSupport.h"
#include "measurement/messages/MSRPBAccessors.h"
#include "measurement/messages/MSRPBEvent.h"
#include "measurement/messages/MSRPBEventParam.h"
#include "measurement/messages/MSRPBUserAttribute.h"
#include "platform/testing/PlatformTest.h"

namespace {

using platform::Value;

class MSREventProtoTest : public platform::testing::PlatformTest {};

TEST_F(MSREventProtoTest, EventsSurviveTheMessageExceptForArrays) {
  const Value items(Value::Array{Value(Value::Dictionary{{"item_id", Value("a")}})});
  const MSRParameters given{{"n", Value(7)}, {"d", Value(2.5)}, {"s", Value("x")},
                            {"items", items}};
  auto event = MSREvent::initWithOrigin("app", true, "purchase", 100.0019, 1.5, &given);
  ASSERT_TRUE(event);
  auto proto = event->protoEvent();
  EXPECT_EQ(MSRPBGetInt64(proto, 2), 100001);
  EXPECT_EQ(MSRPBGetInt64(proto, 3), 1500);
  EXPECT_EQ(*MSRPBGetString(proto, 1).string(), "purchase");
  EXPECT_EQ(MSRPBGetRepeated<MSRPBEventParam>(proto, 0).count(), 5u);  // with "_o"

  auto back = MSREvent::initWithEventProto(MSRPBEvent::initWithBuffer(*proto->protoBuffer()));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->origin(), "app");
  EXPECT_EQ(back->name(), "purchase");
  EXPECT_DOUBLE_EQ(back->timestamp(), 100.001);
  EXPECT_DOUBLE_EQ(back->previousTimestamp(), 1.5);
  EXPECT_EQ(back->parameters().at("n").objectAs<MSRValue>()->int64Value(), 7);
  EXPECT_EQ(back->parameters().at("d").objectAs<MSRValue>()->doubleValue(), 2.5);
  EXPECT_EQ(back->parameters().at("s").objectAs<MSRValue>()->stringValue(), "x");
  EXPECT_EQ(back->parameters().count("items"), 0u);
}

TEST_F(MSREventProtoTest, NoPreviousTimeAndNoOrigin) {
  auto event = MSREvent::initWithOrigin("auto", false, "_e", 1, 0, nullptr);
  EXPECT_FALSE(MSRPBHasField(event->protoEvent(), 3));
  auto noOrigin = MSRPBEvent::message();
  MSRPBSetStringField(noOrigin, 1, Value("_e"));
  EXPECT_FALSE(MSREvent::initWithEventProto(noOrigin));
  auto badOrigin = MSRPBEvent::message();
  MSRPBSetStringField(badOrigin, 1, Value("_e"));
  auto o = MSRPBEventParam::message();
  MSRPBSetStringField(o, 0, Value("_o"));
  MSRPBSetInt64(o, 2, 5);
  MSRPBSetRepeated(badOrigin, 0, Value(Value::Array{Value(o)}));
  EXPECT_FALSE(MSREvent::initWithEventProto(badOrigin));
}

TEST_F(MSREventProtoTest, UserAttributesCarryTheirValueByKind) {
  auto text = MSRUserAttribute::initWithOrigin("app", "colour",
                                               MSRValue::initWithString(Value("red")), 1.9999);
  auto p = text->protoUserAttribute();
  EXPECT_EQ(MSRPBGetInt64(p, 0), 1999);
  EXPECT_EQ(*MSRPBGetString(p, 1).string(), "colour");
  EXPECT_EQ(*MSRPBGetString(p, 2).string(), "red");
  EXPECT_FALSE(MSRPBHasField(p, 3));
  auto number = MSRUserAttribute::initWithOrigin("app", "n", MSRValue::initWithDouble(0.5), -1.5);
  auto q = number->protoUserAttribute();
  EXPECT_EQ(MSRPBGetInt64(q, 0), -1500);
  EXPECT_EQ(MSRPBGetDouble(q, 5), 0.5);
  EXPECT_FALSE(MSRPBHasField(q, 4));
  auto list = MSRUserAttribute::initWithOrigin(
      "app", "l", MSRValue::initWithArray(Value(Value::Array{})), 1);
  auto r = list->protoUserAttribute();
  for (int slot : {2, 3, 4, 5}) EXPECT_FALSE(MSRPBHasField(r, slot));
  EXPECT_TRUE(MSRPBHasField(r, 0));
  EXPECT_TRUE(MSRPBHasField(r, 1));
}

// Times come from callers and stored rows: whatever the double, the milliseconds are defined.
TEST_F(MSREventProtoTest, MillisecondsSaturateAndNoNumberIsZero) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  const struct Row {
    double seconds;
    std::int64_t millis;
  } rows[] = {
      {std::nan(""), 0}, {1e300, kMax}, {kInf, kMax},
      {9.3e15, kMax},  // a thousand times it is past the 64-bit range
      {-1e300, kMin},    {-kInf, kMin}, {9.2e15, 9200000000000000000},
      {1.9999, 1999},    {-1.5, -1500},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.seconds);
    auto event = MSREvent::initWithOrigin("app", false, "_e", row.seconds, 0, nullptr);
    ASSERT_TRUE(event);
    EXPECT_EQ(MSRPBGetInt64(event->protoEvent(), 2), row.millis);
    // A previous time is written only when it is above zero.
    auto later = MSREvent::initWithOrigin("app", false, "_e", kInf, row.seconds, nullptr);
    const auto proto = later->protoEvent();
    if (row.seconds > 0) {
      EXPECT_EQ(MSRPBGetInt64(proto, 3), row.millis);
    } else {
      EXPECT_FALSE(MSRPBHasField(proto, 3));
    }
    auto attribute =
        MSRUserAttribute::initWithOrigin("app", "n", MSRValue::initWithInt64(1), row.seconds);
    ASSERT_TRUE(attribute);
    EXPECT_EQ(MSRPBGetInt64(attribute->protoUserAttribute(), 0), row.millis);
  }
}

}  // namespace
