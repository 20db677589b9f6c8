// What the front end registers before main: its runtime classes, the library "lumo-analytics"
// with its one interop component, and MSRAEU, which the engine's monitor asks.
#include "measurement/frontend/LMOAnalyticsConnector.h"

#include <gtest/gtest.h>

#include "core/LMOComponentContainer.h"
#include "measurement/frontend/MSRAEU.h"
#include "measurement/frontend/tests/FrontendTestSupport.h"
#include "platform/base/ProcessInfo.h"

namespace {

namespace rt = platform::runtime;
using frontend_testing::FrontendTest;

class LMOAnalyticsConnectorTest : public FrontendTest {};

TEST_F(LMOAnalyticsConnectorTest, ClassesAnswerWhatTheirCallersSendByName) {
  struct Case {
    const char* cls;
    const char* selector;
  };
  const Case cases[] = {
      {"LMOAnalytics", "logEventWithName:parameters:"},
      {"LMOAnalytics", "logEventWithOrigin:name:parameters:"},
      {"LMOAnalytics", "startWithConfiguration:options:"},
      {"MSRAnalytics", "logInternalEventWithOrigin:name:parameters:"},
      {"MSRAEU", "isFAS"},
      {"LMOAnalyticsConnector", "componentsToRegister"},
  };
  for (const auto& c : cases) {
    rt::Class* cls = rt::classNamed(c.cls);
    ASSERT_NE(cls, nullptr) << c.cls;
    EXPECT_TRUE(rt::respondsToSelector(cls, c.selector)) << c.cls << " " << c.selector;
  }
  rt::Class* connector = rt::classNamed("LMOAnalyticsConnector");
  EXPECT_TRUE(rt::classConformsToProtocol(connector, "LMOLibrary"));
  EXPECT_TRUE(rt::classConformsToProtocol(connector, "LMOAnalyticsInterop"));
}

TEST_F(LMOAnalyticsConnectorTest, LibraryIsRegisteredWithItsNameAndVersion) {
  EXPECT_NE(LMOApp::lumoUserAgent().find("lumo-analytics/8.9.1"), std::string::npos)
      << LMOApp::lumoUserAgent();
}

TEST_F(LMOAnalyticsConnectorTest, OneLazyUncachedInteropComponentWithoutDependencies) {
  auto components = LMOAnalyticsConnector::componentsToRegister();
  ASSERT_EQ(components.size(), 1u);
  const auto& component = components[0];
  EXPECT_EQ(component->protocol().name(), "LMOAnalyticsInterop");
  EXPECT_EQ(component->instantiationTiming(), LMOInstantiationTiming::Lazy);
  EXPECT_TRUE(component->dependencies().empty());

  configureApp();
  auto& container = *LMOApp::defaultApp()->container();
  auto first = container.instanceForProtocol(LMOAnalyticsConnector::interopProtocol());
  auto second = container.instanceForProtocol(LMOAnalyticsConnector::interopProtocol());
  ASSERT_TRUE(first && second);
  EXPECT_NE(first, second) << "not cached: a new connector on each request";
  EXPECT_EQ(first->className(), "LMOAnalyticsConnector");
  EXPECT_TRUE(linesWith("I-COR000030").empty()) << "the instance conforms";
}

TEST_F(LMOAnalyticsConnectorTest, StoreInstallationIsSeenByTheMonitor) {
  EXPECT_FALSE(MSRAEU::isFAS());
  platform::ProcessInfo::processInfo().setDeviceModelForTesting("arm64");
  std::filesystem::create_directories(bundleDir() / "SC_Info");
  EXPECT_TRUE(MSRAEU::isFAS());
  // The monitor, made after that, keeps debug mode off whatever the launch arguments say.
  setArguments({"-LMODebugEnabled", "-MSRAnalyticsVerboseLoggingEnabled"});
  EXPECT_FALSE(MSRMeasurement::monitor()->isDebugModeEnabled());
  EXPECT_FALSE(MSRMeasurement::monitor()->isVerboseLoggingEnabled());
}

}  // namespace
