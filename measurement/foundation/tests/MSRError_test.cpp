#include "measurement/foundation/MSRError.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "measurement/foundation/MSRConstants.h"
#include "measurement/foundation/MSRDecimalNumber.h"
#include "measurement/foundation/tests/MSRTestSupport.h"
#include "platform/base/UserDefaults.h"
#include "platform/testing/PlatformTest.h"

namespace {

using platform::Value;

class MSRErrorTest : public platform::testing::PlatformTest {};

TEST_F(MSRErrorTest, UserInfoHoldsOnlyNonEmptyDescriptionAndContext) {
  auto bare = msr_errorWithCode(2, "", "");
  EXPECT_EQ(bare->domain(), kMSRErrorDomain);
  EXPECT_EQ(bare->code(), 2);
  EXPECT_TRUE(bare->userInfo().empty());
  auto full = msr_errorWithCode(3, "Transaction failed", "ctx");
  EXPECT_EQ(full->localizedDescription(), "Transaction failed");
  EXPECT_EQ(*full->userInfo().at(kMSRMonitorContextKey).string(), "ctx");
  EXPECT_EQ(msr_errorWithCode(1, "d")->userInfo().size(), 1u);
}

TEST_F(MSRErrorTest, ChecksSetTheFirstFailureAndToleratesANullSlot) {
  platform::ErrorPtr error = msr_errorWithCode(99, "stale");
  int later = 0;
  const bool ok = MSRCheckTrue(true, &error, 1, "a") && MSRCheckNotNil(Value(1), &error, 1, "b") &&
                  MSRCheckNotNull(nullptr, &error, 2, "no handle") &&
                  (++later, MSRCheckNonZero(0, &error, 3, "c"));
  EXPECT_FALSE(ok);
  EXPECT_EQ(later, 0);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), 2);
  EXPECT_EQ(error->localizedDescription(), "no handle");

  EXPECT_FALSE(MSRCheckNonZero(0, nullptr, 1, "len"));
  EXPECT_FALSE(MSRCheckNotNil(Value(), nullptr, 1, "nil"));
  EXPECT_TRUE(MSRCheckNotNil(Value::null(), nullptr, 1, "null is an object"));
  MSRSetErrorWithContext(nullptr, 1, "x", "y");  // nothing to write, nothing breaks
  platform::ErrorPtr withContext;
  MSRSetErrorWithContext(&withContext, 3, "Database failed", "sqlite:11");
  EXPECT_EQ(*withContext->userInfo().at(kMSRMonitorContextKey).string(), "sqlite:11");
}

TEST_F(MSRErrorTest, DecimalStringsParseOnlyPlainDecimalText) {
  const std::pair<const char*, const char*> good[] = {
      {"1.50", "1.5"}, {"007", "7"},   {".5", "0.5"},     {"-.5", "-0.5"}, {"+5", "5"},
      {"5.", "5"},     {"-12.25", "-12.25"}, {"0", "0"}, {"100", "100"}, {"0.000", "0"},
  };
  for (const auto& [text, canonical] : good) {
    SCOPED_TRACE(text);
    EXPECT_TRUE(MSRIsDecimalNumberString(text));
    auto d = MSRDecimalNumberFromString(text);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->stringValue(), canonical);
  }
  EXPECT_DOUBLE_EQ(MSRDecimalNumberFromString("-12.25")->doubleValue(), -12.25);
}

TEST_F(MSRErrorTest, NonNumericAndLossyTextGiveNilWithTheirCodes) {
  msr_test::engineLines();
  vtu::testing::startCapturingLines();
  msr_test::MonitorRecorder recorder;
  const std::string zeros40(40, '0');
  struct Row {
    std::string text;
    std::int64_t code;  // 26001 not numeric, 26003 precision lost
  };
  const Row rows[] = {
      {"1e5", 26001},
      {"1,5", 26001},
      {".", 26001},
      {"", 26001},
      {" 5", 26001},
      {"+", 26001},
      {"1.2.3", 26001},
      {"0x10", 26001},
      // More significant digits than the decimal type holds, whether rounding would show or not.
      {"1234567890123456789012345678901234567891", 26003},
      {"1." + zeros40 + "1", 26003},
      {"-1." + zeros40 + "1", 26003},
      {"1" + zeros40 + "1", 26003},
      {"0.000" + std::string(39, '7'), 26003},
      {"123456789012345678901234567890123456789", 26003},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    recorder.clear();
    EXPECT_EQ(MSRIsDecimalNumberString(row.text), row.code != 26001);
    EXPECT_FALSE(MSRDecimalNumberFromString(row.text));
    using Code = std::pair<std::int64_t, std::int64_t>;
    EXPECT_EQ(recorder.codes(), (std::vector<Code>{{row.code, 2}}));
  }
  // Level 2 is silent: these reach the health sample, not the console.
  EXPECT_TRUE(msr_test::engineLines().empty());
  MSRMeasurement::monitor()->flush();
  const Value sample = platform::UserDefaults::initWithSuiteName(kMSRMonitorSuiteName)
                           ->objectForKey(kMSRHealthMonitorKey);
  ASSERT_TRUE(sample.isArray());
  EXPECT_EQ(sample.at(1).int64Value(), static_cast<std::int64_t>(std::size(rows)));
}

TEST_F(MSRErrorTest, ThirtyEightSignificantDigitsAndAnyNumberOfZerosAreExact) {
  msr_test::MonitorRecorder recorder;
  const std::pair<std::string, std::string> rows[] = {
      {"12345678901234567890123456789012345678", "12345678901234567890123456789012345678"},
      {"-1234567890123456789.0123456789012345678", "-1234567890123456789.0123456789012345678"},
      {"1" + std::string(50, '0'), "1" + std::string(50, '0')},
      {"0." + std::string(50, '0') + "25", "0." + std::string(50, '0') + "25"},
      {"12345678901234567890123456789012345678" + std::string(10, '0') + ".000",
       "12345678901234567890123456789012345678" + std::string(10, '0')},
      {"000" + std::string(38, '9'), std::string(38, '9')},
  };
  for (const auto& [text, canonical] : rows) {
    SCOPED_TRACE(text);
    auto d = MSRDecimalNumberFromString(text);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->stringValue(), canonical);
  }
  EXPECT_TRUE(recorder.codes().empty());
}

TEST_F(MSRErrorTest, DecimalNumbersCompareByValue) {
  auto a = MSRDecimalNumber::decimalNumberWithString("1.50");
  auto b = MSRDecimalNumber::decimalNumberWithString("1.5");
  auto c = MSRDecimalNumber::decimalNumberWithString("-2");
  auto z = MSRDecimalNumber::decimalNumberWithString("-0");
  EXPECT_TRUE(a->isEqual(*b));
  EXPECT_EQ(a->compare(*c), 1);
  EXPECT_EQ(c->compare(*z), -1);
  EXPECT_EQ(z->stringValue(), "0");
  EXPECT_EQ(MSRDecimalNumber::decimalNumberWithString("12345678901234567890123456789012345678951")
                ->stringValue(),
            "12345678901234567890123456789012345679000");
}

}  // namespace
