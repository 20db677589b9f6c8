// Texts of the method swizzler and the delegate proxies: queue label, Info.plist keys, associated
// object keys, name prefixes, log services, message codes and messages.
#pragma once

namespace vtu {

inline constexpr const char* kSwizzlerQueueLabel = "com.veltro.VTUSwizzler";
inline constexpr const char* kSwizzleNullSelectorAssertion = "The selector cannot be NULL";
inline constexpr const char* kSwizzleNilClassAssertion = "The class cannot be Nil";
inline constexpr const char* kSwizzleMissingMethodAssertion =
    "You're attempting to swizzle a method that doesn't exist. (%@, %@)";
inline constexpr const char* kMissingMethodAssertion =
    "The Method for this class/selector combo doesn't exist (%@, %@).";
inline constexpr const char* kMissingImplementationAssertion =
    "The IMP for this class/selector combo doesn't exist (%@, %@).";

// Switches and names shared by both proxies.
inline constexpr const char* kLumoAppDelegateProxyEnabledKey = "LumoAppDelegateProxyEnabled";
inline constexpr const char* kVeltroAppDelegateProxyEnabledKey =
    "VeltroUtilitiesAppDelegateProxyEnabled";
inline constexpr const char* kLumoCoreClassName = "LMOCore";
inline constexpr const char* kAlternativeWithLumoCore =
    "To log deep link campaigns manually, call the methods in LMOAnalytics+AppDelegate.";
inline constexpr const char* kRealIMPBySelectorKeyText = "VTU_realIMPBySelector";
inline constexpr const char* kRealClassKeyText = "VTU_realClass";
inline constexpr const char* kProxyPrefix = "VTU_";
inline constexpr const char* kInterceptorIDFormat = "%@%p";
inline constexpr const char* kSubclassNameFormat = "%@-%@";
inline constexpr const char* kSwizzlerCodeFormat = "I-SWZ%06ld";
inline constexpr const char* kFakeDescriptionFormat = "<%@: %p>";
inline constexpr const char* kSizeAssertion = "Classes must be the same size to swizzle isa";
inline constexpr const char* kApplicationClassName = "UIApplication";
inline constexpr const char* kSharedApplicationSelector = "sharedApplication";
inline constexpr const char* kApplicationDelegateProtocol = "UIApplicationDelegate";
inline constexpr const char* kDelegateKey = "delegate";
inline constexpr const char* kSetDelegateSelector = "setDelegate:";

// Application-delegate operations the proxy carries.
inline constexpr const char* kOpenURLOptionsSelector = "application:openURL:options:";
inline constexpr const char* kOpenURLSourceApplicationSelector =
    "application:openURL:sourceApplication:annotation:";
inline constexpr const char* kContinueUserActivitySelector =
    "application:continueUserActivity:restorationHandler:";
inline constexpr const char* kBackgroundURLSessionSelector =
    "application:handleEventsForBackgroundURLSession:completionHandler:";
inline constexpr const char* kDidRegisterForRemoteNotificationsSelector =
    "application:didRegisterForRemoteNotificationsWithDeviceToken:";
inline constexpr const char* kDidFailToRegisterForRemoteNotificationsSelector =
    "application:didFailToRegisterForRemoteNotificationsWithError:";
inline constexpr const char* kDidReceiveRemoteNotificationSelector =
    "application:didReceiveRemoteNotification:";
inline constexpr const char* kDidReceiveRemoteNotificationFetchSelector =
    "application:didReceiveRemoteNotification:fetchCompletionHandler:";
inline constexpr const char* kDonorDidRegisterSelector =
    "application:donor_didRegisterForRemoteNotificationsWithDeviceToken:";
inline constexpr const char* kDonorDidFailSelector =
    "application:donor_didFailToRegisterForRemoteNotificationsWithError:";
inline constexpr const char* kDonorDidReceiveSelector =
    "application:donor_didReceiveRemoteNotification:";
inline constexpr const char* kDonorDidReceiveFetchSelector =
    "application:donor_didReceiveRemoteNotification:fetchCompletionHandler:";
inline constexpr const char* kFakeDescriptionSelector = "fakeDescription";
inline constexpr const char* kDescriptionSelector = "description";

// App-delegate proxy log lines.
inline constexpr const char* kAppDelegateSwizzlerClassName = "VTUAppDelegateSwizzler";
inline constexpr const char* kAppDelegateSwizzlerService = "[VeltroUtilities/AppDelegateSwizzler]";
inline constexpr long kAppDelegateNilInterceptorCode = 1000;
inline constexpr long kAppDelegateNonConformingCode = 1001;
inline constexpr long kAppDelegateEmptyIDCode = 1002;
inline constexpr long kAppDelegateUnregisterEmptyCode = 1003;
inline constexpr long kAppDelegateUnregisterUnknownCode = 1004;
inline constexpr long kAppDelegateSubclassExistsCode = 1005;
inline constexpr long kAppDelegateSubclassNilCode = 1006;
inline constexpr long kAppDelegateSizeMismatchCode = 1007;
inline constexpr long kAppDelegateProxyCreatedCode = 1008;
inline constexpr long kAppDelegateMethodExistsCode = 1009;
inline constexpr long kAppDelegateInterceptorGoneCode = 1010;
inline constexpr long kAppDelegateProxyDisabledCode = 1011;
inline constexpr long kAppDelegateProxyFailedCode = 1013;
inline constexpr long kAppDelegateNotConformingCode = 1014;
inline constexpr const char* kAppDelegateNilInterceptorMessage =
    "AppDelegateProxy cannot add nil interceptor.";
inline constexpr const char* kAppDelegateNilInterceptorAssertion =
    "AppDelegateProxy cannot add nil interceptor";
inline constexpr const char* kAppDelegateNonConformingMessage =
    "AppDelegateProxy interceptor does not conform to UIApplicationDelegate";
inline constexpr const char* kAppDelegateEmptyIDMessage =
    "AppDelegateProxy cannot create Interceptor ID.";
inline constexpr const char* kAppDelegateUnregisterEmptyMessage =
    "AppDelegateProxy cannot unregister empty interceptor ID.";
inline constexpr const char* kAppDelegateUnregisterNilAssertion =
    "AppDelegateProxy cannot unregister nil interceptor ID.";
inline constexpr const char* kAppDelegateUnregisterUnknownMessage =
    "AppDelegateProxy cannot unregister interceptor that was not registered. Interceptor ID %@";
inline constexpr const char* kAppDelegateSubclassExistsMessage =
    "Cannot create a proxy for App Delegate. Subclass already exists. Original Class: %@, "
    "subclass: %@";
inline constexpr const char* kAppDelegateSubclassNilMessage =
    "Cannot create a proxy for App Delegate. Subclass already exists. Original Class: %@, "
    "subclass: Nil";
inline constexpr const char* kAppDelegateSizeMismatchMessage =
    "Cannot create subclass of App Delegate, because the created subclass is not the same size. "
    "%@";
inline constexpr const char* kAppDelegateProxyCreatedMessage =
    "Successfully created App Delegate Proxy automatically. To disable the proxy, set the flag %@ "
    "to NO (Boolean) in the Info.plist";
inline constexpr const char* kMethodExistsMessage =
    "Cannot copy method to destination selector %@ as it already exists";
inline constexpr const char* kAppDelegateInterceptorGoneMessage =
    "AppDelegateProxy cannot find interceptor with ID %@. Removing the interceptor.";
inline constexpr const char* kAppDelegateProxyDisabledMessage =
    "App Delegate Proxy is disabled. %@";
inline constexpr const char* kAppDelegateProxyFailedMessage =
    "Cannot create App Delegate Proxy. %@";
inline constexpr const char* kAppDelegateNotConformingMessage =
    "App Delegate does not conform to UIApplicationDelegate protocol. %@";

}  // namespace vtu

namespace vtu {

// Scene-delegate proxy.
inline constexpr const char* kSceneDelegateSwizzlerClassName = "VTUSceneDelegateSwizzler";
inline constexpr const char* kSceneClassName = "UIScene";
inline constexpr const char* kSceneDelegateProtocol = "UISceneDelegate";
inline constexpr const char* kSceneWillConnectNotification = "UISceneWillConnectNotification";
inline constexpr const char* kSceneOpenURLContextsSelector = "scene:openURLContexts:";
inline constexpr long kSceneMinimumMajorVersion = 13;
inline constexpr const char* kSceneDelegateSwizzlerService =
    "[VeltroUtilities/SceneDelegateSwizzler]";
inline constexpr long kSceneNilInterceptorCode = 1100;
inline constexpr long kSceneNonConformingCode = 1101;
inline constexpr long kSceneEmptyIDCode = 1102;
inline constexpr long kSceneUnregisterEmptyCode = 1103;
inline constexpr long kSceneUnregisterUnknownCode = 1104;
inline constexpr long kSceneMethodExistsCode = 1109;
inline constexpr long kSceneInterceptorGoneCode = 1110;
inline constexpr long kSceneSubclassCode = 1114;
inline constexpr const char* kSceneNilInterceptorMessage =
    "SceneDelegateProxy cannot add nil interceptor.";
inline constexpr const char* kSceneNilInterceptorAssertion =
    "SceneDelegateProxy cannot add nil interceptor";
inline constexpr const char* kSceneNonConformingMessage =
    "SceneDelegateProxy interceptor does not conform to UISceneDelegate";
inline constexpr const char* kSceneEmptyIDMessage =
    "SceneDelegateProxy cannot create Interceptor ID.";
inline constexpr const char* kSceneUnregisterEmptyMessage =
    "SceneDelegateProxy cannot unregister empty interceptor ID.";
inline constexpr const char* kSceneUnregisterNilAssertion =
    "SceneDelegateProxy cannot unregister nil interceptor ID.";
inline constexpr const char* kSceneUnregisterUnknownMessage =
    "SceneDelegateProxy cannot unregister interceptor that was not registered. Interceptor ID %@";
inline constexpr const char* kSceneInterceptorGoneMessage =
    "SceneDelegateProxy cannot find interceptor with ID %@. Removing the interceptor.";
inline constexpr const char* kSceneSubclassExistsMessage =
    "Cannot create a proxy for Scene Delegate. Subclass already exists. Original Class: %@, "
    "subclass: %@";
inline constexpr const char* kSceneSubclassNilMessage =
    "Cannot create a proxy for Scene Delegate. Subclass already exists. Original Class: %@, "
    "subclass: Nil";
inline constexpr const char* kSceneSizeMismatchMessage =
    "Cannot create subclass of Scene Delegate, because the created subclass is not the same size. "
    "%@";
inline constexpr const char* kSceneProxyCreatedMessage =
    "Successfully created Scene Delegate Proxy automatically. To disable the proxy, set the flag "
    "%@ to NO (Boolean) in the Info.plist";

}  // namespace vtu
