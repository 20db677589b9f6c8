#include "platform/runtime/Crypto.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <deque>
#include <set>

#include "platform/base/Error.h"
#include "platform/testing/PlatformTest.h"

namespace platform::crypto {
namespace {

class CryptoTest : public platform::testing::PlatformTest {};

TEST_F(CryptoTest, DigestsMatchKnownVectors) {
  struct Case {
    std::string input;
    std::string md5, sha1, sha256;
  };
  const Case cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e", "da39a3ee5e6b4b0d3255bfef95601890afd80709",
       "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72", "a9993e364706816aba3e25717850c26c9cd0d89d",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hexString(md5(c.input)), c.md5);
    EXPECT_EQ(hexString(sha1(c.input)), c.sha1);
    EXPECT_EQ(hexString(sha256(Bytes(c.input.begin(), c.input.end()))), c.sha256);
  }
  EXPECT_EQ(md5("x").size(), kMD5Length);
  EXPECT_EQ(sha1("x").size(), kSHA1Length);
  EXPECT_EQ(sha256("x").size(), kSHA256Length);
}

TEST_F(CryptoTest, Base64EncodesAndDecodesBothAlphabets) {
  struct Case {
    std::string bytes, standard;
  };
  const Case cases[] = {{"", ""},
                        {"f", "Zg=="},
                        {"fo", "Zm8="},
                        {"foo", "Zm9v"},
                        {"foob", "Zm9vYg=="},
                        {"fooba", "Zm9vYmE="},
                        {"foobar", "Zm9vYmFy"}};
  for (const Case& c : cases) {
    EXPECT_EQ(base64Encode(c.bytes), c.standard);
    auto back = base64Decode(c.standard);
    ASSERT_TRUE(back) << c.standard;
    EXPECT_EQ(std::string(back->begin(), back->end()), c.bytes);
  }
  const Bytes awkward = {0xFB, 0xFF, 0xBF, 0x7E};
  EXPECT_EQ(base64Encode(awkward), "+/+/fg==");
  EXPECT_EQ(base64Encode(awkward, Base64Alphabet::UrlSafe), "-_-_fg==");
  EXPECT_EQ(base64Encode(awkward, Base64Alphabet::UrlSafe, false), "-_-_fg");
  EXPECT_EQ(base64Decode("-_-_fg", Base64Alphabet::UrlSafe), awkward);
  EXPECT_EQ(base64Decode("-_-_fg==", Base64Alphabet::UrlSafe), awkward);

  for (const char* bad : {"Zg=", "Z", "Zm9v!", "-_-_fg==", "Zh==", "Zg==Zg==", "===="}) {
    EXPECT_FALSE(base64Decode(bad)) << bad;
  }
}

TEST_F(CryptoTest, UniformIntegersRejectTheBiasedRange) {
  // For n = 3 the lowest 2^64 mod 3 = 1 value (0) is biased and must be drawn again.
  auto draws = std::make_shared<std::deque<std::uint64_t>>(std::deque<std::uint64_t>{0, 5, 7});
  setRandomSourceForTesting([draws](std::uint8_t* out, std::size_t count) -> bool {
    EXPECT_EQ(count, 8u);
    if (count != 8 || draws->empty()) return false;
    std::uint64_t v = draws->front();
    draws->pop_front();
    std::memcpy(out, &v, 8);
    return true;
  });
  EXPECT_EQ(randomUniform(3), 2u);  // 0 rejected, 5 % 3
  EXPECT_EQ(draws->size(), 1u);
  EXPECT_EQ(randomUniform(1), 0u);  // no draw needed
  EXPECT_EQ(randomUniform(0), 0u);
  EXPECT_EQ(draws->size(), 1u);
  setRandomSourceForTesting(nullptr);

  std::set<std::uint64_t> seen;
  for (int i = 0; i < 2000; ++i) {
    std::uint64_t v = randomUniform(10);
    ASSERT_LT(v, 10u);
    seen.insert(v);
  }
  EXPECT_EQ(seen.size(), 10u);
}

TEST_F(CryptoTest, DeterministicSourceRepeatsAndSystemSourceDoesNot) {
  setRandomSourceForTesting(deterministicRandomSource(7));
  Bytes a = randomBytes(37);
  setRandomSourceForTesting(deterministicRandomSource(7));
  EXPECT_EQ(randomBytes(37), a);
  setRandomSourceForTesting(deterministicRandomSource(8));
  EXPECT_NE(randomBytes(37), a);
  setRandomSourceForTesting(nullptr);
  EXPECT_NE(randomBytes(32), randomBytes(32));
  EXPECT_TRUE(randomBytes(0).empty());
}

// 8-4-4-4-12 upper-case hex digits, version 4, RFC 4122 variant.
bool isVersionFourText(const std::string& u) {
  if (u.size() != 36) return false;
  for (std::size_t i = 0; i < u.size(); ++i) {
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash != (u[i] == '-')) return false;
    if (!dash && !std::isdigit(static_cast<unsigned char>(u[i])) && (u[i] < 'A' || u[i] > 'F')) {
      return false;
    }
  }
  return u[14] == '4' && std::string("89AB").find(u[19]) != std::string::npos;
}

TEST_F(CryptoTest, AFailingSourceIsReportedNeverPassedOffAsRandom) {
  setRandomSourceForTesting([](std::uint8_t*, std::size_t) { return false; });
  std::uint8_t buffer[8];
  EXPECT_FALSE(fillRandom(buffer, sizeof buffer));
  EXPECT_THROW(randomBytes(4), Exception);
  EXPECT_THROW(randomUniform(10), Exception);
  EXPECT_THROW(uuidString(), Exception);
  setRandomSourceForTesting(nullptr);
  EXPECT_TRUE(fillRandom(buffer, sizeof buffer));
}

TEST_F(CryptoTest, UuidsAreVersionFourInUpperCaseText) {
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    std::string u = uuidString();
    EXPECT_TRUE(isVersionFourText(u)) << u;
    seen.insert(u);
  }
  EXPECT_EQ(seen.size(), 100u);

  UUIDBytes pinned{};
  for (std::size_t i = 0; i < pinned.size(); ++i) pinned[i] = static_cast<std::uint8_t>(i * 17);
  queueUUIDForTesting(pinned);
  EXPECT_EQ(uuidBytes(), pinned);  // queued bytes come back exactly, once
  queueUUIDForTesting(pinned);
  EXPECT_EQ(uuidString(), "00112233-4455-6677-8899-AABBCCDDEEFF");
  EXPECT_NE(uuidBytes(), pinned);
}

}  // namespace
}  // namespace platform::crypto
