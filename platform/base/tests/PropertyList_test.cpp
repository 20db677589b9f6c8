#include "platform/base/PropertyList.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace platform {
namespace {

std::string asText(const Bytes& b) { return std::string(b.begin(), b.end()); }

Value everyKind(bool wholeSecondDates) {
  return Value(Value::Dictionary{
      {"bool", true},
      {"false", false},
      {"negative", -42},
      {"big", Value(INT64_MAX)},
      {"small", Value(INT64_MIN)},
      {"double", 0.1},
      {"huge", 1e300},
      {"string", "caf\xC3\xA9 \xF0\x9F\x98\x80 <&>"},
      {"empty", ""},
      {"data", Value::data(Bytes{0, 1, 2, 255})},
      {"date", Value::date(wholeSecondDates ? 1767225600.0 : 1767225600.25)},
      {"old", Value::date(946684800.0)},
      {"list", Value(Value::Array{1, "two", Value(Value::Array{}), Value(Value::Dictionary{})})},
      {"nested", Value(Value::Dictionary{{"inner", Value(Value::Array{2.5})}})},
  });
}

TEST(PropertyListTest, RoundTripsEveryKindInBothFormats) {
  for (auto format : {PropertyListFormat::Xml, PropertyListFormat::Binary}) {
    // XML keeps dates to the second.
    Value original = everyKind(format == PropertyListFormat::Xml);
    ErrorPtr error;
    auto bytes = serializePropertyList(original, format, &error);
    ASSERT_TRUE(bytes) << error->localizedDescription();
    if (format == PropertyListFormat::Xml) {
      EXPECT_NE(asText(*bytes).find("<plist"), std::string::npos);
    } else {
      EXPECT_EQ(asText(*bytes).substr(0, 6), "bplist");
    }
    Value back = parsePropertyList(asText(*bytes), &error);
    ASSERT_FALSE(back.isNil()) << error->localizedDescription();
    EXPECT_EQ(back, original) << back.description();
    EXPECT_EQ(back["bool"].numberKind(), Value::NumberKind::Bool);
    EXPECT_EQ(back["negative"].numberKind(), Value::NumberKind::Signed);
    EXPECT_TRUE(back["double"].isFloatingPoint());
    EXPECT_TRUE(back["date"].isDate());
    EXPECT_TRUE(back["data"].isData());
  }
}

TEST(PropertyListTest, BinaryKeepsFractionsOfDatesBeforeTheReferenceDate) {
  Value dates(Value::Array{Value::date(978307200.0 - 1.5), Value::date(-86400.25),
                           Value::date(978307200.0 + 0.125)});
  auto bytes = serializePropertyList(dates, PropertyListFormat::Binary);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(parsePropertyList(asText(*bytes)), dates);
}

TEST(PropertyListTest, ReadsHandWrittenXml) {
  const char* xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>CFBundleIdentifier</key><string>com.tavo.soundboard</string>
  <key>Enabled</key><true/>
  <key>Count</key><integer>3</integer>
  <key>When</key><date>2026-01-01T00:00:00Z</date>
</dict>
</plist>)";
  Value v = parsePropertyList(xml);
  EXPECT_EQ(v["CFBundleIdentifier"], Value("com.tavo.soundboard"));
  EXPECT_EQ(v["Enabled"], Value(true));
  EXPECT_EQ(v["Count"], Value(3));
  EXPECT_EQ(v["When"], Value::date(1767225600.0));
}

TEST(PropertyListTest, RefusesWhatIsNotAPropertyList) {
  for (const Value& v :
       {Value(), Value::null(), Value::set({1}), Value(Value::Array{Value::null()}),
        Value(Value::Dictionary{{"k", Value()}}),
        Value(std::numeric_limits<unsigned long long>::max()), Value::date(1e12)}) {
    EXPECT_FALSE(isPropertyListValue(v)) << v.description();
    ErrorPtr error;
    EXPECT_FALSE(serializePropertyList(v, PropertyListFormat::Binary, &error));
    ASSERT_TRUE(error) << v.description();
    EXPECT_FALSE(error->localizedDescription().empty());
  }
  EXPECT_TRUE(isPropertyListValue(everyKind(false)));
}

TEST(PropertyListTest, MalformedInputIsAnError) {
  auto good = serializePropertyList(everyKind(false), PropertyListFormat::Binary);
  ASSERT_TRUE(good);
  std::string binary = asText(*good);
  std::string deep(100000, '\0');
  deep.clear();
  for (int i = 0; i < 20000; ++i) deep += "<array>";
  for (const std::string& input :
       {std::string(), std::string("not a plist"), std::string("<plist><dict><key>a</key>"),
        binary.substr(0, binary.size() / 2), std::string("bplist00garbage"),
        "<plist version=\"1.0\">" + deep}) {
    ErrorPtr error;
    EXPECT_TRUE(parsePropertyList(input, &error).isNil());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), kFileReadCorruptFileError);
  }
}

TEST(JsonTest, ParsesWithExactKinds) {
  Value v = parseJson(
      R"({"i": -3, "u": 18446744073709551615, "small": 7, "d": 1.5, "e": 1e2, "b": true,
          "n": null, "s": "\u00e9\ud83d\ude00", "a": [1, [2]], "o": {}})");
  ASSERT_TRUE(v.isDictionary());
  EXPECT_EQ(v["i"].numberKind(), Value::NumberKind::Signed);
  EXPECT_EQ(v["u"].numberKind(), Value::NumberKind::Unsigned);
  EXPECT_EQ(v["small"].numberKind(), Value::NumberKind::Signed);
  EXPECT_TRUE(v["d"].isFloatingPoint());
  EXPECT_TRUE(v["e"].isFloatingPoint());
  EXPECT_EQ(v["b"].numberKind(), Value::NumberKind::Bool);
  EXPECT_TRUE(v["n"].isNull());
  EXPECT_EQ(*v["s"].string(), "\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(v["a"].at(1).at(0), Value(2));
  EXPECT_TRUE(v["o"].isDictionary());
}

TEST(JsonTest, MalformedOrHostileTextIsAnError) {
  std::string deep(100000, '[');
  for (const std::string& input :
       {std::string(), std::string("{"), std::string("{\"a\":}"), std::string("[1,]"),
        std::string("\"\xff\""), std::string("{} trailing"), deep}) {
    ErrorPtr error;
    EXPECT_TRUE(parseJson(input, &error).isNil()) << input.substr(0, 20);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), kFileReadCorruptFileError);
  }
}

TEST(JsonTest, SerializesAndRoundTrips) {
  Value v(Value::Dictionary{{"b", Value(Value::Array{1, 2.5, true, Value::null(), "x\"y"})},
                            {"a", -1}});
  auto text = serializeJson(v);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, R"({"a":-1,"b":[1,2.5,true,null,"x\"y"]})");
  Value back = parseJson(*text);
  EXPECT_EQ(back, v);
  EXPECT_EQ(back["b"].at(2).numberKind(), Value::NumberKind::Bool);
  auto pretty = serializeJson(Value(Value::Dictionary{{"k", 1}}), true);
  EXPECT_EQ(*pretty, "{\n  \"k\": 1\n}");
}

TEST(JsonTest, RefusesWhatJsonCannotHold) {
  for (const Value& v : {Value::data("x"), Value::date(0), Value::set({1}), Value(),
                         Value(std::numeric_limits<double>::infinity()), Value(std::nan("")),
                         Value(Value::Array{Value::data("x")})}) {
    ErrorPtr error;
    EXPECT_FALSE(serializeJson(v, false, &error)) << v.description();
    ASSERT_TRUE(error);
  }
}

}  // namespace
}  // namespace platform
