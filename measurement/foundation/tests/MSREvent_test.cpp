#include "measurement/foundation/MSREvent.h"

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "measurement/foundation/MSRConstants.h"
#include "measurement/foundation/MSRDataTypeValidator.h"
#include "measurement/foundation/MSREventAggregates.h"
#include "measurement/foundation/MSRNaming.h"
#include "measurement/foundation/MSRRawEventData.h"
#include "measurement/foundation/MSRUserAttribute.h"
#include "measurement/foundation/MSRValue.h"
#include "measurement/foundation/tests/MSRTestSupport.h"
#include "measurement/messages/MSRPBAccessors.h"
#include "measurement/messages/MSRPBEvent.h"
#include "measurement/messages/MSRPBEventParam.h"
#include "platform/base/UserDefaults.h"
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

// The kind and value of every parameter, in enumeration order: "key=kind:value;" with kinds d, i,
// s and a[{element}...]; anything that is no typed value shows as "raw:".
std::string render(const MSRParameters& parameters);

std::string render(const Value& value) {
  auto v = value.objectAs<MSRValue>();
  if (!v) return "raw:" + value.description();
  if (v->isDouble()) return "d:" + v->value().description();
  if (v->isInt64()) return "i:" + v->value().description();
  if (v->isString()) return "s:" + *v->stringValue();
  std::string out = "a[";
  for (const auto& element : *v->arrayValue()) {
    out += element.dictionary() ? "{" + render(*element.dictionary()) + "}" : "?";
  }
  return out + "]";
}

std::string render(const MSRParameters& parameters) {
  std::string out;
  for (const auto& [key, value] : parameters) out += key + "=" + render(value) + ";";
  return out;
}

// Whole outcomes of the designated initializer: whether the event exists, the kind and value of
// each parameter it keeps, and every line it logs, in order.
TEST_F(MSREventTest, DesignatedInitializerOutcomes) {
  const Value typedItems(
      MSRValue::initWithArray(Value(Value::Array{Value(Value::Dictionary{{"x", str("y")}})})));
  MSRParameters many;
  std::string manyKept = "_err=i:5;_o=s:app;";
  for (int i = 0; i < 26; ++i) {
    const std::string key = (i < 10 ? "p0" : "p") + std::to_string(i);
    many[key] = Value(i);
    if (i < 25) manyKept += key + "=i:" + std::to_string(i) + ";";
  }
  const std::string chars = " must contain only letters, numbers, or underscores | ";
  struct Row {
    const char* what;
    std::string origin;
    bool isPublic;
    std::string name;
    double previous;
    std::optional<MSRParameters> parameters;
    std::string kept;  // "null" for no event
    std::vector<std::string> lines;
  };
  const Row rows[] = {
      {"typed values, as storage rebuilds them",
       "app",
       false,
       "play_sound",
       0,
       MSRParameters{{"sound", str("thunder")},
                     {"volume", Value(MSRValue::initWithDouble(0.75))},
                     {"index", i64(12)}},
       "_o=s:app;index=i:12;sound=s:thunder;volume=d:0.75;",
       {}},
      {"plain values of a public event",
       "app",
       true,
       "play_sound",
       0,
       MSRParameters{{"sound", Value("thunder")},
                     {"volume", Value(0.75)},
                     {"index", Value(12)},
                     {"repeat", Value(false)}},
       "_o=s:app;index=i:12;repeat=i:0;sound=s:thunder;volume=d:0.75;",
       {}},
      {"no parameters", "auto", false, "_e", 0, std::nullopt, "_o=s:auto;", {}},
      {"a given origin parameter is replaced",
       "app",
       false,
       "_e",
       0,
       MSRParameters{{"_o", Value("fake")}},
       "_o=s:app;",
       {}},
      {"bad public names: the first is recorded",
       "app",
       true,
       "my_event",
       0,
       MSRParameters{{"1st", Value(1)}, {"la_x", Value(2)}, {"ok", Value("x")}},
       "_err=i:3;_ev=s:1st;_o=s:app;ok=s:x;",
       {"13003 0 Event parameter name must start with a letter | 1st",
        "13008 0 Parameter name uses reserved prefix. Ignoring parameter | la_x"}},
      {"non-latin names and values",
       "app",
       false,
       "_e",
       0,
       MSRParameters{
           {"\xD0\xB7\xD0\xB2\xD1\x83\xD0\xBA", Value("\xD0\xB3\xD1\x80\xD0\xBE\xD0\xBC")},
           {"n", Value(1)}},
       "_o=s:app;n=i:1;\xD0\xB7\xD0\xB2\xD1\x83\xD0\xBA=s:\xD0\xB3\xD1\x80\xD0\xBE\xD0\xBC;",
       {}},
      {"an emoji in a name",
       "app",
       false,
       "_e",
       0,
       MSRParameters{{"a\xF0\x9F\x98\x80", Value(1)}},
       "_err=i:3;_ev=s:a\xF0\x9F\x98\x80;_o=s:app;",
       {"13002 0 Event parameter name" + chars + "a\xF0\x9F\x98\x80"}},
      {"an overlong name",
       "app",
       false,
       "_e",
       0,
       MSRParameters{{std::string(41, 'k'), Value(1)}},
       "_el=i:41;_err=i:3;_ev=s:" + std::string(40, 'k') + "...;_o=s:app;",
       {"13000 0 Event parameter name is too long. The maximum supported length is 40 | " +
        std::string(41, 'k')}},
      {"internal values at and over 256",
       "app",
       false,
       "_e",
       0,
       MSRParameters{{"v", Value(std::string(256, 'v'))}, {"w", Value(std::string(257, 'w'))}},
       "_el=i:257;_err=i:4;_ev=s:w;_o=s:app;v=s:" + std::string(256, 'v') + ";",
       {"13000 3 Event parameter value is too long. The maximum supported length is 256 | " +
        std::string(257, 'w')}},
      {"a public value over 100",
       "app",
       true,
       "my_event",
       0,
       MSRParameters{{"t", Value(std::string(101, 't'))}},
       "_el=i:101;_err=i:4;_ev=s:t;_o=s:app;",
       {"13000 3 Event parameter value is too long. The maximum supported length is 100 | " +
        std::string(101, 't')}},
      {"an overlong error value is cut",
       "app",
       false,
       "_e",
       0,
       MSRParameters{{"_ev", Value(std::string(300, 'x'))}},
       "_el=i:300;_ev=s:" + std::string(256, 'x') + "...;_o=s:app;",
       {}},
      {"values of no supported kind",
       "app",
       false,
       "_e",
       0,
       MSRParameters{{"n", Value::null()}, {"z", Value()}},
       "_o=s:app;",
       {"35001 0 Cannot create Value type with unsupported value. The Value has to be NSNumber, "
        "NSString or NSArray (if supported). Value | <null>",
        "18015 3 Event parameter value must be of type NSString, NSNumber or NSArray. Type | "
        "NSNull",
        "35000 0 Cannot create Value type with nil value |",
        "18015 3 Event parameter value must be of type NSString, NSNumber or NSArray. Type | nil"}},
      {"a conversion with items, value and currency",
       "app",
       false,
       "purchase",
       0,
       MSRParameters{
           {"_c", Value(1)},
           {"value", Value(7.96)},
           {"currency", Value("EUR")},
           {"items",
            Value(Value::Array{
                Value(Value::Dictionary{{"item_id", Value("sku-0")}, {"price", Value(1.99)}}),
                Value(Value::Dictionary{{"item_id", Value("sku-1")}, {"quantity", Value(2)}}),
            })}},
       "_c=i:1;_o=s:app;currency=s:EUR;items=a[{item_id=s:sku-0;price=d:1.99;}"
       "{item_id=s:sku-1;quantity=i:2;}];value=d:7.96;",
       {}},
      {"a conversion without currency loses value and flag",
       "app",
       false,
       "_e",
       0,
       MSRParameters{{"_c", Value(1)}, {"value", Value(2)}},
       "_err=i:19;_ev=s:currency;_o=s:app;",
       {"13004 3 Event parameter value cannot be nil |",
        "18014 3 Value parameter discarded. You must also supply a 3-letter ISO_4217 currency code "
        "in the currency parameter. |"}},
      {"an ad impression with a bad currency",
       "app",
       true,
       "ad_impression",
       0,
       MSRParameters{{"value", Value(1.5)}, {"currency", Value("US1")}},
       "_err=i:19;_ev=s:currency;_o=s:app;currency=s:US1;",
       {"13012 3 Event parameter value must contain a 3-letter ISO_4217 currency code. value | US1",
        "18014 3 Value parameter discarded. You must also supply a 3-letter ISO_4217 currency code "
        "in the currency parameter. |"}},
      {"items with a bad element and a custom parameter",
       "app",
       true,
       "purchase",
       0,
       MSRParameters{{"items", Value(Value::Array{
                                   Value(7),
                                   Value(Value::Dictionary{{"item_id", Value("a")},
                                                           {"colour", Value("red")}}),
                               })}},
       "_err=i:4;_ev=s:items[0];_o=s:app;items=a[{_err=i:23;item_id=s:a;}];",
       {"13014 0 Array param must be a dictionary. Parameters | 7",
        "18016 0 Item cannot contain custom parameters |"}},
      {"a typed array is kept unchecked",
       "app",
       false,
       "_e",
       0,
       MSRParameters{{"items", typedItems}},
       "_o=s:app;items=a[{x=s:y;}];",
       {}},
      {"too many custom parameters",
       "app",
       true,
       "my_event",
       0,
       many,
       manyKept,
       {"18017 1 Event cannot contain more than 25 parameters |"}},
      {"previous time after the time",
       "app",
       false,
       "_e",
       200,
       std::nullopt,
       "_o=s:app;",
       {"16002 5 Event created with previous timestamp after current timestamp |"}},
      {"forwarded origin", "web+gtm", false, "_e", 0, std::nullopt, "_o=s:web+gtm;", {}},
      {"non-latin origin",
       "\xD0\xB0\xD0\xBF",
       false,
       "_e",
       0,
       std::nullopt,
       "_o=s:\xD0\xB0\xD0\xBF;",
       {}},
      {"forwarded origin with a bad character",
       "a-b+gtm",
       false,
       "_e",
       0,
       std::nullopt,
       "null",
       {"13002 0 Event origin" + chars + "a-b"}},
      {"forwarded origin with nothing before the suffix",
       "+gtm",
       false,
       "_e",
       0,
       std::nullopt,
       "null",
       {"13001 0 Event origin is required and can't be empty |"}},
      {"origin with a bad character",
       "a-b",
       false,
       "_e",
       0,
       std::nullopt,
       "null",
       {"13002 0 Event origin" + chars + "a-b"}},
      {"origin too long",
       std::string(33, 'o'),
       false,
       "_e",
       0,
       std::nullopt,
       "null",
       {"13000 0 Event origin is too long. The maximum supported length is 32 | " +
        std::string(33, 'o')}},
      {"empty origin", "", false, "_e", 0, std::nullopt, "null", {}},
      {"origin with bytes that are no UTF-8",
       "ap\xFF",
       false,
       "_e",
       0,
       std::nullopt,
       "null",
       {"13002 0 Event origin" + chars + "ap\xEF\xBF\xBD"}},
      {"name with bytes that are no UTF-8",
       "app",
       false,
       "bad\xFF",
       0,
       std::nullopt,
       "null",
       {"13002 0 Event name" + chars + "bad\xEF\xBF\xBD"}},
      {"reserved public name",
       "app",
       true,
       "first_open",
       0,
       std::nullopt,
       "null",
       {"13006 0 Event name is reserved. Ignoring event | first_open"}},
      {"internal name of a public event",
       "app",
       true,
       "_vs",
       0,
       std::nullopt,
       "null",
       {"13003 0 Event name must start with a letter | _vs"}},
  };
  msr_test::MonitorRecorder recorder;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    recorder.clear();
    auto event = MSREvent::initWithOrigin(row.origin, row.isPublic, row.name, 100, row.previous,
                                          row.parameters ? &*row.parameters : nullptr);
    EXPECT_EQ(event ? render(event->parameters()) : "null", row.kept);
    EXPECT_EQ(recorder.lines(), row.lines);

    // Handing the dictionary over makes the same event with the same lines.
    recorder.clear();
    MSRParameters handed = row.parameters.value_or(MSRParameters{});
    auto taken = MSREvent::initWithOriginTakingParameters(row.origin, row.isPublic, row.name, 100,
                                                          row.previous, std::move(handed));
    EXPECT_EQ(taken ? render(taken->parameters()) : "null", row.kept);
    EXPECT_EQ(recorder.lines(), row.lines);

    if (!event) continue;
    for (const auto& made : {event, taken}) {
      ASSERT_TRUE(made);
      EXPECT_EQ(made->origin(), row.origin);
      EXPECT_EQ(made->name(), row.name);
      EXPECT_EQ(made->timestamp(), 100);
      EXPECT_EQ(made->previousTimestamp(), row.previous);
    }
  }
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

// Problems logged at levels that print nothing: each reaches the monitor with its code, level,
// text and contexts, stays off the console and lands in the health sample.
TEST_F(MSREventTest, QuietProblemsAreLoggedWithTheirCodesAndSampled) {
  MSRMeasurement::monitor()->setDebugModeEnabled(true);  // even so, nothing is printed
  msr_test::engineLines();
  vtu::testing::startCapturingLines();
  msr_test::MonitorRecorder recorder;
  const auto max = std::numeric_limits<std::int32_t>::max();
  const Value itemsArray(MSRValue::initWithArray(
      Value(Value::Array{Value(Value::Dictionary{{"item_id", str("a")}})})));
  struct Row {
    const char* what;
    std::function<void()> action;
    std::int64_t code;
    std::int64_t level;
    const char* message;
    std::vector<std::string> contexts;  // descriptions
  };
  const Row rows[] = {
      {"previous time after the time",
       [] { MSREvent::initWithOrigin("app", false, "_e", 10, 20, nullptr); },
       16002,
       5,
       "Event created with previous timestamp after current timestamp",
       {}},
      {"a stored parameter of no known kind",
       [] {
         auto proto = MSRPBEvent::message();
         MSRPBSetStringField(proto, 1, Value("_e"));
         auto origin = MSRPBEventParam::message();
         MSRPBSetStringField(origin, 0, Value("_o"));
         MSRPBSetStringField(origin, 1, Value("app"));
         auto onlyName = MSRPBEventParam::message();
         MSRPBSetStringField(onlyName, 0, Value("f"));
         MSRPBSetRepeated(proto, 0, Value(Value::Array{Value(origin), Value(onlyName)}));
         EXPECT_TRUE(MSREvent::initWithEventProto(proto));
       },
       15002,
       5,
       "Unknown event parameter type from converting an event proto into MSREvent instance. "
       "Event param name",
       {"f"}},
      {"a parameter that is no typed value",
       [] {
         MSREventParamsFromParameters({{"raw", Value(3)}}, "_e", false);
       },
       16005,
       2,
       "Invalid event param value. Event name, param name",
       {"_e", "raw"}},
      {"an items element that is no dictionary",
       [] {
         const Value odd(MSRValue::initWithArray(
             Value(Value::Array{Value(5), Value(Value::Dictionary{})})));
         const Value params = MSREventParamsFromParameters({{"items", odd}}, "purchase", false);
         ASSERT_EQ(params.count(), 1u);  // the parameter stays, without the element
       },
       16005,
       2,
       "Invalid event param value. Event name, param name",
       {"purchase", "items"}},
      {"an array inside an items element",
       [&] {
         MSREventParamsFromParameters({{"items", itemsArray}}, "purchase", true);
       },
       16007,
       2,
       "Nested params cannot have more than 1 level. Event name, param name",
       {"purchase", "items"}},
      {"a realtime flag that is no int64",
       [] {
         EXPECT_FALSE(make({{"_r", Value("yes")}})->isRealtime());
       },
       16006,
       2,
       "Realtime parameter must be an int64. Event name",
       {"_e"}},
      {"a negative count",
       [] { MSREventAggregates::initWithName("_e", 0, -1, 0, 0); },
       17000,
       5,
       "Failed to create event aggregates object. Received negative count.",
       {}},
      {"lifetime count at the maximum",
       [max] { MSREventAggregates::initWithName("_e", max, 0, 0, 0)->incrementLifetimeCount(); },
       17001,
       5,
       "Lifetime count overflow. Lifetime count reset to 0.",
       {}},
      {"bundle count at the maximum",
       [max] {
         MSREventAggregates::initWithName("_e", 0, max, 0, 0)->incrementCurrentBundleCount();
       },
       17002,
       5,
       "Bundle count overflow. Bundle count reset to 0.",
       {}},
      {"session count at the maximum",
       [max] {
         MSREventAggregates::initWithName("_e", 0, 0, max, 0)->incrementCurrentSessionCount();
       },
       17003,
       5,
       "Session count overflow. Session count reset to 0.",
       {}},
      {"a name that is no string",
       [] { EXPECT_FALSE(MSRIsPublicName(Value(5))); },
       18002,
       2,
       "Cannot check the name. Name is not a string",
       {}},
      {"an empty name",
       [] { EXPECT_FALSE(MSRIsPublicName(Value(""))); },
       18003,
       2,
       "Cannot check the name. Name is empty",
       {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    recorder.clear();
    row.action();
    const auto records = recorder.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].messageCode, row.code);
    EXPECT_EQ(records[0].level, row.level);
    EXPECT_EQ(records[0].message, row.message);
    std::vector<std::string> contexts;
    for (const auto& c : records[0].contexts) contexts.push_back(c.description());
    EXPECT_EQ(contexts, row.contexts);
  }
  EXPECT_TRUE(msr_test::engineLines().empty());
  MSRMeasurement::monitor()->flush();
  const Value sample = platform::UserDefaults::initWithSuiteName(kMSRMonitorSuiteName)
                           ->objectForKey(kMSRHealthMonitorKey);
  ASSERT_TRUE(sample.isArray());
  EXPECT_EQ(sample.at(1).int64Value(), static_cast<std::int64_t>(std::size(rows)));
}

TEST_F(MSREventTest, LengthLimitsHoldAtTheirBoundaries) {
  using V = MSRDataTypeValidator;
  auto text = [](std::size_t n) {
    return Value(MSRValue::initWithString(Value(std::string(n, 'v'))));
  };
  struct Row {
    const char* what;
    std::function<bool(const Value&, std::int64_t*)> rule;
    std::size_t limit;
  };
  const Row rows[] = {
      {"internal event parameter value", V::isValidInternalEventParameterValue, 256},
      {"public event parameter value", V::isValidPublicEventParameterValue, 100},
      {"public user property value", V::isValidPublicUserAttributeValue, 36},
      {"internal user property value",
       [](const Value& v, std::int64_t* c) {
         return V::isValidInternalUserAttributeValue(v, "x", c);
       },
       36},
      {"user id value",
       [](const Value& v, std::int64_t* c) {
         return V::isValidInternalUserAttributeValue(v, "_id", c);
       },
       256},
      {"conditional user property value", V::isValidConditionalUserPropertyValue, 36},
      {"screen value",
       [](const Value& v, std::int64_t* c) {
         return V::isValidScreenParameterValue(Value(*v.objectAs<MSRValue>()->stringValue()), c);
       },
       100},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::int64_t code = -1;
    EXPECT_TRUE(row.rule(text(row.limit), &code));
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(row.rule(text(row.limit + 1), &code));
    EXPECT_EQ(code, 2);
  }
  // The same boundaries where they decide what an event or a user property keeps.
  const MSRParameters internal{{"v", Value(std::string(256, 'v'))},
                               {"w", Value(std::string(257, 'w'))}};
  auto event = make(internal);
  EXPECT_EQ(event->parameters().count("v"), 1u);
  EXPECT_EQ(event->parameters().count("w"), 0u);
  EXPECT_EQ(intOf(*event, "_err"), 4);
  EXPECT_EQ(intOf(*event, "_el"), 257);
  EXPECT_TRUE(MSRUserAttribute::initWithOrigin(
      "app", "colour", MSRValue::initWithString(Value(std::string(36, 'c'))), 1));
  EXPECT_FALSE(MSRUserAttribute::initWithOrigin(
      "app", "colour", MSRValue::initWithString(Value(std::string(37, 'c'))), 1));
  auto screened = make({});
  EXPECT_FALSE(
      screened->addScreenParameters({{"_si", Value(1)}, {"_sn", Value(std::string(101, 's'))}}));
  EXPECT_TRUE(
      screened->addScreenParameters({{"_si", Value(1)}, {"_sn", Value(std::string(100, 's'))}}));
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

// A typed value whose kind says string or list while it wraps something else reads as nil: it is
// left out of the plain parameters and of the message, at the top and inside an item, and the
// entries beside it stay.
TEST_F(MSREventEditTest, ValuesThatAreNotTheirKindReadAsNil) {
  const Value notAString(MSRValue::initWithValueType(MSRValueTypeString, Value(5)));
  const Value notAList(MSRValue::initWithValueType(MSRValueTypeArray, Value("x")));
  const Value good(MSRValue::initWithString(Value("g")));
  const Value items(MSRValue::initWithArray(Value(Value::Array{
      Value(Value::Dictionary{{"item_id", good}, {"item_name", notAString}})})));
  const MSRParameters parameters{
      {"a", notAString}, {"b", notAList}, {"items", items}, {"s", good}};

  const auto plain = MSRPlainParametersFromValues(parameters, false);
  EXPECT_EQ(plain.count("a"), 0u);
  EXPECT_EQ(plain.count("b"), 0u);
  EXPECT_EQ(*plain.at("s").string(), "g");
  const Value& item = plain.at("items").at(0);
  EXPECT_EQ(*item["item_id"].string(), "g");
  EXPECT_TRUE(item["item_name"].isNil());

  const Value params = MSREventParamsFromParameters(parameters, "purchase", false);
  std::vector<std::string> names;
  for (const auto& param : *params.array()) {
    const auto message = param.objectAs<MSRPBEventParam>();
    names.push_back(*MSRPBGetString(message, 0).string());
    if (names.back() == "items") {
      const Value elements = MSRPBGetRepeated<MSRPBEventParam>(message, 5);
      ASSERT_EQ(elements.count(), 1u);
      const Value fields = MSRPBGetRepeated<MSRPBEventParam>(
          elements.array()->front().objectAs<MSRPBEventParam>(), 5);
      ASSERT_EQ(fields.count(), 1u);
      EXPECT_EQ(*MSRPBGetString(fields.array()->front().objectAs<MSRPBEventParam>(), 0).string(),
                "item_id");
    }
  }
  EXPECT_EQ(names, (std::vector<std::string>{"items", "s"}));

  // An event made with such values counts no items for them.
  const MSRParameters withItems{{"items", notAList}, {"value", Value(2)}};
  const auto event = MSREvent::initWithOrigin("app", false, "purchase", 1, 0, &withItems);
  ASSERT_TRUE(event);
  EXPECT_EQ(MSREventItemsCount(event.get()), 0);
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
