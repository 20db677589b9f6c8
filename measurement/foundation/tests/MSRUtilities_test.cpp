#include "measurement/foundation/MSRUtilities.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "platform/base/Files.h"
#include "platform/base/PropertyList.h"
#include "platform/base/UserDefaults.h"
#include "platform/testing/PlatformTest.h"
#include "platform/testing/UnreadableFile.h"

namespace {

namespace fs = std::filesystem;
using platform::Bytes;
using platform::Value;

class MSRUtilitiesTest : public platform::testing::PlatformTest {
 protected:
  static void write(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    ASSERT_TRUE(platform::files::writeAtomically(p, std::string_view(text)));
  }
  static std::string read(const fs::path& p) {
    return platform::files::readTextFile(p).value_or("<missing>");
  }
  static fs::path prefs(const std::string& suite) {
    return platform::SandboxHome::preferences() / (suite + ".plist");
  }
  static fs::path engineCopy(const std::string& suite) {
    return platform::SandboxHome::applicationSupport() / "Veltro/Measurement" / (suite + ".plist");
  }
};

TEST_F(MSRUtilitiesTest, DigestsAndTheirSixtyFourBitForms) {
  EXPECT_EQ(msr_MD5String(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(msr_MD5String("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_FALSE(msr_MD5String(std::string("\xff\xfe", 2)));
  Bytes ten;
  for (int i = 0; i < 10; ++i) ten.push_back(static_cast<std::uint8_t>(i));
  EXPECT_EQ(msr_64LeastSignificantBits(ten), 0x0203040506070809LL);
  EXPECT_EQ(msr_64LeastSignificantBits({1, 2}), 258);
  EXPECT_EQ(msr_64LeastSignificantBits({1}), 1);
  EXPECT_EQ(msr_64LeastSignificantBits({}), 0);
  EXPECT_EQ(msr_64LeastSignificantBits(Bytes(8, 0xff)), -1);
  // Digest bytes 8..15 of MD5("abc"): d6 96 3f 7d 28 e1 7f 72.
  const Bytes abc{'a', 'b', 'c'};
  EXPECT_EQ(msr_64LSBMD5(abc), static_cast<std::int64_t>(0xd6963f7d28e17f72ULL));
  EXPECT_EQ(msr_MD5Data(abc).size(), 16u);
}

TEST_F(MSRUtilitiesTest, RandomNumbersVary) {
  const auto a = MSRNumericUtil::randomInt64();
  const auto b = MSRNumericUtil::randomInt64();
  const auto c = MSRNumericUtil::randomInt64();
  EXPECT_FALSE(a == b && b == c);
}

TEST_F(MSRUtilitiesTest, QueryStringsEncodeOnlyWhatTheQuerySetForbids) {
  EXPECT_EQ(msr_queryString({}), "");
  EXPECT_EQ(msr_queryString({{"a b", Value("x&y=z")}, {"n", Value(5)}, {"é", Value("/?+")}}),
            "a%20b=x&y=z&n=5&%C3%A9=/?+");
}

TEST_F(MSRUtilitiesTest, ArgumentsParseWithTheFirstOccurrenceWinning) {
  const auto d = msr_dictionaryWithHttpArgumentsString("a=1&b&a=2&&c=x=y&p=1+2%2B&bad=%zz");
  EXPECT_EQ(d.size(), 5u);
  EXPECT_EQ(*d.at("a").string(), "1");
  EXPECT_EQ(*d.at("b").string(), "");
  EXPECT_EQ(*d.at("c").string(), "x=y");
  EXPECT_EQ(*d.at("p").string(), "1 2+");
  EXPECT_EQ(*d.at("bad").string(), "");
  EXPECT_EQ(msr_stringByUnescapingFromURLArgument("%E2%82%AC+x"), "€ x");
  EXPECT_FALSE(msr_stringByUnescapingFromURLArgument("50%"));
  EXPECT_FALSE(msr_stringByUnescapingFromURLArgument("%ff"));
}

TEST_F(MSRUtilitiesTest, Utf32CountsScalarsAndCopiesWholeCharacters) {
  const std::string text = "a\xC3\xA9\xF0\x9F\x98\x80z";  // a, é, an emoji, z
  EXPECT_EQ(msr_UTF32Length(text), 4u);
  unsigned char buffer[16];
  std::memset(buffer, 0xAA, sizeof buffer);
  msr_getUTF32Bytes(text, buffer, 11);  // room for two whole characters only
  const unsigned char expected[] = {'a', 0, 0, 0, 0xE9, 0, 0, 0};
  EXPECT_EQ(std::memcmp(buffer, expected, 8), 0);
  EXPECT_EQ(buffer[8], 0xAA);
  msr_getUTF32Bytes(text, buffer, 16);
  EXPECT_EQ(buffer[8], 0x00);
  EXPECT_EQ(buffer[9], 0xF6);
  EXPECT_EQ(buffer[10], 0x01);
  EXPECT_EQ(buffer[12], 'z');
}

TEST_F(MSRUtilitiesTest, DeleteAndMoveFollowTheirRules) {
  platform::ErrorPtr error;
  EXPECT_FALSE(MSRDeleteFileAtPath("", &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), 1);
  EXPECT_EQ(error->localizedDescription(), "Received empty path for deleting file");

  const fs::path dir = home() / "m";
  const fs::path src = dir / "src", dst = dir / "sub/dst";
  EXPECT_TRUE(MSRMoveFileAtPath((dir / "missing").string(), dst.string(), false));
  EXPECT_FALSE(fs::exists(dst));
  EXPECT_FALSE(MSRMoveFileAtPath("", dst.string(), true));

  write(src, "new");
  EXPECT_TRUE(MSRMoveFileAtPath(src.string(), dst.string(), false));  // creates "sub"
  EXPECT_EQ(read(dst), "new");

  write(src, "newer");
  EXPECT_TRUE(MSRMoveFileAtPath(src.string(), dst.string(), false));
  EXPECT_FALSE(fs::exists(src));
  EXPECT_EQ(read(dst), "new");  // the destination stays

  write(src, "newest");
  EXPECT_TRUE(MSRMoveFileAtPath(src.string(), dst.string(), true));
  EXPECT_EQ(read(dst), "newest");

  write(src, "x");
  EXPECT_FALSE(MSRMoveFileAtPath(src.string(), dir.string(), true));  // onto a directory
  EXPECT_FALSE(MSRMoveFileAtPath(dir.string(), (home() / "d2").string(), true));
  EXPECT_TRUE(fs::exists(src));

  EXPECT_TRUE(MSRDeleteFileAtPath(dir.string(), nullptr));
  EXPECT_FALSE(fs::exists(dir));
}

TEST_F(MSRUtilitiesTest, SuiteMovesBetweenPreferencesAndTheEngineFolder) {
  const std::string suite = "com.veltro.test.suite";
  EXPECT_FALSE(MSRRemoveUserDefaultsDomain(""));
  EXPECT_FALSE(MSRMigrateUserDefaults(""));

  // Nothing stored yet: the move back finds nothing and leaves the suite alone.
  EXPECT_TRUE(MSRMigrateUserDefaults(suite));
  EXPECT_FALSE(fs::exists(prefs(suite)));

  // Not on disk yet: the move writes it first, so the change moves with the file.
  platform::UserDefaults::initWithSuiteName(suite)->setObject(Value(42), "answer");
  EXPECT_TRUE(MSRRemoveUserDefaultsDomain(suite));
  EXPECT_FALSE(fs::exists(prefs(suite)));
  ASSERT_TRUE(fs::exists(engineCopy(suite)));
  EXPECT_TRUE(platform::UserDefaults::initWithSuiteName(suite)->objectForKey("answer").isNil());

  EXPECT_TRUE(MSRMigrateUserDefaults(suite));
  EXPECT_FALSE(fs::exists(engineCopy(suite)));
  platform::UserDefaults::resetForTesting();
  EXPECT_EQ(platform::UserDefaults::initWithSuiteName(suite)->integerForKey("answer"), 42);

  // A file that cannot even be looked up is not missing: neither the suite nor its file go.
  using platform::testing::UnreadableFile;
  {
    UnreadableFile loop(UnreadableFile::Cause::LinkLoop, prefs(suite));
    EXPECT_FALSE(MSRRemoveUserDefaultsDomain(suite));
    EXPECT_FALSE(fs::exists(engineCopy(suite)));
    EXPECT_TRUE(fs::is_symlink(prefs(suite)));
    EXPECT_EQ(platform::UserDefaults::initWithSuiteName(suite)->integerForKey("answer"), 42);
  }
  {
    UnreadableFile loop(UnreadableFile::Cause::LinkLoop, prefs(suite));
    fs::rename(prefs(suite), engineCopy(suite));
    EXPECT_FALSE(MSRMoveFileAtPath(engineCopy(suite).string(), prefs(suite).string(), true));
    EXPECT_FALSE(fs::exists(prefs(suite)));
    fs::rename(engineCopy(suite), prefs(suite));
  }
  platform::UserDefaults::resetForTesting();
  EXPECT_EQ(platform::UserDefaults::initWithSuiteName(suite)->integerForKey("answer"), 42);
}

TEST_F(MSRUtilitiesTest, RemovingWhenAnEngineCopyExistsKeepsThatCopy) {
  const std::string suite = "com.veltro.test.other";
  write(engineCopy(suite), "engine copy");
  platform::UserDefaults::initWithSuiteName(suite)->setObject(Value(1), "k");
  EXPECT_TRUE(MSRRemoveUserDefaultsDomain(suite));
  EXPECT_FALSE(fs::exists(prefs(suite)));
  EXPECT_EQ(read(engineCopy(suite)), "engine copy");
  EXPECT_TRUE(platform::UserDefaults::initWithSuiteName(suite)->objectForKey("k").isNil());
}

}  // namespace
