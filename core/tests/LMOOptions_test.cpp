// Options: the default property list, accessors and the editing lock, the analytics switches,
// equality, and the bundle lookups beneath them.
#include "core/LMOOptions.h"

#include <gtest/gtest.h>

#include "core/LMOBundleUtil.h"
#include "core/tests/CoreTestSupport.h"
#include "platform/base/Bundle.h"
#include "platform/base/Error.h"
#include "platform/base/Files.h"
#include "platform/base/UserDefaults.h"
#include "platform/testing/UnreadableFile.h"

namespace {

using core_testing::CoreTest;
using platform::Value;

class LMOOptionsTest : public CoreTest {};

TEST_F(LMOOptionsTest, MissingPropertyListGivesNoOptionsAndIsLoggedOnce) {
  EXPECT_EQ(LMOOptions::defaultOptions(), nullptr);
  EXPECT_EQ(LMOOptions::defaultOptions(), nullptr);
  EXPECT_FALSE(LMOOptions::defaultOptionsDictionary());
  auto lines = linesWithCode("I-COR000012");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("Could not locate configuration file: 'VeltroService-Info.plist'."),
            std::string::npos);
}

TEST_F(LMOOptionsTest, DefaultOptionsAreReadOnceUntilReset) {
  writeOptionsPlist(validOptions());
  auto first = LMOOptions::defaultOptions();
  ASSERT_TRUE(first);
  EXPECT_TRUE(first->usingOptionsFromDefaultPlist());
  EXPECT_FALSE(first->isEditingLocked());
  EXPECT_EQ(first->veltroAppID(), core_testing::kValidAppID);
  EXPECT_EQ(first->APIKey(), core_testing::kValidAPIKey);
  EXPECT_EQ(LMOOptions::defaultOptions(), first);

  auto changed = validOptions();
  changed["API_KEY"] = Value("other");
  writeOptionsPlist(changed);
  EXPECT_EQ(LMOOptions::defaultOptions()->APIKey(), core_testing::kValidAPIKey) << "cached until reset";
  LMOOptions::resetDefaultOptions();
  auto second = LMOOptions::defaultOptions();
  ASSERT_TRUE(second);
  EXPECT_NE(second, first);
  EXPECT_EQ(second->APIKey(), "other");
}

TEST_F(LMOOptionsTest, PropertyListThatIsNotADictionaryIsRefused) {
  ASSERT_TRUE(platform::files::writeAtomically(bundleDir() / "VeltroService-Info.plist",
                                               std::string("not a plist"), nullptr));
  EXPECT_EQ(LMOOptions::defaultOptions(), nullptr);
  auto lines = linesWithCode("I-COR000011");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(
      lines[0].find("The configuration file is not a dictionary: 'VeltroService-Info.plist'."),
      std::string::npos);
}

TEST_F(LMOOptionsTest, FileInitialiserRefusesMissingPathsAndBadFiles) {
  EXPECT_EQ(LMOOptions::initWithContentsOfFile(std::nullopt), nullptr);
  EXPECT_EQ(linesWithCode("I-COR000013").size(), 1u);
  const std::string missing = (home() / "nothing.plist").string();
  EXPECT_EQ(LMOOptions::initWithContentsOfFile(missing), nullptr);
  auto lines = linesWithCode("I-COR000014");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(missing), std::string::npos);

  writeOptionsPlist(validOptions());
  auto options =
      LMOOptions::initWithContentsOfFile((bundleDir() / "VeltroService-Info.plist").string());
  ASSERT_TRUE(options);
  EXPECT_FALSE(options->usingOptionsFromDefaultPlist());
  EXPECT_EQ(options->bundleID(), core_testing::kTestBundleID);
}

TEST_F(LMOOptionsTest, AppIDInitialiserTakesTheMainBundleIdentifier) {
  auto options = LMOOptions::initWithVeltroAppID("1:1:ios:ab", "99");
  EXPECT_EQ(options->veltroAppID(), "1:1:ios:ab");
  EXPECT_EQ(options->VCMSenderID(), "99");
  EXPECT_EQ(options->bundleID(), "com.tavo.tests");
  EXPECT_FALSE(options->usingOptionsFromDefaultPlist());
}

TEST_F(LMOOptionsTest, SettersStoreAndRemoveUntilLockedThenRaise) {
  auto options = makeOptions({});
  using Setter = void (LMOOptions::*)(const std::optional<std::string>&);
  using Getter = std::optional<std::string> (LMOOptions::*)() const;
  const std::vector<std::tuple<Setter, Getter, const char*>> accessors = {
      {&LMOOptions::setAPIKey, &LMOOptions::APIKey, "API_KEY"},
      {&LMOOptions::setClientID, &LMOOptions::clientID, "CLIENT_ID"},
      {&LMOOptions::setTrackingID, &LMOOptions::trackingID, "TRACKING_ID"},
      {&LMOOptions::setVCMSenderID, &LMOOptions::VCMSenderID, "VCM_SENDER_ID"},
      {&LMOOptions::setProjectID, &LMOOptions::projectID, "PROJECT_ID"},
      {&LMOOptions::setAndroidClientID, &LMOOptions::androidClientID, "ANDROID_CLIENT_ID"},
      {&LMOOptions::setVeltroAppID, &LMOOptions::veltroAppID, "VELTRO_APP_ID"},
      {&LMOOptions::setDatabaseURL, &LMOOptions::databaseURL, "DATABASE_URL"},
      {&LMOOptions::setStorageBucket, &LMOOptions::storageBucket, "STORAGE_BUCKET"},
      {&LMOOptions::setBundleID, &LMOOptions::bundleID, "BUNDLE_ID"},
  };
  for (const auto& [set, get, key] : accessors) {
    (options.get()->*set)(std::string("v-") + key);
    EXPECT_EQ((options.get()->*get)(), std::string("v-") + key);
    EXPECT_EQ(options->optionsDictionary().at(key), Value(std::string("v-") + key));
    (options.get()->*set)(std::nullopt);
    EXPECT_FALSE((options.get()->*get)());
    EXPECT_FALSE(options->optionsDictionary().count(key)) << key;
  }
  options->setDeepLinkURLScheme("scheme");
  options->setAppGroupID("group");
  options->setEditingLocked(true);
  for (const auto& [set, get, key] : accessors) {
    try {
      (options.get()->*set)("late");
      ADD_FAILURE() << key << " changed after the lock";
    } catch (const platform::Exception& e) {
      EXPECT_EQ(e.name(), "com.lumo.core");
      EXPECT_EQ(e.reason(),
                "Attempted to modify options after it's set on LMOApp. Please modify all "
                "properties before initializing LMOApp.");
    }
    EXPECT_FALSE((options.get()->*get)()) << "not stored: " << key;
  }
  EXPECT_THROW(options->setDeepLinkURLScheme("x"), platform::Exception);
  EXPECT_THROW(options->setAppGroupID("x"), platform::Exception);
  EXPECT_EQ(options->deepLinkURLScheme(), "scheme");

  auto copy = options->copy();
  EXPECT_TRUE(copy->isEditingLocked()) << "the copy of a locked object is locked";
  EXPECT_EQ(copy->deepLinkURLScheme(), "scheme");
  EXPECT_EQ(copy->appGroupID(), "group");
  EXPECT_TRUE(copy->usingOptionsFromDefaultPlist());
}

TEST_F(LMOOptionsTest, BooleanKeysReadFalseWhenAbsent) {
  EXPECT_FALSE(makeOptions({})->isAnalyticsEnabled());
  EXPECT_FALSE(makeOptions({})->isSignInEnabled());
  auto options =
      makeOptions({{"IS_ANALYTICS_ENABLED", Value(true)}, {"IS_SIGNIN_ENABLED", Value(true)}});
  EXPECT_TRUE(options->isAnalyticsEnabled());
  EXPECT_TRUE(options->isSignInEnabled());
}

TEST_F(LMOOptionsTest, InfoPlistSwitchOverridesTheOptionsFile) {
  writeInfoPlist({{"LUMO_ANALYTICS_COLLECTION_ENABLED", Value(false)}});
  auto options = makeOptions({{"LUMO_ANALYTICS_COLLECTION_ENABLED", Value(true)},
                              {"IS_MEASUREMENT_ENABLED", Value(true)}});
  EXPECT_FALSE(options->isAnalyticsCollectionEnabled());
  EXPECT_TRUE(options->isMeasurementEnabled());
  EXPECT_EQ(options->analyticsOptionsDictionary(),
            (LMOOptions::Dictionary{{"IS_MEASUREMENT_ENABLED", Value(true)},
                                    {"LUMO_ANALYTICS_COLLECTION_ENABLED", Value(false)}}));
  // Built once: later info dictionaries change nothing.
  EXPECT_EQ(options->analyticsOptionsDictionaryWithInfoDictionary(
                Value(LMOOptions::Dictionary{{"IS_MEASUREMENT_ENABLED", Value(false)}})),
            options->analyticsOptionsDictionary());
}

TEST_F(LMOOptionsTest, AnalyticsSwitchesCombineAsDocumented) {
  struct Case {
    const char* what;
    LMOOptions::Dictionary options;
    bool enabled, measurement, explicitlySet;
  };
  const std::vector<Case> cases = {
      {"nothing set, no app", {}, false, false, false},
      {"deactivated beats everything",
       {{"LUMO_ANALYTICS_COLLECTION_DEACTIVATED", Value(true)},
        {"LUMO_ANALYTICS_COLLECTION_ENABLED", Value(true)},
        {"IS_MEASUREMENT_ENABLED", Value(true)}},
       false,
       false,
       true},
      {"measurement only", {{"IS_MEASUREMENT_ENABLED", Value(true)}}, true, true, true},
      {"collection off, measurement on",
       {{"LUMO_ANALYTICS_COLLECTION_ENABLED", Value(false)},
        {"IS_MEASUREMENT_ENABLED", Value(true)}},
       false,
       true,
       true},
      {"string switch is used but not explicit",
       {{"LUMO_ANALYTICS_COLLECTION_ENABLED", Value("YES")}},
       true,
       false,
       false},
      {"string deactivated counts",
       {{"LUMO_ANALYTICS_COLLECTION_DEACTIVATED", Value("1")}},
       false,
       false,
       true},
  };
  for (const auto& c : cases) {
    auto options = makeOptions(c.options);
    EXPECT_EQ(options->isAnalyticsCollectionEnabled(), c.enabled) << c.what;
    EXPECT_EQ(options->isMeasurementEnabled(), c.measurement) << c.what;
    EXPECT_EQ(options->isAnalyticsCollectionExplicitlySet(), c.explicitlySet) << c.what;
  }
}

TEST_F(LMOOptionsTest, MeasurementFollowsTheDefaultAppsDataCollectionWhenUnset) {
  LMOApp::configureWithOptions(makeOptions(validOptions()));
  auto options = makeOptions({});
  EXPECT_TRUE(options->isMeasurementEnabled());
  LMOApp::defaultApp()->setDataCollectionDefaultEnabled(false);
  EXPECT_FALSE(makeOptions({})->isMeasurementEnabled());

  // A refusal stored earlier that cannot be read now: not known, and never taken as on.
  auto defaults = platform::UserDefaults::standardUserDefaults();
  ASSERT_TRUE(defaults->synchronize());
  platform::UserDefaults::resetForTesting();  // a relaunch
  std::optional<bool> measurement, collection, decidedByOptions;
  platform::ErrorPtr measurementError, collectionError;
  {
    platform::testing::UnreadableFile unreadable(
        platform::testing::UnreadableFile::Cause::LinkLoop,
        platform::SandboxHome::preferences() / (defaults->domainName() + ".plist"));
    measurement = options->measurementEnabledIfKnown(&measurementError);
    collection = options->analyticsCollectionEnabledIfKnown(&collectionError);
    EXPECT_FALSE(options->isMeasurementEnabled());
    EXPECT_FALSE(options->isAnalyticsCollectionEnabled());
    decidedByOptions =
        makeOptions({{"IS_MEASUREMENT_ENABLED", Value(true)}})->measurementEnabledIfKnown(nullptr);
  }
  EXPECT_EQ(decidedByOptions, std::optional<bool>(true)) << "options that decide need no read";
  EXPECT_EQ(measurement, std::nullopt);
  EXPECT_TRUE(measurementError);
  EXPECT_EQ(collection, std::nullopt);
  EXPECT_TRUE(collectionError);
  EXPECT_EQ(options->measurementEnabledIfKnown(nullptr), std::optional<bool>(false));
}

TEST_F(LMOOptionsTest, EqualityComparesDictionarySchemeAndGroup) {
  auto a = makeOptions(validOptions());
  auto b = makeOptions(validOptions());
  EXPECT_TRUE(a->isEqual(*b));
  EXPECT_EQ(a->hash(), b->hash());
  b->setDeepLinkURLScheme("tvs");
  EXPECT_FALSE(a->isEqual(*b));
  a->setDeepLinkURLScheme("tvs");
  EXPECT_TRUE(a->isEqual(*b));
  a->setAppGroupID("group");
  EXPECT_FALSE(a->isEqual(*b));
  EXPECT_FALSE(a->isEqual(platform::Object()));
  auto c = makeOptions({});
  EXPECT_FALSE(c->isEqual(*makeOptions(validOptions())));
}

TEST_F(LMOOptionsTest, LibraryVersionIDPadsMinorAndPatch) {
  EXPECT_EQ(LMOOptions::libraryVersionID(), "81000000");
}

TEST_F(LMOOptionsTest, BundleIdentifierHelpers) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a.b.c", "a.b"}, {"abc", ""}, {"a.", "a"}, {"", ""}};
  for (const auto& [in, out] : cases) {
    EXPECT_EQ(LMOBundleUtil::bundleIdentifierByRemovingLastPartFrom(in), out) << in;
  }
  auto bundles = LMOBundleUtil::relevantBundles();
  ASSERT_EQ(bundles.size(), 2u);
  EXPECT_TRUE(LMOBundleUtil::hasBundleIdentifierPrefix("com.tavo.tests", bundles));
  EXPECT_FALSE(LMOBundleUtil::hasBundleIdentifierPrefix("com.tavo", bundles))
      << "whole identifiers only outside an app extension";
  EXPECT_FALSE(LMOBundleUtil::hasBundleIdentifierPrefix("com.tavo.test", bundles));
}

TEST_F(LMOOptionsTest, ExtensionBundleMatchesItsContainingAppIdentifier) {
  auto extension = home() / "Share.appex";
  std::filesystem::create_directories(extension);
  std::filesystem::copy_file(bundleDir() / "Info.plist", extension / "Info.plist");
  ::setenv("TVS_BUNDLE", extension.c_str(), 1);
  platform::Bundle::resetMainBundleForTesting();
  EXPECT_TRUE(
      LMOBundleUtil::hasBundleIdentifierPrefix("com.tavo", LMOBundleUtil::relevantBundles()));
}

TEST_F(LMOOptionsTest, URLSchemesOfEveryTypeInOrder) {
  writeInfoPlist(
      {{"CFBundleURLTypes",
        Value(Value::Array{
            Value(LMOOptions::Dictionary{
                {"CFBundleURLSchemes", Value(Value::Array{Value("one"), Value("two")})}}),
            Value(LMOOptions::Dictionary{{"CFBundleURLName", Value("x")}}),
            Value(LMOOptions::Dictionary{
                {"CFBundleURLSchemes", Value(Value::Array{Value("three")})}}),
        })}});
  // Both relevant bundles are the main bundle here, so every scheme comes twice.
  EXPECT_EQ(LMOBundleUtil::relevantURLSchemes(),
            (std::vector<std::string>{"one", "two", "three", "one", "two", "three"}));
}

}  // namespace
