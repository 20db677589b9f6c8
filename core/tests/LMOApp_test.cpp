// App start-up and the app registry: configuration roads and their refusals, app identifiers,
// library registration, the ready and delete notifications, data collection, analytics start.
#include "core/LMOApp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <memory>
#include <mutex>
#include <thread>

#include "core/LMOAnalyticsConfiguration.h"
#include "core/LMOAppAssociationRegistration.h"
#include "core/LMOConfiguration.h"
#include "core/LMOConstants.h"
#include "core/tests/CoreTestSupport.h"
#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRMonitor.h"
#include "measurement/frontend/MSRAnalytics.h"
#include "measurement/frontend/tests/FrontendTestSupport.h"
#include "platform/base/Bundle.h"
#include "platform/base/Files.h"
#include "platform/base/UserDefaults.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/testing/UnreadableFile.h"
#include "utilities/logger/VTULogger.h"

namespace {

using namespace core_testing;
namespace rt = platform::runtime;
using platform::Value;

const rt::ClassRegistrar kNotALibrary("CTNotALibrary", rt::kRootClassName, sizeof(rt::RootObject),
                                      [](rt::Class&) {});

class LMOAppTest : public CoreTest {
 protected:
  std::string reasonOf(const std::function<void()>& action) {
    try {
      action();
    } catch (const platform::Exception& e) {
      return e.name() + ": " + e.reason();
    }
    return "(nothing raised)";
  }

  std::vector<platform::Notification> observe(const std::string& name,
                                              const std::function<void()>& action) {
    std::vector<platform::Notification> seen;
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        name, Value(), nullptr, [&seen](const platform::Notification& n) { seen.push_back(n); });
    action();
    return seen;
  }
};

TEST_F(LMOAppTest, ConfigureBuildsTheDefaultAppAndAnnouncesIt) {
  writeOptionsPlist(validOptions());
  EXPECT_FALSE(LMOApp::isDefaultAppConfigured());
  auto seen = observe("LMOAppReadyToConfigureSDKNotification", [] { LMOApp::configure(); });
  ASSERT_TRUE(LMOApp::isDefaultAppConfigured());
  auto app = LMOApp::defaultApp();
  EXPECT_EQ(app->name(), "__LMOAPP_DEFAULT");
  EXPECT_TRUE(app->isDefaultApp());
  EXPECT_TRUE(app->options()->isEditingLocked());
  EXPECT_TRUE(app->options()->usingOptionsFromDefaultPlist());
  EXPECT_FALSE(LMOOptions::defaultOptions()->isEditingLocked()) << "the app locks its own copy";
  EXPECT_EQ(LMOApp::allApps()->size(), 1u);
  EXPECT_EQ(creations(kEagerProtocol), 1);

  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].object.description(), "LMOApp");
  EXPECT_EQ(seen[0].userInfo, (Value::Dictionary{{"LMOAppNameKey", Value("__LMOAPP_DEFAULT")},
                                                 {"LMOAppIsDefaultAppKey", Value(true)},
                                                 {"LMOVeltroAppIDKey", Value(kValidAppID)}}));
  // Code above the core asks through the runtime.
  EXPECT_TRUE(rt::msgSend<bool>(rt::classNamed("LMOApp"), "isDefaultAppConfigured"));
}

TEST_F(LMOAppTest, AnalyticsStartsForTheDefaultAppOnly) {
  // The analytics library of this process is found by name, as start-up finds it.
  ASSERT_TRUE(
      rt::respondsToSelector(rt::classNamed("LMOAnalytics"), "startWithConfiguration:options:"));
  LMOApp::configureWithName("other", makeOptions(validOptions()));
  EXPECT_FALSE(MSRAnalytics::isStarted());
  EXPECT_EQ(MSRMeasurement::monitor()->logTag(), "<LumoMeasurement>");
  LMOApp::configureWithOptions(makeOptions(validOptions()));
  EXPECT_TRUE(MSRAnalytics::isStarted());
  EXPECT_EQ(MSRMeasurement::monitor()->logTag(), "[Lumo/Analytics]");
  ASSERT_TRUE(frontend_testing::drainAnalytics());
  ASSERT_TRUE(MSRMeasurement::sharedInstance());
  EXPECT_EQ(MSRMeasurement::sharedInstance()->appID(), kValidAppID) << "the default app's options";
}

TEST_F(LMOAppTest, ConfigurationRefusals) {
  EXPECT_EQ(reasonOf([] { LMOApp::configure(); }),
            "com.lumo.core: `LumoApp.configure()` could not find a valid VeltroService-Info.plist "
            "in your project. Please download one from https://console.veltro.example/.");
  EXPECT_EQ(reasonOf([] { LMOApp::configureWithOptions(nullptr); }),
            "com.lumo.core: Options is nil. Please pass a valid options.");
  EXPECT_EQ(reasonOf([] { LMOApp::configureWithName("x", nullptr); }),
            "com.lumo.core: Neither name nor options can be nil.");
  auto options = makeOptions(validOptions());
  EXPECT_EQ(reasonOf([&] { LMOApp::configureWithName("", options); }),
            "com.lumo.core: Name cannot be empty.");
  EXPECT_EQ(reasonOf([&] { LMOApp::configureWithName("my app", options); }),
            "com.lumo.core: App name can only contain alphanumeric, hyphen (-), and underscore "
            "(_) characters");
  EXPECT_EQ(reasonOf([&] { LMOApp::configureWithName("my-app_2", options); }), "(nothing raised)");
  EXPECT_EQ(reasonOf([&] { LMOApp::configureWithName("Ünïcode٣", options); }), "(nothing raised)");
  EXPECT_EQ(reasonOf([&] { LMOApp::configureWithName("my-app_2", options); }),
            "com.lumo.core: App named my-app_2 has already been configured.");
  EXPECT_EQ(reasonOf([&] { LMOApp::configureWithOptions(options); }), "(nothing raised)");
  EXPECT_EQ(reasonOf([&] { LMOApp::configureWithOptions(options); }),
            "com.lumo.core: Default app has already been configured.");
  EXPECT_EQ(LMOApp::allApps()->size(), 3u);
}

// Two threads configuring one app at once: one configures it, the other raises as any second
// configuration does; the app is announced and its eager components made once.
TEST_F(LMOAppTest, ConcurrentConfigurationsOfOneAppLeaveOneAppAndOneRaise) {
  struct Row {
    std::string name;
    std::string secondReason;
    std::function<void(const std::shared_ptr<LMOOptions>&)> configure;
  };
  const std::vector<Row> rows = {
      {"__LMOAPP_DEFAULT", "com.lumo.core: Default app has already been configured.",
       [](const std::shared_ptr<LMOOptions>& options) { LMOApp::configureWithOptions(options); }},
      {"racer", "com.lumo.core: App named racer has already been configured.",
       [](const std::shared_ptr<LMOOptions>& options) {
         LMOApp::configureWithName("racer", options);
       }},
  };
  constexpr int kRounds = 200;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::atomic<int> announced{0};
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        "LMOAppReadyToConfigureSDKNotification", Value(), nullptr,
        [&](const platform::Notification& note) {
          if (note.userInfo.at("LMOAppNameKey") == Value(row.name)) ++announced;
        });
    for (int round = 0; round < kRounds; ++round) {
      LMOApp::resetApps();
      announced = 0;
      const int eagerBefore = creations(kEagerProtocol);
      std::barrier start(2);
      std::string outcomes[2];
      std::thread threads[2];
      for (int i = 0; i < 2; ++i) {
        threads[i] = std::thread([&, i] {
          auto options = makeOptions(validOptions());
          start.arrive_and_wait();
          outcomes[i] = reasonOf([&] { row.configure(options); });
        });
      }
      for (auto& thread : threads) thread.join();
      std::vector<std::string> sorted{outcomes[0], outcomes[1]};
      std::sort(sorted.begin(), sorted.end());
      const int made = creations(kEagerProtocol) - eagerBefore;
      auto apps = LMOApp::allApps();
      const bool ok = sorted == std::vector<std::string>{"(nothing raised)", row.secondReason} &&
                      announced.load() == 1 && made == 1 && apps && apps->size() == 1u &&
                      apps->count(row.name) == 1u;
      EXPECT_TRUE(ok) << "round " << round << ": " << sorted[0] << " / " << sorted[1]
                      << "; announced " << announced.load() << " times; eager components made "
                      << made << " times; apps " << (apps ? apps->size() : 0);
      if (!ok) break;  // one failed round tells it; the next row still runs
    }
  }
  LMOApp::resetApps();
}

TEST_F(LMOAppTest, SecondConfigurationInAnExtension) {
  auto extension = home() / "Share.appex";
  std::filesystem::create_directories(extension);
  std::filesystem::copy_file(bundleDir() / "Info.plist", extension / "Info.plist");
  ::setenv("TVS_BUNDLE", extension.c_str(), 1);
  platform::Bundle::resetMainBundleForTesting();
  setArguments({"-LMODebugEnabled"});

  auto options = makeOptions(validOptions());
  LMOApp::configureWithOptions(options);
  EXPECT_EQ(reasonOf([&] { LMOApp::configureWithOptions(makeOptions(validOptions())); }),
            "(nothing raised)");
  EXPECT_EQ(linesWithCode("I-COR000035").size(), 1u);
  auto other = validOptions();
  other["API_KEY"] = Value("different");
  EXPECT_EQ(reasonOf([&] { LMOApp::configureWithOptions(makeOptions(other)); }),
            "com.lumo.core: App named __LMOAPP_DEFAULT has already been configured.");
}

TEST_F(LMOAppTest, InvalidAppIDStopsConfigurationAfterTheErrorLine) {
  auto bad = validOptions();
  bad["VELTRO_APP_ID"] = Value("1:123:ios:xyz");
  EXPECT_EQ(reasonOf([&] { LMOApp::configureWithOptions(makeOptions(bad)); }),
            "com.lumo.core: Configuration fails. It may be caused by an invalid VELTRO_APP_ID in "
            "VeltroService-Info.plist or set in the customized options.");
  EXPECT_EQ(linesWithCode("I-COR000009").size(), 1u);
  EXPECT_FALSE(LMOApp::isDefaultAppConfigured()) << "an app that was never registered";
  EXPECT_FALSE(LMOApp::defaultApp());
  EXPECT_TRUE(LMOApp::allApps()->empty());
  // Configuring again with fixed options works, once.
  EXPECT_EQ(reasonOf([&] { LMOApp::configureWithOptions(makeOptions(validOptions())); }),
            "(nothing raised)");
  ASSERT_TRUE(LMOApp::isDefaultAppConfigured());
  EXPECT_EQ(LMOApp::allApps()->size(), 1u);
  EXPECT_EQ(reasonOf([&] { LMOApp::configureWithOptions(makeOptions(validOptions())); }),
            "com.lumo.core: Default app has already been configured.");
  // A named app refused the same way is not registered either and may be configured again.
  EXPECT_NE(reasonOf([&] { LMOApp::configureWithName("side", makeOptions(bad)); }),
            "(nothing raised)");
  EXPECT_FALSE(LMOApp::allApps()->count("side"));
  EXPECT_EQ(reasonOf([&] { LMOApp::configureWithName("side", makeOptions(validOptions())); }),
            "(nothing raised)");
}

TEST_F(LMOAppTest, BundleIdentifierMismatchIsOnlyAWarning) {
  auto options = validOptions();
  options["BUNDLE_ID"] = Value("com.someone.else");
  LMOApp::configureWithOptions(makeOptions(options));
  EXPECT_TRUE(LMOApp::isDefaultAppConfigured());
  auto lines = linesWithCode("I-COR000008");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("'VeltroService-Info.plist'"), std::string::npos);
  EXPECT_NE(lines[0].find("change your app's bundle identifier to 'com.someone.else'"),
            std::string::npos);
}

TEST_F(LMOAppTest, AppIdentifierCheck) {
  setArguments({"-LMODebugEnabled"});
  const std::vector<std::pair<std::string, bool>> cases = {
      {"1:123:ios:abc", true},
      {"1:123:ios:0xABC", true},
      {"1:-5:ios:f", true},
      {"1:123:android:abc", false},
      {"1:123:ios:abc:d", false},
      {"1:123:ios:xyz", false},
      {"1:123:ios:", false},
      {"1:abc:ios:abc", false},
      {"1:123:ios:abcg", false},
      {"1123:ios:abc", true},  // version 1123 is unknown, accepted unchecked
      {"2:x", true},
      {"", false},
      {"x:1:ios:a", false},
      {"1", false},
      {" 1:123:ios:abc", false},
  };
  for (const auto& [appID, valid] : cases) {
    EXPECT_EQ(LMOApp::validateAppID(appID), valid) << appID;
  }
  auto info = linesWithCode("I-COR000010");
  ASSERT_EQ(info.size(), 2u);
  EXPECT_NE(info[1].find("Unknown VELTRO_APP_ID version: 2"), std::string::npos);
  EXPECT_FALSE(LMOApp::validateAppIDFormat("", "1"));
  EXPECT_FALSE(LMOApp::validateAppIDFingerprint("2:1:ios:a", "2"));
}

TEST_F(LMOAppTest, RegistryLookupsLogWhatIsMissing) {
  EXPECT_EQ(LMOApp::defaultApp(), nullptr);
  EXPECT_FALSE(LMOApp::allApps());
  EXPECT_EQ(LMOApp::appNamed("nobody"), nullptr);
  EXPECT_EQ(linesWithCode("I-COR000003").size(), 1u);
  EXPECT_EQ(linesWithCode("I-COR000005").size(), 1u);
  auto missing = linesWithCode("I-COR000004");
  ASSERT_EQ(missing.size(), 1u);
  EXPECT_NE(missing[0].find("App with name nobody does not exist."), std::string::npos);

  LMOApp::configureWithName("named", makeOptions(validOptions()));
  EXPECT_TRUE(LMOApp::appNamed("named"));
  EXPECT_FALSE(LMOApp::isDefaultAppConfigured());
  LMOApp::resetApps();
  EXPECT_FALSE(LMOApp::allApps());
}

TEST_F(LMOAppTest, DeletingTheDefaultApp) {
  LMOApp::configureWithOptions(makeOptions(validOptions()));
  auto app = LMOApp::defaultApp();
  app->setDataCollectionDefaultEnabled(false);
  std::vector<bool> results;
  auto seen = observe("LMOAppDeleteNotification",
                      [&] { app->deleteApp([&](bool ok) { results.push_back(ok); }); });
  EXPECT_FALSE(LMOApp::isDefaultAppConfigured());
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].userInfo, (Value::Dictionary{{"LMOAppNameKey", Value("__LMOAPP_DEFAULT")}}));
  // Both cached eager services hear of it.
  EXPECT_EQ(deletionsHeard(), (std::vector<std::string>{"__LMOAPP_DEFAULT", "__LMOAPP_DEFAULT"}));
  EXPECT_TRUE(platform::UserDefaults::standardUserDefaults()
                  ->objectForKey("/veltro/lumo/global_data_collection_enabled:__LMOAPP_DEFAULT")
                  .isNil());
  app->deleteApp([&](bool ok) { results.push_back(ok); });
  EXPECT_EQ(results, (std::vector<bool>{true, false}));
  EXPECT_EQ(linesWithCode("I-COR000007").size(), 1u);
  // The name is free again.
  LMOApp::configureWithOptions(makeOptions(validOptions()));
  EXPECT_TRUE(LMOApp::isDefaultAppConfigured());
}

TEST_F(LMOAppTest, LibraryRegistration) {
  const std::string before = LMOApp::lumoUserAgent();
  EXPECT_NE(before.find("ct-first/8.10.0"), std::string::npos);
  EXPECT_NE(before.find("ct-second/2.0.1"), std::string::npos);
  EXPECT_NE(before.find("lumo-ios/8.10.0"), std::string::npos);
  LMOApp::registerLibrary("lumo ios", "1.0");
  LMOApp::registerLibrary("lumo-x", "1.0/2");
  EXPECT_EQ(LMOApp::lumoUserAgent(), before);
  auto refused = linesWithCode("I-COR000027");
  ASSERT_EQ(refused.size(), 2u);
  EXPECT_NE(refused[0].find("The library name (lumo ios) or version number (1.0) contain invalid "
                            "characters."),
            std::string::npos);
  LMOApp::registerLibrary("my_lib.ext", "1.2-beta");
  EXPECT_NE(LMOApp::lumoUserAgent().find("my_lib.ext/1.2-beta"), std::string::npos);

  const auto registered = LMOComponentContainer::registrants().size();
  EXPECT_EQ(reasonOf([] { LMOApp::registerInternalLibrary(rt::classNamed("CTNotALibrary"), "x"); }),
            "NSInvalidArgumentException: Class CTNotALibrary attempted to register components, "
            "but it does not conform to `LMOLibrary or provide a `componentsToRegister:` method.");
  EXPECT_EQ(LMOComponentContainer::registrants().size(), registered);
}

TEST_F(LMOAppTest, LibrariesThatConfigureThemselvesHearOfEachApp) {
  // The library stays registered for the rest of the process, and hears of the apps that later
  // tests configure there: its method owns what it writes to.
  auto configured = std::make_shared<std::vector<std::string>>();
  rt::Class* library = rt::registerClass(
      "CTConfiguringLibrary", rt::kRootClassName, sizeof(rt::RootObject), [&](rt::Class& c) {
        c.addProtocol(lmo::kLibraryProtocolName);
        c.addClassMethod("componentsToRegister",
                         [](platform::Object&) -> LMOComponentList { return {}; });
        c.addClassMethod("configureWithApp:",
                         [configured](platform::Object&, std::shared_ptr<LMOApp> app) {
                           configured->push_back(app->name());
                         });
      });
  ASSERT_TRUE(library);
  LMOApp::registerInternalLibrary(library, "ct-configuring");
  LMOApp::configureWithName("one", makeOptions(validOptions()));
  LMOApp::configureWithOptions(makeOptions(validOptions()));
  EXPECT_EQ(*configured, (std::vector<std::string>{"one", "__LMOAPP_DEFAULT"}));
  EXPECT_NE(LMOApp::lumoUserAgent().find("ct-configuring/8.10.0"), std::string::npos);
}

TEST_F(LMOAppTest, DataCollectionSwitch) {
  writeInfoPlist({{"LumoDataCollectionDefaultEnabled", Value(false)}});
  LMOApp::configureWithOptions(makeOptions(validOptions()));
  auto app = LMOApp::defaultApp();
  EXPECT_FALSE(app->isDataCollectionDefaultEnabled());
  auto seen = observe("LMOAnalyticsConfigurationSetEnabledNotification",
                      [&] { app->setDataCollectionDefaultEnabled(true); });
  EXPECT_TRUE(app->isDataCollectionDefaultEnabled());
  EXPECT_EQ(platform::UserDefaults::standardUserDefaults()->objectForKey(
                "/veltro/lumo/global_data_collection_enabled:__LMOAPP_DEFAULT"),
            Value(true));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].userInfo,
            (Value::Dictionary{{"LMOAnalyticsConfigurationSetEnabledNotification", Value(true)}}));
  EXPECT_TRUE(platform::UserDefaults::standardUserDefaults()
                  ->objectForKey("/veltro/measurement/measurement_enabled_state")
                  .isNil())
      << "not persisted from the data-collection switch";
}

// A stored switch that cannot be read now is not known: not "nothing stored", so neither the
// Info.plist value nor "on" stands in for it, and the next need reads it again.
TEST_F(LMOAppTest, AStoredDataCollectionSwitchThatCannotBeReadIsNotKnown) {
  writeInfoPlist({{"LumoDataCollectionDefaultEnabled", Value(true)}});
  // A named app: the analytics stack stays out of the way of a full descriptor table.
  LMOApp::configureWithName("other", makeOptions(validOptions()));
  auto app = LMOApp::appNamed("other");
  ASSERT_TRUE(app);
  const std::string key = "/veltro/lumo/global_data_collection_enabled:other";
  const auto file = platform::SandboxHome::preferences() /
                    (platform::UserDefaults::standardUserDefaults()->domainName() + ".plist");
  struct Row {
    const char* what;
    Value stored;  // nil: nothing stored, the Info.plist value decides
    bool enabled;
  };
  const Row rows[] = {
      {"a refusal", Value(false), false},
      {"a consent", Value(true), true},
      {"nothing stored", Value(), true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    auto defaults = platform::UserDefaults::standardUserDefaults();
    ASSERT_TRUE(defaults->setObject(Value(1), "other_key"));  // the file exists for every row
    defaults->setObject(row.stored, key);
    ASSERT_TRUE(defaults->synchronize());
    for (auto cause : platform::testing::UnreadableFile::usableCauses()) {
      SCOPED_TRACE(platform::testing::UnreadableFile::name(cause));
      platform::UserDefaults::resetForTesting();  // a relaunch: the file is read anew
      std::optional<bool> known;
      platform::ErrorPtr error;
      bool enabled = true;
      {
        platform::testing::UnreadableFile unreadable(cause, file);
        known = app->dataCollectionDefaultEnabledIfKnown(&error);
        enabled = app->isDataCollectionDefaultEnabled();
      }
      EXPECT_FALSE(known.has_value());
      EXPECT_TRUE(error);
      EXPECT_FALSE(enabled) << "nothing is decided on a switch that is not known";
      // Read again at the next need: its value rules.
      error.reset();
      EXPECT_EQ(app->dataCollectionDefaultEnabledIfKnown(&error), std::optional<bool>(row.enabled));
      EXPECT_FALSE(error);
      EXPECT_EQ(app->isDataCollectionDefaultEnabled(), row.enabled);
    }
  }
}

TEST_F(LMOAppTest, ExplicitAnalyticsSettingIsLeftAlone) {
  auto options = validOptions();
  options["LUMO_ANALYTICS_COLLECTION_ENABLED"] = Value(true);
  LMOApp::configureWithOptions(makeOptions(options));
  auto seen = observe("LMOAnalyticsConfigurationSetEnabledNotification",
                      [] { LMOApp::defaultApp()->setDataCollectionDefaultEnabled(false); });
  EXPECT_TRUE(seen.empty());
  EXPECT_FALSE(LMOApp::defaultApp()->isDataCollectionDefaultEnabled());
}

TEST_F(LMOAppTest, AnalyticsConfigurationPersistsTheMeasurementState) {
  auto configuration = LMOAnalyticsConfiguration::sharedInstance();
  auto defaults = platform::UserDefaults::standardUserDefaults();
  configuration->setAnalyticsCollectionEnabled(false);
  EXPECT_EQ(defaults->objectForKey("/veltro/measurement/measurement_enabled_state"), Value(2));
  auto seen = observe("LMOAnalyticsConfigurationSetEnabledNotification",
                      [&] { configuration->setAnalyticsCollectionEnabled(true); });
  EXPECT_EQ(defaults->objectForKey("/veltro/measurement/measurement_enabled_state"), Value(1));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].object.object(), std::static_pointer_cast<platform::Object>(configuration));
  auto none = observe("x", [&] {
    configuration->postNotificationName("", Value(true));
    configuration->postNotificationName("x", Value());
  });
  EXPECT_TRUE(none.empty());
}

TEST_F(LMOAppTest, ConfigurationLoggerLevel) {
  EXPECT_TRUE(rt::classNamed("LMOConfiguration"));
  auto configuration = LMOConfiguration::sharedInstance();
  EXPECT_EQ(configuration->analyticsConfiguration(), LMOAnalyticsConfiguration::sharedInstance());
  for (long level : {2L, 8L}) {
    try {
      configuration->setLoggerLevel(level);
      ADD_FAILURE() << level;
    } catch (const platform::Exception& e) {
      EXPECT_EQ(e.name(), "NSInternalInconsistencyException");
      EXPECT_EQ(e.reason(), "Invalid logger level, " + std::to_string(level));
    }
  }
  configuration->setLoggerLevel(7);
  EXPECT_EQ(vtu::testing::maximumLevel(), 7);
}

TEST_F(LMOAppTest, AssociationRegistryKeepsOneObjectPerHostAndKey) {
  auto host = std::make_shared<rt::RootObject>();
  int made = 0;
  auto make = [&]() -> platform::ObjectPtr {
    ++made;
    return std::make_shared<platform::Object>();
  };
  auto first = LMOAppAssociationRegistration::registeredObjectWithHost(host, "k", make);
  EXPECT_EQ(LMOAppAssociationRegistration::registeredObjectWithHost(host, "k", make), first);
  EXPECT_NE(LMOAppAssociationRegistration::registeredObjectWithHost(host, "other", make), first);
  EXPECT_NE(LMOAppAssociationRegistration::registeredObjectWithHost(
                std::make_shared<rt::RootObject>(), "k", make),
            first);
  EXPECT_EQ(made, 3);
  EXPECT_EQ(LMOAppAssociationRegistration::registeredObjectWithHost(
                host, "empty", [] { return platform::ObjectPtr(); }),
            nullptr);
  EXPECT_TRUE(LMOAppAssociationRegistration::registeredObjectWithHost(host, "empty", make))
      << "a null result leaves the key empty";
  std::string nested;
  try {
    LMOAppAssociationRegistration::registeredObjectWithHost(host, "loop", [&] {
      return LMOAppAssociationRegistration::registeredObjectWithHost(host, "loop", make);
    });
  } catch (const platform::Exception& e) {
    nested = e.name();
  }
  EXPECT_EQ(nested, "Reentering registeredObjectWithHost:key:creationBlock: not allowed");
}

TEST_F(LMOAppTest, StandardErrorsOfTheCore) {
  auto missing = LMOApp::errorForMissingOptions();
  EXPECT_EQ(missing->domain(), "com.lumo.core");
  EXPECT_EQ(missing->code(), -100);
  EXPECT_EQ(missing->localizedDescription(),
            "Unable to parse VeltroService-Info.plist in order to configure services.");
  auto invalid = LMOApp::errorForInvalidAppID();
  EXPECT_EQ(invalid->code(), -101);
  EXPECT_EQ(invalid->userInfo().at("NSLocalizedRecoverySuggestion"),
            Value("Check formatting and location of VeltroService-Info.plist or VeltroAppID set "
                  "in the customized options."));
  EXPECT_EQ(LMOApp::actualBundleID(), "com.tavo.tests");
}

}  // namespace
