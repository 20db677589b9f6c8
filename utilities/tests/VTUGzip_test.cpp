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

// A small stream that inflates to `size` zero bytes.
platform::Bytes zeroBomb(std::size_t size) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY), Z_OK);
  platform::Bytes zeros(1 << 20, 0), out(1 << 16);
  platform::Bytes packed;
  std::size_t left = size;
  int status = Z_OK;
  while (status != Z_STREAM_END) {
    std::size_t take = std::min(left, zeros.size());
    stream.next_in = zeros.data();
    stream.avail_in = static_cast<uInt>(take);
    left -= take;
    do {
      stream.next_out = out.data();
      stream.avail_out = static_cast<uInt>(out.size());
      status = deflate(&stream, left == 0 ? Z_FINISH : Z_NO_FLUSH);
      packed.insert(packed.end(), out.data(), out.data() + (out.size() - stream.avail_out));
    } while (stream.avail_out == 0 || (left == 0 && status != Z_STREAM_END));
  }
  deflateEnd(&stream);
  return packed;
}

TEST(VTUGzipTest, InflationStopsAtItsCeiling) {
  constexpr std::size_t kCeiling = 64u << 20;
  platform::ErrorPtr error;
  auto atCeiling = vtu_dataByInflatingGzippedData(zeroBomb(kCeiling), &error);
  ASSERT_TRUE(atCeiling);
  EXPECT_EQ(atCeiling->size(), kCeiling);
  EXPECT_FALSE(error);

  // Less than a tenth of a megabyte that would inflate past the ceiling: refused with an error.
  platform::Bytes bomb = zeroBomb(kCeiling + 1);
  EXPECT_LT(bomb.size(), 100000u);
  EXPECT_FALSE(vtu_dataByInflatingGzippedData(bomb, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain(), "com.veltro.VTUNSDataZlibErrorDomain");
  EXPECT_EQ(error->code(), 1025);
  EXPECT_EQ(error->userInfo().at("VTUNSDataZlibErrorKey"), platform::Value(Z_MEM_ERROR));
  EXPECT_FALSE(error->localizedDescription().empty());
}

}  // namespace
