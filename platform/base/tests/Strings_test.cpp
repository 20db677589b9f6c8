#include "platform/base/Strings.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

const std::string kEmoji = "\xF0\x9F\x98\x80";  // U+1F600, two UTF-16 units
const std::string kEAcute = "\xC3\xA9";

TEST(StringsTest, Validation) {
  struct Case {
    std::string text;
    bool valid;
  } cases[] = {
      {"plain", true},
      {kEAcute + kEmoji, true},
      {"\xC0\xAF", false},          // overlong "/"
      {"\xED\xA0\x80", false},      // a lone surrogate
      {"\xF4\x90\x80\x80", false},  // above U+10FFFF
      {"\xE2\x82", false},          // truncated
      {"\x80", false},
      {std::string("a\0b", 3), true},
  };
  for (const auto& c : cases) EXPECT_EQ(isValidUtf8(c.text), c.valid) << c.text;
  EXPECT_EQ(sanitizeUtf8("a\xE2\x82"
                         "b"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_TRUE(isValidUtf8(sanitizeUtf8("\xC0\xAF\xFF")));
}

TEST(StringsTest, LengthsAndPrefixesNeverSplitACharacter) {
  std::string s = "a" + kEAcute + kEmoji + "b";
  EXPECT_EQ(utf16Length(s), 5u);
  EXPECT_EQ(utf32Length(s), 4u);
  EXPECT_EQ(utf16Prefix(s, 2), "a" + kEAcute);
  EXPECT_EQ(utf16Prefix(s, 3), "a" + kEAcute);  // would split the pair
  EXPECT_EQ(utf16Prefix(s, 4), "a" + kEAcute + kEmoji);
  EXPECT_EQ(utf16Prefix(s, 100), s);
  EXPECT_EQ(utf32Prefix(s, 3), "a" + kEAcute + kEmoji);
  EXPECT_EQ(utf32Prefix(s, 0), "");
  EXPECT_EQ(toUtf32(s), (std::u32string{U'a', 0xE9, 0x1F600, U'b'}));
  EXPECT_EQ(fromUtf32(toUtf32(s)), s);
  EXPECT_EQ(fromUtf32(std::u32string{0xD800}), "\xEF\xBF\xBD");
}

TEST(StringsTest, CaseFolding) {
  EXPECT_EQ(caseInsensitiveCompare("Hello", "hELLO"), 0);
  EXPECT_LT(caseInsensitiveCompare("apple", "Banana"), 0);
  EXPECT_GT(caseInsensitiveCompare("b", "A"), 0);
  EXPECT_EQ(caseInsensitiveCompare("Stra\xC3\x9F"
                                   "e",
                                   "STRASSE"),
            0);
  EXPECT_EQ(lowercase("\xC3\x89T\xC3\x89"), "\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(uppercase("stra\xC3\x9F"
                      "e"),
            "STRASSE");
}

TEST(StringsTest, CharacterClasses) {
  EXPECT_TRUE(isLetter(U'a'));
  EXPECT_TRUE(isLetter(0x00E9));
  EXPECT_TRUE(isLetter(0x4E2D));  // a CJK ideograph
  EXPECT_TRUE(isLetter(0x0301));  // a combining mark counts as a letter on the platform
  EXPECT_FALSE(isLetter(U'1'));
  EXPECT_FALSE(isLetter(U'_'));
  EXPECT_TRUE(isDecimalDigit(U'7'));
  EXPECT_TRUE(isDecimalDigit(0x0663));   // Arabic-Indic three
  EXPECT_FALSE(isDecimalDigit(0x00B2));  // superscript two is a number, not a decimal digit
  EXPECT_TRUE(isAlphanumeric(0x00B2));
  EXPECT_FALSE(isAlphanumeric(U'-'));
  EXPECT_FALSE(isAlphanumeric(0x1F600));
  EXPECT_TRUE(hasPrefix("I-ACS000001", "I-ACS"));
  EXPECT_FALSE(hasSuffix("a.mp3", ".MP3"));
}

}  // namespace
}  // namespace platform
