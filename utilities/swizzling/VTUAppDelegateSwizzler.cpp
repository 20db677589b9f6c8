#include "utilities/swizzling/VTUAppDelegateSwizzler.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/base/Bundle.h"
#include "platform/base/Error.h"
#include "platform/base/Format.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/runtime/RuntimeExtras.h"
#include "utilities/VTUAppEnvironmentUtil.h"
#include "utilities/logger/VTULogger.h"
#include "utilities/swizzling/VTUProxySubclass.h"
#include "utilities/swizzling/VTUSwizzlingConstants.h"
#include "utilities/swizzling/VTUZeroingWeakContainer.h"

namespace rt = platform::runtime;
using platform::ObjectPtr;
using platform::Value;

namespace {

// Keys of the associated objects on a proxied delegate, by identity.
const char kRealIMPBySelectorKey[] = "VTU_realIMPBySelector";
const char kRealClassKey[] = "VTU_realClass";

std::string code(long number) { return platform::format(vtu::kSwizzlerCodeFormat, number); }

template <class... Args>
void log(VTULoggerLevel level, long number, const char* format, const Args&... args) {
  VTULoggerLog(level, vtu::kAppDelegateSwizzlerService, false, code(number), format, args...);
}

void assertFailed(const char* function, int line, const std::string& description) {
  platform::AssertionHandler::handleFailure(function, __FILE__, line, description);
}

struct ProxyState {
  std::mutex mutex;
  bool proxyOnce = false;
  bool apnsOnce = false;
  std::weak_ptr<platform::Object> originalDelegate;
  rt::Class* realClass = nullptr;
  rt::Class* subclass = nullptr;
};

ProxyState& state() {
  static auto* s = new ProxyState();
  return *s;
}

// True the first time for the token, until it is reset.
bool claimOnce(bool ProxyState::*token) {
  std::lock_guard<std::mutex> lock(state().mutex);
  if (state().*token) return false;
  state().*token = true;
  return true;
}

// Counts as its boolean value when a number; absent or of any other type counts as true.
bool switchValue(const platform::Bundle& bundle, const char* key) {
  const Value& value = bundle.objectForInfoDictionaryKey(key);
  return value.isNumber() ? value.boolValue() : true;
}

// ---- Donors: the implementations the generated subclass carries.

bool donorOpenURLOptions(platform::Object& self, ObjectPtr app, std::string url,
                         Value::Dictionary options) {
  const char* selector = vtu::kOpenURLOptionsSelector;
  rt::IMP real = VTUAppDelegateSwizzler::originalImplementationForSelector(selector, &self);
  bool handled = false;
  VTUAppDelegateSwizzler::notifyInterceptorsWithMethodSelector(
      selector, [&](const ObjectPtr& interceptor) {
        if (rt::msgSend<bool>(interceptor, selector, app, url, options)) handled = true;
      });
  if (real && real->call<bool>(self, app, url, options)) handled = true;
  return handled;
}

bool donorOpenURLSourceApplication(platform::Object& self, ObjectPtr app, std::string url,
                                   std::string sourceApplication, Value annotation) {
  const char* selector = vtu::kOpenURLSourceApplicationSelector;
  rt::IMP real = VTUAppDelegateSwizzler::originalImplementationForSelector(selector, &self);
  bool handled = false;
  VTUAppDelegateSwizzler::notifyInterceptorsWithMethodSelector(
      selector, [&](const ObjectPtr& interceptor) {
        if (rt::msgSend<bool>(interceptor, selector, app, url, sourceApplication, annotation)) {
          handled = true;
        }
      });
  if (real && real->call<bool>(self, app, url, sourceApplication, annotation)) handled = true;
  return handled;
}

bool donorContinueUserActivity(platform::Object& self, ObjectPtr app, ObjectPtr activity,
                               std::function<void(Value::Array)> restorationHandler) {
  const char* selector = vtu::kContinueUserActivitySelector;
  rt::IMP real = VTUAppDelegateSwizzler::originalImplementationForSelector(selector, &self);
  bool handled = false;
  VTUAppDelegateSwizzler::notifyInterceptorsWithMethodSelector(
      selector, [&](const ObjectPtr& interceptor) {
        if (rt::msgSend<bool>(interceptor, selector, app, activity, restorationHandler)) {
          handled = true;
        }
      });
  if (real && real->call<bool>(self, app, activity, restorationHandler)) handled = true;
  return handled;
}

void donorBackgroundURLSession(platform::Object& self, ObjectPtr app, std::string identifier,
                               std::function<void()> completion) {
  const char* selector = vtu::kBackgroundURLSessionSelector;
  rt::IMP real = VTUAppDelegateSwizzler::originalImplementationForSelector(selector, &self);
  VTUAppDelegateSwizzler::notifyInterceptorsWithMethodSelector(
      selector, [&](const ObjectPtr& interceptor) {
        rt::msgSend<void>(interceptor, selector, app, identifier, completion);
      });
  if (real) real->call<void>(self, app, identifier, completion);
}

std::string donorFakeDescription(platform::Object& self) {
  Value realClass = rt::getAssociatedObject(&self, kRealClassKey);
  auto* cls = dynamic_cast<rt::Class*>(realClass.object().get());
  const std::string name = cls ? cls->name() : rt::objectGetClassName(&self);
  return platform::format(vtu::kFakeDescriptionFormat, name, platform::pointerValue(&self));
}

// Remote-notification donors call interceptors only for operations the delegate protocol
// describes, as the platform builds its invocation from that description.
bool protocolDescribes(const char* selector) {
  rt::Protocol* protocol = rt::protocolNamed(vtu::kApplicationDelegateProtocol);
  return protocol && protocol->methodDescription(selector, false, true) != nullptr;
}

template <class... Args>
void forwardRemoteNotification(platform::Object& self, const char* selector, const Args&... args) {
  rt::IMP real = VTUAppDelegateSwizzler::originalImplementationForSelector(selector, &self);
  if (protocolDescribes(selector)) {
    VTUAppDelegateSwizzler::notifyInterceptorsWithMethodSelector(
        selector,
        [&](const ObjectPtr& interceptor) { rt::msgSend<void>(interceptor, selector, args...); });
  }
  if (real) real->call<void>(self, args...);
}

void donorDidRegister(platform::Object& self, ObjectPtr app, Value deviceToken) {
  forwardRemoteNotification(self, vtu::kDidRegisterForRemoteNotificationsSelector, app,
                            deviceToken);
}

void donorDidFail(platform::Object& self, ObjectPtr app, ObjectPtr error) {
  forwardRemoteNotification(self, vtu::kDidFailToRegisterForRemoteNotificationsSelector, app,
                            error);
}

void donorDidReceive(platform::Object& self, ObjectPtr app, Value::Dictionary userInfo) {
  forwardRemoteNotification(self, vtu::kDidReceiveRemoteNotificationSelector, app, userInfo);
}

// One shared completion for everyone called; the system's completion runs once, on the main
// queue, when every call has answered.
struct FetchResults {
  std::mutex mutex;
  long expected = 0;
  std::vector<long> results;
};

long mergeFetchResults(const std::vector<long>& results) {
  auto has = [&](VTUBackgroundFetchResult r) {
    return std::find(results.begin(), results.end(), static_cast<long>(r)) != results.end();
  };
  if (has(VTUBackgroundFetchResult::newData))
    return static_cast<long>(VTUBackgroundFetchResult::newData);
  if (has(VTUBackgroundFetchResult::noData))
    return static_cast<long>(VTUBackgroundFetchResult::noData);
  return static_cast<long>(VTUBackgroundFetchResult::failed);
}

void donorDidReceiveFetch(platform::Object& self, ObjectPtr app, Value::Dictionary userInfo,
                          std::function<void(long)> completion) {
  const char* selector = vtu::kDidReceiveRemoteNotificationFetchSelector;
  rt::IMP real = VTUAppDelegateSwizzler::originalImplementationForSelector(selector, &self);
  auto group = platform::DispatchGroup::create();
  auto results = std::make_shared<FetchResults>();
  // A completion called more often than there were calls must not unbalance the wait counter.
  std::function<void(long)> shared = [group, results](long result) {
    {
      std::lock_guard<std::mutex> lock(results->mutex);
      if (static_cast<long>(results->results.size()) >= results->expected) return;
      results->results.push_back(result);
    }
    group->leave();
  };
  auto enter = [&] {
    std::lock_guard<std::mutex> lock(results->mutex);
    ++results->expected;
    group->enter();
  };
  if (protocolDescribes(selector)) {
    VTUAppDelegateSwizzler::notifyInterceptorsWithMethodSelector(
        selector, [&](const ObjectPtr& interceptor) {
          enter();
          rt::msgSend<void>(interceptor, selector, app, userInfo, shared);
        });
  }
  if (real) {
    enter();
    real->call<void>(self, app, userInfo, shared);
  }
  group->notify(platform::DispatchQueue::main(), [results, completion] {
    std::vector<long> answers;
    {
      std::lock_guard<std::mutex> lock(results->mutex);
      answers = results->results;
    }
    if (completion) completion(mergeFetchResults(answers));
  });
}

void registerDonorClass(rt::Class& cls) {
  cls.addInstanceMethod(vtu::kOpenURLOptionsSelector, donorOpenURLOptions, "B@:@@@");
  cls.addInstanceMethod(vtu::kOpenURLSourceApplicationSelector, donorOpenURLSourceApplication,
                        "B@:@@@@");
  cls.addInstanceMethod(vtu::kContinueUserActivitySelector, donorContinueUserActivity, "B@:@@@?");
  cls.addInstanceMethod(vtu::kBackgroundURLSessionSelector, donorBackgroundURLSession, "v@:@@@?");
  cls.addInstanceMethod(vtu::kFakeDescriptionSelector, donorFakeDescription, "@@:");
  cls.addInstanceMethod(vtu::kDonorDidRegisterSelector, donorDidRegister, "v@:@@");
  cls.addInstanceMethod(vtu::kDonorDidFailSelector, donorDidFail, "v@:@@");
  cls.addInstanceMethod(vtu::kDonorDidReceiveSelector, donorDidReceive, "v@:@@");
  cls.addInstanceMethod(vtu::kDonorDidReceiveFetchSelector, donorDidReceiveFetch, "v@:@@@?");
}

void proxyRemoteNotificationsMethods(rt::Class* subclass, rt::Class* realClass,
                                     const ObjectPtr& delegate) {
  if (!subclass || !delegate) return;
  Value stored = rt::getAssociatedObject(delegate.get(), kRealIMPBySelectorKey);
  Value::Dictionary implementations =
      stored.dictionary() ? *stored.dictionary() : Value::Dictionary();
  rt::Class* donors = VTUAppDelegateSwizzler::donorClass();
  VTUAppDelegateSwizzler::proxyDestinationSelector(vtu::kDidRegisterForRemoteNotificationsSelector,
                                                   vtu::kDonorDidRegisterSelector, donors, subclass,
                                                   realClass, &implementations);
  VTUAppDelegateSwizzler::proxyDestinationSelector(
      vtu::kDidFailToRegisterForRemoteNotificationsSelector, vtu::kDonorDidFailSelector, donors,
      subclass, realClass, &implementations);
  VTUAppDelegateSwizzler::proxyDestinationSelector(vtu::kDidReceiveRemoteNotificationSelector,
                                                   vtu::kDonorDidReceiveSelector, donors, subclass,
                                                   realClass, &implementations);
  if (rt::respondsToSelector(delegate, vtu::kDidReceiveRemoteNotificationFetchSelector)) {
    VTUAppDelegateSwizzler::proxyDestinationSelector(
        vtu::kDidReceiveRemoteNotificationFetchSelector, vtu::kDonorDidReceiveFetchSelector, donors,
        subclass, realClass, &implementations);
  }
  rt::setAssociatedObject(delegate.get(), kRealIMPBySelectorKey, Value(std::move(implementations)),
                          rt::AssociationPolicy::RetainNonatomic);
  VTUAppDelegateSwizzler::reassignAppDelegate();
}

}  // namespace

// ---- Switches and names

bool VTUAppDelegateSwizzler::isAppDelegateProxyEnabled() {
  auto bundle = platform::Bundle::mainBundle();
  if (!bundle) return true;
  return switchValue(*bundle, vtu::kLumoAppDelegateProxyEnabledKey) &&
         switchValue(*bundle, vtu::kVeltroAppDelegateProxyEnabledKey);
}

std::string VTUAppDelegateSwizzler::correctAppDelegateProxyKey() {
  return rt::classNamed(vtu::kLumoCoreClassName) ? vtu::kLumoAppDelegateProxyEnabledKey
                                                 : vtu::kVeltroAppDelegateProxyEnabledKey;
}

std::string VTUAppDelegateSwizzler::correctAlternativeWhenAppDelegateProxyNotCreated() {
  return rt::classNamed(vtu::kLumoCoreClassName) ? vtu::kAlternativeWithLumoCore : "";
}

VTUAppDelegateSwizzler::Class* VTUAppDelegateSwizzler::donorClass() {
  static rt::Class* cls = rt::registerClass(vtu::kAppDelegateSwizzlerClassName, "",
                                            sizeof(platform::Object), registerDonorClass);
  return cls;
}

// ---- Interceptors

VTUMutableDictionary& VTUAppDelegateSwizzler::interceptors() {
  static auto* registry = new VTUMutableDictionary();
  return *registry;
}

std::optional<std::string> VTUAppDelegateSwizzler::registerAppDelegateInterceptor(
    const ObjectPtr& interceptor) {
  if (!interceptor) {
    log(kVTULoggerLevelError, vtu::kAppDelegateNilInterceptorCode,
        vtu::kAppDelegateNilInterceptorMessage);
    assertFailed(__func__, __LINE__, vtu::kAppDelegateNilInterceptorAssertion);
    return std::nullopt;
  }
  if (!rt::conformsToProtocol(interceptor, vtu::kApplicationDelegateProtocol)) {
    log(kVTULoggerLevelError, vtu::kAppDelegateNonConformingCode,
        vtu::kAppDelegateNonConformingMessage);
    assertFailed(__func__, __LINE__, vtu::kAppDelegateNonConformingMessage);
    return std::nullopt;
  }
  const std::string identifier = platform::format(vtu::kInterceptorIDFormat, vtu::kProxyPrefix,
                                                  platform::pointerValue(interceptor.get()));
  if (identifier.empty()) {
    log(kVTULoggerLevelError, vtu::kAppDelegateEmptyIDCode, vtu::kAppDelegateEmptyIDMessage);
    return std::nullopt;
  }
  interceptors().setObject(Value(std::make_shared<VTUZeroingWeakContainer>(interceptor)),
                           identifier);
  return identifier;
}

void VTUAppDelegateSwizzler::unregisterAppDelegateInterceptorWithID(
    const std::optional<std::string>& identifier) {
  if (!identifier) {
    log(kVTULoggerLevelError, vtu::kAppDelegateUnregisterEmptyCode,
        vtu::kAppDelegateUnregisterEmptyMessage);
    assertFailed(__func__, __LINE__, vtu::kAppDelegateUnregisterNilAssertion);
    return;
  }
  if (identifier->empty()) {
    assertFailed(__func__, __LINE__, vtu::kAppDelegateUnregisterEmptyMessage);
    return;
  }
  auto container = interceptors().objectForKey(*identifier).objectAs<VTUZeroingWeakContainer>();
  if (!container || !container->object()) {
    log(kVTULoggerLevelError, vtu::kAppDelegateUnregisterUnknownCode,
        vtu::kAppDelegateUnregisterUnknownMessage, *identifier);
    return;
  }
  interceptors().removeObjectForKey(*identifier);
}

void VTUAppDelegateSwizzler::clearInterceptors() { interceptors().removeAllObjects(); }

void VTUAppDelegateSwizzler::notifyInterceptorsWithMethodSelector(
    const std::string& selector, const std::function<void(const ObjectPtr&)>& callback) {
  if (!callback) return;
  const Value::Dictionary snapshot = interceptors().dictionary();
  for (const auto& [identifier, entry] : snapshot) {
    auto container = entry.objectAs<VTUZeroingWeakContainer>();
    ObjectPtr interceptor = container ? container->object() : nullptr;
    if (!interceptor) {
      log(kVTULoggerLevelWarning, vtu::kAppDelegateInterceptorGoneCode,
          vtu::kAppDelegateInterceptorGoneMessage, identifier);
      interceptors().removeObjectForKey(identifier);
      continue;
    }
    if (rt::respondsToSelector(interceptor, selector)) callback(interceptor);
  }
}

// ---- Installation

ObjectPtr VTUAppDelegateSwizzler::sharedApplication() {
  if (VTUAppEnvironmentUtil::isAppExtension()) return nullptr;
  rt::Class* cls = rt::classNamed(vtu::kApplicationClassName);
  if (!cls || !rt::classGetClassMethod(cls, vtu::kSharedApplicationSelector)) return nullptr;
  return rt::msgSend<ObjectPtr>(static_cast<platform::Object*>(cls),
                                vtu::kSharedApplicationSelector);
}

ObjectPtr VTUAppDelegateSwizzler::originalDelegate() {
  std::lock_guard<std::mutex> lock(state().mutex);
  return state().originalDelegate.lock();
}

void VTUAppDelegateSwizzler::resetProxyOriginalDelegateOnceToken() {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().proxyOnce = false;
  state().apnsOnce = false;
}

void VTUAppDelegateSwizzler::proxyOriginalDelegate() {
  if (VTUAppEnvironmentUtil::isAppExtension()) return;
  if (!claimOnce(&ProxyState::proxyOnce)) return;
  ObjectPtr app = sharedApplication();
  ObjectPtr delegate = app ? rt::msgSend<ObjectPtr>(app, vtu::kDelegateKey) : nullptr;
  proxyAppDelegate(delegate);
}

void VTUAppDelegateSwizzler::proxyOriginalDelegateIncludingAPNSMethods() {
  if (VTUAppEnvironmentUtil::isAppExtension()) return;
  proxyOriginalDelegate();
  if (!claimOnce(&ProxyState::apnsOnce)) return;
  rt::Class* subclass;
  rt::Class* realClass;
  {
    std::lock_guard<std::mutex> lock(state().mutex);
    subclass = state().subclass;
    realClass = state().realClass;
  }
  proxyRemoteNotificationsMethods(subclass, realClass, originalDelegate());
}

void VTUAppDelegateSwizzler::proxyAppDelegate(const ObjectPtr& delegate) {
  if (!delegate || !rt::conformsToProtocol(delegate, vtu::kApplicationDelegateProtocol)) {
    log(kVTULoggerLevelNotice, vtu::kAppDelegateNotConformingCode,
        vtu::kAppDelegateNotConformingMessage, correctAlternativeWhenAppDelegateProxyNotCreated());
    return;
  }
  if (!isAppDelegateProxyEnabled()) {
    log(kVTULoggerLevelNotice, vtu::kAppDelegateProxyDisabledCode,
        vtu::kAppDelegateProxyDisabledMessage, correctAlternativeWhenAppDelegateProxyNotCreated());
    return;
  }
  try {
    rt::Class* realClass = rt::objectGetClass(delegate);
    {
      std::lock_guard<std::mutex> lock(state().mutex);
      state().realClass = realClass;
    }
    rt::Class* subclass = createSubclassWithObject(delegate);
    {
      std::lock_guard<std::mutex> lock(state().mutex);
      state().subclass = subclass;
    }
    reassignAppDelegate();
  } catch (const std::exception&) {
    log(kVTULoggerLevelError, vtu::kAppDelegateProxyFailedCode, vtu::kAppDelegateProxyFailedMessage,
        correctAlternativeWhenAppDelegateProxyNotCreated());
  }
}

VTUAppDelegateSwizzler::Class* VTUAppDelegateSwizzler::createSubclassWithObject(
    const ObjectPtr& object) {
  const char* function = __func__;
  VTUProxySubclassSetup setup;
  setup.realIMPBySelectorKey = kRealIMPBySelectorKey;
  setup.realClassKey = kRealClassKey;
  setup.addMethods = [&object](rt::Class* subclass, rt::Class* realClass) {
    rt::Class* donors = donorClass();
    Value::Dictionary implementations;
    proxyDestinationSelector(vtu::kContinueUserActivitySelector, vtu::kContinueUserActivitySelector,
                             donors, subclass, realClass, &implementations);
    if (rt::respondsToSelector(object, vtu::kOpenURLOptionsSelector)) {
      proxyDestinationSelector(vtu::kOpenURLOptionsSelector, vtu::kOpenURLOptionsSelector, donors,
                               subclass, realClass, &implementations);
    }
    proxyDestinationSelector(vtu::kBackgroundURLSessionSelector,
                             vtu::kBackgroundURLSessionSelector, donors, subclass, realClass,
                             &implementations);
    proxyDestinationSelector(vtu::kOpenURLSourceApplicationSelector,
                             vtu::kOpenURLSourceApplicationSelector, donors, subclass, realClass,
                             &implementations);
    addInstanceMethodWithDestinationSelector(vtu::kDescriptionSelector,
                                             vtu::kFakeDescriptionSelector, donors, subclass);
    return implementations;
  };
  setup.nameTaken = [](const std::string& realName, const std::string& name) {
    log(kVTULoggerLevelError, vtu::kAppDelegateSubclassExistsCode,
        vtu::kAppDelegateSubclassExistsMessage, realName, name);
  };
  setup.allocationFailed = [](const std::string& realName) {
    log(kVTULoggerLevelError, vtu::kAppDelegateSubclassNilCode, vtu::kAppDelegateSubclassNilMessage,
        realName);
  };
  setup.sizeMismatch = [function](const std::string& name) {
    log(kVTULoggerLevelError, vtu::kAppDelegateSizeMismatchCode,
        vtu::kAppDelegateSizeMismatchMessage, name);
    assertFailed(function, __LINE__, vtu::kSizeAssertion);
  };
  setup.proxied = [] {
    log(kVTULoggerLevelDebug, vtu::kAppDelegateProxyCreatedCode,
        vtu::kAppDelegateProxyCreatedMessage, correctAppDelegateProxyKey());
  };
  return VTUInstallProxySubclass(object, setup);
}

void VTUAppDelegateSwizzler::proxyDestinationSelector(const std::string& destination,
                                                      const std::string& source, Class* fromClass,
                                                      Class* toClass, Class* realClass,
                                                      Value::Dictionary* implementations) {
  addInstanceMethodWithDestinationSelector(destination, source, fromClass, toClass);
  rt::IMP real = implementationOfMethodSelector(destination, realClass);
  if (implementations) (*implementations)[destination] = real ? Value(real) : Value::null();
}

void VTUAppDelegateSwizzler::addInstanceMethodWithDestinationSelector(
    const std::string& destination, const std::string& source, Class* fromClass, Class* toClass) {
  std::optional<rt::Method> method = rt::classGetInstanceMethod(fromClass, source);
  if (!method || !toClass) return;
  if (!rt::classAddMethod(toClass, destination, method->implementation, method->types)) {
    log(kVTULoggerLevelWarning, vtu::kAppDelegateMethodExistsCode, vtu::kMethodExistsMessage,
        destination);
  }
}

void VTUAppDelegateSwizzler::addInstanceMethodWithSelector(const std::string& selector,
                                                           Class* fromClass, Class* toClass) {
  addInstanceMethodWithDestinationSelector(selector, selector, fromClass, toClass);
}

rt::IMP VTUAppDelegateSwizzler::implementationOfMethodSelector(const std::string& selector,
                                                               const Class* fromClass) {
  std::optional<rt::Method> method = rt::classGetInstanceMethod(fromClass, selector);
  return method ? method->implementation : nullptr;
}

rt::IMP VTUAppDelegateSwizzler::originalImplementationForSelector(const std::string& selector,
                                                                  const platform::Object* object) {
  Value stored = rt::getAssociatedObject(object, kRealIMPBySelectorKey);
  return std::dynamic_pointer_cast<const rt::Implementation>(stored[selector].object());
}

void VTUAppDelegateSwizzler::reassignAppDelegate() {
  ObjectPtr app = sharedApplication();
  if (!app) return;
  ObjectPtr delegate = rt::msgSend<ObjectPtr>(app, vtu::kDelegateKey);
  // Cleared and set again so that the application asks afresh which operations it answers.
  rt::msgSend<void>(app, vtu::kSetDelegateSelector, ObjectPtr());
  rt::msgSend<void>(app, vtu::kSetDelegateSelector, delegate);
  {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().originalDelegate = delegate;
  }
  VTUAppDelegateObserver::sharedInstance().observeUIApplication();
}

// ---- Observer

VTUAppDelegateObserver& VTUAppDelegateObserver::sharedInstance() {
  static auto* shared = new VTUAppDelegateObserver();
  return *shared;
}

void VTUAppDelegateObserver::observeUIApplication() {
  std::lock_guard<std::mutex> lock(state().mutex);
  if (isObserving_) return;
  ObjectPtr app = VTUAppDelegateSwizzler::sharedApplication();
  token_ = rt::observeObjectProperty(
      app, vtu::kDelegateKey,
      [this](ObjectPtr oldValue, ObjectPtr newValue) { delegateChanged(oldValue, newValue); });
  isObserving_ = token_ != nullptr;
}

bool VTUAppDelegateObserver::isObserving() const {
  std::lock_guard<std::mutex> lock(state().mutex);
  return isObserving_;
}

void VTUAppDelegateObserver::delegateChanged(const ObjectPtr& oldValue, const ObjectPtr& newValue) {
  if (newValue == oldValue) return;
  std::shared_ptr<void> ending;
  {
    std::lock_guard<std::mutex> lock(state().mutex);
    if (!oldValue || state().originalDelegate.lock() != oldValue) return;
    state().originalDelegate.reset();
    ending = std::move(token_);
    isObserving_ = false;
  }
}
