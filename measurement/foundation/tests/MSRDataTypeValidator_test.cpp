#include "measurement/foundation/MSRDataTypeValidator.h"

#include <gtest/gtest.h>
#include <unicode/uchar.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "measurement/foundation/MSRValue.h"
#include "measurement/foundation/tests/MSRTestSupport.h"
#include "platform/base/Strings.h"
#include "platform/testing/PlatformTest.h"

namespace {

using platform::Value;
using V = MSRDataTypeValidator;

class MSRDataTypeValidatorTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    msr_test::engineLines();
    vtu::testing::startCapturingLines();
  }
  static Value str(const std::string& s) { return Value(MSRValue::initWithString(Value(s))); }
  static std::string chars(const std::string& type) {
    return "13002 0 " + type + " must contain only letters, numbers, or underscores | ";
  }
  static bool lineContains(const std::string& text) {
    for (const auto& l : msr_test::engineLines()) {
      if (l.find(text) != std::string::npos) return true;
    }
    return false;
  }
};

TEST_F(MSRDataTypeValidatorTest, EventNamesByLengthCharactersAndReservation) {
  struct Row {
    Value name;
    bool valid;
    std::int64_t code;
  };
  const Row rows[] = {
      {Value(std::string(40, 'a')), true, 0},
      {Value(std::string(41, 'a')), false, 2},
      {Value("1abc"), false, 3},
      {Value("_abc"), false, 3},
      {Value("has space"), false, 3},
      {Value("has-hyphen"), false, 3},
      {Value("\xD0\xB8\xD0\xBC\xD1\x8F"), true, 0},  // Cyrillic letters
      {Value("caf\xC3\xA9"), true, 0},               // precomposed é
      {Value("cafe\xCC\x81"), false, 3},             // e + combining acute
      {Value("screen_view"), true, 0},
      {Value("ad_impression"), true, 0},
      {Value("first_open"), false, 4},
      {Value("error"), false, 4},
      {Value("la_custom"), false, 4},
      {Value(), false, 1},
      {Value(""), false, 1},
      {Value(5), false, 5},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name.description());
    std::int64_t code = -1;
    EXPECT_EQ(V::isValidPublicEventName(r.name, &code), r.valid);
    EXPECT_EQ(code, r.code);
    EXPECT_EQ(V::isValidPublicEventName(r.name, nullptr), r.valid);
  }
  EXPECT_TRUE(lineContains("Event name is too long. The maximum supported length is 40"));
  EXPECT_TRUE(lineContains("Event name must start with a letter"));
  EXPECT_TRUE(lineContains("Event name must contain only letters, numbers, or underscores"));
  EXPECT_TRUE(lineContains("Event name is reserved. Ignoring event: first_open"));
  EXPECT_TRUE(
      lineContains("[I-ACS013007] Event name uses reserved prefix. Ignoring event: la_custom"));
}

// Names from plain ASCII through letters, digits and marks of other scripts to emoji, at and
// over the length limit: the answer, the failure code and the logged line of both event-name
// rules (the internal rule logs what the public one logs whenever the internal rule fails).
TEST_F(MSRDataTypeValidatorTest, EventNameRulesAcrossCharacterClasses) {
  const std::string chars13002 =
      "13002 0 Event name must contain only letters, numbers, or underscores | ";
  const std::string start13003 = "13003 0 Event name must start with a letter | ";
  const std::string long13000 =
      "13000 0 Event name is too long. The maximum supported length is 40 | ";
  std::string cyrillic40, cyrillic41, emoji40, emoji41;
  for (int i = 0; i < 40; ++i) {
    cyrillic40 += "\xD0\xB6";
    emoji40 += "\xF0\x9F\x98\x80";
  }
  cyrillic41 = cyrillic40 + "\xD0\xB6";
  emoji41 = emoji40 + "\xF0\x9F\x98\x80";
  struct Row {
    const char* what;
    std::string name;
    std::int64_t internalCode;
    std::int64_t publicCode;
    std::string line;  // of the public rule; empty when it logs nothing
  };
  const Row rows[] = {
      {"ascii letters", "abcXYZ", 0, 0, ""},
      {"ascii with digits and underscores", "a1_b2", 0, 0, ""},
      {"leading digit", "9lives", 0, 3, start13003 + "9lives"},
      {"leading underscore", "_vs", 0, 3, start13003 + "_vs"},
      {"space", "a b", 3, 3, chars13002 + "a b"},
      {"hyphen", "a-b", 3, 3, chars13002 + "a-b"},
      {"dot", "a.b", 3, 3, chars13002 + "a.b"},
      {"dollar", "$a", 3, 3, chars13002 + "$a"},
      {"delete character", "a\x7F", 3, 3, chars13002 + "a\x7F"},
      {"precomposed accents", "\xC3\xA9t\xC3\xA9", 0, 0, ""},
      {"cyrillic", "\xD0\xB8\xD0\xBC\xD1\x8F", 0, 0, ""},
      {"cjk", "\xE5\x90\x8D\xE5\x89\x8D", 0, 0, ""},
      {"modifier letter", "\xCA\xB0x", 0, 0, ""},
      {"ordinal indicator (a letter)", "\xC2\xAA", 0, 0, ""},
      {"micro sign (a letter)", "\xC2\xB5m", 0, 0, ""},
      {"letter outside the basic plane",
       "\xF0\x9D\x90\x80"
       "b",
       0, 0, ""},
      {"arabic-indic digit after a letter", "a\xD9\xA3", 0, 0, ""},
      {"arabic-indic digit first",
       "\xD9\xA3"
       "a",
       0, 3,
       start13003 + "\xD9\xA3"
                    "a"},
      {"fullwidth digit", "\xEF\xBC\x91", 0, 3, start13003 + "\xEF\xBC\x91"},
      {"superscript two (no decimal digit)", "a\xC2\xB2", 3, 3, chars13002 + "a\xC2\xB2"},
      {"roman numeral (no letter)", "\xE2\x85\xA0", 3, 3, chars13002 + "\xE2\x85\xA0"},
      {"multiplication sign",
       "a\xC3\x97"
       "b",
       3, 3,
       chars13002 + "a\xC3\x97"
                    "b"},
      {"combining mark after a letter", "cafe\xCC\x81", 3, 3, chars13002 + "cafe\xCC\x81"},
      {"spacing mark", "a\xE0\xA4\x83", 3, 3, chars13002 + "a\xE0\xA4\x83"},
      {"emoji", "\xF0\x9F\x98\x80", 3, 3, chars13002 + "\xF0\x9F\x98\x80"},
      {"reserved prefix la_", "la_thing", 0, 4,
       "13007 0 Event name uses reserved prefix. Ignoring event | la_thing"},
      {"reserved prefix lumo_", "lumo_thing", 0, 4,
       "13007 0 Event name uses reserved prefix. Ignoring event | lumo_thing"},
      {"reserved prefix veltro_", "veltro_thing", 0, 4,
       "13007 0 Event name uses reserved prefix. Ignoring event | veltro_thing"},
      {"prefixes are case-sensitive", "La_thing", 0, 0, ""},
      {"reserved name", "session_start", 0, 4,
       "13006 0 Event name is reserved. Ignoring event | session_start"},
      {"ad event name", "ad_impression", 0, 0, ""},
      {"40 ascii characters", std::string(40, 'e'), 0, 0, ""},
      {"41 ascii characters", std::string(41, 'e'), 2, 2, long13000 + std::string(41, 'e')},
      {"40 two-byte letters", cyrillic40, 0, 0, ""},
      {"41 two-byte letters", cyrillic41, 2, 2, long13000 + cyrillic41},
      {"40 emoji: short enough, wrong characters", emoji40, 3, 3, chars13002 + emoji40},
      {"41 emoji: too long first", emoji41, 2, 2, long13000 + emoji41},
      {"empty", "", 1, 1, "13001 0 Event name is required and can't be empty |"},
  };
  msr_test::MonitorRecorder recorder;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    const std::vector<std::string> publicLines =
        r.line.empty() ? std::vector<std::string>{} : std::vector<std::string>{r.line};
    const std::vector<std::string> internalLines =
        r.internalCode == 0 ? std::vector<std::string>{} : publicLines;
    std::int64_t code = -1;
    recorder.clear();
    EXPECT_EQ(V::isValidInternalEventName(Value(r.name), &code), r.internalCode == 0);
    EXPECT_EQ(code, r.internalCode);
    EXPECT_EQ(recorder.lines(), internalLines);
    code = -1;
    recorder.clear();
    EXPECT_EQ(V::isValidPublicEventName(Value(r.name), &code), r.publicCode == 0);
    EXPECT_EQ(code, r.publicCode);
    EXPECT_EQ(recorder.lines(), publicLines);
    // The forms for names held as text answer and log alike.
    code = -1;
    recorder.clear();
    EXPECT_EQ(V::isValidInternalEventNameText(r.name, &code), r.internalCode == 0);
    EXPECT_EQ(code, r.internalCode);
    EXPECT_EQ(recorder.lines(), internalLines);
    code = -1;
    recorder.clear();
    EXPECT_EQ(V::isValidPublicEventNameText(r.name, &code), r.publicCode == 0);
    EXPECT_EQ(code, r.publicCode);
    EXPECT_EQ(recorder.lines(), publicLines);
  }
}

// Every ASCII character, inside a name and as its first character.
TEST_F(MSRDataTypeValidatorTest, AsciiNameCharactersAreLettersDigitsAndUnderscore) {
  msr_test::MonitorRecorder recorder;
  for (int c = 0; c < 128; ++c) {
    SCOPED_TRACE(c);
    const char ch = static_cast<char>(c);
    const bool letter = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
    const bool nameChar = letter || (ch >= '0' && ch <= '9') || ch == '_';
    const std::string inside = std::string("a") + ch;
    const std::string first = std::string(1, ch) + "a";
    std::int64_t code = -1;
    recorder.clear();
    EXPECT_EQ(V::isValidInternalEventParameterName(Value(inside), &code), nameChar);
    EXPECT_EQ(code, nameChar ? 0 : 3);
    EXPECT_EQ(recorder.codes().size(), nameChar ? 0u : 1u);
    recorder.clear();
    EXPECT_EQ(V::isValidPublicEventParameterName(Value(first), &code), letter);
    EXPECT_EQ(code, letter ? 0 : 3);
    ASSERT_EQ(recorder.codes().size(), letter ? 0u : 1u);
    if (!letter) {
      EXPECT_EQ(recorder.codes()[0].first, nameChar ? 13003 : 13002);
    }
    recorder.clear();
    EXPECT_EQ(V::isValidInternalEventParameterNameText(inside, &code), nameChar);
    EXPECT_EQ(V::isValidPublicEventParameterNameText(first, &code), letter);
    EXPECT_EQ(recorder.codes().size(), (nameChar ? 0u : 1u) + (letter ? 0u : 1u));
  }
}

// Names pieced together from ASCII and from letters, digits, marks and symbols of other scripts,
// checked against the Unicode character database directly: the parameter name rules, given a
// value or plain text, answer as the classes say.
TEST_F(MSRDataTypeValidatorTest, ParameterNameRulesAgreeWithTheUnicodeClasses) {
  const std::vector<std::string> pieces = {
      "a",
      "Z",
      "q",
      "0",
      "9",
      "_",
      " ",
      "-",
      ".",
      "$",
      "\x7F",
      "\xC3\xA9",          // precomposed letter
      "\xD0\xB6",          // Cyrillic letter
      "\xE5\x90\x8D",      // CJK letter
      "\xC2\xAA",          // ordinal indicator, a letter
      "\xCA\xB0",          // modifier letter
      "\xD9\xA3",          // Arabic-Indic digit
      "\xEF\xBC\x91",      // fullwidth digit
      "\xC2\xB2",          // superscript two, no decimal digit
      "\xE2\x85\xA0",      // roman numeral, no letter
      "\xC3\x97",          // multiplication sign
      "\xCC\x81",          // combining mark
      "\xE0\xA4\x83",      // spacing mark
      "\xF0\x9F\x98\x80",  // emoji
      "\xF0\x9D\x90\x80",  // letter outside the basic plane
      "la_",
      "lumo_",
      "veltro_",
  };
  auto letter = [](char32_t c) {
    return (U_GET_GC_MASK(static_cast<UChar32>(c)) & U_GC_L_MASK) != 0;
  };
  auto nameCharacter = [&](char32_t c) {
    return letter(c) || u_charType(static_cast<UChar32>(c)) == U_DECIMAL_DIGIT_NUMBER || c == U'_';
  };
  std::mt19937 generator(20261207);  // fixed: a failure repeats
  std::uniform_int_distribution<std::size_t> pieceCount(0, 44);
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  for (int round = 0; round < 3000; ++round) {
    std::string name;
    for (std::size_t n = pieceCount(generator); n > 0; --n) name += pieces[pick(generator)];
    const std::u32string characters = platform::toUtf32(name);
    std::int64_t internalCode = 0;
    if (characters.empty()) {
      internalCode = 1;
    } else if (characters.size() > 40) {
      internalCode = 2;
    } else if (!std::all_of(characters.begin(), characters.end(), nameCharacter)) {
      internalCode = 3;
    }
    std::int64_t publicCode = internalCode;
    if (publicCode == 0 && !letter(characters[0])) publicCode = 3;
    if (publicCode == 0 &&
        (name.starts_with("la_") || name.starts_with("lumo_") || name.starts_with("veltro_"))) {
      publicCode = 4;
    }
    SCOPED_TRACE(name);
    std::int64_t code = -1;
    EXPECT_EQ(V::isValidInternalEventParameterName(Value(name), &code), internalCode == 0);
    EXPECT_EQ(code, internalCode);
    EXPECT_EQ(V::isValidInternalEventParameterNameText(name, &code), internalCode == 0);
    EXPECT_EQ(code, internalCode);
    EXPECT_EQ(V::isValidPublicEventParameterName(Value(name), &code), publicCode == 0);
    EXPECT_EQ(code, publicCode);
    EXPECT_EQ(V::isValidPublicEventParameterNameText(name, &code), publicCode == 0);
    EXPECT_EQ(code, publicCode);
  }
}

// String values are measured in characters, whatever their width in bytes.
TEST_F(MSRDataTypeValidatorTest, ValueLengthsCountCharactersAtTheLimits) {
  auto repeat = [](const std::string& unit, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += unit;
    return out;
  };
  struct Row {
    const char* what;
    std::string text;
    bool internalValid;
    bool publicValid;
  };
  const Row rows[] = {
      {"100 ascii", std::string(100, 'v'), true, true},
      {"101 ascii", std::string(101, 'v'), true, false},
      {"256 ascii", std::string(256, 'v'), true, false},
      {"257 ascii", std::string(257, 'v'), false, false},
      {"100 two-byte", repeat("\xC3\xA9", 100), true, true},
      {"101 two-byte", repeat("\xC3\xA9", 101), true, false},
      {"256 three-byte", repeat("\xE5\x90\x8D", 256), true, false},
      {"257 three-byte", repeat("\xE5\x90\x8D", 257), false, false},
      {"100 emoji", repeat("\xF0\x9F\x98\x80", 100), true, true},
      {"256 emoji", repeat("\xF0\x9F\x98\x80", 256), true, false},
      {"257 emoji", repeat("\xF0\x9F\x98\x80", 257), false, false},
      {"255 ascii and one emoji", std::string(255, 'v') + "\xF0\x9F\x98\x80", true, false},
      {"256 ascii and one emoji", std::string(256, 'v') + "\xF0\x9F\x98\x80", false, false},
      {"empty", "", true, true},
  };
  msr_test::MonitorRecorder recorder;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    for (const bool isPublic : {false, true}) {
      const bool valid = isPublic ? r.publicValid : r.internalValid;
      const std::string limit = isPublic ? "100" : "256";
      std::int64_t code = -1;
      recorder.clear();
      EXPECT_EQ(isPublic ? V::isValidPublicEventParameterValue(str(r.text), &code)
                         : V::isValidInternalEventParameterValue(str(r.text), &code),
                valid);
      EXPECT_EQ(code, valid ? 0 : 2);
      EXPECT_EQ(recorder.lines(),
                valid ? std::vector<std::string>{}
                      : std::vector<std::string>{
                            "13000 3 Event parameter value is too long. The maximum supported "
                            "length is " +
                            limit + " | " + r.text});
    }
  }
}

TEST_F(MSRDataTypeValidatorTest, CurrencyCodesAreThreeLettersOfAnyScript) {
  const std::pair<const char*, bool> rows[] = {
      {"usd", true},
      {"\xC3\x89\xC3\x89\xC3\x89", true},  // precomposed capitals
      {"\xD1\x80\xD1\x83\xD0\xB1", true},  // Cyrillic
      {"a\xCC\x81"
       "b",
       false},                                      // a combining mark is no letter
      {"\xF0\x9D\x90\x80\xF0\x9D\x90\x81", false},  // two letters, four UTF-16 units
      {"\xF0\x9D\x90\x80"
       "a",
       true},  // one pair and one letter: three units
      {"ab", false},
      {"abcd", false},
      {"a_b", false},
      {"a1b", false},
  };
  for (const auto& [text, valid] : rows) {
    SCOPED_TRACE(text);
    std::int64_t code = -1;
    EXPECT_EQ(V::isValidCurrencyCode(str(text), &code), valid);
    EXPECT_EQ(code, valid ? 0 : 9);
  }
}

// A name given as text with bytes that are no UTF-8 is checked as the string a value would
// hold: each bad sequence a replacement character, which is no name character.
TEST_F(MSRDataTypeValidatorTest, BrokenUtf8NamesFailAsReplacementCharacters) {
  msr_test::MonitorRecorder recorder;
  std::int64_t code = -1;
  EXPECT_FALSE(V::isValidInternalEventName(Value(std::string("ab\xFF")), &code));
  EXPECT_EQ(code, 3);
  EXPECT_EQ(recorder.lines(),
            std::vector<std::string>{chars("Event name") + "ab\xEF\xBF\xBD"});
  struct Row {
    const char* what;
    std::function<bool(const std::string&, std::int64_t*)> rule;
    std::int64_t code;
    std::string line;
  };
  const Row rows[] = {
      {"internal event name", V::isValidInternalEventNameText, 3, chars("Event name")},
      {"public event name", V::isValidPublicEventNameText, 3, chars("Event name")},
      {"internal parameter name", V::isValidInternalEventParameterNameText, 3,
       chars("Event parameter name")},
      {"public parameter name", V::isValidPublicEventParameterNameText, 3,
       chars("Event parameter name")},
      {"internal origin", V::isValidInternalEventOriginText, 3, chars("Event origin")},
      {"forwarded origin without its suffix", V::isValidForwardedEventOriginText, 6, ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    recorder.clear();
    code = -1;
    EXPECT_FALSE(r.rule("ab\xFF", &code));
    EXPECT_EQ(code, r.code);
    EXPECT_EQ(recorder.lines(),
              r.line.empty() ? std::vector<std::string>{}
                             : std::vector<std::string>{r.line + "ab\xEF\xBF\xBD"});
  }
  // A forwarded origin whose local part is broken fails on that part.
  recorder.clear();
  EXPECT_FALSE(
      V::isValidForwardedEventOriginText("w\xC3"
                                         "b+gtm",
                                         &code));
  EXPECT_EQ(code, 3);
  EXPECT_EQ(recorder.lines(),
            std::vector<std::string>{chars("Event origin") + "w\xEF\xBF\xBD"
                                                             "b"});
}

TEST_F(MSRDataTypeValidatorTest, InternalNamesAllowLeadingDigitsAndUnderscores) {
  std::int64_t code = -1;
  EXPECT_TRUE(V::isValidInternalEventName(Value("_vs"), &code));
  EXPECT_TRUE(V::isValidInternalEventName(Value("1abc"), &code));
  EXPECT_EQ(code, 0);
  EXPECT_FALSE(V::isValidInternalEventParameterName(Value("a.b"), &code));
  EXPECT_EQ(code, 3);
  EXPECT_TRUE(V::isValidInternalEventOrigin(Value("auto"), &code));
  EXPECT_FALSE(V::isValidInternalEventOrigin(Value(std::string(33, 'o')), &code));
  EXPECT_EQ(code, 2);
}

TEST_F(MSRDataTypeValidatorTest, ParameterAndUserPropertyNames) {
  std::int64_t code = -1;
  EXPECT_FALSE(V::isValidPublicEventParameterName(Value("lumo_x"), &code));
  EXPECT_EQ(code, 4);
  EXPECT_TRUE(V::isValidPublicEventParameterName(Value("value"), &code));
  EXPECT_FALSE(V::isValidPublicUserAttributeName(Value("user_id"), &code));
  EXPECT_EQ(code, 4);
  EXPECT_FALSE(V::isValidPublicUserAttributeName(Value("veltro_x"), &code));
  EXPECT_EQ(code, 4);
  EXPECT_FALSE(V::isValidPublicUserAttributeName(Value(std::string(25, 'u')), &code));
  EXPECT_EQ(code, 2);
  EXPECT_TRUE(V::isValidPublicUserAttributeName(Value("favourite"), &code));
  EXPECT_TRUE(lineContains("User property name is reserved. Ignoring user property: user_id"));
  EXPECT_TRUE(lineContains("Parameter name uses reserved prefix. Ignoring parameter: lumo_x"));
  EXPECT_TRUE(lineContains(
      "[I-ACS013010] User property name uses reserved prefix. Ignoring user property: veltro_x"));
}

TEST_F(MSRDataTypeValidatorTest, ValuesByKindAndLength) {
  std::int64_t code = -1;
  EXPECT_TRUE(V::isValidPublicEventParameterValue(str(""), &code));  // empty is fine here
  EXPECT_TRUE(V::isValidPublicEventParameterValue(Value(MSRValue::initWithInt64(3)), &code));
  EXPECT_FALSE(V::isValidPublicEventParameterValue(str(std::string(101, 'v')), &code));
  EXPECT_EQ(code, 2);
  EXPECT_TRUE(V::isValidInternalEventParameterValue(str(std::string(256, 'v')), &code));
  EXPECT_FALSE(V::isValidPublicEventParameterValue(Value("raw string"), &code));
  EXPECT_EQ(code, 5);
  EXPECT_FALSE(V::isValidPublicEventParameterValue(Value(), &code));
  EXPECT_EQ(code, 1);

  // An empty user property value fails quietly.
  const auto before = msr_test::engineLines().size();
  EXPECT_FALSE(V::isValidPublicUserAttributeValue(str(""), &code));
  EXPECT_EQ(code, 1);
  EXPECT_EQ(msr_test::engineLines().size(), before);

  const Value long256 = str(std::string(256, 'i'));
  EXPECT_TRUE(V::isValidInternalUserAttributeValue(long256, "_id", &code));
  EXPECT_TRUE(V::isValidInternalUserAttributeValue(long256, "_gbraid", &code));
  EXPECT_FALSE(V::isValidInternalUserAttributeValue(long256, "_fot", &code));
  EXPECT_EQ(code, 2);
  EXPECT_TRUE(V::isValidInternalUserAttributeValue(str(std::string(36, 'i')), "x", &code));

  EXPECT_FALSE(V::isValidScreenParameterValue(Value(""), &code));
  EXPECT_EQ(code, 1);
  EXPECT_TRUE(lineContains("Screen parameter value is required and can't be empty"));
  EXPECT_TRUE(V::isValidConditionalUserPropertyValue(str("v"), &code));
  EXPECT_TRUE(V::isValidConditionalUserPropertyOrigin(Value("app"), &code));
  EXPECT_FALSE(V::isValidConditionalUserPropertyName(Value(std::string(25, 'n')), &code));
}

TEST_F(MSRDataTypeValidatorTest, ForwardedOrigins) {
  const std::pair<Value, std::pair<bool, std::int64_t>> rows[] = {
      {Value("app+gtm"), {true, 0}}, {Value("app"), {false, 6}},  {Value(""), {false, 1}},
      {Value(), {false, 1}},         {Value("+gtm"), {false, 1}}, {Value("a-b+gtm"), {false, 3}},
  };
  for (const auto& [origin, expected] : rows) {
    SCOPED_TRACE(origin.description());
    std::int64_t code = -1;
    EXPECT_EQ(V::isValidForwardedEventOrigin(origin, &code), expected.first);
    EXPECT_EQ(code, expected.second);
  }
}

TEST_F(MSRDataTypeValidatorTest, ArrayParametersInOrderOfTheirTests) {
  struct Row {
    const char* event;
    const char* param;
    std::uint64_t count;
    bool nested;
    std::int64_t code;
  };
  const Row rows[] = {
      {"screen_view", "items", 1, true, 13}, {"screen_view", "items", 1, false, 10},
      {"purchase", "things", 1, false, 11},  {"purchase", "items", 201, false, 12},
      {"purchase", "items", 200, false, 0},
  };
  for (const Row& r : rows) {
    std::int64_t code = -1;
    EXPECT_EQ(V::isValidArrayParamForEvent(r.event, r.param, r.count, r.nested, &code),
              r.code == 0);
    EXPECT_EQ(code, r.code);
  }
  EXPECT_TRUE(lineContains(
      "Event parameter name is an invalid ecommerce items. The name of array parameters for "
      "ecommerce should be \"items\". Invalid parameter name: things"));
  EXPECT_TRUE(
      lineContains("The maximum number of supported items is 200. Invalid array size: 201"));
  std::int64_t code = -1;
  EXPECT_FALSE(V::isValidArrayParamItem(Value("x"), &code));
  EXPECT_EQ(code, 14);
  EXPECT_TRUE(V::isValidArrayParamItem(Value(Value::Dictionary{}), &code));
}

TEST_F(MSRDataTypeValidatorTest, NumbersAndCurrencyCodes) {
  std::int64_t code = -1;
  EXPECT_TRUE(V::isValidNumericValue(Value(MSRValue::initWithDouble(1.5)), &code));
  EXPECT_FALSE(V::isValidNumericValue(str("1.5"), &code));
  EXPECT_EQ(code, 8);
  const std::pair<const char*, bool> currencies[] = {
      {"usd", true}, {"EUR", true}, {"US1", false}, {"EURO", false}, {"", false}};
  for (const auto& [text, valid] : currencies) {
    SCOPED_TRACE(text);
    EXPECT_EQ(V::isValidCurrencyCode(str(text), &code), valid);
    EXPECT_EQ(code, valid ? 0 : 9);
  }
  EXPECT_FALSE(V::isValidCurrencyCode(Value(MSRValue::initWithInt64(840)), &code));
  EXPECT_EQ(code, 9);
  EXPECT_TRUE(lineContains("Event parameter value must contain a 3-letter ISO_4217 currency code"));
  EXPECT_EQ(MSRDataTypeDescription(42, "!"), "Object!");
}

}  // namespace
