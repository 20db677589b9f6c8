#include "VDTCORLibrary/VDTCORLifecycle.h"

#include "VDTCORLibrary/VDTCORApplication.h"
#include "VDTCORLibrary/VDTCORConsoleLogger.h"
#include "VDTCORLibrary/VDTCORConstants.h"
#include "VDTCORLibrary/VDTCORRegistrar.h"
#include "VDTCORLibrary/VDTCORTransformer.h"
#include "VDTCORLibrary/VDTCORUploadCoordinator.h"

namespace {
// The application wrapper and the relay exist from start-up on, so no life-cycle change is missed.
VDTCORLoadHook lifecycleLoader([] {
  VDTCORApplication::sharedApplication();
  VDTCORLifecycle::sharedInstance();
});
}  // namespace

VDTCORLifecycle& VDTCORLifecycle::sharedInstance() {
  static VDTCORLifecycle* shared = new VDTCORLifecycle();
  return *shared;
}

VDTCORLifecycle::VDTCORLifecycle() {
  auto& center = platform::NotificationCenter::defaultCenter();
  observations_.push_back(center.addObserver(
      kVDTCORApplicationDidEnterBackgroundNotification, platform::Value(), nullptr,
      [this](const platform::Notification&) { applicationDidEnterBackground(); }, this));
  observations_.push_back(center.addObserver(
      kVDTCORApplicationWillEnterForegroundNotification, platform::Value(), nullptr,
      [this](const platform::Notification&) { applicationWillEnterForeground(); }, this));
  observations_.push_back(center.addObserver(
      kVDTCORApplicationWillTerminateNotification, platform::Value(), nullptr,
      [this](const platform::Notification&) { applicationWillTerminate(); }, this));
}

VDTCORLifecycle::~VDTCORLifecycle() {
  for (auto& token : observations_) platform::NotificationCenter::defaultCenter().removeObservation(token);
}

void VDTCORLifecycle::applicationDidEnterBackground() {
  VDTCORApplicationPtr app = VDTCORApplication::sharedApplication();
  VDTCORLogDebug("Signaling VDTCORTransformer that the app is backgrounding.");
  VDTCORTransformer::sharedInstance()->appWillBackground(app);
  VDTCORLogDebug("Signaling VDTCORUploadCoordinator that the app is backgrounding.");
  VDTCORUploadCoordinator::sharedInstance()->appWillBackground(app);
  VDTCORLogDebug("Signaling VDTCORRegistrar that the app is backgrounding.");
  VDTCORRegistrar::sharedInstance()->appWillBackground(app);
}

void VDTCORLifecycle::applicationWillEnterForeground() {
  VDTCORApplicationPtr app = VDTCORApplication::sharedApplication();
  VDTCORLogDebug("Signaling VDTCORTransformer that the app is foregrounding.");
  VDTCORTransformer::sharedInstance()->appWillForeground(app);
  VDTCORLogDebug("Signaling VDTCORUploadCoordinator that the app is foregrounding.");
  VDTCORUploadCoordinator::sharedInstance()->appWillForeground(app);
  VDTCORLogDebug("Signaling VDTCORRegistrar that the app is foregrounding.");
  VDTCORRegistrar::sharedInstance()->appWillForeground(app);
}

void VDTCORLifecycle::applicationWillTerminate() {
  VDTCORApplicationPtr app = VDTCORApplication::sharedApplication();
  VDTCORLogDebug("Signaling VDTCORTransformer that the app is terminating.");
  VDTCORTransformer::sharedInstance()->appWillTerminate(app);
  VDTCORLogDebug("Signaling VDTCORUploadCoordinator that the app is terminating.");
  VDTCORUploadCoordinator::sharedInstance()->appWillTerminate(app);
  VDTCORLogDebug("Signaling VDTCORRegistrar that the app is terminating.");
  VDTCORRegistrar::sharedInstance()->appWillTerminate(app);
}
