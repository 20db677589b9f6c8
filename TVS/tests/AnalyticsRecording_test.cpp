// The app's three events with the app core configured from the bundle's options: a tap on a clip,
// a favourite and a share in the TestHost each leave one row in the real measurement database
// under the sandbox home, with the event's name and its "id". And the app used while its settings
// files cannot be read loses nothing stored and collects nothing against a stored refusal.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TVS/EntityLoader.h"
#include "TVS/EntityView.h"
#include "TVS/SoundViewModel.h"
#include "TVS/TVSConstants.h"
#include "TVS/tests/TVSTestSupport.h"
#include "VDTCORLibrary/VDTCORFlatFileStorage.h"
#include "core/LMOApp.h"
#include "core/LMOConstants.h"
#include "installations/LMOInstallationsAPIService.h"
#include "measurement/engine/tests/MSRStoredEvents.h"
#include "measurement/foundation/MSRConstants.h"
#include "measurement/foundation/MSRMonitoringSampledData.h"
#include "measurement/frontend/MSRAnalytics.h"
#include "measurement/frontend/tests/FrontendTestSupport.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "platform/app/AppConstants.h"
#include "platform/app/AudioBackend.h"
#include "platform/base/Files.h"
#include "platform/base/Format.h"
#include "platform/base/UserDefaults.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/testing/ChildProcess.h"
#include "platform/testing/PlatformTest.h"
#include "platform/testing/UnreadableFile.h"
#include "platform/ui/TestHost.h"

namespace {

using namespace platform::ui;
using msr_testing::storedRawEvents;
using platform::Value;

class AnalyticsRecordingTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    tvs::testing::useBundle(tvs::testing::builtBundle());
    platform::app::AudioBackend::setCurrent(
        std::make_shared<platform::app::RecordingAudioBackend>());
    vtu::testing::startCapturingLines();
    // No installations service here: registration fails at once against a closed loopback port.
    LMOInstallationsAPIService::setServiceBaseURL("https://127.0.0.1:9");
    catalogue_ = EntityLoader::loadEntities();
    ASSERT_FALSE(catalogue_.empty());
    entity_ = catalogue_[0];
    ASSERT_GE(entity_->sounds().size(), 2u);
    vm_ = std::make_shared<SoundViewModel>();
  }
  void TearDown() override {
    if (MSRAnalytics::isStarted()) {
      EXPECT_TRUE(frontend_testing::drainAnalytics());
    }
    platform::app::AudioBackend::setCurrent(nullptr);
    PlatformTest::TearDown();
  }

  std::vector<SoundProducingEntityPtr> catalogue_;
  SoundProducingEntityPtr entity_;
  SoundViewModelPtr vm_;
};

TEST_F(AnalyticsRecordingTest, PlayFavouriteAndShareEachLeaveOneStoredEvent) {
  LMOApp::configure();  // as the app's start-up does, from the bundle's options
  TestHost host(View(EntityView{entity_, vm_, 125}));
  const auto& played = *entity_->sounds()[0];
  const auto& swiped = *entity_->sounds()[1];

  auto title = host.findText(played.displayName());
  ASSERT_TRUE(title);
  host.tap(*title);
  host.pump();
  auto row = host.findText(swiped.displayName());
  ASSERT_TRUE(row);
  auto actions = host.revealSwipeActions(*row);
  ASSERT_EQ(actions.size(), 2u);
  EXPECT_TRUE(host.tap(actions[0]));  // the heart
  host.pump();
  actions = host.revealSwipeActions(*host.findText(swiped.displayName()));
  ASSERT_EQ(actions.size(), 2u);
  EXPECT_TRUE(host.tap(actions[1]));  // share
  host.pump();

  ASSERT_TRUE(frontend_testing::drainAnalytics());
  EXPECT_TRUE(tvs::testing::analyticsEvents().empty()) << "nothing was dropped";
  struct Expected {
    const char* name;
    std::string id;
  };
  const Expected expected[] = {
      {"sound_play", played.id()}, {"sound_favorited", swiped.id()}, {"sound_share", swiped.id()}};
  // Read through a connection of its own: the rows are on disk, not only in the engine.
  auto events = storedRawEvents();
  ASSERT_EQ(events.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(events[i].name, expected[i].name);
    EXPECT_EQ(events[i].origin, "app");
    EXPECT_EQ(events[i].parameters.at("id"), Value(expected[i].id)) << expected[i].name;
  }
}

// What a process stored before the settings files went unreadable, as files under the home.
struct SettingsFiles {
  std::filesystem::path standard, measurement, monitor;
};

SettingsFiles settingsFiles(const std::filesystem::path& home) {
  const auto preferences = home / "Library" / "Preferences";
  const auto file = [&](const std::string& domain) { return preferences / (domain + ".plist"); };
  return {file(platform::UserDefaults::standardUserDefaults()->domainName()),
          file(kMSRPersistedConfigSuiteName), file(kMSRMonitorSuiteName)};
}

std::string refusalKey() {
  return platform::format(lmo::kDataCollectionUserDefaultsKeyFormat, lmo::kDefaultAppName);
}

// The transport's stored events: one file each under its events folder.
std::size_t transportEventFiles() {
  std::error_code error;
  std::size_t count = 0;
  const auto root = VDTCORFlatFileStorage::eventDataStoragePath();
  if (!std::filesystem::exists(root)) return 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root, error)) {
    if (entry.is_regular_file()) ++count;
  }
  return count;
}

// The app is used (a clip played, one favourited, one shared, the app activated) while the
// standard domain's and the engine's suites' files cannot be read; then they read again and the
// app is launched once more. Every stored value is as it was, the favourite made meanwhile joins
// the stored ones, and neither an event nor the core telemetry went against the stored refusal.
TEST_F(AnalyticsRecordingTest, SettingsThatCannotBeReadAtLaunchLoseNothingAndCollectNothing) {
  using platform::testing::UnreadableFile;
  ASSERT_GE(entity_->sounds().size(), 3u);
  const auto& stored = *entity_->sounds()[0];
  const auto& kept = *entity_->sounds()[1];
  const auto& added = *entity_->sounds()[2];
  const Value sample = MSRMonitoringSampledData::sampledDataEntryWithKey("k", 1000, "c", 5);
  // A clip played and shared, the app activated, and `added` favourited when asked.
  const auto use = [&](bool favourite) {
    LMOApp::configure();
    TestHost host(View(EntityView{entity_, vm_, 125}));
    host.tap(*host.findText(stored.displayName()));
    host.pump();
    if (favourite) {
      auto actions = host.revealSwipeActions(*host.findText(added.displayName()));
      ASSERT_EQ(actions.size(), 2u);
      EXPECT_TRUE(host.tap(actions[0]));  // the heart
      host.pump();
    }
    auto actions = host.revealSwipeActions(*host.findText(added.displayName()));
    ASSERT_EQ(actions.size(), 2u);
    EXPECT_TRUE(host.tap(actions[1]));  // share
    host.pump();
    platform::NotificationCenter::defaultCenter().post(platform::app::kDidBecomeActiveNotification);
    ASSERT_TRUE(frontend_testing::drainAnalytics());
  };
  const std::string role = platform::testing::testRole();
  if (role == "unreadable") {
    use(true);
    platform::testing::announce("used");
    ASSERT_TRUE(platform::testing::awaitAnnouncement("readable"));
    // The favourite made while the file could not be read joins the stored ones once it reads.
    ASSERT_TRUE(pumpUntil(
        [&] {
          clock().advance(1);
          return vm_->isFavourite(stored.id()) && vm_->isFavourite(kept.id()) &&
                 vm_->isFavourite(added.id());
        },
        120));
    return;
  }
  if (role == "relaunch") {
    EXPECT_EQ(platform::UserDefaults::standardUserDefaults()->objectForKey(refusalKey()),
              Value(false));
    use(false);
    EXPECT_TRUE(vm_->isFavourite(stored.id()) && vm_->isFavourite(kept.id()) &&
                vm_->isFavourite(added.id()));
    // Nothing went through the transport, though it works: once collection is allowed, the
    // next activation's telemetry is stored.
    EXPECT_EQ(transportEventFiles(), 0u);
    LMOApp::defaultApp()->setDataCollectionDefaultEnabled(true);
    platform::NotificationCenter::defaultCenter().post(platform::app::kDidBecomeActiveNotification);
    EXPECT_TRUE(pumpUntil([] { return transportEventFiles() > 0; }, 120));
    EXPECT_EQ(transportEventFiles(), 1u);
    return;
  }

  {
    auto standard = platform::UserDefaults::standardUserDefaults();
    standard->setObject(Value(Value::Dictionary{{stored.id(), Value(entity_->id())},
                                                {kept.id(), Value(entity_->id())}}),
                        tvs::kFavSoundIdsKey);
    standard->setObject(Value(false), refusalKey());
    auto measurement = platform::UserDefaults::initWithSuiteName(kMSRPersistedConfigSuiteName);
    measurement->setObject(Value(1234.5), kMSRConfigKeyMidnightOffset);
    auto monitor = platform::UserDefaults::initWithSuiteName(kMSRMonitorSuiteName);
    monitor->setObject(sample, kMSRHealthMonitorKey);
    monitor->setObject(Value(2), kMSRMonitorMigrationStateKey);
    ASSERT_TRUE(standard->synchronize() && measurement->synchronize() && monitor->synchronize());
  }
  const SettingsFiles files = settingsFiles(home());
  for (const auto cause : {UnreadableFile::Cause::IOError, UnreadableFile::Cause::LinkLoop,
                           UnreadableFile::Cause::Pipe}) {
    SCOPED_TRACE(UnreadableFile::name(cause));
    {
      auto standard = std::make_optional<UnreadableFile>(cause, files.standard);
      auto measurement = std::make_optional<UnreadableFile>(cause, files.measurement);
      auto monitor = std::make_optional<UnreadableFile>(cause, files.monitor);
      auto child = platform::testing::ChildProcess::start("unreadable");
      ASSERT_TRUE(child);
      ASSERT_TRUE(platform::testing::awaitAnnouncement("used", *child));
      standard.reset();
      measurement.reset();
      monitor.reset();
      platform::testing::announce("readable");
      EXPECT_EQ(child->wait(), 0);
    }
    auto relaunch = platform::testing::ChildProcess::start("relaunch");
    ASSERT_TRUE(relaunch);
    EXPECT_EQ(relaunch->wait(), 0);

    platform::UserDefaults::resetForTesting();
    auto standard = platform::UserDefaults::standardUserDefaults();
    EXPECT_EQ(standard->objectForKey(tvs::kFavSoundIdsKey),
              Value(Value::Dictionary{{stored.id(), Value(entity_->id())},
                                      {kept.id(), Value(entity_->id())},
                                      {added.id(), Value(entity_->id())}}))
        << standard->objectForKey(tvs::kFavSoundIdsKey).description();
    EXPECT_EQ(platform::UserDefaults::initWithSuiteName(kMSRPersistedConfigSuiteName)
                  ->objectForKey(kMSRConfigKeyMidnightOffset),
              Value(1234.5));
    EXPECT_EQ(platform::UserDefaults::initWithSuiteName(kMSRMonitorSuiteName)
                  ->objectForKey(kMSRHealthMonitorKey),
              sample);
    EXPECT_TRUE(storedRawEvents().empty());
    // The next row starts from the same stored state.
    standard->setObject(Value(Value::Dictionary{{stored.id(), Value(entity_->id())},
                                                {kept.id(), Value(entity_->id())}}),
                        tvs::kFavSoundIdsKey);
    standard->setObject(Value(false), refusalKey());
    ASSERT_TRUE(standard->synchronize());
    std::filesystem::remove_all(VDTCORFlatFileStorage::eventDataStoragePath());
    for (const char* name : {"used", "readable"}) {
      std::filesystem::remove(platform::SandboxHome::tmp() / (std::string(".announce-") + name));
    }
  }
}

}  // namespace
