#include "VDTCORLibrary/VDTCORUploadCoordinator.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "VDTCORLibrary/VDTCORApplication.h"
#include "VDTCORLibrary/VDTCORConstants.h"
#include "VDTCORLibrary/VDTCORPlatform.h"
#include "VDTCORLibrary/VDTCORReachability.h"
#include "VDTCORLibrary/tests/TransportTestSupport.h"
#include "platform/app/AppConstants.h"
#include "platform/app/Application.h"
#include "platform/base/Bundle.h"
#include "platform/base/Files.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/testing/PlatformTest.h"

namespace {

using transport_testing::RecordingStorage;
using transport_testing::RecordingUploader;
using Calls = std::vector<std::pair<long, long>>;

class VDTCORUploadCoordinatorTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    registrar = std::make_shared<VDTCORRegistrar>();
    coordinator = std::make_shared<VDTCORUploadCoordinator>(registrar);
    uploader = std::make_shared<RecordingUploader>();
    registrar->registerUploader(uploader, 1001);
    registrar->registerUploader(uploader, 1002);
    setFlags(platform::kReachabilityFlagsReachable);
  }
  void TearDown() override {
    coordinator->appWillTerminate(nullptr);
    PlatformTest::TearDown();
  }
  static void setFlags(std::uint32_t flags) {
    VDTCORReachability::sharedInstance().setFlagsForTesting(flags);
  }
  // Each request re-queues once, so a few passes run everything pending.
  void drain() {
    for (int i = 0; i < 3; ++i) coordinator->coordinationQueue()->sync([] {});
  }
  platform::DispatchTimerPtr currentTimer() {
    platform::DispatchTimerPtr timer;
    coordinator->coordinationQueue()->sync([&] { timer = coordinator->timer(); });
    return timer;
  }

  std::shared_ptr<VDTCORRegistrar> registrar;
  std::shared_ptr<VDTCORUploadCoordinator> coordinator;
  std::shared_ptr<RecordingUploader> uploader;
};

TEST_F(VDTCORUploadCoordinatorTest, ReachabilityFlagsGiveOneCondition) {
  struct Case {
    std::uint32_t flags;
    long conditions;
  };
  for (const Case& c : {Case{2, 4}, Case{2 | 0x40000, 2}, Case{6, 1}, Case{0x40000, 1}}) {
    setFlags(c.flags);
    EXPECT_EQ(coordinator->uploadConditions(), c.conditions) << c.flags;
  }
  EXPECT_FALSE(VDTCORFlagsAllowNetwork(0));
  EXPECT_TRUE(VDTCORFlagsAreCellular(0x40002));
}

TEST_F(VDTCORUploadCoordinatorTest, AReportedLossOfNetworkIsNoNetwork) {
  VDTCORReachability& reachability = VDTCORReachability::sharedInstance();
  reachability.setFlagsForTesting(std::nullopt);
  // Start-up found a network; the platform then reports first cellular, then nothing at all.
  reachability.reachabilityQueue()->sync(
      [&] { reachability.setFlags(platform::kReachabilityFlagsReachable); });
  EXPECT_EQ(coordinator->uploadConditions(), 4);
  struct Case {
    std::uint32_t reported;
    long conditions;
  };
  for (const Case& c :
       {Case{platform::kReachabilityFlagsReachable | platform::kReachabilityFlagsIsWWAN, 2},
        Case{0, 1}, Case{platform::kReachabilityFlagsReachable, 4}, Case{0, 1}}) {
    reachability.reachabilityQueue()->sync([&] { reachability.setCallbackFlags(c.reported); });
    EXPECT_EQ(VDTCORReachability::currentFlags(), c.reported);
    EXPECT_EQ(coordinator->uploadConditions(), c.conditions) << c.reported;
  }
  coordinator->forceUploadForTarget(1001);
  drain();
  EXPECT_TRUE(uploader->recorded().empty());
}

TEST_F(VDTCORUploadCoordinatorTest, ForcedUploadsAddHighPriorityAndNeedANetwork) {
  setFlags(2 | 0x40000);
  coordinator->forceUploadForTarget(1001);
  drain();
  EXPECT_EQ(uploader->recorded(), (Calls{{1001, 18}}));
  setFlags(6);
  coordinator->forceUploadForTarget(1001);
  coordinator->forceUploadForTarget(5);  // no uploader: skipped
  drain();
  EXPECT_EQ(uploader->recorded().size(), 1u);
}

TEST_F(VDTCORUploadCoordinatorTest, TimerUploadsEveryTargetOnlyInTheForeground) {
  coordinator->startTimer();
  drain();
  clock().advance(0.4);
  drain();
  EXPECT_TRUE(uploader->recorded().empty());
  clock().advance(0.1);
  drain();
  EXPECT_EQ(uploader->recorded(), (Calls{{1001, 4}, {1002, 4}}));

  VDTCORApplication::sharedApplication()->setIsRunningInBackground(true);
  clock().advance(30);
  drain();
  EXPECT_EQ(uploader->recorded().size(), 2u);
  VDTCORApplication::sharedApplication()->setIsRunningInBackground(false);
  clock().advance(30);
  drain();
  EXPECT_EQ(uploader->recorded().size(), 4u);
}

TEST_F(VDTCORUploadCoordinatorTest, StartingTwiceKeepsOneTimerAndRestartingBeginsAfresh) {
  coordinator->startTimer();
  coordinator->startTimer();
  auto first = currentTimer();
  ASSERT_TRUE(first);
  coordinator->appWillBackground(nullptr);
  EXPECT_EQ(currentTimer(), nullptr);
  EXPECT_TRUE(first->isCancelled());
  clock().advance(10);
  coordinator->appWillForeground(nullptr);
  auto second = currentTimer();
  ASSERT_TRUE(second);
  EXPECT_NE(second, first);
  drain();
  clock().advance(0.5);
  drain();
  EXPECT_EQ(uploader->recorded().size(), 2u);
}

TEST_F(VDTCORUploadCoordinatorTest, ForegroundChecksEachStorageOnce) {
  auto storage = std::make_shared<RecordingStorage>();
  for (long target : {999, 1000, 1001, 1002, 1003}) registrar->registerStorage(storage, target);
  coordinator->appWillForeground(nullptr);
  EXPECT_EQ(storage->expiryChecks, 1);
  EXPECT_EQ(coordinator->storageForTarget(1001), storage);
  EXPECT_EQ(coordinator->storageForTarget(4), nullptr);
}

TEST_F(VDTCORUploadCoordinatorTest, PlatformNotificationsBecomeTransportNotifications) {
  auto app = VDTCORApplication::sharedApplication();
  auto& center = platform::NotificationCenter::defaultCenter();
  std::vector<std::string> posted;
  std::vector<platform::ObservationToken> tokens;
  for (const char* name : {kVDTCORApplicationDidEnterBackgroundNotification,
                           kVDTCORApplicationWillEnterForegroundNotification,
                           kVDTCORApplicationWillTerminateNotification}) {
    tokens.push_back(center.addObserver(name, platform::Value(), nullptr,
                                        [&posted, name](const auto&) { posted.push_back(name); }));
  }
  center.post("UISceneWillDeactivateNotification");
  EXPECT_TRUE(app->isRunningInBackground());
  center.post(platform::app::kWillEnterForegroundNotification);
  EXPECT_FALSE(app->isRunningInBackground());
  center.post(platform::app::kDidEnterBackgroundNotification);
  center.post(platform::app::kWillTerminateNotification);
  EXPECT_TRUE(app->isRunningInBackground());
  EXPECT_EQ(posted, (std::vector<std::string>{kVDTCORApplicationDidEnterBackgroundNotification,
                                              kVDTCORApplicationWillEnterForegroundNotification,
                                              kVDTCORApplicationDidEnterBackgroundNotification,
                                              kVDTCORApplicationWillTerminateNotification}));
}

TEST_F(VDTCORUploadCoordinatorTest, BackgroundTasksComeFromTheApplicationButNotInExtensions) {
  auto app = VDTCORApplication::sharedApplication();
  EXPECT_EQ(app->beginBackgroundTaskWithName("none yet", [] {}), 0u);
  auto platformApp = platform::app::Application::sharedApplication();
  auto id = app->beginBackgroundTaskWithName("task", [] {});
  EXPECT_NE(id, 0u);
  EXPECT_EQ(platformApp->backgroundTaskCount(), 1u);
  app->endBackgroundTask(id);
  EXPECT_EQ(platformApp->backgroundTaskCount(), 0u);

  auto appex = home() / "Plugin.appex";
  platform::files::createDirectory(appex, true);
  setenv("TVS_BUNDLE", appex.c_str(), 1);
  platform::Bundle::resetMainBundleForTesting();
  EXPECT_TRUE(VDTCORApplication::isAppExtension());
  EXPECT_EQ(app->beginBackgroundTaskWithName("task", [] {}), 0u);
}

TEST_F(VDTCORUploadCoordinatorTest, LifeCycleRelayReachesTransformerCoordinatorAndStorages) {
  VDTCOREnsureLoaded();
  auto shared = VDTCORUploadCoordinator::sharedInstance();
  auto storage = std::make_shared<RecordingStorage>();
  VDTCORRegistrar::sharedInstance()->registerStorage(storage, 4242);
  auto timerOf = [&] {
    platform::DispatchTimerPtr timer;
    shared->coordinationQueue()->sync([&] { timer = shared->timer(); });
    return timer;
  };
  EXPECT_TRUE(timerOf());
  auto& center = platform::NotificationCenter::defaultCenter();
  center.post(platform::app::kDidEnterBackgroundNotification);
  EXPECT_EQ(timerOf(), nullptr);
  center.post(platform::app::kWillEnterForegroundNotification);
  EXPECT_TRUE(timerOf());
  EXPECT_EQ(storage->expiryChecks, 1);
  center.post(platform::app::kWillTerminateNotification);
  EXPECT_EQ(timerOf(), nullptr);
  EXPECT_EQ(storage->terminateCalls, 1);
}

TEST_F(VDTCORUploadCoordinatorTest, RootDirectoryIsUnderCaches) {
  auto root = VDTCORStorageRootURL();
  EXPECT_EQ(root, platform::SandboxHome::caches() / "veltro-sdks-events");
  EXPECT_TRUE(platform::files::exists(root));
  EXPECT_FALSE(VDTCORHardwareModel().empty());
}

}  // namespace
