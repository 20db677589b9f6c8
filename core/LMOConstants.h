// Texts of the app core: versions, option keys, log tags and message codes, messages, user-defaults
// keys, notification names, runtime class and selector names, and the diagnostics keys.
#pragma once

namespace lmo {

// Versions and log tags.
inline constexpr const char* kCoreSDKVersion = "8.10.0";
inline constexpr const char* kLibraryVersionIDFormat = "%@%@%@000";
inline constexpr const char* kCoreService = "[Lumo/Core]";
inline constexpr const char* kDeveloperConsoleURL = "https://console.veltro.example/";
inline constexpr const char* kDocumentationURL =
    "https://docs.veltro.example/lumo/configure-your-app";

// Core logger set-up.
inline constexpr const char* kDebugModeUserDefaultsKey = "/veltro/lumo/debug_mode";
inline constexpr const char* kDebugEnabledArgument = "-LMODebugEnabled";
inline constexpr const char* kDebugDisabledArgument = "-LMODebugDisabled";
inline constexpr const char* kForceStandardErrorArgument = "-LMOLoggerForceSTDERR";

// Options property list and its keys.
inline constexpr const char* kOptionsPlistName = "VeltroService-Info";
inline constexpr const char* kPlistType = "plist";
inline constexpr const char* kAPIKeyKey = "API_KEY";
inline constexpr const char* kClientIDKey = "CLIENT_ID";
inline constexpr const char* kTrackingIDKey = "TRACKING_ID";
inline constexpr const char* kVCMSenderIDKey = "VCM_SENDER_ID";
inline constexpr const char* kProjectIDKey = "PROJECT_ID";
inline constexpr const char* kAndroidClientIDKey = "ANDROID_CLIENT_ID";
inline constexpr const char* kVeltroAppIDKey = "VELTRO_APP_ID";
inline constexpr const char* kDatabaseURLKey = "DATABASE_URL";
inline constexpr const char* kStorageBucketKey = "STORAGE_BUCKET";
inline constexpr const char* kBundleIDKey = "BUNDLE_ID";
inline constexpr const char* kIsAnalyticsEnabledKey = "IS_ANALYTICS_ENABLED";
inline constexpr const char* kIsSignInEnabledKey = "IS_SIGNIN_ENABLED";
inline constexpr const char* kIsMeasurementEnabledKey = "IS_MEASUREMENT_ENABLED";
inline constexpr const char* kAnalyticsCollectionEnabledKey = "LUMO_ANALYTICS_COLLECTION_ENABLED";
inline constexpr const char* kAnalyticsCollectionDeactivatedKey =
    "LUMO_ANALYTICS_COLLECTION_DEACTIVATED";
inline constexpr const char* kOptionsExceptionName = "com.lumo.core";
inline constexpr const char* kOptionsLockedReason =
    "Attempted to modify options after it's set on LMOApp. Please modify all properties before "
    "initializing LMOApp.";

// Bundle lookup.
inline constexpr const char* kURLTypesKey = "CFBundleURLTypes";
inline constexpr const char* kURLSchemesKey = "CFBundleURLSchemes";

// Message codes and texts of the options.
inline constexpr const char* kCodeConfigNotDictionary = "I-COR000011";
inline constexpr const char* kConfigNotDictionaryMessage =
    "The configuration file is not a dictionary: '%@.%@'.";
inline constexpr const char* kCodeConfigNotFound = "I-COR000012";
inline constexpr const char* kConfigNotFoundMessage =
    "Could not locate configuration file: '%@.%@'.";
inline constexpr const char* kCodeNilPlistPath = "I-COR000013";
inline constexpr const char* kNilPlistPathMessage = "The plist file path is nil.";
inline constexpr const char* kCodeInvalidPlistFile = "I-COR000014";
inline constexpr const char* kInvalidPlistFileMessage =
    "The configuration file at %@ does not exist or is not a well-formed plist file.";

// Component registry.
inline constexpr const char* kLibraryProtocolName = "LMOLibrary";
inline constexpr const char* kLifecycleMaintainerProtocolName = "LMOComponentLifecycleMaintainer";
inline constexpr const char* kComponentsToRegisterSelector = "componentsToRegister";
inline constexpr const char* kConfigureWithAppSelector = "configureWithApp:";
inline constexpr const char* kAppWillBeDeletedSelector = "appWillBeDeleted:";
inline constexpr const char* kCodeDuplicateProtocol = "I-COR000029";
inline constexpr const char* kDuplicateProtocolMessage =
    "Attempted to register protocol %@, but it already has an implementation.";
inline constexpr const char* kCodeNonConformingInstance = "I-COR000030";
inline constexpr const char* kNonConformingInstanceMessage =
    "An instance conforming to %@ was requested, but the instance provided does not conform to "
    "the protocol";

// App start-up and registry.
inline constexpr const char* kDefaultAppName = "__LMOAPP_DEFAULT";
inline constexpr const char* kAppClassName = "LMOApp";
inline constexpr const char* kAnalyticsClassName = "LMOAnalytics";
inline constexpr const char* kStartWithConfigurationSelector = "startWithConfiguration:options:";
inline constexpr const char* kIsDefaultAppConfiguredSelector = "isDefaultAppConfigured";
inline constexpr const char* kConfigurationClassName = "LMOConfiguration";
inline constexpr const char* kAppReadyToConfigureSDKNotification =
    "LMOAppReadyToConfigureSDKNotification";
inline constexpr const char* kAppDeleteNotification = "LMOAppDeleteNotification";
inline constexpr const char* kAnalyticsConfigurationSetEnabledNotification =
    "LMOAnalyticsConfigurationSetEnabledNotification";
inline constexpr const char* kAppNameKey = "LMOAppNameKey";
inline constexpr const char* kAppIsDefaultAppKey = "LMOAppIsDefaultAppKey";
inline constexpr const char* kVeltroAppIDNotificationKey = "LMOVeltroAppIDKey";
inline constexpr const char* kDataCollectionUserDefaultsKeyFormat =
    "/veltro/lumo/global_data_collection_enabled:%@";
inline constexpr const char* kDataCollectionPlistKey = "LumoDataCollectionDefaultEnabled";
inline constexpr const char* kMeasurementEnabledStateKey =
    "/veltro/measurement/measurement_enabled_state";
inline constexpr long kMeasurementEnabledStateEnabled = 1;
inline constexpr long kMeasurementEnabledStateDisabled = 2;

inline constexpr const char* kErrorDomain = "com.lumo.core";
inline constexpr long kErrorCodeMissingOptions = -100;
inline constexpr long kErrorCodeInvalidAppID = -101;
inline constexpr const char* kMissingOptionsDescription =
    "Unable to parse VeltroService-Info.plist in order to configure services.";
inline constexpr const char* kMissingOptionsRecovery =
    "Check formatting and location of VeltroService-Info.plist.";
inline constexpr const char* kInvalidAppIDDescription = "Unable to validate Veltro App ID";
inline constexpr const char* kInvalidAppIDRecovery =
    "Check formatting and location of VeltroService-Info.plist or VeltroAppID set in the "
    "customized options.";
inline constexpr const char* kLocalizedRecoverySuggestionKey = "NSLocalizedRecoverySuggestion";

inline constexpr const char* kNoPlistReason =
    "`LumoApp.configure()` could not find a valid VeltroService-Info.plist in your project. "
    "Please download one from %@.";
inline constexpr const char* kNilOptionsReason = "Options is nil. Please pass a valid options.";
inline constexpr const char* kNilNameOrOptionsReason = "Neither name nor options can be nil.";
inline constexpr const char* kEmptyNameReason = "Name cannot be empty.";
inline constexpr const char* kBadAppNameReason =
    "App name can only contain alphanumeric, hyphen (-), and underscore (_) characters";
inline constexpr const char* kConfigurationFailsReason =
    "Configuration fails. It may be caused by an invalid VELTRO_APP_ID in "
    "VeltroService-Info.plist or set in the customized options.";
inline constexpr const char* kDefaultAppConfiguredTwiceReason =
    "Default app has already been configured.";
inline constexpr const char* kAppConfiguredTwiceReason =
    "App named %@ has already been configured.";
inline constexpr const char* kLibraryRegistrationReason =
    "Class %@ attempted to register components, but it does not conform to `LMOLibrary or "
    "provide a `componentsToRegister:` method.";
inline constexpr const char* kInvalidLoggerLevelReason = "Invalid logger level, %ld";
inline constexpr const char* kReenteringExceptionName =
    "Reentering registeredObjectWithHost:key:creationBlock: not allowed";
inline constexpr const char* kReenteringReason = "host: %@ key: %@";

inline constexpr const char* kCodeConfiguringDefaultApp = "I-COR000001";
inline constexpr const char* kConfiguringDefaultAppMessage = "Configuring the default app.";
inline constexpr const char* kCodeConfiguringApp = "I-COR000002";
inline constexpr const char* kConfiguringAppMessage = "Configuring app named %@";
inline constexpr const char* kCodeNoDefaultApp = "I-COR000003";
inline constexpr const char* kNoDefaultAppMessage =
    "The default Lumo app has not yet been configured. Add `LumoApp.configure()` to your "
    "application initialization. This can be done in in the App Delegate's "
    "application(_:didFinishLaunchingWithOptions:)` (or the `@main` struct's initializer in "
    "SwiftUI). Read more: %@.";
inline constexpr const char* kCodeNoAppNamed = "I-COR000004";
inline constexpr const char* kNoAppNamedMessage = "App with name %@ does not exist.";
inline constexpr const char* kCodeNoAppConfigured = "I-COR000005";
inline constexpr const char* kNoAppConfiguredMessage = "No app has been configured yet.";
inline constexpr const char* kCodeDeletingApp = "I-COR000006";
inline constexpr const char* kDeletingAppMessage = "Deleting app named %@";
inline constexpr const char* kCodeAppDoesNotExist = "I-COR000007";
inline constexpr const char* kAppDoesNotExistMessage = "App does not exist.";
inline constexpr const char* kCodeBundleIDMismatch = "I-COR000008";
inline constexpr const char* kBundleIDMismatchMessage =
    "The project's Bundle ID is inconsistent with either the Bundle ID in '%@.%@', or the Bundle "
    "ID in the options if you are using a customized options. To ensure that everything can be "
    "configured correctly, you may need to make the Bundle IDs consistent. To continue with this "
    "plist file, you may change your app's bundle identifier to '%@'. Or you can download a new "
    "configuration file that matches your bundle identifier from %@ and replace the current one.";
inline constexpr const char* kCodeInvalidAppID = "I-COR000009";
inline constexpr const char* kInvalidAppIDMessage =
    "The VELTRO_APP_ID either in the plist file '%@.%@' or the one set in the customized options "
    "is invalid. If you are using the plist file, use the iOS version of bundle identifier to "
    "download the file, and do not manually edit the VELTRO_APP_ID. You may change your app's "
    "bundle identifier to '%@'. Or you can download a new configuration file that matches your "
    "bundle identifier from %@ and replace the current one.";
inline constexpr const char* kCodeUnknownAppIDVersion = "I-COR000010";
inline constexpr const char* kUnknownAppIDVersionMessage = "Unknown VELTRO_APP_ID version: %@";
inline constexpr const char* kCodeInvalidLibrary = "I-COR000027";
inline constexpr const char* kInvalidLibraryMessage =
    "The library name (%@) or version number (%@) contain invalid characters. Only alphanumeric, "
    "dash, underscore and period characters are allowed.";
inline constexpr const char* kCodeIgnoringSecondConfigure = "I-COR000035";
inline constexpr const char* kIgnoringSecondConfigureMessage =
    "Ignoring second `configure` call in an extension.";

// User agent and heartbeat.
inline constexpr const char* kCoreLibraryName = "lumo-ios";
inline constexpr const char* kApplePlatformComponent = "apple-platform";
inline constexpr const char* kAppleSDKComponent = "apple-sdk";
inline constexpr const char* kAppStoreComponent = "appstore";
inline constexpr const char* kDeployComponent = "deploy";
inline constexpr const char* kDeviceComponent = "device";
inline constexpr const char* kOSVersionComponent = "os-version";
inline constexpr const char* kXcodeComponent = "xcode";
inline constexpr const char* kSDKBuildInfoKey = "DTSDKBuild";
inline constexpr const char* kXcodeBuildInfoKey = "DTXcodeBuild";
inline constexpr const char* kUserAgentEntryFormat = "%@/%@";
inline constexpr const char* kHeartbeatStorageName = "HEARTBEAT_INFO_STORAGE";
inline constexpr const char* kGlobalHeartbeatTag = "GLOBAL";
inline constexpr double kHeartbeatInterval = 86400;

// Core diagnostics.
inline constexpr const char* kDiagnosticsClassName = "LMOCoreDiagnostics";
inline constexpr const char* kDiagnosticsInteropProtocolName = "LMOCoreDiagnosticsInterop";
inline constexpr const char* kDiagnosticsDataProtocolName = "LMOCoreDiagnosticsData";
inline constexpr const char* kSendDiagnosticsDataSelector = "sendDiagnosticsData:";
inline constexpr const char* kDiagnosticsNotInteropMessage =
    "If LMOCoreDiagnostics is implemented, it must conform to the interop protocol.";
inline constexpr const char* kDiagnosticsNoSendMessage =
    "If LMOCoreDiagnostics is implemented, it must implement +sendDiagnosticsData.";
inline constexpr const char* kSetDiagnosticObjectsMessage = "Please use -insertValue:forKey:";
inline constexpr const char* kCDIsDataCollectionDefaultEnabledKey =
    "LMOCDIsDataCollectionDefaultEnabledKey";
inline constexpr const char* kCDLumoUserAgentKey = "LMOCDLumoUserAgentKey";
inline constexpr const char* kCDConfigurationTypeKey = "LMOCDConfigurationTypeKey";
inline constexpr const char* kCDVeltroAppIDKey = "LMOCDVeltroAppIDKey";
inline constexpr const char* kCDBundleIDKey = "LMOCDBundleID";
inline constexpr const char* kCDUsingOptionsFromDefaultPlistKey =
    "LMOCDUsingOptionsFromDefaultPlistKey";
inline constexpr const char* kCDLibraryVersionIDKey = "LMOCDLibraryVersionIDKey";
inline constexpr const char* kCDAppsCountKey = "LMOCDllAppsCountKey";
inline constexpr const char* kCDSdkNameKey = "LMOCDSdkNameKey";
inline constexpr const char* kCDSdkVersionKey = "LMOCDSdkVersionKey";
inline constexpr const char* kDiagnosticsQueueLabel = "com.veltro.LMOCoreDiagnostics";
inline constexpr const char* kDiagnosticsMappingID = "137";
inline constexpr long kDiagnosticsTarget = 1001;
inline constexpr const char* kDiagnosticsHeartbeatFileName = "LUMO_DIAGNOSTICS_HEARTBEAT_DATE";
inline constexpr const char* kDiagnosticsHeartbeatTag = "LMOCoreDiagnostics";
inline constexpr const char* kMinimumOSVersionKey = "MinimumOSVersion";
inline constexpr const char* kAppDelegateProxyEnabledKey = "LumoAppDelegateProxyEnabled";
inline constexpr const char* kFrameworkVersionFormat = "%@-%@";
inline constexpr const char* kTransportClassName = "VDTCORTransport";
inline constexpr long kTransportCodeEncodingFailure = 1005;
inline constexpr long kTransportCodeMissingAppCount = 1006;
inline constexpr long kTransportLogLevel = 4;
inline constexpr const char* kEncodingForSizeFailedMessage =
    "Error in nanopb encoding for size: %s";
inline constexpr const char* kEncodingForBytesFailedMessage =
    "Error in nanopb encoding for bytes: %s";
inline constexpr const char* kMissingAppCountMessage =
    "App count is a required value in the data dict.";

}  // namespace lmo
