#include "platform/base/Saturating.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace platform {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
// The neighbours of 2^63 in a double: the largest double below it and 2^63 itself.
const double kBelow2To63 = std::nextafter(9223372036854775808.0, 0.0);
constexpr double k2To63 = 9223372036854775808.0;

TEST(SaturatingTest, DoubleToInt64TruncatesAndClampsAtTheBounds) {
  struct Case {
    double value;
    std::int64_t expected;
  } cases[] = {
      {kNaN, 0},
      {-kNaN, 0},
      {kInf, kMax},
      {-kInf, kMin},
      {1e300, kMax},
      {-1e300, kMin},
      {k2To63, kMax},  // what static_cast<double>(INT64_MAX) rounds to: already out of range
      {kBelow2To63, 9223372036854774784},
      {-k2To63, kMin},  // exactly INT64_MIN, in range
      {-std::nextafter(k2To63, kInf), kMin},
      {0.0, 0},
      {-0.0, 0},
      {0.999, 0},
      {-0.999, 0},  // toward zero, as a cast does
      {1.5, 1},
      {-1.5, -1},
      {1e15 + 0.5, 1000000000000000},
      {4.9e-324, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(saturatingCast<std::int64_t>(c.value), c.expected) << c.value;
  }
}

TEST(SaturatingTest, DoubleToNarrowAndUnsignedTypesClampToTheirOwnBounds) {
  EXPECT_EQ(saturatingCast<std::int32_t>(3e9), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(saturatingCast<std::int32_t>(-3e9), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(saturatingCast<std::int32_t>(2147483647.9), 2147483647);
  EXPECT_EQ(saturatingCast<std::int32_t>(2147483648.0), 2147483647);
  EXPECT_EQ(saturatingCast<std::int32_t>(-2147483648.9), -2147483647 - 1);
  EXPECT_EQ(saturatingCast<std::int32_t>(kNaN), 0);
  EXPECT_EQ(saturatingCast<std::uint8_t>(255.9), 255);
  EXPECT_EQ(saturatingCast<std::uint8_t>(256.0), 255);

  struct Case {
    double value;
    std::uint64_t expected;
  } unsignedCases[] = {
      {kNaN, 0},
      {-1.0, 0},
      {-0.5, 0},
      {-kInf, 0},
      {kInf, std::numeric_limits<std::uint64_t>::max()},
      {18446744073709551616.0, std::numeric_limits<std::uint64_t>::max()},  // 2^64
      {std::nextafter(18446744073709551616.0, 0.0), 18446744073709549568u},
      {k2To63, 9223372036854775808u},
  };
  for (const auto& c : unsignedCases) {
    EXPECT_EQ(saturatingCast<std::uint64_t>(c.value), c.expected) << c.value;
  }
}

TEST(SaturatingTest, SecondsToMilliseconds) {
  struct Case {
    double seconds;
    std::int64_t expected;
  } cases[] = {
      {kNaN, 0},
      {kInf, kMax},
      {-kInf, kMin},
      {1e300, kMax},
      {-1e300, kMin},
      {9.3e15, kMax},  // fine as seconds, beyond int64 as milliseconds
      {-9.3e15, kMin},
      {0.0, 0},
      {0.0009, 0},
      {0.001, 1},
      {-0.0015, -1},
      {1.25, 1250},
      {1700000000.123, 1700000000123},
      {900.0, 900000},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(secondsToMilliseconds(c.seconds), c.expected) << c.seconds;
  }
}

TEST(SaturatingTest, Int64AddClampsInsteadOfWrapping) {
  struct Case {
    std::int64_t a, b, expected;
  } cases[] = {
      {1, 2, 3},
      {kMax, 0, kMax},
      {kMax - 1, 1, kMax},
      {kMax, 1, kMax},
      {kMax, kMax, kMax},
      {kMin, -1, kMin},
      {kMin, kMin, kMin},
      {kMin + 1, -1, kMin},
      {kMax, kMin, -1},
      {kMin, kMax, -1},
      {-5, 3, -2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(saturatingAdd(c.a, c.b), c.expected) << c.a << " + " << c.b;
    EXPECT_EQ(saturatingAdd(c.b, c.a), c.expected) << c.b << " + " << c.a;
  }
  EXPECT_EQ(saturatingAdd<std::uint64_t>(std::numeric_limits<std::uint64_t>::max(), 1),
            std::numeric_limits<std::uint64_t>::max());
}

TEST(SaturatingTest, Int64MultiplyClampsTowardTheProductsSign) {
  struct Case {
    std::int64_t a, b, expected;
  } cases[] = {
      {3, 4, 12},
      {-3, 4, -12},
      {0, kMax, 0},
      {0, kMin, 0},
      {kMax, 1, kMax},
      {kMin, 1, kMin},
      {kMax, 2, kMax},
      {kMax, -2, kMin},
      {kMin, -1, kMax},  // the one negation that does not fit
      {kMin, 2, kMin},
      {kMin, kMin, kMax},
      {-4611686018427387904, 2, kMin},  // -2^62 * 2 is exactly INT64_MIN
      {4611686018427387904, 2, kMax},   // 2^62 * 2 is one past INT64_MAX
      {9223372036854775, 1000, 9223372036854775000},
      {9223372036854776, 1000, kMax},
      {-9223372036854776, 1000, kMin},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(saturatingMultiply(c.a, c.b), c.expected) << c.a << " * " << c.b;
    EXPECT_EQ(saturatingMultiply(c.b, c.a), c.expected) << c.b << " * " << c.a;
  }
  EXPECT_EQ(saturatingMultiply<std::uint64_t>(1ull << 32, 1ull << 32),
            std::numeric_limits<std::uint64_t>::max());
}

}  // namespace
}  // namespace platform
