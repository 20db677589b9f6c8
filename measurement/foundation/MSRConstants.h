// The measurement foundation's own texts: error domain and keys, persisted keys, launch
// arguments, queue labels and the engine's fixed names. Copied exactly; callers and stored files
// rely on them.
#pragma once

inline constexpr const char* kMSRErrorDomain = "com.veltro.vmp.measurement.ErrorDomain";
inline constexpr const char* kMSRMonitorContextKey = "MSRMonitorContext";

inline constexpr const char* kMSRDefaultLogTag = "<LumoMeasurement>";
inline constexpr const char* kMSRMessageCodeFormat = "I-ACS%06ld";
inline constexpr const char* kMSRMonitorQueueLabel = "MSRMonitorQueue";
inline constexpr const char* kMSRMonitorSuiteName = "com.veltro.vmp.measurement.monitor";
inline constexpr const char* kMSRWorkerQueueLabel = "com.veltro.lma.worker";

inline constexpr const char* kMSRDebugModeKey = "/veltro/measurement/debug_mode";
inline constexpr const char* kMSRVerboseLoggingKey = "/veltro/measurement/verbose_logging";
inline constexpr const char* kMSRHealthMonitorKey = "/veltro/measurement/health_monitor";
inline constexpr const char* kMSRMonitorMigrationStateKey =
    "/veltro/measurement/monitor_migration_state";

inline constexpr const char* kMSRArgLMODebugEnabled = "-LMODebugEnabled";
inline constexpr const char* kMSRArgLMODebugDisabled = "-LMODebugDisabled";
inline constexpr const char* kMSRArgMSRAnalyticsDebugEnabled = "-MSRAnalyticsDebugEnabled";
inline constexpr const char* kMSRArgLMOAnalyticsDebugEnabled = "-LMOAnalyticsDebugEnabled";
inline constexpr const char* kMSRArgNoMSRAnalyticsDebugEnabled = "-noMSRAnalyticsDebugEnabled";
inline constexpr const char* kMSRArgNoLMOAnalyticsDebugEnabled = "-noLMOAnalyticsDebugEnabled";
inline constexpr const char* kMSRArgMSRVerboseEnabled = "-MSRAnalyticsVerboseLoggingEnabled";
inline constexpr const char* kMSRArgLMOVerboseEnabled = "-LMOAnalyticsVerboseLoggingEnabled";
inline constexpr const char* kMSRArgMSRVerboseDisabled = "-MSRAnalyticsVerboseLoggingDisabled";
inline constexpr const char* kMSRArgLMOVerboseDisabled = "-LMOAnalyticsVerboseLoggingDisabled";

inline constexpr const char* kMSRLMOConfigurationClassName = "LMOConfiguration";
inline constexpr const char* kMSRAEUClassName = "MSRAEU";

// The engine's file locations: its folder under Application Support (database, stores, engine
// copies of suites' preference files), the Library's preferences folder and the file extension.
inline constexpr const char* kMSREngineFolder = "Veltro/Measurement";
inline constexpr const char* kMSRPreferencesFolder = "Preferences";
inline constexpr const char* kMSRPlistExtension = "plist";
inline constexpr long kMSRLibraryPathEmptyCode = 19000;
inline constexpr const char* kMSRLibraryPathEmpty = "NSSearchPath for Library directory is empty";
inline constexpr long kMSRAppSupportPathEmptyCode = 19001;
inline constexpr const char* kMSRAppSupportPathEmpty =
    "NSSearchPath for ApplicationSupport directory is empty";

inline constexpr const char* kMSRMessageWasNil = "(Message was nil)";
inline constexpr const char* kMSRMessageWasEmpty = "(Message was empty)";
inline constexpr const char* kMSREmptyMethodName = "<empty method name>";
inline constexpr const char* kMSRDefaultAlarmName = "Timer";
