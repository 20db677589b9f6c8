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
