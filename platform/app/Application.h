// The application object: a runtime object of class "UIApplication" made once per process
// (class method "sharedApplication"), with its delegate, its windows, URL opening, background
// tasks and the life-cycle notifications. The window host's focus, minimise and quit events come
// in through the handle* methods, which post the notifications in the platform's order and tell
// the delegate. Main thread only, except beginBackgroundTask/endBackgroundTask (any thread).
// The runtime class and the delegate protocol "UIApplicationDelegate" (all operations optional)
// are registered when the shared application is first asked for; the app runner does that first.
//
// Runtime methods of "UIApplication" (call them through runtime::msgSend, so replaced ones take
// effect):
//   "sharedApplication"  class method, ObjectPtr(Object& cls)
//   "delegate"           ObjectPtr(Object& self)
//   "setDelegate:"       void(Object& self, ObjectPtr delegate)
//   "openURL:options:completionHandler:"
//                        void(Object& self, std::string url, Value::Dictionary options,
//                             std::function<void(bool)> completion)
// Delegate methods the application sends when the delegate responds, each with the application
// object as first argument (ObjectPtr):
//   "application:didFinishLaunchingWithOptions:"  bool(Object&, ObjectPtr, Value::Dictionary)
//   "applicationDidBecomeActive:", "applicationWillResignActive:",
//   "applicationDidEnterBackground:", "applicationWillEnterForeground:",
//   "applicationWillTerminate:"                   void(Object&, ObjectPtr)
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/app/Window.h"
#include "platform/runtime/Runtime.h"
#include "platform/ui/State.h"

namespace platform::app {

enum class ApplicationState { active = 0, inactive = 1, background = 2 };

using BackgroundTaskIdentifier = std::uint64_t;
inline constexpr BackgroundTaskIdentifier kInvalidBackgroundTask = 0;
// How long background tasks may run after the app enters the background before their expiration
// handlers are called (measured on Clock::current()).
inline constexpr double kBackgroundTaskAllowance = 30;

class Application : public runtime::RootObject {
 public:
  // The one application object (made and its runtime class registered on first use).
  static std::shared_ptr<Application> sharedApplication();
  std::string className() const override;

  // Through message send ("delegate" / "setDelegate:").
  ObjectPtr delegate();
  void setDelegate(ObjectPtr delegate);
  // Told (old, new) after every change of the delegate; the subscription ends with the token.
  std::shared_ptr<void> observeDelegate(std::function<void(ObjectPtr, ObjectPtr)> observer);

  const std::vector<std::shared_ptr<Window>>& windows() const { return windows_; }
  void addWindow(std::shared_ptr<Window> window);
  void removeWindow(const std::shared_ptr<Window>& window);

  // Hands the URL to the desktop (xdg-open by argv). Failures are silent: the completion, when
  // given, runs on the main queue with false.
  void openURL(const std::string& url, const Value::Dictionary& options,
               std::function<void(bool)> completion);

  // The idiom of the device, from the launch argument "-DeviceIdiom pad|phone" (phone by default).
  ui::UserInterfaceIdiom userInterfaceIdiom() const;

  ApplicationState applicationState() const { return state_; }

  // Background tasks: the expiration handler runs on the main queue when the allowance after
  // entering the background is used up, or when the app terminates, unless ended before.
  BackgroundTaskIdentifier beginBackgroundTask(const std::string& name,
                                               std::function<void()> expirationHandler);
  void endBackgroundTask(BackgroundTaskIdentifier identifier);
  std::size_t backgroundTaskCount() const;

  // ---- Life cycle, driven by the app runner from the window host's events.
  // Tells the delegate (didFinishLaunching) and posts
  // "UIApplicationDidFinishLaunchingNotification".
  void finishLaunching(const Value::Dictionary& launchOptions = {});
  // Focus gained: from the background first "WillEnterForeground", then "DidBecomeActive".
  // Focus lost while active: "WillResignActive".
  void handleFocusChanged(bool focused);
  // Minimised: "WillResignActive" (when active), then "DidEnterBackground". Restored:
  // "WillEnterForeground" (the focus event that follows makes it active).
  void handleMinimizedChanged(bool minimized);
  // Quit: "WillResignActive" and "DidEnterBackground" as needed, then "WillTerminate"; every
  // background task still running is expired. Only the first call does anything.
  void handleWillTerminate();

  // Used by sharedApplication; tests use the shared object.
  Application();
  // The storage behind the runtime's "delegate" / "setDelegate:" (call those instead).
  ObjectPtr delegateStorage() const { return delegate_; }
  void setDelegateStorage(ObjectPtr delegate);

 private:
  void post(const char* name);
  void tellDelegate(const char* selector);
  void becomeActive();
  void resignActive();
  void enterBackground();
  void enterForeground();
  void expireBackgroundTasks();

  ObjectPtr delegate_;
  std::vector<std::shared_ptr<Window>> windows_;
  ApplicationState state_ = ApplicationState::inactive;
  bool launched_ = false;
  bool terminated_ = false;
  std::uint64_t backgroundEpoch_ = 0;

  struct DelegateObservers;
  std::shared_ptr<DelegateObservers> observers_;

  mutable std::mutex tasksMutex_;
  BackgroundTaskIdentifier nextTask_ = 1;
  std::map<BackgroundTaskIdentifier, std::function<void()>> tasks_;
};

}  // namespace platform::app
