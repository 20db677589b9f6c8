#include "measurement/foundation/MSRNaming.h"

#include <gtest/gtest.h>

#include "measurement/foundation/MSRValue.h"
#include "measurement/foundation/tests/MSRTestSupport.h"
#include "platform/runtime/Runtime.h"
#include "platform/testing/PlatformTest.h"

namespace {

using platform::Value;

class MSRNamingTest : public platform::testing::PlatformTest {
 protected:
  static void registerFacade() { platform::runtime::registerClass("LMOAnalytics", "", 0); }
  static void debugMode(bool on) { MSRMeasurement::monitor()->setDebugModeEnabled(on); }
};

TEST_F(MSRNamingTest, TablesHaveTheirSizesAndTheReverseTableFindsPublicNames) {
  EXPECT_EQ(MSRInternalEventNamesByPublicName().size(), 33u);
  EXPECT_EQ(MSRPublicEventNamesByInternalName().size(), 32u);
  EXPECT_EQ(MSRPublicEventNamesByInternalName().at("_vs"), "screen_view");
  const std::string cmp = MSRPublicEventNamesByInternalName().at("_cmp");
  EXPECT_TRUE(cmp == "lumo_campaign" || cmp == "la_campaign");
  EXPECT_EQ(MSRPublicToInternalParameterNames().size(), 54u);
  EXPECT_EQ(MSRReservedUserPropertyNames().size(), 10u);
  EXPECT_EQ(MSRErrorCodeNames().size(), 24u);
  EXPECT_EQ(MSRErrorCodeNames().at(23), "CustomParamsInArrayElement");
  EXPECT_EQ(MSRAdEventNamesByPublicName().at("ad_impression"), "_ai");
}

TEST_F(MSRNamingTest, NamePredicates) {
  msr_test::engineLines();
  vtu::testing::startCapturingLines();
  EXPECT_FALSE(MSRIsPublicName(Value("_sn")));
  EXPECT_TRUE(MSRIsPublicName(Value("value")));
  EXPECT_FALSE(MSRIsPublicName(Value(5)));
  EXPECT_FALSE(MSRIsPublicName(Value("")));
  EXPECT_FALSE(MSRIsNotErrorEventName("_err"));
  EXPECT_TRUE(MSRIsNotErrorEventName("error"));
  EXPECT_TRUE(MSRIsEcommerceEventName("view_search_results"));
  EXPECT_FALSE(MSRIsEcommerceEventName("screen_view"));
  EXPECT_TRUE(MSRIsItemParameterName("item_location_id"));
  EXPECT_FALSE(MSRIsItemParameterName("_c"));
  EXPECT_TRUE(MSRIsRevenueEventName("_iap"));
  EXPECT_FALSE(MSRIsRevenueEventName("in_app_purchase"));
  // Both checks log at level 2: to the sample, not the console.
  EXPECT_TRUE(msr_test::engineLines().empty());
}

TEST_F(MSRNamingTest, ScreenParametersArePickedOut) {
  const Value::Dictionary params{{"_sn", Value("Home")}, {"_si", Value(3)}, {"x", Value(1)}};
  EXPECT_TRUE(MSRHasScreenParameters(params));
  EXPECT_FALSE(MSRHasScreenParameters({{"x", Value(1)}}));
  const auto screen = MSRScreenParametersFromParameters(params);
  EXPECT_EQ(screen.size(), 2u);
  EXPECT_EQ(screen.count("x"), 0u);
  EXPECT_TRUE(MSRScreenParametersFromParameters({}).empty());
}

TEST_F(MSRNamingTest, InternalNamesShowTheirPublicNamesOnlyInDebugWithTheFacade) {
  EXPECT_EQ(MSRParameterNameDescription(Value("_sn")), "_sn");
  registerFacade();
  EXPECT_EQ(MSRParameterNameDescription(Value("_sn")), "_sn");  // not in debug mode
  debugMode(true);
  const std::pair<std::string, std::string> rows[] = {
      {MSRParameterNameDescription(Value("_sn")), "la_screen (_sn)"},
      {MSRParameterNameDescription(Value("_et")), "engagement_time_msec (_et)"},
      {MSRParameterNameDescription(Value("_unknown")), "_unknown"},
      {MSRParameterNameDescription(Value("value")), "value"},
      {MSREventNameDescription(Value("_vs")), "screen_view (_vs)"},
      {MSRUserPropertyNameDescription(Value("_fot")), "first_open_time (_fot)"},
      {MSRUserPropertyNameDescription(Value("_exp_12")), "experiment_id (_exp_12)"},
      {MSRNameDescription(Value(7), MSRPublicToInternalParameterNames()), "7"},
  };
  for (const auto& [actual, expected] : rows) EXPECT_EQ(actual, expected);
  debugMode(false);
  EXPECT_EQ(MSRUserPropertyNameDescription(Value("_exp_12")), "experiment_id (_exp_12)");
}

TEST_F(MSRNamingTest, ParametersDescriptionIsSortedWithErrorNames) {
  registerFacade();
  const Value params(Value::Dictionary{
      {"_err", Value(MSRValue::initWithInt64(8))},
      {"b", Value(MSRValue::initWithString(Value("x")))},
      {"A", Value(MSRValue::initWithInt64(2))},
      {"_ev", Value(MSRValue::initWithString(Value("v")))},
  });
  EXPECT_EQ(MSRParametersDescription(params), params.description());  // outside debug mode
  debugMode(true);
  EXPECT_EQ(MSRParametersDescription(params),
            "{\n"
            "    A = 2;\n"
            "    b = x;\n"
            "    la_error (_err) = EventLimitReached (8);\n"
            "    la_error_value (_ev) = v;\n"
            "}");
  EXPECT_EQ(MSRParametersDescription(Value(Value::Dictionary{})), "{\n}");
  EXPECT_EQ(MSRParametersDescription(Value("plain")), "plain");
  const Value unknownCode(Value::Dictionary{{"_err", Value(MSRValue::initWithInt64(99))}});
  EXPECT_EQ(MSRParametersDescription(unknownCode), "{\n    la_error (_err) = 99;\n}");
}

}  // namespace
