// The measurement storage's own texts: log service, folders, file extensions, fixed statements
// and the messages of its errors and log lines. Copied exactly; callers and stored files rely on
// them.
#pragma once

inline constexpr const char* kMSRStorageLogService = "<LumoMeasurement>";
inline constexpr const char* kMSRStorageEngineFolder = "Veltro/Measurement";
inline constexpr const char* kMSRPlistExtension = "plist";
inline constexpr const char* kMSRPreferencesFolder = "Preferences";

// File locations (engine monitor).
inline constexpr long kMSRLibraryPathEmptyCode = 19000;
inline constexpr const char* kMSRLibraryPathEmpty = "NSSearchPath for Library directory is empty";
inline constexpr long kMSRAppSupportPathEmptyCode = 19001;
inline constexpr const char* kMSRAppSupportPathEmpty =
    "NSSearchPath for ApplicationSupport directory is empty";

// Configuration stores (utilities logger).
inline constexpr const char* kMSRConfigCannotPersist = "Cannot persist configs to disk";
inline constexpr const char* kMSRConfigInvalidGetKey = "Cannot get object for invalid config key.";
inline constexpr const char* kMSRConfigInvalidSetKey = "Cannot set object for invalid config key.";
inline constexpr const char* kMSRConfigInvalidObject =
    "Cannot set invalid object to config. Must be a string, number, array, dictionary, date, or "
    "data. Value %@";
inline constexpr const char* kMSRConfigCannotCreateDirectories =
    "Cannot create subdirectories for config plist files.";
inline constexpr const char* kMSRDefaultsExcludeFailed =
    "Failed to exclude preferences file from backup. Error code %@";
inline constexpr const char* kMSRDefaultsInvalidGetKey =
    "Cannot get object for invalid user default key.";
inline constexpr const char* kMSRDefaultsInvalidSetKey =
    "Cannot set object for invalid user default key.";
inline constexpr const char* kMSRDefaultsInvalidObject =
    "Cannot set invalid object to user defaults. Must be a string or number or an array. Value %@";
inline constexpr const char* kMSRDefaultsCannotSynchronize =
    "Cannot synchronize user defaults to disk";
inline constexpr const char* kMSRPersistentDictionaryQueueLabel = "MSRPersistentDictionary";
inline constexpr const char* kMSRUseCFPreferencesLibraryKey = "UseCFPreferencesLibrary";

// SQLite store.
inline constexpr const char* kMSRBeginTransactionSQL = "BEGIN EXCLUSIVE TRANSACTION";
inline constexpr const char* kMSREndTransactionSQL = "END TRANSACTION";
inline constexpr const char* kMSRRollbackSQL = "ROLLBACK";
inline constexpr const char* kMSRIntegrityCheckSQL = "PRAGMA integrity_check";
inline constexpr const char* kMSRPrimaryKey = "PRIMARY KEY";
