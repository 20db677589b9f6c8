#include "measurement/foundation/MSRParameterSanitizer.h"

#include <gtest/gtest.h>

#include "measurement/foundation/MSREvent.h"
#include "measurement/foundation/MSRValue.h"
#include "measurement/foundation/tests/MSRTestSupport.h"
#include "platform/base/Format.h"
#include "platform/runtime/Runtime.h"
#include "platform/testing/PlatformTest.h"

namespace {

using platform::Value;

class MSRParameterSanitizerTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    msr_test::engineLines();
    vtu::testing::startCapturingLines();
  }
  static std::int64_t intOf(const MSRParameters& p, const char* key) {
    auto it = p.find(key);
    if (it == p.end()) return -1;
    return it->second.objectAs<MSRValue>()->int64Value();
  }
  static std::string strOf(const MSRParameters& p, const char* key) {
    auto it = p.find(key);
    if (it == p.end()) return "<none>";
    return it->second.objectAs<MSRValue>()->stringValue().value_or("<not a string>");
  }
  static MSRParameters sanitize(const MSRParameters& p, const char* event, bool isPublic) {
    return MSRSanitizedEventParameters(&p, std::string(event), isPublic, false).value();
  }
  static bool lineContains(const std::string& text) {
    for (const auto& l : msr_test::engineLines()) {
      if (l.find(text) != std::string::npos) return true;
    }
    return false;
  }
};

TEST_F(MSRParameterSanitizerTest, MissingOrEmptyInputGivesNothing) {
  EXPECT_FALSE(MSRSanitizedParameters(nullptr, true));
  const MSRParameters empty;
  EXPECT_FALSE(MSRSanitizedParameters(&empty, true));
}

TEST_F(MSRParameterSanitizerTest, RawValuesBecomeTypedAndTypedValuesStay) {
  auto typed = MSRValue::initWithString(Value("kept"));
  const MSRParameters in{{"a", Value(3)}, {"b", Value(1.5)}, {"c", Value(typed)}};
  const auto out = sanitize(in, "my_event", true);
  EXPECT_EQ(intOf(out, "a"), 3);
  EXPECT_EQ(out.at("b").objectAs<MSRValue>()->doubleValue(), 1.5);
  EXPECT_EQ(out.at("c").objectAs<MSRValue>(), typed);
  EXPECT_EQ(out.count("_err"), 0u);
}

TEST_F(MSRParameterSanitizerTest, CustomParametersAreCappedAlphabeticallyLastFirst) {
  MSRParameters in{{"_internal", Value(1)}};
  for (int i = 0; i < 30; ++i) in[platform::format("p%02d", i)] = Value(i);
  // An internal event may carry "_" names; they are neither counted nor removed.
  const auto out = sanitize(in, "_e", false);
  EXPECT_EQ(out.count("p24"), 1u);
  EXPECT_EQ(out.count("p25"), 0u);
  EXPECT_EQ(out.count("p29"), 0u);
  EXPECT_EQ(out.count("_internal"), 1u);
  EXPECT_EQ(intOf(out, "_err"), 5);
  EXPECT_EQ(out.size(), 25u + 2u);
  EXPECT_TRUE(lineContains("Event cannot contain more than 25 parameters"));
}

TEST_F(MSRParameterSanitizerTest, CustomParametersAreNamesNotBeginningWithAnUnderscore) {
  msr_test::MonitorRecorder recorder;
  const MSRParameters given{{"", Value(1)},        {"_internal", Value(2)}, {"a", Value(3)},
                            {"item_id", Value(4)}, {"Zeta", Value(5)},      {"\xC3\xA9", Value(6)}};
  EXPECT_EQ(MSRCustomParameterCount(given, false), 4u);
  EXPECT_EQ(MSRCustomParameterCount(given, true), 3u);
  // An empty name is no custom parameter and is logged each time it is met.
  EXPECT_EQ(recorder.codes(),
            (std::vector<std::pair<std::int64_t, std::int64_t>>{{18003, 2}, {18003, 2}}));
  MSRParameters trimmed = given;
  MSRTrimCustomParameters(trimmed, 1);
  std::vector<std::string> left;
  for (const auto& [key, value] : trimmed) left.push_back(key);
  EXPECT_EQ(left, (std::vector<std::string>{"", "Zeta", "_internal"}));
}

// Kept typed values, converted plain values, dropped keys and recorded errors land in one
// dictionary in key order, whichever side of "_" their names sort.
TEST_F(MSRParameterSanitizerTest, KeptConvertedDroppedAndRecordedKeysMergeInOrder) {
  auto render = [](const MSRParameters& p) {
    std::string out;
    for (const auto& [key, value] : p) {
      auto v = value.objectAs<MSRValue>();
      out += key + "=" + (v ? v->value().description() : "raw") + ";";
    }
    return out;
  };
  const Value typedOne(MSRValue::initWithInt64(1));
  const Value typedZ(MSRValue::initWithString(Value("z")));
  struct Row {
    const char* what;
    MSRParameters given;
    std::string expected;
  };
  const Row rows[] = {
      {"errors sort before the kept keys",
       {{"a", typedOne}, {"b b", Value(2)}, {"c", Value("x")}, {"zz", typedZ}},
       "_err=3;_ev=b b;a=1;c=x;zz=z;"},
      {"errors sort after upper-case keys",
       {{"A", Value(1)}, {"B-", Value(2)}, {"Z", typedOne}},
       "A=1;Z=1;_err=3;_ev=B-;"},
      {"errors after every given key", {{"A", typedOne}, {"B B", Value(2)}}, "A=1;_err=3;_ev=B B;"},
      {"a dropped error key gives way to the recorded error",
       {{"0bad!", Value(1)}, {"_err", Value::null()}, {"k", typedOne}},
       "_err=3;_ev=0bad!;k=1;"},
      {"a given error code replaces the recorded one",
       {{"0bad!", Value(1)}, {"_err", Value(9)}},
       "_err=9;_ev=0bad!;"},
      {"nothing to change", {{"a", typedOne}, {"b", typedZ}}, "a=1;b=z;"},
      {"every value converted", {{"a", Value(1)}, {"b", Value("z")}}, "a=1;b=z;"},
      {"every value converted and an error value cut",
       {{"_ev", Value(std::string(300, 'x'))}, {"a", Value(1)}},
       "_el=300;_ev=" + std::string(256, 'x') + "...;a=1;"},
      {"typed values and an error value cut",
       {{"_ev", Value(MSRValue::initWithString(Value(std::string(300, 'x'))))}, {"a", typedOne}},
       "_el=300;_ev=" + std::string(256, 'x') + "...;a=1;"},
  };
  msr_test::MonitorRecorder recorder;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(render(sanitize(row.given, "_e", false)), row.expected);
    // A dictionary handed over gives the same result and the same lines, as event parameters
    // and as an item's.
    for (const bool nested : {false, true}) {
      SCOPED_TRACE(nested ? "nested" : "top level");
      recorder.clear();
      const auto copied = MSRSanitizedEventParameters(&row.given, std::string("_e"), false, nested);
      const auto copiedLines = recorder.codes();
      recorder.clear();
      MSRParameters handed = row.given;
      const auto taken =
          MSRSanitizedEventParametersTaking(std::move(handed), std::string("_e"), false, nested);
      ASSERT_TRUE(copied && taken);
      EXPECT_EQ(render(*taken), render(*copied));
      EXPECT_EQ(recorder.codes(), copiedLines);
    }
  }
  EXPECT_FALSE(MSRSanitizedEventParametersTaking(MSRParameters{}, std::nullopt, true, false));
}

TEST_F(MSRParameterSanitizerTest, BadNamesAreDroppedAndTheFirstOneRecorded) {
  const std::string longName(45, 'n');
  const auto internal = sanitize({{longName, Value(1)}, {"ok", Value(2)}}, "_e", false);
  EXPECT_EQ(internal.count(longName), 0u);
  EXPECT_EQ(intOf(internal, "_err"), 3);
  EXPECT_EQ(strOf(internal, "_ev"), std::string(40, 'n') + "...");
  EXPECT_EQ(intOf(internal, "_el"), 45);

  const auto reserved =
      sanitize({{"lumo_x", Value(1)}, {"veltro_y", Value(2)}, {"ok", Value(3)}}, "e", true);
  EXPECT_EQ(intOf(reserved, "_err"), 14);
  EXPECT_EQ(strOf(reserved, "_ev"), "lumo_x");  // the first problem only
  EXPECT_EQ(reserved.count("_el"), 0u);
  EXPECT_EQ(reserved.count("veltro_y"), 0u);
  EXPECT_EQ(intOf(reserved, "ok"), 3);
}

TEST_F(MSRParameterSanitizerTest, LongValuesAreDroppedFromPublicEventsOnly) {
  const std::string text(101, 'v');
  const auto pub = sanitize({{"word", Value(text)}}, "e", true);
  EXPECT_EQ(pub.count("word"), 0u);
  EXPECT_EQ(intOf(pub, "_err"), 4);
  EXPECT_EQ(strOf(pub, "_ev"), "word");
  EXPECT_EQ(intOf(pub, "_el"), 101);
  const auto internal = sanitize({{"word", Value(text)}}, "_e", false);
  EXPECT_EQ(strOf(internal, "word"), text);

  // 100 characters outside the basic plane count as 100.
  std::string wide;
  for (int i = 0; i < 100; ++i) wide += "\xF0\x9F\x98\x80";
  EXPECT_EQ(strOf(sanitize({{"w", Value(wide)}}, "e", true), "w"), wide);
}

TEST_F(MSRParameterSanitizerTest, ItemsArraysAreCheckedAndCut) {
  Value::Array items;
  for (int i = 0; i < 201; ++i) items.push_back(Value(Value::Dictionary{{"item_id", Value(i)}}));
  const auto purchase = sanitize({{"items", Value(items)}}, "purchase", true);
  ASSERT_EQ(purchase.count("items"), 1u);
  EXPECT_EQ(purchase.at("items").objectAs<MSRValue>()->arrayValue()->size(), 200u);
  EXPECT_EQ(intOf(purchase, "_err"), 17);
  EXPECT_EQ(strOf(purchase, "_ev"), "items");

  const Value two(Value::Array{Value(Value::Dictionary{{"item_id", Value("a")}})});
  const auto notEcommerce = sanitize({{"items", two}}, "screen_view", true);
  EXPECT_EQ(notEcommerce.count("items"), 0u);
  EXPECT_EQ(intOf(notEcommerce, "_err"), 21);
  EXPECT_EQ(strOf(notEcommerce, "_ev"), "screen_view");

  const auto wrongName = sanitize({{"things", two}}, "purchase", true);
  EXPECT_EQ(wrongName.count("things"), 0u);
  EXPECT_EQ(intOf(wrongName, "_err"), 20);
}

TEST_F(MSRParameterSanitizerTest, BadElementsAreSkippedAndCustomItemParametersRemoved) {
  const Value items(Value::Array{
      Value(7),
      Value(Value::Dictionary{{"item_id", Value("a")}, {"colour", Value("red")}}),
      Value(Value::Dictionary{{"item_id", Value("b")}, {"items", Value(Value::Array{})}}),
  });
  const auto out = sanitize({{"items", items}}, "purchase", true);
  EXPECT_EQ(intOf(out, "_err"), 4);
  EXPECT_EQ(strOf(out, "_ev"), "items[0]");
  const auto* kept = out.at("items").objectAs<MSRValue>()->arrayValue();
  ASSERT_EQ(kept->size(), 2u);
  const auto& first = *kept->at(0).dictionary();
  EXPECT_EQ(first.count("colour"), 0u);
  EXPECT_EQ(intOf(first, "_err"), 23);  // recorded in the element, not the event
  const auto& second = *kept->at(1).dictionary();
  EXPECT_EQ(second.count("items"), 0u);
  EXPECT_EQ(intOf(second, "_err"), 22);
  EXPECT_TRUE(lineContains("Item cannot contain custom parameters"));
}

TEST_F(MSRParameterSanitizerTest, UnsupportedValuesAreDroppedWithoutAnError) {
  const auto out =
      sanitize({{"d", Value(Value::Dictionary{{"x", Value(1)}})}, {"ok", Value(1)}}, "e", true);
  EXPECT_EQ(out.count("d"), 0u);
  EXPECT_EQ(out.count("_err"), 0u);
  EXPECT_TRUE(
      lineContains("Event parameter value must be of type NSString, NSNumber or NSArray. "
                   "Type: NSDictionary"));
  // Every key removed: only the recorded errors remain.
  const auto none = sanitize({{"d", Value::date(1)}}, "e", true);
  EXPECT_TRUE(none.empty());
}

TEST_F(MSRParameterSanitizerTest, AnOverlongErrorValueIsCut) {
  const std::string text(300, 'x');
  const auto out = sanitize({{"_ev", Value(text)}}, "_e", false);
  EXPECT_EQ(strOf(out, "_ev"), std::string(256, 'x') + "...");
  EXPECT_EQ(intOf(out, "_el"), 300);
  const std::string cut = std::string(256, 'x') + "...";
  EXPECT_EQ(strOf(sanitize({{"_ev", Value(cut)}}, "_e", false), "_ev"), cut);
}

TEST_F(MSRParameterSanitizerTest, TheCutErrorValueWinsWhateverCameWithIt) {
  const std::string text(300, 'x');
  const std::string cut = std::string(256, 'x') + "...";
  const Value raw(text);
  const Value typed(MSRValue::initWithString(Value(text)));
  const Value rawLength(5);
  const Value typedLength(MSRValue::initWithInt64(5));
  struct Row {
    const char* what;
    MSRParameters given;
    std::int64_t length;  // "_el" afterwards: a given one stays
  };
  const Row rows[] = {
      {"raw alone", {{"_ev", raw}}, 300},
      {"typed alone", {{"_ev", typed}}, 300},
      {"raw with a raw length", {{"_el", rawLength}, {"_ev", raw}}, 5},
      {"typed with a typed length", {{"_el", typedLength}, {"_ev", typed}}, 5},
      {"raw with a typed length", {{"_el", typedLength}, {"_ev", raw}}, 5},
      {"typed with a raw length", {{"_el", rawLength}, {"_ev", typed}}, 5},
      {"raw with an error code", {{"_err", Value(3)}, {"_ev", raw}}, 300},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const auto out = sanitize(row.given, "_e", false);
    EXPECT_EQ(strOf(out, "_ev"), cut);
    EXPECT_EQ(intOf(out, "_el"), row.length);
    // An event made from them, and its copy, keep the cut form too.
    auto event = MSREvent::initWithOrigin("auto", false, "_e", 1, 0, &row.given);
    ASSERT_TRUE(event);
    EXPECT_EQ(strOf(event->parameters(), "_ev"), cut);
    EXPECT_EQ(strOf(event->copy()->parameters(), "_ev"), cut);
  }
}

TEST_F(MSRParameterSanitizerTest, ValueNeedsANumberAndACurrency) {
  auto num = [](double v) { return Value(MSRValue::initWithDouble(v)); };
  auto str = [](const char* s) { return Value(MSRValue::initWithString(Value(s))); };
  MSRParameters none{{"x", num(1)}};
  EXPECT_TRUE(MSRApplyValueCurrencyRule(none));
  MSRParameters ok{{"value", num(9.99)}, {"currency", str("EUR")}};
  EXPECT_TRUE(MSRApplyValueCurrencyRule(ok));
  MSRParameters noCurrency{{"value", num(9.99)}};
  EXPECT_FALSE(MSRApplyValueCurrencyRule(noCurrency));
  EXPECT_EQ(noCurrency.count("value"), 0u);
  EXPECT_EQ(intOf(noCurrency, "_err"), 19);
  EXPECT_EQ(strOf(noCurrency, "_ev"), "currency");
  MSRParameters notNumeric{{"value", str("9.99")}, {"currency", str("EUR")}};
  EXPECT_FALSE(MSRApplyValueCurrencyRule(notNumeric));
  EXPECT_EQ(intOf(notNumeric, "_err"), 18);
  EXPECT_EQ(strOf(notNumeric, "_ev"), "value");
}

TEST_F(MSRParameterSanitizerTest, ErrorParametersKeepTheFirstRecord) {
  MSRParameters p;
  MSRSetErrorCodeAndParameters(p, 3, Value("first"), 40, Value(Value::Array{Value(1), Value(2)}));
  MSRSetErrorCodeAndParameters(p, 4, Value("second"), 40, Value("x"));
  MSRSetErrorCode(p, 9);
  EXPECT_EQ(intOf(p, "_err"), 3);
  EXPECT_EQ(strOf(p, "_ev"), "first");
  EXPECT_EQ(intOf(p, "_el"), 2);
  MSRParameters q;
  MSRSetErrorParameters(q, Value(), 40, Value(5));
  EXPECT_EQ(strOf(q, "_ev"), "(nil)");
  EXPECT_EQ(intOf(q, "_el"), 0);
  MSRParameters r;
  MSRSetErrorParameters(r, Value(12), 40, Value());
  EXPECT_EQ(strOf(r, "_ev"), "NSNumber");
  EXPECT_EQ(r.count("_el"), 0u);
}

TEST_F(MSRParameterSanitizerTest, ErrorEventsGoToTheFrontEndWhenPresent) {
  MSRLogErrorEvent(4);  // no front end: dropped quietly
  struct Call {
    std::string origin, name;
    Value parameters;
  };
  static std::vector<Call> calls;
  platform::runtime::registerClass("MSRAnalytics", "", 0, [](platform::runtime::Class& c) {
    c.addClassMethod("logInternalEventWithOrigin:name:parameters:",
                     [](platform::Object&, std::string origin, std::string name, Value params) {
                       calls.push_back({origin, name, params});
                     });
  });
  MSRLogErrorEvent(0);
  MSRLogErrorEvent(4);
  MSRLogErrorEventWithValue(7, Value("prop"), 24, Value("long value"));
  MSRLogErrorEventWithValue(2, Value("name"), 40, Value("short"));
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].origin, "auto");
  EXPECT_EQ(calls[0].name, "_err");
  EXPECT_EQ(calls[0].parameters["_err"].int64Value(), 4);
  const auto& p1 = *calls[1].parameters.dictionary();
  EXPECT_EQ(intOf(p1, "_err"), 7);
  EXPECT_EQ(strOf(p1, "_ev"), "prop");
  EXPECT_EQ(intOf(p1, "_el"), 10);
  const auto& p2 = *calls[2].parameters.dictionary();
  EXPECT_EQ(p2.count("_el"), 0u);  // code 2 with a short value carries no length
}

}  // namespace
