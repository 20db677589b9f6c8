// Texts of the platform utilities: log tags, message codes, messages, queue labels, keys.
#pragma once

namespace vtu {

// Logger.
inline constexpr const char* kLoggerFacility = "com.veltro.utilities.logger";
inline constexpr const char* kLoggingQueueLabel = "VTULoggingClientQueue";
inline constexpr const char* kLoggerLineFormat = "%@ - %@[%@] %@";
inline constexpr const char* kLoggerService = "[VTULogger]";
inline constexpr const char* kInvalidLevelCode = "I-COR000023";
inline constexpr const char* kInvalidLevelMessage = "Invalid logger level, %ld";

// Environment.
inline constexpr const char* kReceiptURLCheckEnabledKey = "LumoAppStoreReceiptURLCheckEnabled";
inline constexpr const char* kSandboxReceiptName = "sandboxReceipt";
inline constexpr const char* kStoreInfoFolder = "SC_Info";
inline constexpr const char* kProvisioningProfileName = "embedded";
inline constexpr const char* kProvisioningProfileType = "mobileprovision";
inline constexpr const char* kPlatformIOS = "ios";
inline constexpr const char* kPlatformIOSOnMac = "ios_on_mac";
inline constexpr const char* kDeploymentType = "swiftpm";
inline constexpr const char* kSwiftObjectClassName = "Swift._SwiftObject";
inline constexpr const char* kSwiftObjectMangledClassName = "_TtCs12_SwiftObject";

// User defaults.
inline constexpr const char* kUserDefaultsCodeFormat = "I-VTU%06ld";
inline constexpr const char* kUserDefaultsReadService = "<VeltroUtilities>";
inline constexpr const char* kUserDefaultsService = "[VeltroUtilities/UserDefaults]";
inline constexpr const char* kInvalidGetKeyMessage =
    "Cannot get object for invalid user default key.";
inline constexpr const char* kInvalidSetKeyMessage =
    "Cannot set object for invalid user default key.";
inline constexpr const char* kInvalidValueMessage =
    "Cannot set invalid object to user defaults. Must be a string, number, array, dictionary, "
    "date, or data. Value: %@";
inline constexpr const char* kSynchronizeFailedMessage = "Cannot synchronize user defaults to disk";

// Heartbeat storage.
inline constexpr const char* kHeartbeatDirectory = "Veltro/LMOApp";

}  // namespace vtu

namespace vtu {

// Keychain storage.
inline constexpr const char* kKeychainQueueLabel = "com.vtu.KeychainStorage.Keychain";
inline constexpr const char* kKeychainCacheQueueLabel = "com.vtu.KeychainStorage.InMemoryCache";
inline constexpr const char* kKeychainErrorDomain = "com.vtu.keychain.ErrorDomain";
inline constexpr const char* kKeychainErrorReasonFormat = "%@ (%li)";
inline constexpr const char* kSecItemCopyMatching = "SecItemCopyMatching";
inline constexpr const char* kSecItemAdd = "SecItemAdd";
inline constexpr const char* kSecItemUpdate = "SecItemUpdate";
inline constexpr const char* kSecItemDelete = "SecItemDelete";
inline constexpr long kKeychainCacheCountLimit = 5;

// Synchronised dictionary.
inline constexpr const char* kMutableDictionaryQueueLabel = "VTUMutableDictionary";

// Gzip.
inline constexpr const char* kZlibErrorDomain = "com.veltro.VTUNSDataZlibErrorDomain";
inline constexpr const char* kZlibErrorKey = "VTUNSDataZlibErrorKey";
inline constexpr const char* kZlibRemainingBytesKey = "VTUNSDataZlibRemainingBytesKey";
inline constexpr long kZlibErrorGreaterThan32BitsToCompress = 1024;
inline constexpr long kZlibErrorInternal = 1025;
inline constexpr long kZlibErrorDataRemaining = 1026;
inline constexpr const char* kDeflateLeftoverMessage =
    "Should have finished deflating without using all input, %u bytes left";

// Reachability.
inline constexpr const char* kReachabilityService = "[VTUReachability]";
inline constexpr const char* kReachabilityCodeFormat = "I-REA%06ld";
inline constexpr const char* kNetworkCodeFormat = "I-NET%06ld";
inline constexpr const char* kReachabilityApiChangeMessage =
    "Cannot change reachability API while reachability is running. Call stop first.";
inline constexpr const char* kReachabilityInvalidHostMessage = "Invalid host specified";
inline constexpr const char* kReachabilityStartFailedMessage = "Failed to start reachability handle";
inline constexpr const char* kReachabilityMonitoringMessage = "Monitoring the network status";
inline constexpr const char* kReachabilityChangedMessage =
    "Network status has changed. Code:%@, status:%@";
inline constexpr const char* kReachabilityDelegateMessage =
    "Reachability delegate doesn't conform to Reachability protocol.";
inline constexpr const char* kReachabilityStatusUnknown = "Unknown";
inline constexpr const char* kReachabilityStatusDisconnected = "Disconnected";
inline constexpr const char* kReachabilityStatusConnected = "Connected";

}  // namespace vtu
