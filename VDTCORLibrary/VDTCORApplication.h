// The transport's view of the application: background tasks through the platform application
// object (found by name at run time), the background flag, and the platform's application and
// scene notifications turned into the transport's own three. Made at load time; the flag is
// atomic, everything else is immutable after creation.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "VDTCORLibrary/VDTCORLifecycle.h"
#include "platform/base/Value.h"

class VDTCORApplication : public VDTCORApplicationProtocol {
 public:
  static std::shared_ptr<VDTCORApplication> sharedApplication();
  VDTCORApplication();
  ~VDTCORApplication() override;

  // 0 when no application object grants one (app extensions, programs without an app).
  VDTCORBackgroundIdentifier beginBackgroundTaskWithName(
      const std::string& name, std::function<void()> expirationHandler) override;
  void endBackgroundTask(VDTCORBackgroundIdentifier identifier) override;

  bool isRunningInBackground() const { return isRunningInBackground_; }
  void setIsRunningInBackground(bool value) { isRunningInBackground_ = value; }

  // The main bundle's path ends with ".appex".
  static bool isAppExtension();
  // The shared object of the runtime class "UIApplication", or null (and null in extensions).
  static platform::ObjectPtr sharedApplicationForBackgroundTask();

  void iOSApplicationDidEnterBackground();
  void iOSApplicationWillEnterForeground();
  void iOSApplicationWillTerminate();

 private:
  std::atomic<bool> isRunningInBackground_{false};
  std::vector<platform::ObservationToken> observations_;
};
