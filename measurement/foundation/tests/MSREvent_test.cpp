#include "measurement/foundation/MSREvent.h"

#include <gtest/gtest.h>

#include <limits>

#include "measurement/foundation/MSREventAggregates.h"
#include "measurement/foundation/MSRRawEventData.h"
#include "measurement/foundation/MSRUserAttribute.h"
#include "measurement/foundation/MSRValue.h"
#include "measurement/foundation/tests/MSRTestSupport.h"
#include "platform/testing/PlatformTest.h"

namespace {

using platform::Value;

class MSREventTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    msr_test::engineLines();
    vtu::testing::startCapturingLines();
  }
  static Value i64(std::int64_t v) { return Value(MSRValue::initWithInt64(v)); }
  static Value str(const char* s) { return Value(MSRValue::initWithString(Value(s))); }
  static MSREventPtr make(const MSRParameters& p, const char* name = "_e",
                          const char* origin = "app") {
    return MSREvent::initWithOrigin(origin, false, name, 100, 0, &p);
  }
  static std::int64_t intOf(const MSREvent& e, const char* key) {
    auto it = e.parameters().find(key);
    return it == e.parameters().end() ? -1 : it->second.objectAs<MSRValue>()->int64Value();
  }
  static bool lineContains(const std::string& text) {
    for (const auto& l : msr_test::engineLines()) {
      if (l.find(text) != std::string::npos) return true;
    }
    return false;
  }
};

TEST_F(MSREventTest, OriginsAndNamesDecideWhetherAnEventExists) {
  const std::pair<std::string, bool> origins[] = {
      {"app", true}, {"auto", true}, {"web+gtm", true}, {"+gtm", false},
      {"", false},   {"a-b", false}, {std::string(33, 'o'), false},
  };
  for (const auto& [origin, ok] : origins) {
    SCOPED_TRACE(origin);
    EXPECT_EQ(MSREvent::initWithOrigin(origin, false, "_e", 1, 0, nullptr) != nullptr, ok);
  }
  EXPECT_TRUE(MSREvent::initWithOrigin("app", true, "my_event", 1, 0, nullptr));
  EXPECT_FALSE(MSREvent::initWithOrigin("app", true, "first_open", 1, 0, nullptr));
  EXPECT_TRUE(MSREvent::initWithOrigin("app", false, "_f", 1, 0, nullptr));
  EXPECT_FALSE(MSREvent::initWithOrigin("app", false, "bad name", 1, 0, nullptr));
}

TEST_F(MSREventTest, OriginIsStampedAndParametersSanitised) {
  const MSRParameters given{{"_o", Value("fake")}, {"n", Value(3)}};
  auto e = MSREvent::initWithOrigin("auto", false, "_e", 10, 20, &given);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->parameters().at("_o").objectAs<MSRValue>()->stringValue(), "auto");
  EXPECT_EQ(intOf(*e, "n"), 3);
  EXPECT_EQ(e->previousTimestamp(), 20);  // kept, though later than the timestamp
}

TEST_F(MSREventTest, ConversionFlagFollowsTheValueRule) {
  auto e = make({{"value", str("abc")}, {"currency", str("EUR")}});
  e->setConversion(true);
  EXPECT_FALSE(e->isConversion());
  EXPECT_EQ(intOf(*e, "_err"), 18);
  EXPECT_EQ(e->parameters().count("value"), 0u);

  auto ok = make({{"value", Value(9.5)}, {"currency", Value("EUR")}});
  ok->setConversion(true);
  EXPECT_TRUE(ok->isConversion());
  ok->setConversion(false);
  EXPECT_FALSE(ok->isConversion());
  EXPECT_EQ(intOf(*ok, "_err"), 10);
  ok->setConversion(true);  // a withdrawn conversion's error goes with it
  EXPECT_EQ(ok->parameters().count("_err"), 0u);

  // Built as a conversion without a currency: the value and the flag are dropped.
  auto built = make({{"_c", Value(1)}, {"value", Value(2)}});
  EXPECT_FALSE(built->isConversion());
  EXPECT_EQ(intOf(*built, "_err"), 19);
}

TEST_F(MSREventTest, RealtimeAndDebugFlags) {
  auto e = make({});
  EXPECT_FALSE(e->isRealtime());
  e->setRealtime(true);
  e->setDebug(true);
  EXPECT_TRUE(e->isRealtime());
  EXPECT_TRUE(e->isDebug());
  e->setDebug(false);
  EXPECT_FALSE(e->isDebug());
  auto s = make({{"_r", Value("yes")}});
  EXPECT_FALSE(s->isRealtime());
  MSRMeasurement::monitor()->flush();
  const Value sample = platform::UserDefaults::initWithSuiteName("com.veltro.vmp.measurement.monitor")
                           ->objectForKey("/veltro/measurement/health_monitor");
  ASSERT_TRUE(sample.isArray());  // 16006 is level 2: sampled
}

TEST_F(MSREventTest, DefaultsGoUnderTheEventsOwnParameters) {
  auto e = make({{"a", Value(1)}});
  e->applyParameters({{"a", Value(9)}, {"b", Value(2)}, {"_bad", Value(3)}});
  EXPECT_EQ(intOf(*e, "a"), 1);
  EXPECT_EQ(intOf(*e, "b"), 2);
  EXPECT_EQ(e->parameters().count("_bad"), 0u);
}

TEST_F(MSREventTest, ScreenParametersAreAddedOnce) {
  auto e = make({});
  EXPECT_FALSE(e->addScreenParameters({{"_sc", Value("Home")}}));  // no "_si"
  EXPECT_FALSE(e->addScreenParameters({{"_si", Value("x")}}));
  EXPECT_FALSE(e->addScreenParameters({{"_si", Value(1)}, {"_sn", Value("")}}));
  EXPECT_TRUE(lineContains("Received invalid screen name"));
  EXPECT_TRUE(e->addScreenParameters({{"_si", Value(7)}, {"_sc", Value("HomeView")}}));
  EXPECT_EQ(intOf(*e, "_si"), 7);
  EXPECT_EQ(e->parameters().at("_sc").objectAs<MSRValue>()->stringValue(), "HomeView");
  EXPECT_FALSE(e->addScreenParameters({{"_si", Value(8)}}));
}

TEST_F(MSREventTest, CopiesAreRebuiltAsInternalEvents) {
  auto e = make({{"a", Value(1)}});
  auto c = e->copyWithPreviousTimestamp(50);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->previousTimestamp(), 50);
  EXPECT_EQ(intOf(*c, "a"), 1);
  const MSRParameters replacement{{"b", Value(2)}};
  auto p = e->copyWithParameters(&replacement);
  EXPECT_EQ(p->parameters().count("a"), 0u);
  EXPECT_EQ(intOf(*p, "b"), 2);
  EXPECT_EQ(e->copy()->name(), "_e");
}

TEST_F(MSREventTest, EventPredicates) {
  EXPECT_TRUE(MSRIsErrorEvent(*make({}, "_err")));
  EXPECT_FALSE(MSRIsErrorEvent(*make({}, "_e")));
  EXPECT_TRUE(MSRIsSubscriptionEvent(*make({}, "_assr")));
  EXPECT_TRUE(MSRIsSubscriptionEvent(*make({{"subscription", Value(1)}}, "_iap")));
  EXPECT_FALSE(MSRIsSubscriptionEvent(*make({{"subscription", Value(1.0)}}, "_iap")));
  EXPECT_FALSE(MSRIsSubscriptionEvent(*make({}, "_iap")));
  const Value items(Value::Array{Value(Value::Dictionary{{"item_id", Value("a")}}),
                                 Value(Value::Dictionary{{"item_id", Value("b")}})});
  const MSRParameters withItems{{"items", items}};
  auto purchase = MSREvent::initWithOrigin("app", true, "purchase", 1, 0, &withItems);
  EXPECT_EQ(MSREventItemsCount(purchase.get()), 2);
  EXPECT_EQ(MSREventItemsCount(nullptr), 0);
}

TEST_F(MSREventTest, AggregatesCountAndWrapAtTheLimit) {
  EXPECT_FALSE(MSREventAggregates::initWithName("_e", -1, 0, 0, 0));
  EXPECT_FALSE(MSREventAggregates::initWithName("bad name", 0, 0, 0, 0));
  const auto max = std::numeric_limits<std::int32_t>::max();
  auto a = MSREventAggregates::initWithName("_e", max, max - 1, 3, 12.5);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->lastSamplingRate(), 1);
  EXPECT_TRUE(a->lastSampledComplexEventID().isNil());
  a->incrementLifetimeCount();
  a->incrementCurrentBundleCount();
  a->incrementCurrentSessionCount();
  EXPECT_EQ(a->lifetimeCount(), 0);
  EXPECT_EQ(a->currentBundleCount(), max);
  EXPECT_EQ(a->currentSessionCount(), 4);
}

TEST_F(MSREventTest, UserAttributesAndRawEventData) {
  const std::string long256(256, 'x');
  auto value = MSRValue::initWithString(Value(long256));
  EXPECT_TRUE(MSRUserAttribute::initWithOrigin("app", "_id", value, 1));
  EXPECT_FALSE(MSRUserAttribute::initWithOrigin("app", "_fot", value, 1));
  EXPECT_FALSE(MSRUserAttribute::initWithOrigin("app", "bad name", MSRValue::initWithInt64(1), 1));
  auto fot = MSRUserAttribute::initWithOrigin("auto", "_fot", MSRValue::initWithInt64(5), 2.5);
  ASSERT_TRUE(fot);
  EXPECT_FALSE(fot->isPublic());
  EXPECT_TRUE(MSRUserAttribute::initWithOrigin("app", "colour", MSRValue::initWithInt64(1), 0)
                  ->isPublic());
  EXPECT_EQ(fot->value()->int64Value(), 5);

  msr_test::engineLines();
  vtu::testing::startCapturingLines();
  EXPECT_FALSE(MSRRawEventData::initWithRawEvent(nullptr, 1, 0));
  EXPECT_FALSE(MSRRawEventData::initWithRawEvent(make({}), -1, 0));
  auto raw = MSRRawEventData::initWithRawEvent(make({}), 0, -42);
  ASSERT_TRUE(raw);
  EXPECT_EQ(raw->metadataFingerprint(), -42);
  EXPECT_TRUE(lineContains("[I-ACS028000] Failed to create raw event data. Received invalid raw event."));
  EXPECT_TRUE(lineContains("[I-ACS028001] Failed to create raw event data. Received invalid row ID. Row ID: -1"));
}

}  // namespace

namespace {

class MSREventEditTest : public platform::testing::PlatformTest {};

TEST_F(MSREventEditTest, ScriptEventsRoundTripWithPublicAndInternalNames) {
  auto script = MSRPEvent::initWithName(
      "screen_view", 12.5,
      {{"_o", Value("auto")}, {"n", Value(3)}, {"d", Value(1.5)}, {"s", Value("x")}});
  auto event = MSREvent::eventFromEditEvent(*script);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->name(), "_vs");
  EXPECT_EQ(event->origin(), "auto");
  EXPECT_EQ(event->timestamp(), 12.5);
  EXPECT_EQ(event->previousTimestamp(), 0);

  auto back = event->editEvent();
  EXPECT_EQ(back->name, "screen_view");
  EXPECT_EQ(back->timestamp, 12.5);
  EXPECT_EQ(back->parameters.at("n"), Value(3));
  EXPECT_TRUE(back->parameters.at("d").isFloatingPoint());
  EXPECT_EQ(*back->parameters.at("s").string(), "x");
  EXPECT_EQ(*back->parameters.at("_o").string(), "auto");

  auto plain = MSREvent::eventFromEditEvent(*MSRPEvent::initWithName("my_event", 1, {}));
  EXPECT_EQ(plain->origin(), "app");
  EXPECT_EQ(plain->editEvent()->name, "my_event");
}

TEST_F(MSREventEditTest, PlainParametersKeepOneLevelOfItems) {
  auto inner = MSRValue::initWithArray(Value(Value::Array{}));
  const Value items(MSRValue::initWithArray(Value(Value::Array{Value(Value::Dictionary{
      {"item_id", Value(MSRValue::initWithString(Value("a")))}, {"nested", Value(inner)}})})));
  const auto plain = MSRPlainParametersFromValues({{"items", items}, {"raw", Value(1)}}, false);
  EXPECT_EQ(plain.count("raw"), 0u);  // not a typed value
  const Value& first = plain.at("items").at(0);
  EXPECT_EQ(*first["item_id"].string(), "a");
  EXPECT_TRUE(first["nested"].isNil());
}

}  // namespace
