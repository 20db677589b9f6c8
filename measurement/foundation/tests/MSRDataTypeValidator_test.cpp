#include "measurement/foundation/MSRDataTypeValidator.h"

#include <gtest/gtest.h>

#include "measurement/foundation/MSRValue.h"
#include "measurement/foundation/tests/MSRTestSupport.h"
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
      {Value("\xD0\xB8\xD0\xBC\xD1\x8F"), true, 0},   // Cyrillic letters
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
      {Value("app+gtm"), {true, 0}},
      {Value("app"), {false, 6}},
      {Value(""), {false, 1}},
      {Value(), {false, 1}},
      {Value("+gtm"), {false, 1}},
      {Value("a-b+gtm"), {false, 3}},
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
      {"screen_view", "items", 1, true, 13},
      {"screen_view", "items", 1, false, 10},
      {"purchase", "things", 1, false, 11},
      {"purchase", "items", 201, false, 12},
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
  EXPECT_TRUE(lineContains("The maximum number of supported items is 200. Invalid array size: 201"));
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
