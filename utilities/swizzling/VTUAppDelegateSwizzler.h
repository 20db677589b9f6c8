// The app-delegate proxy: turns the application's delegate object into an instance of a class
// generated at run time under the delegate's class, whose few application-delegate operations
// first call every registered interceptor and then the delegate's own implementation. Switched
// off by either Info.plist key "LumoAppDelegateProxyEnabled" or
// "VeltroUtilitiesAppDelegateProxyEnabled" set to a false number; does nothing in an app
// extension. Install from the main queue; interceptors may be registered from any thread.
//
//   auto id = VTUAppDelegateSwizzler::registerAppDelegateInterceptor(myInterceptor);
//   VTUAppDelegateSwizzler::proxyOriginalDelegate();
//
// The proxied operations and the runtime signatures that delegates and interceptors implement
// them with (the first argument after self is the application object):
//   "application:openURL:options:"
//       bool(Object&, ObjectPtr app, std::string url, Value::Dictionary options)
//   "application:openURL:sourceApplication:annotation:"
//       bool(Object&, ObjectPtr app, std::string url, std::string sourceApplication,
//            Value annotation)
//   "application:continueUserActivity:restorationHandler:"
//       bool(Object&, ObjectPtr app, ObjectPtr userActivity,
//            std::function<void(Value::Array)> restorationHandler)
//   "application:handleEventsForBackgroundURLSession:completionHandler:"
//       void(Object&, ObjectPtr app, std::string identifier, std::function<void()> completion)
// and, with proxyOriginalDelegateIncludingAPNSMethods:
//   "application:didRegisterForRemoteNotificationsWithDeviceToken:"
//       void(Object&, ObjectPtr app, Value deviceToken)
//   "application:didFailToRegisterForRemoteNotificationsWithError:"
//       void(Object&, ObjectPtr app, ObjectPtr error)
//   "application:didReceiveRemoteNotification:"
//       void(Object&, ObjectPtr app, Value::Dictionary userInfo)
//   "application:didReceiveRemoteNotification:fetchCompletionHandler:"
//       void(Object&, ObjectPtr app, Value::Dictionary userInfo,
//            std::function<void(long)> completion)   // 0 new data, 1 no data, 2 failed
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/base/Value.h"
#include "platform/runtime/Runtime.h"
#include "utilities/VTUMutableDictionary.h"

// Results of a background fetch, merged over everyone who answered.
enum class VTUBackgroundFetchResult : long { newData = 0, noData = 1, failed = 2 };

class VTUAppDelegateSwizzler {
 public:
  using ObjectPtr = platform::ObjectPtr;
  using Class = platform::runtime::Class;

  // False when either Info.plist key holds a number that is false.
  static bool isAppDelegateProxyEnabled();
  // The identifier ("VTU_" and the interceptor's address), or nullopt for nil, for an object not
  // conforming to "UIApplicationDelegate" (both also asserted) or for an empty identifier.
  static std::optional<std::string> registerAppDelegateInterceptor(const ObjectPtr& interceptor);
  // nullopt stands for a nil identifier (refused and asserted), "" is asserted.
  static void unregisterAppDelegateInterceptorWithID(const std::optional<std::string>& identifier);
  static void proxyOriginalDelegate();
  static void proxyOriginalDelegateIncludingAPNSMethods();
  // Found by class name and selector through the runtime; null in an app extension.
  static ObjectPtr sharedApplication();
  static ObjectPtr originalDelegate();
  static std::string correctAppDelegateProxyKey();
  static std::string correctAlternativeWhenAppDelegateProxyNotCreated();
  static void clearInterceptors();
  static void resetProxyOriginalDelegateOnceToken();
  static VTUMutableDictionary& interceptors();

  // The steps of installation, usable on their own.
  static void proxyAppDelegate(const ObjectPtr& delegate);
  static Class* createSubclassWithObject(const ObjectPtr& object);
  static void proxyDestinationSelector(const std::string& destination, const std::string& source,
                                       Class* fromClass, Class* toClass, Class* realClass,
                                       platform::Value::Dictionary* implementations);
  static void addInstanceMethodWithDestinationSelector(const std::string& destination,
                                                       const std::string& source, Class* fromClass,
                                                       Class* toClass);
  static void addInstanceMethodWithSelector(const std::string& selector, Class* fromClass,
                                            Class* toClass);
  static platform::runtime::IMP implementationOfMethodSelector(const std::string& selector,
                                                               const Class* fromClass);
  static void reassignAppDelegate();
  // What the delegate's class had for the selector before proxying (null when nothing).
  static platform::runtime::IMP originalImplementationForSelector(const std::string& selector,
                                                                  const platform::Object* object);
  // Calls back with every live interceptor that responds to the selector; prunes gone ones.
  static void notifyInterceptorsWithMethodSelector(
      const std::string& selector, const std::function<void(const ObjectPtr&)>& callback);
  // The runtime class carrying the donor implementations ("VTUAppDelegateSwizzler").
  static Class* donorClass();
};

// Watches the application's "delegate" so that the proxy forgets its delegate once the app sets
// another one.
class VTUAppDelegateObserver {
 public:
  static VTUAppDelegateObserver& sharedInstance();
  void observeUIApplication();
  bool isObserving() const;

 private:
  void delegateChanged(const platform::ObjectPtr& oldValue, const platform::ObjectPtr& newValue);
  bool isObserving_ = false;
  std::shared_ptr<void> token_;
};
