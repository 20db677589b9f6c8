#include "measurement/storage/MSRPersistedConfig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <thread>
#include <vector>

#include "measurement/engine/MSRRemoteConfig.h"
#include "measurement/storage/MSRFileLocations.h"
#include "measurement/storage/MSRPersistentDictionary.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "measurement/storage/MSRUserDefaults.h"
#include "measurement/storage/tests/MSRStorageTestSupport.h"
#include "platform/base/UserDefaults.h"
#include "platform/testing/PlatformTest.h"
#include "platform/testing/UnreadableFile.h"

namespace fs = std::filesystem;
using platform::Value;

namespace {

class MSRPersistedConfigTest : public platform::testing::PlatformTest {
 protected:
  void advance(MSRPersistedConfig& config, double seconds) {
    clock().advance(seconds);
    config.serialQueue()->sync([] {});
  }
  std::shared_ptr<platform::UserDefaults> suite() {
    return platform::UserDefaults::initWithSuiteName(kMSRPersistedConfigSuiteName);
  }
};

TEST_F(MSRPersistedConfigTest, RunOfWritesSynchronizesOnceASecondAfterTheLast) {
  auto config = MSRPersistedConfig::sharedInstance();
  ASSERT_TRUE(config);
  auto store = std::dynamic_pointer_cast<MSRUserDefaults>(config->userDefaults());
  ASSERT_TRUE(store);  // the remote setting is off by default
  // The store's synchronize is observable through its one-time backup exclusion.
  config->setLastBackoffTimestamp(1);
  advance(*config, 0.4);
  config->setLastBackoffTimestamp(2);
  advance(*config, 0.4);
  config->setLastBackoffTimestamp(3);
  advance(*config, 0.9);
  EXPECT_FALSE(store->isPreferenceFileExcluded());
  advance(*config, 0.1);
  EXPECT_TRUE(store->isPreferenceFileExcluded());
  EXPECT_DOUBLE_EQ(config->lastBackoffTimestamp(), 3);
  EXPECT_EQ(suite()->objectForKey("/veltro/measurement/last_backoff"), Value(3.0));
}

TEST_F(MSRPersistedConfigTest, MidnightOffsetIsDrawnOnceAndKept) {
  auto config = MSRPersistedConfig::initWithSuiteName("suite");
  const double offset = config->midnightOffset();
  EXPECT_GE(offset, 0.0);
  EXPECT_LT(offset, 86400.0);
  EXPECT_DOUBLE_EQ(offset * 1000, std::round(offset * 1000));
  EXPECT_DOUBLE_EQ(config->midnightOffset(), offset);
  EXPECT_DOUBLE_EQ(config->doubleForKey("/veltro/measurement/midnight_offset"), offset);
}

// A stored offset that cannot be read now is not "none": nothing is drawn over it, in either
// store, and once the file reads again the stored one is given, and kept after a relaunch.
TEST_F(MSRPersistedConfigTest, StoredMidnightOffsetIsNeverDrawnAgainWhileItCannotBeRead) {
  using platform::testing::UnreadableFile;
  int round = 0;
  for (auto cause : UnreadableFile::usableCauses()) {
    SCOPED_TRACE(UnreadableFile::name(cause));
    for (const auto& kind : kConfigStoreKinds) {
      SCOPED_TRACE(kind.name);
      const std::string name = "suite" + std::to_string(round++);
      const fs::path file = storeConfigAndRelaunch(kind, name, [](MSRPersistedConfig& config) {
        config.setDouble(1234.5, kMSRConfigKeyMidnightOffset);
      });
      std::shared_ptr<MSRPersistedConfig> config;
      ASSERT_TRUE(fs::exists(file));
      {
        UnreadableFile unreadable(cause, file);
        config = MSRPersistedConfig::initWithSuiteName(name);
        platform::ErrorPtr error;
        EXPECT_EQ(config->midnightOffset(&error), 0.0);
        EXPECT_TRUE(error);
        advance(*config, 1);
      }
      // The file reads again: the stored offset is the one.
      EXPECT_DOUBLE_EQ(config->midnightOffset(), 1234.5);
      advance(*config, 1);
      config.reset();
      platform::UserDefaults::resetForTesting();
      config = MSRPersistedConfig::initWithSuiteName(name);
      EXPECT_DOUBLE_EQ(config->midnightOffset(), 1234.5);
      config.reset();
    }
  }
}

TEST_F(MSRPersistedConfigTest, FirstReadersOnManyThreadsShareOneMidnightOffset) {
  // Each round a fresh suite; every thread reads the offset at the same moment.
  for (int round = 0; round < 20; ++round) {
    auto config = MSRPersistedConfig::initWithSuiteName("suite" + std::to_string(round));
    constexpr int kThreads = 8;
    std::vector<double> offsets(kThreads);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
      threads.emplace_back([&, i] {
        ready.fetch_add(1);
        while (ready.load() < kThreads) std::this_thread::yield();
        offsets[static_cast<std::size_t>(i)] = config->midnightOffset();
      });
    }
    for (auto& thread : threads) thread.join();
    for (double offset : offsets) ASSERT_EQ(offset, offsets.front()) << "round " << round;
    ASSERT_EQ(config->midnightOffset(), offsets.front());
  }
}

TEST_F(MSRPersistedConfigTest, KindsReadTheirAbsentValues) {
  auto config = MSRPersistedConfig::initWithSuiteName("suite");
  config->setShouldSetLastAdvertisingIDResetUserProperty(true);
  EXPECT_EQ(config->int64ForKey("/veltro/measurement/set_last_advertising_id_reset"), 1);
  config->setInt64(2, "/veltro/measurement/unmatched_first_open");
  EXPECT_TRUE(config->unmatchedFirstOpenWithoutIDFA());

  config->setAppInstanceID("id-1");
  EXPECT_EQ(config->appInstanceID(), std::optional<std::string>("id-1"));
  EXPECT_EQ(config->int64ForKey("/veltro/measurement/app_instance_id"), 0);
  EXPECT_DOUBLE_EQ(config->doubleForKey("/veltro/measurement/app_instance_id"), 0);
  config->setAppInstanceID(std::nullopt);
  EXPECT_FALSE(config->appInstanceID());

  config->setSessionNumber(7);
  EXPECT_EQ(config->sessionNumber(), 7);
  config->setDefaultEventParameters(Value(Value::Dictionary{{"p", Value(1)}}));
  EXPECT_EQ(config->defaultEventParameters()["p"], Value(1LL));
  config->setDefaultEventParameters(Value());
  EXPECT_TRUE(config->defaultEventParameters().isNil());

  config->setConfigServerLastModifiedString("Tue");
  EXPECT_EQ(config->configServerLastModifiedString(), Value("Tue"));
  config->setDeferredDeepLinkRetrievalComplete(Value(1));
  EXPECT_EQ(config->deferredDeepLinkRetrievalComplete(), Value(1LL));
  EXPECT_EQ(config->stringForKey(""), std::nullopt);
}

TEST_F(MSRPersistedConfigTest, SearchAdCampaignValueTakesOnlyNumbers) {
  auto config = MSRPersistedConfig::initWithSuiteName("suite");
  config->setSearchAdCampaignValue(Value("yes"));
  EXPECT_TRUE(config->searchAdCampaignValue().isNil());
  config->setSearchAdCampaignValue(Value(1));
  EXPECT_EQ(config->searchAdCampaignValue(), Value(1LL));
}

TEST_F(MSRPersistedConfigTest, ClearValuesLeavesTheEnabledStateOfTheStandardDomain) {
  auto config = MSRPersistedConfig::sharedInstance();
  config->setMeasurementEnabledState(2);
  config->setAppVersion("1.0");
  config->setSessionNumber(3);
  config->clearValues();
  EXPECT_FALSE(config->appVersion());
  EXPECT_EQ(config->sessionNumber(), 0);
  EXPECT_EQ(config->measurementEnabledState(), 2);
  EXPECT_EQ(platform::UserDefaults::standardUserDefaults()->objectForKey(
                "/veltro/measurement/measurement_enabled_state"),
            Value(2LL));
}

TEST_F(MSRPersistedConfigTest, ApplicationSupportSettingMovesTheSuiteIntoTheDictionaryStore) {
  suite()->setObject(Value("kept-id"), "/veltro/measurement/app_instance_id");
  MSRRemoteConfig::defaultInstance()->setPersistentConfigInApplicationSupportEnabledOverride(true);
  platform::UserDefaults::resetForTesting();
  ASSERT_TRUE(fs::exists(MSRPreferencesPlistPath(kMSRPersistedConfigSuiteName)));

  auto config = MSRPersistedConfig::initWithSuiteName(kMSRPersistedConfigSuiteName);
  ASSERT_TRUE(std::dynamic_pointer_cast<MSRPersistentDictionary>(config->userDefaults()));
  EXPECT_EQ(config->appInstanceID(), std::optional<std::string>("kept-id"));
  EXPECT_TRUE(fs::exists(MSRApplicationSupportPlistPath(kMSRPersistedConfigSuiteName)));
  EXPECT_FALSE(fs::exists(MSRPreferencesPlistPath(kMSRPersistedConfigSuiteName)));

  // And back when the setting is off again.
  config->setSessionNumber(4);
  config.reset();
  MSRRemoteConfig::defaultInstance()->setPersistentConfigInApplicationSupportEnabledOverride(false);
  auto back = MSRPersistedConfig::initWithSuiteName(kMSRPersistedConfigSuiteName);
  ASSERT_TRUE(std::dynamic_pointer_cast<MSRUserDefaults>(back->userDefaults()));
  EXPECT_EQ(back->sessionNumber(), 4);
  EXPECT_EQ(back->appInstanceID(), std::optional<std::string>("kept-id"));
}

TEST_F(MSRPersistedConfigTest, EmptyNameGivesNoConfig) {
  EXPECT_FALSE(MSRPersistedConfig::initWithSuiteName(""));
}

}  // namespace
