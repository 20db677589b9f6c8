#include "utilities/VTUGzip.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

namespace {

platform::Bytes sample(std::size_t n) {
  std::mt19937 rng(1);
  platform::Bytes b(n);
  for (auto& x : b) x = static_cast<std::uint8_t>("abcdefgh"[rng() % 8]);
  return b;
}

TEST(VTUGzipTest, EmptyInputGivesNothingAndNoError) {
  platform::ErrorPtr error;
  EXPECT_FALSE(vtu_dataByGzippingData({}, &error));
  EXPECT_FALSE(vtu_dataByInflatingGzippedData({}, &error));
  EXPECT_FALSE(error);
}

TEST(VTUGzipTest, RoundTripsThroughAGzipStream) {
  for (std::size_t n : {1u, 1023u, 1024u, 100000u}) {
    const platform::Bytes input = sample(n);
    platform::ErrorPtr error;
    auto packed = vtu_dataByGzippingData(input, &error);
    ASSERT_TRUE(packed);
    ASSERT_GE(packed->size(), 2u);
    EXPECT_EQ((*packed)[0], 0x1f);
    EXPECT_EQ((*packed)[1], 0x8b);
    EXPECT_EQ(vtu_dataByInflatingGzippedData(*packed, &error), input) << n;
    EXPECT_FALSE(error);
  }
}

TEST(VTUGzipTest, InflatesAZlibStreamToo) {
  const platform::Bytes input = sample(5000);
  uLongf size = compressBound(input.size());
  platform::Bytes packed(size);
  ASSERT_EQ(compress(packed.data(), &size, input.data(), input.size()), Z_OK);
  packed.resize(size);
  EXPECT_EQ(vtu_dataByInflatingGzippedData(packed, nullptr), input);
}

TEST(VTUGzipTest, TrailingBytesAndTruncationAreErrors) {
  auto packed = *vtu_dataByGzippingData(sample(3000), nullptr);
  platform::Bytes extra = packed;
  extra.insert(extra.end(), {1, 2, 3});
  platform::ErrorPtr error;
  EXPECT_FALSE(vtu_dataByInflatingGzippedData(extra, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain(), "com.veltro.VTUNSDataZlibErrorDomain");
  EXPECT_EQ(error->code(), 1026);
  EXPECT_EQ(error->userInfo().at("VTUNSDataZlibRemainingBytesKey"), platform::Value(3));

  platform::Bytes truncated(packed.begin(), packed.begin() + packed.size() / 2);
  error = nullptr;
  EXPECT_FALSE(vtu_dataByInflatingGzippedData(truncated, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), 1025);
  EXPECT_EQ(error->userInfo().at("VTUNSDataZlibErrorKey"), platform::Value(Z_BUF_ERROR));

  error = nullptr;
  EXPECT_FALSE(vtu_dataByInflatingGzippedData({'n', 'o', 't', ' ', 'g', 'z'}, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), 1025);
  EXPECT_FALSE(error->localizedDescription().empty());
}

}  // namespace
