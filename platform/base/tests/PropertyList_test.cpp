#include "platform/base/PropertyList.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "platform/testing/NestedValues.h"

namespace platform {
namespace {

std::string asText(const Bytes& b) { return std::string(b.begin(), b.end()); }

std::string bigEndian(std::uint64_t v, int size) {
  std::string out;
  for (int k = size - 1; k >= 0; --k) out.push_back(static_cast<char>((v >> (8 * k)) & 0xFF));
  return out;
}

// A binary property list of already encoded objects, with 4-byte offsets and references.
std::string binaryPlist(const std::vector<std::string>& objects, std::uint64_t root = 0) {
  std::string out = "bplist00", table;
  for (const std::string& object : objects) {
    table += bigEndian(out.size(), 4);
    out += object;
  }
  std::uint64_t tableOffset = out.size();
  out += table;
  out += std::string(6, '\0') + '\x04' + '\x04';
  out += bigEndian(objects.size(), 8) + bigEndian(root, 8) + bigEndian(tableOffset, 8);
  return out;
}

// An array object whose elements are the given objects.
std::string binaryArray(const std::vector<std::uint64_t>& elements) {
  std::string out;
  if (elements.size() < 15) {
    out.push_back(static_cast<char>(0xA0 | elements.size()));
  } else {
    out += "\xAF\x12" + bigEndian(elements.size(), 4);
  }
  for (std::uint64_t e : elements) out += bigEndian(e, 4);
  return out;
}

std::string repeated(std::string_view piece, int times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

std::string nestedXmlArrays(int depth, std::string_view insideFirst = {}) {
  return "<plist version=\"1.0\"><array>" + std::string(insideFirst) +
         repeated("<array>", depth - 1) + repeated("</array>", depth) + "</plist>";
}

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

TEST(PropertyListTest, UnsignedIntegersPastTheSignedRangeRoundTripInBothFormats) {
  Value numbers(Value::Array{Value(std::numeric_limits<unsigned long long>::max()),
                             Value(9223372036854775808ULL), Value(INT64_MIN), Value(-1)});
  for (auto format : {PropertyListFormat::Xml, PropertyListFormat::Binary}) {
    ErrorPtr error;
    auto bytes = serializePropertyList(numbers, format, &error);
    ASSERT_TRUE(bytes) << error->localizedDescription();
    Value back = parsePropertyList(asText(*bytes));
    EXPECT_EQ(back, numbers) << back.description();
    EXPECT_EQ(back.at(0).numberKind(), Value::NumberKind::Unsigned);
    EXPECT_EQ(back.at(3).numberKind(), Value::NumberKind::Signed);
  }
}

TEST(PropertyListTest, RefusesWhatIsNotAPropertyList) {
  const std::string withNul("a\0b", 3);
  for (const Value& v :
       {Value(), Value::null(), Value::set({1}), Value(Value::Array{Value::null()}),
        Value(Value::Dictionary{{"k", Value()}}), Value::date(1e12),
        // Neither format keeps what follows a NUL character.
        Value(withNul), Value(Value::Array{Value(withNul)}),
        Value(Value::Dictionary{{"k", Value(withNul)}}),
        // Within the second before 2001-01-01 libplist reads a binary date's fraction back as
        // if it came after it.
        Value::date(978307200.0 - 0.5)}) {
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

// Values that other writers store and libplist 2.2 would hand back changed: they read exactly,
// or the whole property list is refused.
TEST(PropertyListTest, ValuesFromOtherWritersReadExactlyOrAreRefused) {
  auto binary = [](const std::string& object) { return binaryPlist({object}); };
  auto binaryDate = [&](double relative) {
    std::uint64_t bits;
    std::memcpy(&bits, &relative, 8);
    return binary("\x33" + bigEndian(bits, 8));
  };
  auto xml = [](const std::string& element) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" + element +
           "</plist>";
  };
  const Value refused;
  struct Case {
    const char* what;
    std::string input;
    Value expected;  // nil: refused
  } cases[] = {
      {"binary, a 16-byte integer above the signed range",
       binary("\x14" + bigEndian(0, 8) + bigEndian(UINT64_MAX, 8)), Value(UINT64_MAX)},
      {"binary, a 16-byte 2^63", binary("\x14" + bigEndian(0, 8) + bigEndian(1ULL << 63, 8)),
       Value(9223372036854775808ULL)},
      {"binary, a 16-byte small integer", binary("\x14" + bigEndian(0, 8) + bigEndian(7, 8)),
       Value(7)},
      {"binary, an 8-byte -1", binary("\x13" + bigEndian(UINT64_MAX, 8)), Value(-1)},
      {"binary, a 16-byte integer past 64 bits", binary("\x14" + bigEndian(1, 8) + bigEndian(0, 8)),
       refused},
      {"binary, a 16-byte negative integer",
       binary("\x14" + bigEndian(UINT64_MAX, 8) + bigEndian(UINT64_MAX, 8)), refused},
      // 'S': an ASCII string of three characters; 'c': a UTF-16 one.
      {"binary, an ASCII string with a NUL", binary(std::string("Sa\0b", 4)), refused},
      {"binary, a UTF-16 string with a NUL", binary(std::string("c\0a\0\0\0b", 7)), refused},
      {"binary, an array holding a string with a NUL",
       binaryPlist({binaryArray({1}), std::string("Sa\0b", 4)}), refused},
      {"binary, a date after 2069-01-19", binaryDate(3e9), refused},
      {"binary, a date before 1932-12-13", binaryDate(-3e9), refused},
      {"binary, a date that is not a number", binaryDate(std::nan("")), refused},
      {"binary, a date just before the reference date", binaryDate(-0.5), refused},
      {"binary, the earliest date", binaryDate(-2147483648.0),
       Value::date(978307200.0 - 2147483648.0)},
      {"binary, the latest date", binaryDate(2147483647.5),
       Value::date(978307200.0 + 2147483647.5)},
      {"XML, an integer above the signed range", xml("<integer>18446744073709551615</integer>"),
       Value(UINT64_MAX)},
      {"XML, the least integer", xml("<integer>-9223372036854775808</integer>"), Value(INT64_MIN)},
      {"XML, a hexadecimal integer", xml("<integer>0x1F</integer>"), Value(31)},
      {"XML, an integer past 64 bits", xml("<integer>18446744073709551616</integer>"), refused},
      {"XML, an integer below the signed range", xml("<integer>-9223372036854775809</integer>"),
       refused},
      {"XML, an integer with a leading zero", xml("<integer>010</integer>"), refused},
      {"XML, an integer followed by letters", xml("<integer>12abc</integer>"), refused},
      {"XML, an empty integer", xml("<integer></integer>"), refused},
      {"XML, an integer without content", xml("<integer/>"), refused},
      {"XML, a real that is not a number", xml("<real>abc</real>"), refused},
      {"XML, a real past the double range", xml("<real>1e400</real>"), refused},
      {"XML, a real", xml("<real> -2.5e3 </real>"), Value(-2500.0)},
      {"XML, a date after 2069-01-19", xml("<date>2100-01-01T00:00:00Z</date>"), refused},
      {"XML, a date before 1932-12-13", xml("<date>1900-01-01T00:00:00Z</date>"), refused},
      {"XML, the second after the latest date", xml("<date>2069-01-19T03:14:08Z</date>"), refused},
      {"XML, the latest date", xml("<date>2069-01-19T03:14:07Z</date>"),
       Value::date(978307200.0 + 2147483647.0)},
      {"XML, the earliest date", xml("<date>1932-12-13T20:45:52Z</date>"),
       Value::date(978307200.0 - 2147483648.0)},
      {"XML, a date that is not one", xml("<date>garbage</date>"), refused},
      {"XML, a date with a month 13", xml("<date>2026-13-01T00:00:00Z</date>"), refused},
      {"XML, February 30", xml("<date>2026-02-30T00:00:00Z</date>"), refused},
      {"XML, February 29 of a leap year", xml("<date>2024-02-29T12:00:00Z</date>"),
       Value::date(1709208000.0)},
      {"XML, a date without its zone", xml("<date>2026-01-01T00:00:00</date>"), refused},
  };
  for (const Case& c : cases) {
    ErrorPtr error;
    Value got = parsePropertyList(c.input, &error);
    if (c.expected.isNil()) {
      EXPECT_TRUE(got.isNil()) << c.what << ": " << got.description();
      ASSERT_TRUE(error) << c.what;
      EXPECT_EQ(error->code(), kFileReadCorruptFileError) << c.what;
      continue;
    }
    ASSERT_FALSE(got.isNil()) << c.what << ": " << error->localizedDescription();
    EXPECT_EQ(got, c.expected) << c.what << ": " << got.description();
    if (c.expected.isNumber()) {
      EXPECT_EQ(got.numberKind(), c.expected.numberKind()) << c.what;
    }
  }
}

// Each of these once overflowed the stack (in libplist's recursive binary reader, or while the
// deep tree its XML reader had built was freed) or ran out of memory.
TEST(PropertyListTest, HostileNestingIsRefusedBeforeLibplistBuildsATree) {
  std::vector<std::string> deepBinary;
  for (std::uint64_t i = 0; i + 1 < 100000; ++i) deepBinary.push_back(binaryArray({i + 1}));
  deepBinary.push_back(binaryArray({}));
  // Forty levels of [next, next]: a few hundred bytes that expand to 2^40 arrays.
  std::vector<std::string> doubling;
  for (std::uint64_t i = 0; i < 40; ++i) doubling.push_back(binaryArray({i + 1, i + 1}));
  doubling.push_back(binaryArray({}));
  const int kDeep = 200000;
  struct Case {
    const char* what;
    std::string input;
  } cases[] = {
      {"binary, 100,000 nested arrays", binaryPlist(deepBinary)},
      {"binary, an array holding itself", binaryPlist({binaryArray({0})})},
      {"binary, two arrays holding each other", binaryPlist({binaryArray({1}), binaryArray({0})})},
      {"binary, shared arrays doubling at each level", binaryPlist(doubling)},
      {"binary, a reference past the last object", binaryPlist({binaryArray({1})})},
      {"XML, closing tags in a comment",
       nestedXmlArrays(kDeep, "<!-- " + repeated("</array>", kDeep) + " -->")},
      {"XML, closing tags in CDATA",
       nestedXmlArrays(kDeep, "<string><![CDATA[" + repeated("</array>", kDeep) + "]]></string>")},
      {"XML, closing tags in a quoted processing instruction",
       nestedXmlArrays(kDeep, "<?note \"?>" + repeated("</array>", kDeep) + "\" ?>")},
      {"XML, closing tags in a quoted attribute",
       nestedXmlArrays(kDeep, "<array a=\"" + repeated("</array>", kDeep) + "\"/>")},
      {"XML, an unterminated comment", nestedXmlArrays(kDeep, "<!-- ")},
      {"XML, nesting without closing tags", "<plist><array>" + repeated("<array>", kDeep)},
  };
  for (const Case& c : cases) {
    ErrorPtr error;
    EXPECT_TRUE(parsePropertyList(c.input, &error).isNil()) << c.what;
    ASSERT_TRUE(error) << c.what;
    EXPECT_EQ(error->code(), kFileReadCorruptFileError) << c.what;
  }
}

// libplist asserts (and so ends the process) when asked for a key that holds a NUL character.
TEST(PropertyListTest, KeysLibplistCannotHandBackAreRefused) {
  auto dictionaryWithKey = [](const std::string& key) {
    return binaryPlist({"\xD1" + bigEndian(1, 4) + bigEndian(2, 4), key, "\x09"});
  };
  struct Case {
    const char* what;
    std::string input;
  } cases[] = {
      {"binary, an ASCII key with a NUL", dictionaryWithKey(std::string("\x53" "a\0b", 4))},
      {"binary, a UTF-16 key with a NUL", dictionaryWithKey(std::string("\x62\0a\0\0", 5))},
      {"binary, a number as a key", dictionaryWithKey("\x10\x07")},
      {"XML, a key with a NUL", std::string("<plist><dict><key>a\0b</key><true/></dict></plist>",
                                            49)},
  };
  for (const Case& c : cases) {
    ErrorPtr error;
    EXPECT_TRUE(parsePropertyList(c.input, &error).isNil()) << c.what;
    ASSERT_TRUE(error) << c.what;
    EXPECT_EQ(error->code(), kFileReadCorruptFileError) << c.what;
  }
  // The same dictionary with a plain key reads.
  EXPECT_EQ(parsePropertyList(dictionaryWithKey("\x51k")), Value(Value::Dictionary{{"k", true}}));
}

TEST(PropertyListTest, FiveHundredTwelveLevelsOfNestingReadAndWriteInBothFormats) {
  const auto nested = platform::testing::nestedArrays;
  auto binaryChain = [](int levels) {
    std::vector<std::string> objects;
    for (int i = 0; i + 1 < levels; ++i) objects.push_back(binaryArray({std::uint64_t(i) + 1}));
    objects.push_back(binaryArray({}));
    return binaryPlist(objects);
  };
  for (auto format : {PropertyListFormat::Xml, PropertyListFormat::Binary}) {
    auto bytes = serializePropertyList(nested(512), format);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(parsePropertyList(asText(*bytes)), nested(512));
    ErrorPtr error;
    EXPECT_FALSE(serializePropertyList(nested(513), format, &error));
    EXPECT_TRUE(error);
  }
  EXPECT_EQ(parsePropertyList(nestedXmlArrays(512)), nested(512));
  EXPECT_EQ(parsePropertyList(binaryChain(512)), nested(512));
  // The check takes exactly what the writer takes, whatever the containers and wherever the
  // deepest branch is: a value it passes must never fail a later write of the whole file.
  auto mixed = [](int levels) {
    Value v = Value(Value::Dictionary{});
    for (int i = 1; i < levels; ++i) {
      v = i % 2 ? Value(Value::Array{1, Value(Value::Array{}), v})
                : Value(Value::Dictionary{{"a", Value(Value::Dictionary{})}, {"z", v}});
    }
    return v;
  };
  const struct {
    const char* shape;
    std::function<Value(int)> make;
  } shapes[] = {{"arrays", nested}, {"dictionaries", platform::testing::nestedDictionaries}, {"mixed", mixed}};
  // Under a key of a file's top-level dictionary a value has one level less to go.
  auto underAKey = [](const Value& v) { return Value(Value::Dictionary{{"key", v}}); };
  for (const auto& s : shapes) {
    EXPECT_TRUE(isPropertyListValue(s.make(512))) << s.shape;
    EXPECT_FALSE(isPropertyListValue(s.make(513))) << s.shape;
    EXPECT_TRUE(isPropertyListValue(s.make(511), 1)) << s.shape;
    EXPECT_FALSE(isPropertyListValue(s.make(512), 1)) << s.shape;
    for (auto format : {PropertyListFormat::Xml, PropertyListFormat::Binary}) {
      for (const Value& written : {s.make(512), underAKey(s.make(511))}) {
        auto bytes = serializePropertyList(written, format);
        ASSERT_TRUE(bytes) << s.shape;
        EXPECT_EQ(parsePropertyList(asText(*bytes)), written) << s.shape;
      }
      EXPECT_FALSE(serializePropertyList(s.make(513), format)) << s.shape;
      EXPECT_FALSE(serializePropertyList(underAKey(s.make(512)), format)) << s.shape;
    }
  }
  for (const std::string& input : {nestedXmlArrays(513), binaryChain(513),
                                   "<plist>" + repeated("<array>", 512) + "<array/>"}) {
    ErrorPtr error;
    EXPECT_TRUE(parsePropertyList(input, &error).isNil());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), kFileReadCorruptFileError);
  }
}

TEST(PropertyListTest, MarkupThatHoldsClosingTagsStillReads) {
  const char* xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<!-- </dict></array> -->
<dict>
  <key>a<!-- </dict> --></key><array><array/><string><![CDATA[</array></dict>]]></string></array>
  <?note </dict> ?>
  <key>b</key><array ><dict ></dict ></array>
</dict>
</plist>)";
  ErrorPtr error;
  Value v = parsePropertyList(xml, &error);
  ASSERT_FALSE(v.isNil()) << error->localizedDescription();
  EXPECT_EQ(v["a"], Value(Value::Array{Value(Value::Array{}), "</array></dict>"}));
  EXPECT_EQ(v["b"], Value(Value::Array{Value(Value::Dictionary{})}));
}

TEST(PropertyListTest, BinarySharedValuesReadAsCopies) {
  // A string shared by two dictionaries and an array shared twice: libplist's own writer and
  // others reuse equal values.
  std::string key = "\x51k", text = "\x52hi";
  std::string dict = "\xD1" + bigEndian(1, 4) + bigEndian(2, 4);
  std::string input = binaryPlist({binaryArray({3, 3, 4}), key, text, dict, binaryArray({2, 2})});
  ErrorPtr error;
  Value v = parsePropertyList(input, &error);
  ASSERT_FALSE(v.isNil()) << error->localizedDescription();
  Value shared(Value::Dictionary{{"k", "hi"}});
  EXPECT_EQ(v, Value(Value::Array{shared, shared, Value(Value::Array{"hi", "hi"})}));
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
