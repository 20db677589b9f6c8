// The scene-delegate proxy: when a scene connects ("UISceneWillConnectNotification", its object
// a runtime object of class "UIScene" or a subclass, whose delegate is read with "delegate"), the
// scene's delegate object becomes an instance of a class generated under its own, whose
// "scene:openURLContexts:" first calls every registered scene interceptor and then the delegate's
// own implementation. Only on platform major version 13 or later; switched off like the
// app-delegate proxy; nothing in an app extension.
//
// Runtime signature of the proxied operation, for delegates and interceptors:
//   "scene:openURLContexts:"  void(Object&, ObjectPtr scene, Value urlContexts)
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/base/Value.h"
#include "platform/runtime/Runtime.h"
#include "utilities/VTUMutableDictionary.h"

class VTUSceneDelegateSwizzler {
 public:
  using ObjectPtr = platform::ObjectPtr;
  using Class = platform::runtime::Class;

  static bool isSceneDelegateProxyEnabled();
  // Once per process: subscribes to scene connection when the platform and the switches allow.
  static void proxyOriginalSceneDelegate();
  // What the subscription does with a connecting scene (the notification's object).
  static void handleSceneWillConnect(const platform::Value& sceneObject);
  static void proxySceneDelegateIfNeeded(const ObjectPtr& scene);
  static std::optional<std::string> registerSceneDelegateInterceptor(const ObjectPtr& interceptor);
  // nullopt stands for a nil identifier.
  static void unregisterSceneDelegateInterceptorWithID(
      const std::optional<std::string>& identifier);
  static VTUMutableDictionary& interceptors();
  static void clearInterceptors();
  static std::string correctSceneDelegateProxyKey();
  static bool isSubscribed();

  static platform::runtime::IMP originalImplementationForSelector(const std::string& selector,
                                                                  const platform::Object* object);
  static void notifyInterceptorsWithMethodSelector(
      const std::string& selector, const std::function<void(const ObjectPtr&)>& callback);
  static Class* donorClass();

  // Test seam: bytes of storage added to every generated subclass, so that tests can meet a
  // subclass whose instances are larger than the delegate's (0: none).
  static void setSubclassPaddingForTesting(std::size_t bytes);

 private:
  // `assertOnSizeMismatch` false: a subclass of another size is only logged (the notification's
  // handler must not raise into the platform's scene connection).
  static void proxySceneDelegate(const ObjectPtr& scene, bool assertOnSizeMismatch);
};
