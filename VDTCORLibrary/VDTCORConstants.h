// The event transport's own texts: console tag, archive keys, queue labels, notification names,
// directory and file names. Copied exactly; peers and stored files rely on them.
#pragma once

inline constexpr const char* kVDTCORConsoleLoggerTag = "[VeltroEventTransport]";
inline constexpr const char* kVDTCORAssertHelperClassName = "VDTCORAssertHelper";
inline constexpr const char* kVDTCORAssertionBlockSelector = "assertionBlock";

// Events and clocks in archives.
inline constexpr const char* kVDTCOREventClassName = "VDTCOREvent";
inline constexpr const char* kVDTCORClockClassName = "VDTCORClock";
inline constexpr const char* kVDTCOREventEventIDKey = "VDTCOREventEventIDKey";
inline constexpr const char* kVDTCOREventMappingIDKey = "VDTCOREventMappingIDKey";
inline constexpr const char* kVDTCOREventTargetKey = "VDTCOREventTargetKey";
inline constexpr const char* kVDTCOREventQoSTierKey = "VDTCOREventQoSTierKey";
inline constexpr const char* kVDTCOREventClockSnapshotKey = "VDTCOREventClockSnapshotKey";
inline constexpr const char* kVDTCOREventCustomDataKey = "VDTCOREventCustomDataKey";
inline constexpr const char* kVDTCOREventExpirationDateKey = "VDTCOREventExpirationDateKey";
inline constexpr const char* kVDTCOREventSerializedDataObjectBytesKey =
    "VDTCOREventSerializedDataObjectBytesKey";
inline constexpr const char* kVDTCORClockTimeMillisKey = "VDTCORClockTimeMillis";
inline constexpr const char* kVDTCORClockTimezoneOffsetSecondsKey =
    "VDTCORClockTimezoneOffsetSeconds";
inline constexpr const char* kVDTCORClockKernelBootTimeKey = "VDTCORClockKernelBootTime";
inline constexpr const char* kVDTCORClockUptimeKey = "VDTCORClockUptime";

// Seven days.
inline constexpr double kVDTCOREventDefaultLifetimeSeconds = 604800;

// Serial queues.
inline constexpr const char* kVDTCORTransformerQueueLabel = "com.veltro.VDTCORTransformer";
inline constexpr const char* kVDTCORFlatFileStorageQueueLabel = "com.veltro.VDTCORFlatFileStorage";
inline constexpr const char* kVDTCORUploadCoordinatorQueueLabel =
    "com.veltro.VDTCORUploadCoordinator";
inline constexpr const char* kVDTCORRegistrarQueueLabel = "com.veltro.VDTCORRegistrar";
inline constexpr const char* kVDTCORReachabilityQueueLabel = "com.veltro.VDTCORReachability";

// Background task names.
inline constexpr const char* kVDTCORTransformerBackgroundTaskName = "VDTTransformer";
inline constexpr const char* kVDTCORStorageBackgroundTaskName = "VDTStorage";

// The transport's own life-cycle notifications.
inline constexpr const char* kVDTCORApplicationDidEnterBackgroundNotification =
    "VDTCORApplicationDidEnterBackgroundNotification";
inline constexpr const char* kVDTCORApplicationWillEnterForegroundNotification =
    "VDTCORApplicationWillEnterForegroundNotification";
inline constexpr const char* kVDTCORApplicationWillTerminateNotification =
    "VDTCORApplicationWillTerminateNotification";
// The platform's scene notifications, observed beside the application's.
inline constexpr const char* kVDTCORSceneWillDeactivateNotification =
    "UISceneWillDeactivateNotification";
inline constexpr const char* kVDTCORSceneWillEnterForegroundNotification =
    "UISceneWillEnterForegroundNotification";

// The store.
inline constexpr const char* kVDTCORStorageRootDirectoryName = "veltro-sdks-events";
inline constexpr const char* kVDTCORFlatFileStorageClassName = "VDTCORFlatFileStorage";
inline constexpr const char* kVDTCOREventDataDirectoryName = "vdt_event_data";
inline constexpr const char* kVDTCORBatchDataDirectoryName = "vdt_batch_data";
inline constexpr const char* kVDTCORLibraryDataDirectoryName = "vdt_library_data";
inline constexpr const char* kVDTCORBatchIDCounterKey = "VDTCORFlatFileStorageBatchIDCounter";
inline constexpr const char* kVDTCOREventComponentsEventIDKey = "VDTCOREventComponentsEventIDKey";
inline constexpr const char* kVDTCOREventComponentsQoSTierKey = "VDTCOREventComponentsQoSTierKey";
inline constexpr const char* kVDTCOREventComponentsExpirationKey =
    "VDTCOREventComponentsExpirationKey";
inline constexpr const char* kVDTCOREventComponentsMappingIDKey =
    "VDTCOREventComponentsMappingIDKey";
inline constexpr const char* kVDTCORBatchComponentsTargetKey = "VDTCORBatchComponentsTargetKey";
inline constexpr const char* kVDTCORBatchComponentsBatchIDKey = "VDTCORBatchComponentsBatchIDKey";
inline constexpr const char* kVDTCORBatchComponentsExpirationKey =
    "VDTCORBatchComponentsExpirationKey";
inline constexpr const char* kVDTCORFlatFileStorageErrorDomain = "VDTCORFlatFileStorage";
inline constexpr unsigned long long kVDTCORFlatFileStorageSizeLimit = 20000000;
