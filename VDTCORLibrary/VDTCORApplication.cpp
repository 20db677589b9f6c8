#include "VDTCORLibrary/VDTCORApplication.h"

#include "VDTCORLibrary/VDTCORConsoleLogger.h"
#include "VDTCORLibrary/VDTCORConstants.h"
#include "platform/app/AppConstants.h"
#include "platform/app/Application.h"
#include "platform/base/Bundle.h"
#include "platform/base/Error.h"
#include "platform/runtime/Runtime.h"

namespace {

// Made at load time. The platform's invalid identifier must be the transport's, or tasks could
// never be told apart from refusals.
struct ApplicationLoader {
  ApplicationLoader() {
    static_assert(VDTCORBackgroundIdentifierInvalid == platform::app::kInvalidBackgroundTask,
                  "VDTCORBackgroundIdentifierInvalid and UIBackgroundTaskInvalid should be the same.");
  }
} applicationLoader;

}  // namespace

std::shared_ptr<VDTCORApplication> VDTCORApplication::sharedApplication() {
  static std::shared_ptr<VDTCORApplication>* shared = [] {
    VDTCORLogDebug(
        "VDT is initializing. Please note that if you quit the app via the debugger and not "
        "through a lifecycle event, event data will remain on disk but storage won't have a "
        "reference to them since the singleton wasn't saved to disk.");
    return new std::shared_ptr<VDTCORApplication>(std::make_shared<VDTCORApplication>());
  }();
  return *shared;
}

VDTCORApplication::VDTCORApplication() {
  auto& center = platform::NotificationCenter::defaultCenter();
  // The handlers may outlive a non-shared instance only as long as the tokens do.
  auto observe = [&](const char* name, void (VDTCORApplication::*handler)()) {
    observations_.push_back(center.addObserver(
        name, platform::Value(), nullptr,
        [this, handler](const platform::Notification&) { (this->*handler)(); }, this));
  };
  observe(platform::app::kDidEnterBackgroundNotification,
          &VDTCORApplication::iOSApplicationDidEnterBackground);
  observe(kVDTCORSceneWillDeactivateNotification,
          &VDTCORApplication::iOSApplicationDidEnterBackground);
  observe(platform::app::kWillEnterForegroundNotification,
          &VDTCORApplication::iOSApplicationWillEnterForeground);
  observe(kVDTCORSceneWillEnterForegroundNotification,
          &VDTCORApplication::iOSApplicationWillEnterForeground);
  observe(platform::app::kWillTerminateNotification,
          &VDTCORApplication::iOSApplicationWillTerminate);
}

VDTCORApplication::~VDTCORApplication() {
  for (auto& token : observations_) platform::NotificationCenter::defaultCenter().removeObservation(token);
}

bool VDTCORApplication::isAppExtension() {
  auto bundle = platform::Bundle::mainBundle();
  if (!bundle) return false;
  std::string path = bundle->bundlePath().string();
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path.size() >= 6 && path.compare(path.size() - 6, 6, ".appex") == 0;
}

platform::ObjectPtr VDTCORApplication::sharedApplicationForBackgroundTask() {
  if (isAppExtension()) return nullptr;
  namespace rt = platform::runtime;
  rt::Class* cls = rt::classNamed(platform::app::kApplicationClassName);
  if (!cls || !rt::respondsToSelector(cls, "sharedApplication")) return nullptr;
  return rt::msgSend<platform::ObjectPtr>(static_cast<platform::Object*>(cls), "sharedApplication");
}

VDTCORBackgroundIdentifier VDTCORApplication::beginBackgroundTaskWithName(
    const std::string& name, std::function<void()> expirationHandler) {
  auto app = std::dynamic_pointer_cast<platform::app::Application>(
      sharedApplicationForBackgroundTask());
  if (!app) return VDTCORBackgroundIdentifierInvalid;
  VDTCORBackgroundIdentifier identifier =
      app->beginBackgroundTask(name, std::move(expirationHandler));
  if (identifier != VDTCORBackgroundIdentifierInvalid) {
    VDTCORLogDebug("Creating background task with name:%@ bgID:%ld", name,
                   static_cast<long>(identifier));
  }
  return identifier;
}

void VDTCORApplication::endBackgroundTask(VDTCORBackgroundIdentifier identifier) {
  if (identifier == VDTCORBackgroundIdentifierInvalid) return;
  VDTCORLogDebug("Ending background task with ID:%ld was successful", static_cast<long>(identifier));
  auto app = std::dynamic_pointer_cast<platform::app::Application>(
      sharedApplicationForBackgroundTask());
  if (app) app->endBackgroundTask(identifier);
}

void VDTCORApplication::iOSApplicationDidEnterBackground() {
  isRunningInBackground_ = true;
  VDTCORLogDebug("VDTCORPlatform is sending a notif that the app is backgrounding.");
  platform::NotificationCenter::defaultCenter().post(kVDTCORApplicationDidEnterBackgroundNotification);
}

void VDTCORApplication::iOSApplicationWillEnterForeground() {
  isRunningInBackground_ = false;
  VDTCORLogDebug("VDTCORPlatform is sending a notif that the app is foregrounding.");
  platform::NotificationCenter::defaultCenter().post(
      kVDTCORApplicationWillEnterForegroundNotification);
}

void VDTCORApplication::iOSApplicationWillTerminate() {
  VDTCORLogDebug("VDTCORPlatform is sending a notif that the app is terminating.");
  platform::NotificationCenter::defaultCenter().post(kVDTCORApplicationWillTerminateNotification);
}
