#include "platform/app/Application.h"

#include <gtest/gtest.h>

#include "platform/app/AdNetworkAttribution.h"
#include "platform/app/AppConstants.h"
#include "platform/app/Haptics.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/testing/PlatformTest.h"

namespace platform::app {
namespace {

// A delegate class of the runtime that records the life-cycle messages it gets.
class RecordingDelegate : public runtime::RootObject {
 public:
  std::string className() const override { return "TestAppDelegate"; }
  std::vector<std::string> calls;
};

void registerDelegateClass() {
  static std::once_flag once;
  std::call_once(once, [] {
    runtime::registerClass(
        "TestAppDelegate", runtime::kRootClassName, sizeof(RecordingDelegate),
        [](runtime::Class& cls) {
          cls.addProtocol(kApplicationDelegateProtocolName);
          cls.addInstanceMethod("application:didFinishLaunchingWithOptions:",
                                [](Object& self, ObjectPtr, Value::Dictionary) {
                                  static_cast<RecordingDelegate&>(self).calls.push_back("launch");
                                  return true;
                                });
          for (const char* sel : {"applicationDidBecomeActive:", "applicationWillResignActive:",
                                  "applicationDidEnterBackground:",
                                  "applicationWillEnterForeground:", "applicationWillTerminate:"}) {
            cls.addInstanceMethod(sel, [sel](Object& self, ObjectPtr) {
              static_cast<RecordingDelegate&>(self).calls.push_back(sel);
            });
          }
        });
  });
}

class ApplicationTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    app_ = Application::sharedApplication();
    token_ = NotificationCenter::defaultCenter().addObserver(
        "", Value(), nullptr, [this](const Notification& n) {
          if (n.name.rfind("UIApplication", 0) == 0) posted_.push_back(n.name);
        });
  }
  std::shared_ptr<Application> app_;
  ObservationToken token_;
  std::vector<std::string> posted_;
};

TEST_F(ApplicationTest, LifeCycleNotificationsFollowTheHostEventsInOrder) {
  registerDelegateClass();
  auto delegate = std::make_shared<RecordingDelegate>();
  app_->setDelegate(delegate);

  app_->finishLaunching();
  app_->handleFocusChanged(true);
  app_->handleFocusChanged(true);  // no change, nothing posted
  app_->handleFocusChanged(false);
  app_->handleFocusChanged(true);
  app_->handleMinimizedChanged(true);
  app_->handleFocusChanged(false);  // already in the background
  app_->handleMinimizedChanged(false);
  app_->handleFocusChanged(true);
  app_->handleWillTerminate();
  app_->handleWillTerminate();  // once only
  app_->handleFocusChanged(true);

  EXPECT_EQ(posted_, (std::vector<std::string>{
                         kDidFinishLaunchingNotification, kDidBecomeActiveNotification,
                         kWillResignActiveNotification, kDidBecomeActiveNotification,
                         kWillResignActiveNotification, kDidEnterBackgroundNotification,
                         kWillEnterForegroundNotification, kDidBecomeActiveNotification,
                         kWillResignActiveNotification, kDidEnterBackgroundNotification,
                         kWillTerminateNotification}));
  EXPECT_EQ(delegate->calls.front(), "launch");
  EXPECT_EQ(delegate->calls.back(), "applicationWillTerminate:");
  EXPECT_EQ(delegate->calls.size(), posted_.size());
}

TEST_F(ApplicationTest, MinimisingFromTheBackgroundedStartEntersItOnce) {
  app_->finishLaunching();
  app_->handleMinimizedChanged(true);
  app_->handleMinimizedChanged(false);
  app_->handleFocusChanged(true);
  EXPECT_EQ(posted_, (std::vector<std::string>{
                         kDidFinishLaunchingNotification, kDidEnterBackgroundNotification,
                         kWillEnterForegroundNotification, kDidBecomeActiveNotification}));
}

TEST_F(ApplicationTest, DelegateIsReadAndSetThroughMessageSend) {
  auto first = std::make_shared<RecordingDelegate>();
  auto second = std::make_shared<RecordingDelegate>();
  std::vector<std::pair<ObjectPtr, ObjectPtr>> changes;
  auto token = app_->observeDelegate([&](ObjectPtr o, ObjectPtr n) { changes.emplace_back(o, n); });

  runtime::msgSend<void>(app_, "setDelegate:", ObjectPtr(first));
  EXPECT_EQ(app_->delegate(), first);
  auto viaClass =
      runtime::msgSend<ObjectPtr>(runtime::classNamed(kApplicationClassName), "sharedApplication");
  EXPECT_EQ(viaClass, app_);

  // A getter replaced later is what every caller sees from then on.
  runtime::classReplaceMethod(
      runtime::classNamed(kApplicationClassName), "delegate",
      runtime::implementationWithBlock([second](Object&) -> ObjectPtr { return second; }), "@@:");
  EXPECT_EQ(app_->delegate(), second);

  app_->setDelegate(nullptr);
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0].first, nullptr);
  EXPECT_EQ(changes[0].second, first);
  EXPECT_EQ(changes[1].first, first);
  EXPECT_EQ(changes[1].second, nullptr);
}

TEST_F(ApplicationTest, BackgroundTasksExpireAfterTheAllowanceUnlessEnded) {
  std::vector<std::string> expired;
  const auto ended = app_->beginBackgroundTask("ended", [&] { expired.push_back("ended"); });
  app_->beginBackgroundTask("upload", [&] { expired.push_back("upload"); });
  EXPECT_NE(ended, kInvalidBackgroundTask);
  app_->endBackgroundTask(ended);
  app_->handleFocusChanged(true);
  app_->handleMinimizedChanged(true);
  clock().advance(kBackgroundTaskAllowance - 1);
  pumpUntil([] { return false; }, 0.05);
  EXPECT_TRUE(expired.empty());
  clock().advance(2);
  ASSERT_TRUE(pumpUntil([&] { return !expired.empty(); }));
  EXPECT_EQ(expired, std::vector<std::string>{"upload"});
  EXPECT_EQ(app_->backgroundTaskCount(), 0u);
}

TEST_F(ApplicationTest, ComingBackBeforeTheAllowanceKeepsTasksAndQuitExpiresThem) {
  int expired = 0;
  app_->beginBackgroundTask("t", [&] { ++expired; });
  app_->handleMinimizedChanged(true);
  app_->handleMinimizedChanged(false);
  clock().advance(kBackgroundTaskAllowance + 1);
  pumpUntil([] { return false; }, 0.05);
  EXPECT_EQ(expired, 0);
  app_->handleWillTerminate();
  EXPECT_EQ(expired, 1);
}

TEST_F(ApplicationTest, DelegateProtocolIsRegisteredWithOptionalOperations) {
  auto* protocol = runtime::protocolNamed(kApplicationDelegateProtocolName);
  ASSERT_NE(protocol, nullptr);
  for (const char* sel : {"application:openURL:options:", "applicationDidBecomeActive:",
                          "application:handleEventsForBackgroundURLSession:completionHandler:"}) {
    EXPECT_NE(protocol->methodDescription(sel, /*required=*/false, /*instance=*/true), nullptr)
        << sel;
  }
}

TEST_F(ApplicationTest, IdiomComesFromTheLaunchArguments) {
  EXPECT_EQ(app_->userInterfaceIdiom(), ui::UserInterfaceIdiom::phone);
  setArguments({"-DeviceIdiom", "pad"});
  EXPECT_EQ(app_->userInterfaceIdiom(), ui::UserInterfaceIdiom::pad);
}

TEST_F(ApplicationTest, HapticsAndAttributionAreRecorded) {
  std::vector<ImpactStyle> pulses;
  HapticsLog::setPulseHandler([&](ImpactStyle s) { pulses.push_back(s); });
  ImpactFeedbackGenerator(ImpactStyle::Heavy).impactOccurred();
  ImpactFeedbackGenerator(ImpactStyle::Light).impactOccurred();
  EXPECT_EQ(HapticsLog::impacts(),
            (std::vector<ImpactStyle>{ImpactStyle::Heavy, ImpactStyle::Light}));
  EXPECT_EQ(pulses, HapticsLog::impacts());
  EXPECT_EQ(static_cast<int>(ImpactStyle::Heavy), 2);
  HapticsLog::setPulseHandler(nullptr);

  EXPECT_EQ(AdNetworkAttribution::registrationCount(), 0);
  AdNetworkAttribution::registerAppForAdNetworkAttribution();
  EXPECT_EQ(AdNetworkAttribution::registrationCount(), 1);
}

}  // namespace
}  // namespace platform::app
