#include "platform/base/Format.h"

#include <gtest/gtest.h>

#include "platform/base/Error.h"

namespace platform {
namespace {

TEST(FormatTest, Conversions) {
  struct Case {
    std::string got;
    const char* expected;
  } cases[] = {
      {format("I-ACS%06ld", 42L), "I-ACS000042"},
      {format("I-VTU%06ld", 1234567L), "I-VTU1234567"},
      {format("%d|%i|%u", -5, 7, 9u), "-5|7|9"},
      {format("%ld %li %lu", -1L, 2L, 3UL), "-1 2 3"},
      {format("%lld %llu", INT64_MIN, UINT64_MAX), "-9223372036854775808 18446744073709551615"},
      {format("%f %.2f %5.1f", 1.5, 2.345, 3.0), "1.500000 2.35   3.0"},
      {format("%x %X %lx", 255, 255, 4096L), "ff FF 1000"},
      {format("%s and %c", "text", 65), "text and A"},
      {format("100%%"), "100%"},
      {format("%-5d|%5s|%-3@|", 1, "ab", "c"), "1    |   ab|c  |"},
      {format("%p", pointerValue(nullptr)), "0x0"},
      {format("%p", pointerValue(reinterpret_cast<void*>(0xbeef))), "0xbeef"},
      {format("%.3@", "abcdef"), "abc"},
      {format("%*d", 4, 7), "   7"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.expected);
}

TEST(FormatTest, ObjectConversionDescribesEveryKind) {
  EXPECT_EQ(format("%@", Value()), "(null)");
  EXPECT_EQ(format("%@", Value::null()), "<null>");
  EXPECT_EQ(format("%@ %@ %@", true, 3.0, -7), "1 3 -7");
  EXPECT_EQ(format("%@", "str"), "str");
  EXPECT_EQ(format("%@", Value::data("\x01")), "{length = 1, bytes = 0x01}");
  EXPECT_EQ(format("%@", Value::date(0)), "1970-01-01 00:00:00 +0000");
  EXPECT_EQ(format("%@", Value(Value::Array{1})), "(\n    1\n)");
  EXPECT_EQ(format("%@", Value(Value::Dictionary{{"k", "v"}})), "{\n    k = v;\n}");
  EXPECT_EQ(format("%@", Value::set({2})), "{(\n    2\n)}");
  EXPECT_EQ(format("%@", Value(Error::make("D", 3))),
            "Error Domain=D Code=3 \"The operation couldn't be completed. (D error 3.)\"");
}

TEST(FormatTest, WrongOrMissingArgumentsNeverCrash) {
  EXPECT_EQ(format("%d", "12"), "12");  // a string reads as its leading number
  EXPECT_EQ(format("%d", Value::data("x")), "0");
  EXPECT_EQ(format("%s", 5), "5");
  EXPECT_EQ(format("%@ %d %s"), "(null) 0 (null)");
  EXPECT_EQ(format("%f", Value()), "0.000000");
  EXPECT_EQ(format("%d", 4294967297LL), "1");  // an int argument keeps its low 32 bits
  EXPECT_EQ(format("%ld", 4294967297LL), "4294967297");
  EXPECT_EQ(format("tail %"), "tail %");
  EXPECT_EQ(format("%k", 1), "%k");
  EXPECT_EQ(format("%c", 0xE9), "\xC3\xA9");
  EXPECT_EQ(format("%1000000d", 1).size(), 100000u);
}

}  // namespace
}  // namespace platform
