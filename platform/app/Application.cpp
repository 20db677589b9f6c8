#include "platform/app/Application.h"

#include <algorithm>
#include <cstdio>

#include "platform/app/AppConstants.h"
#include "platform/app/LaunchArguments.h"
#include "platform/app/UrlOpener.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/NotificationCenter.h"

namespace platform::app {

struct Application::DelegateObservers {
  std::mutex mutex;
  std::uint64_t next = 1;
  std::map<std::uint64_t, std::function<void(ObjectPtr, ObjectPtr)>> observers;
};

namespace {

// The delegate protocol: every operation optional, so that a delegate answers only what it has.
void registerApplicationDelegateProtocol() {
  std::vector<runtime::MethodDescription> methods;
  for (const char* selector :
       {"application:didFinishLaunchingWithOptions:", "applicationDidBecomeActive:",
        "applicationWillResignActive:", "applicationDidEnterBackground:",
        "applicationWillEnterForeground:", "applicationWillTerminate:",
        "application:openURL:options:", "application:openURL:sourceApplication:annotation:",
        "application:continueUserActivity:restorationHandler:",
        "application:handleEventsForBackgroundURLSession:completionHandler:",
        "application:didRegisterForRemoteNotificationsWithDeviceToken:",
        "application:didFailToRegisterForRemoteNotificationsWithError:",
        "application:didReceiveRemoteNotification:",
        "application:didReceiveRemoteNotification:fetchCompletionHandler:"}) {
    methods.push_back({selector, "", /*required=*/false, /*instance=*/true});
  }
  runtime::registerProtocol(kApplicationDelegateProtocolName, std::move(methods));
}

void registerApplicationClass() {
  static std::once_flag once;
  std::call_once(once, [] {
    registerApplicationDelegateProtocol();
    runtime::registerClass(
        kApplicationClassName, runtime::kRootClassName, sizeof(Application),
        [](runtime::Class& cls) {
          cls.addClassMethod(
              "sharedApplication",
              [](Object&) -> ObjectPtr { return Application::sharedApplication(); }, "@@:");
          cls.addInstanceMethod(
              "delegate",
              [](Object& self) -> ObjectPtr {
                return static_cast<Application&>(self).delegateStorage();
              },
              "@@:");
          cls.addInstanceMethod(
              "setDelegate:",
              [](Object& self, ObjectPtr delegate) {
                static_cast<Application&>(self).setDelegateStorage(std::move(delegate));
              },
              "v@:@");
          cls.addInstanceMethod(
              "openURL:options:completionHandler:",
              [](Object&, std::string url, Value::Dictionary, std::function<void(bool)> done) {
                UrlOpener::open(url, std::move(done));
              },
              "v@:@@@?");
        });
  });
}

}  // namespace

std::shared_ptr<Application> Application::sharedApplication() {
  static auto* shared = new std::shared_ptr<Application>([] {
    registerApplicationClass();
    return std::make_shared<Application>();
  }());
  return *shared;
}

Application::Application() : observers_(std::make_shared<DelegateObservers>()) {
  registerApplicationClass();
}

std::string Application::className() const { return kApplicationClassName; }

ObjectPtr Application::delegate() {
  return runtime::msgSend<ObjectPtr>(shared_from_this(), "delegate");
}

void Application::setDelegate(ObjectPtr delegate) {
  runtime::msgSend<void>(shared_from_this(), "setDelegate:", std::move(delegate));
}

void Application::setDelegateStorage(ObjectPtr delegate) {
  ObjectPtr old = std::exchange(delegate_, delegate);
  std::vector<std::function<void(ObjectPtr, ObjectPtr)>> toTell;
  {
    std::lock_guard<std::mutex> lock(observers_->mutex);
    for (auto& [id, fn] : observers_->observers) toTell.push_back(fn);
  }
  for (auto& fn : toTell) fn(old, delegate);
}

std::shared_ptr<void> Application::observeDelegate(
    std::function<void(ObjectPtr, ObjectPtr)> observer) {
  std::uint64_t id;
  {
    std::lock_guard<std::mutex> lock(observers_->mutex);
    id = observers_->next++;
    observers_->observers[id] = std::move(observer);
  }
  std::weak_ptr<DelegateObservers> weak = observers_;
  return std::shared_ptr<void>(nullptr, [weak, id](void*) {
    if (auto o = weak.lock()) {
      std::lock_guard<std::mutex> lock(o->mutex);
      o->observers.erase(id);
    }
  });
}

void Application::addWindow(std::shared_ptr<Window> window) {
  if (window && std::find(windows_.begin(), windows_.end(), window) == windows_.end()) {
    windows_.push_back(std::move(window));
  }
}

void Application::removeWindow(const std::shared_ptr<Window>& window) {
  windows_.erase(std::remove(windows_.begin(), windows_.end(), window), windows_.end());
}

void Application::openURL(const std::string& url, const Value::Dictionary& options,
                          std::function<void(bool)> completion) {
  runtime::msgSend<void>(shared_from_this(), "openURL:options:completionHandler:", std::string(url),
                         Value::Dictionary(options), std::move(completion));
}

ui::UserInterfaceIdiom Application::userInterfaceIdiom() const {
  auto value = launchArgument(kIdiomArgument);
  return value && *value == kIdiomTabletValue ? ui::UserInterfaceIdiom::pad
                                              : ui::UserInterfaceIdiom::phone;
}

BackgroundTaskIdentifier Application::beginBackgroundTask(const std::string&,
                                                          std::function<void()> expiration) {
  std::lock_guard<std::mutex> lock(tasksMutex_);
  const auto id = nextTask_++;
  tasks_[id] = std::move(expiration);
  return id;
}

void Application::endBackgroundTask(BackgroundTaskIdentifier identifier) {
  std::lock_guard<std::mutex> lock(tasksMutex_);
  tasks_.erase(identifier);
}

std::size_t Application::backgroundTaskCount() const {
  std::lock_guard<std::mutex> lock(tasksMutex_);
  return tasks_.size();
}

void Application::expireBackgroundTasks() {
  std::map<BackgroundTaskIdentifier, std::function<void()>> expiring;
  {
    std::lock_guard<std::mutex> lock(tasksMutex_);
    expiring.swap(tasks_);
  }
  for (auto& [id, handler] : expiring) {
    if (handler) handler();
  }
}

void Application::post(const char* name) {
  NotificationCenter::defaultCenter().post(name, Value(shared_from_this()));
}

void Application::tellDelegate(const char* selector) {
  ObjectPtr d = delegate();
  if (!d || !runtime::respondsToSelector(d, selector)) return;
  try {
    runtime::msgSend<void>(d, selector, ObjectPtr(shared_from_this()));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "The application delegate failed in %s: %s\n", selector, e.what());
  }
}

void Application::finishLaunching(const Value::Dictionary& launchOptions) {
  if (launched_) return;
  launched_ = true;
  ObjectPtr d = delegate();
  const char* selector = "application:didFinishLaunchingWithOptions:";
  if (d && runtime::respondsToSelector(d, selector)) {
    try {
      runtime::msgSend<bool>(d, selector, ObjectPtr(shared_from_this()),
                             Value::Dictionary(launchOptions));
    } catch (const std::exception& e) {
      std::fprintf(stderr, "The application delegate failed in %s: %s\n", selector, e.what());
    }
  }
  post(kDidFinishLaunchingNotification);
}

void Application::becomeActive() {
  state_ = ApplicationState::active;
  tellDelegate("applicationDidBecomeActive:");
  post(kDidBecomeActiveNotification);
}

void Application::resignActive() {
  state_ = ApplicationState::inactive;
  tellDelegate("applicationWillResignActive:");
  post(kWillResignActiveNotification);
}

void Application::enterBackground() {
  state_ = ApplicationState::background;
  tellDelegate("applicationDidEnterBackground:");
  post(kDidEnterBackgroundNotification);
  // Tasks begun before the allowance ends expire then, unless the app came back meanwhile.
  const auto epoch = ++backgroundEpoch_;
  std::weak_ptr<Object> weak = shared_from_this();
  DispatchQueue::main()->after(kBackgroundTaskAllowance, [weak, epoch] {
    auto self = std::static_pointer_cast<Application>(weak.lock());
    if (self && self->backgroundEpoch_ == epoch && self->state_ == ApplicationState::background) {
      self->expireBackgroundTasks();
    }
  });
}

void Application::enterForeground() {
  ++backgroundEpoch_;
  state_ = ApplicationState::inactive;
  tellDelegate("applicationWillEnterForeground:");
  post(kWillEnterForegroundNotification);
}

void Application::handleFocusChanged(bool focused) {
  if (terminated_) return;
  if (focused) {
    if (state_ == ApplicationState::background) enterForeground();
    if (state_ != ApplicationState::active) becomeActive();
  } else if (state_ == ApplicationState::active) {
    resignActive();
  }
}

void Application::handleMinimizedChanged(bool minimized) {
  if (terminated_) return;
  if (minimized) {
    if (state_ == ApplicationState::active) resignActive();
    if (state_ != ApplicationState::background) enterBackground();
  } else if (state_ == ApplicationState::background) {
    enterForeground();
  }
}

void Application::handleWillTerminate() {
  if (terminated_) return;
  if (state_ == ApplicationState::active) resignActive();
  if (state_ != ApplicationState::background) enterBackground();
  terminated_ = true;
  tellDelegate("applicationWillTerminate:");
  post(kWillTerminateNotification);
  expireBackgroundTasks();
}

}  // namespace platform::app
