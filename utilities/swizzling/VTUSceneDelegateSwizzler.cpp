#include "utilities/swizzling/VTUSceneDelegateSwizzler.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "platform/base/Error.h"
#include "platform/base/Format.h"
#include "platform/dispatch/NotificationCenter.h"
#include "utilities/VTUAppEnvironmentUtil.h"
#include "utilities/logger/VTULogger.h"
#include "utilities/swizzling/VTUAppDelegateSwizzler.h"
#include "utilities/swizzling/VTUProxySubclass.h"
#include "utilities/swizzling/VTUSwizzlingConstants.h"
#include "utilities/swizzling/VTUZeroingWeakContainer.h"

namespace rt = platform::runtime;
using platform::ObjectPtr;
using platform::Value;

namespace {

// Keys of this proxy's associated objects: the same texts as the app-delegate proxy's, but
// keys of their own.
const char kRealIMPBySelectorKey[] = "VTU_realIMPBySelector";
const char kRealClassKey[] = "VTU_realClass";

std::string code(long number) { return platform::format(vtu::kSwizzlerCodeFormat, number); }

template <class... Args>
void log(VTULoggerLevel level, long number, const char* format, const Args&... args) {
  VTULoggerLog(level, vtu::kSceneDelegateSwizzlerService, false, code(number), format, args...);
}

void assertFailed(const char* function, int line, const std::string& description) {
  platform::AssertionHandler::handleFailure(function, __FILE__, line, description);
}

// Platform major version 13 or later.
bool platformSupportsScenes() {
  return std::atol(VTUAppEnvironmentUtil::systemVersion().c_str()) >=
         vtu::kSceneMinimumMajorVersion;
}

std::atomic<std::size_t> gSubclassPadding{0};

struct SceneState {
  std::mutex mutex;
  bool started = false;
  platform::ObservationToken subscription;
};

SceneState& state() {
  static auto* s = new SceneState();
  return *s;
}

void donorOpenURLContexts(platform::Object& self, ObjectPtr scene, Value urlContexts) {
  if (!platformSupportsScenes()) return;
  const char* selector = vtu::kSceneOpenURLContextsSelector;
  rt::IMP real = VTUSceneDelegateSwizzler::originalImplementationForSelector(selector, &self);
  VTUSceneDelegateSwizzler::notifyInterceptorsWithMethodSelector(
      selector, [&](const ObjectPtr& interceptor) {
        if (!rt::conformsToProtocol(interceptor, vtu::kSceneDelegateProtocol)) return;
        rt::msgSend<void>(interceptor, selector, scene, urlContexts);
      });
  if (real) real->call<void>(self, scene, urlContexts);
}

void registerDonorClass(rt::Class& cls) {
  cls.addInstanceMethod(vtu::kSceneOpenURLContextsSelector, donorOpenURLContexts, "v@:@@");
}

bool isScene(const ObjectPtr& object) {
  rt::Class* sceneClass = rt::classNamed(vtu::kSceneClassName);
  return object && sceneClass && rt::classIsSubclassOf(rt::objectGetClass(object), sceneClass);
}

}  // namespace

void VTUSceneDelegateSwizzler::setSubclassPaddingForTesting(std::size_t bytes) {
  gSubclassPadding = bytes;
}

bool VTUSceneDelegateSwizzler::isSceneDelegateProxyEnabled() {
  return VTUAppDelegateSwizzler::isAppDelegateProxyEnabled();
}

std::string VTUSceneDelegateSwizzler::correctSceneDelegateProxyKey() {
  return rt::classNamed(vtu::kLumoCoreClassName) ? vtu::kLumoAppDelegateProxyEnabledKey
                                                 : vtu::kVeltroAppDelegateProxyEnabledKey;
}

VTUSceneDelegateSwizzler::Class* VTUSceneDelegateSwizzler::donorClass() {
  static rt::Class* cls = rt::registerClass(vtu::kSceneDelegateSwizzlerClassName, "",
                                            sizeof(platform::Object), registerDonorClass);
  return cls;
}

void VTUSceneDelegateSwizzler::proxyOriginalSceneDelegate() {
  if (VTUAppEnvironmentUtil::isAppExtension()) return;
  {
    std::lock_guard<std::mutex> lock(state().mutex);
    if (state().started) return;
    state().started = true;
  }
  if (!platformSupportsScenes() || !isSceneDelegateProxyEnabled()) return;
  auto token = platform::NotificationCenter::defaultCenter().addObserver(
      vtu::kSceneWillConnectNotification, Value(), nullptr,
      [](const platform::Notification& n) { handleSceneWillConnect(n.object); });
  std::lock_guard<std::mutex> lock(state().mutex);
  state().subscription = std::move(token);
}

bool VTUSceneDelegateSwizzler::isSubscribed() {
  std::lock_guard<std::mutex> lock(state().mutex);
  return static_cast<bool>(state().subscription);
}

void VTUSceneDelegateSwizzler::handleSceneWillConnect(const Value& sceneObject) {
  if (!platformSupportsScenes()) return;
  ObjectPtr scene = sceneObject.object();
  // Inside the platform's own notification: a proxy that cannot be made is logged and left,
  // never raised into the scene's connection.
  if (isScene(scene)) proxySceneDelegate(scene, false);
}

void VTUSceneDelegateSwizzler::proxySceneDelegateIfNeeded(const ObjectPtr& scene) {
  proxySceneDelegate(scene, true);
}

void VTUSceneDelegateSwizzler::proxySceneDelegate(const ObjectPtr& scene,
                                                  bool assertOnSizeMismatch) {
  ObjectPtr delegate = rt::msgSend<ObjectPtr>(scene, vtu::kDelegateKey);
  rt::Class* realClass = rt::objectGetClass(delegate);
  if (!delegate || !realClass) return;
  if (realClass->name().rfind(vtu::kProxyPrefix, 0) == 0) return;  // proxied once

  const char* function = __func__;
  VTUProxySubclassSetup setup;
  setup.realIMPBySelectorKey = kRealIMPBySelectorKey;
  setup.realClassKey = kRealClassKey;
  setup.addMethods = [](rt::Class* subclass, rt::Class* realClass) {
    const char* selector = vtu::kSceneOpenURLContextsSelector;
    std::optional<rt::Method> donor = rt::classGetInstanceMethod(donorClass(), selector);
    if (donor && !rt::classAddMethod(subclass, selector, donor->implementation, donor->types)) {
      log(kVTULoggerLevelWarning, vtu::kSceneMethodExistsCode, vtu::kMethodExistsMessage,
          std::string(selector));
    }
    if (const std::size_t padding = gSubclassPadding.load()) {
      subclass->addIvar(rt::Ivar{"vtu_testPadding", "", padding, {}});
    }
    rt::IMP real = rt::classGetMethodImplementation(realClass, selector);
    return Value::Dictionary{{selector, real ? Value(real) : Value::null()}};
  };
  setup.nameTaken = [](const std::string& realName, const std::string& name) {
    log(kVTULoggerLevelError, vtu::kSceneSubclassCode, vtu::kSceneSubclassExistsMessage, realName,
        name);
  };
  setup.allocationFailed = [](const std::string& realName) {
    log(kVTULoggerLevelError, vtu::kSceneSubclassCode, vtu::kSceneSubclassNilMessage, realName);
  };
  setup.sizeMismatch = [function, assertOnSizeMismatch](const std::string& name) {
    log(kVTULoggerLevelError, vtu::kSceneSubclassCode, vtu::kSceneSizeMismatchMessage, name);
    if (assertOnSizeMismatch) assertFailed(function, __LINE__, vtu::kSizeAssertion);
  };
  setup.proxied = [] {
    log(kVTULoggerLevelDebug, vtu::kSceneSubclassCode, vtu::kSceneProxyCreatedMessage,
        correctSceneDelegateProxyKey());
  };
  VTUInstallProxySubclass(delegate, setup);
}

VTUMutableDictionary& VTUSceneDelegateSwizzler::interceptors() {
  static auto* registry = new VTUMutableDictionary();
  return *registry;
}

void VTUSceneDelegateSwizzler::clearInterceptors() { interceptors().removeAllObjects(); }

std::optional<std::string> VTUSceneDelegateSwizzler::registerSceneDelegateInterceptor(
    const ObjectPtr& interceptor) {
  if (!interceptor) {
    log(kVTULoggerLevelError, vtu::kSceneNilInterceptorCode, vtu::kSceneNilInterceptorMessage);
    assertFailed(__func__, __LINE__, vtu::kSceneNilInterceptorAssertion);
    return std::nullopt;
  }
  if (!rt::conformsToProtocol(interceptor, vtu::kSceneDelegateProtocol)) {
    log(kVTULoggerLevelError, vtu::kSceneNonConformingCode, vtu::kSceneNonConformingMessage);
    assertFailed(__func__, __LINE__, vtu::kSceneNonConformingMessage);
    return std::nullopt;
  }
  const std::string identifier = platform::format(vtu::kInterceptorIDFormat, vtu::kProxyPrefix,
                                                  platform::pointerValue(interceptor.get()));
  if (identifier.empty()) {
    log(kVTULoggerLevelError, vtu::kSceneEmptyIDCode, vtu::kSceneEmptyIDMessage);
    return std::nullopt;
  }
  interceptors().setObject(Value(std::make_shared<VTUZeroingWeakContainer>(interceptor)),
                           identifier);
  return identifier;
}

void VTUSceneDelegateSwizzler::unregisterSceneDelegateInterceptorWithID(
    const std::optional<std::string>& identifier) {
  if (!identifier) {
    log(kVTULoggerLevelError, vtu::kSceneUnregisterEmptyCode, vtu::kSceneUnregisterEmptyMessage);
    assertFailed(__func__, __LINE__, vtu::kSceneUnregisterNilAssertion);
    return;
  }
  if (identifier->empty()) {
    assertFailed(__func__, __LINE__, vtu::kSceneUnregisterEmptyMessage);
    return;
  }
  auto container = interceptors().objectForKey(*identifier).objectAs<VTUZeroingWeakContainer>();
  if (!container || !container->object()) {
    log(kVTULoggerLevelError, vtu::kSceneUnregisterUnknownCode, vtu::kSceneUnregisterUnknownMessage,
        *identifier);
    return;
  }
  interceptors().removeObjectForKey(*identifier);
}

void VTUSceneDelegateSwizzler::notifyInterceptorsWithMethodSelector(
    const std::string& selector, const std::function<void(const ObjectPtr&)>& callback) {
  if (!callback) return;
  const Value::Dictionary snapshot = interceptors().dictionary();
  for (const auto& [identifier, entry] : snapshot) {
    auto container = entry.objectAs<VTUZeroingWeakContainer>();
    ObjectPtr interceptor = container ? container->object() : nullptr;
    if (!interceptor) {
      log(kVTULoggerLevelWarning, vtu::kSceneInterceptorGoneCode, vtu::kSceneInterceptorGoneMessage,
          identifier);
      interceptors().removeObjectForKey(identifier);
      continue;
    }
    if (rt::respondsToSelector(interceptor, selector)) callback(interceptor);
  }
}

rt::IMP VTUSceneDelegateSwizzler::originalImplementationForSelector(
    const std::string& selector, const platform::Object* object) {
  Value stored = rt::getAssociatedObject(object, kRealIMPBySelectorKey);
  return std::dynamic_pointer_cast<const rt::Implementation>(stored[selector].object());
}
