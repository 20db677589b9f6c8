// The measurement storage's own texts: log service, folders, file extensions, fixed statements
// and the messages of its errors and log lines. Copied exactly; callers and stored files rely on
// them.
#pragma once

inline constexpr const char* kMSRStorageLogService = "<LumoMeasurement>";

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

// The persisted settings.
inline constexpr const char* kMSRConfigKeyLastDeleteStaleBundlesTimestamp =
    "/veltro/measurement/last_delete_stale";
inline constexpr const char* kMSRConfigKeySearchAdCampaignValue =
    "/veltro/measurement/is_search_ad_campaign";
inline constexpr const char* kMSRConfigKeyLastSearchAdLookUpTimestamp =
    "/veltro/measurement/search_ad_last_attempt_timestamp";
inline constexpr const char* kMSRConfigKeySearchAdRetryCount =
    "/veltro/measurement/search_ad_number_of_retries";
inline constexpr const char* kMSRConfigKeyAppInstanceID = "/veltro/measurement/app_instance_id";
inline constexpr const char* kMSRConfigKeyAppIDFromVMP = "/veltro/measurement/vmp_app_id";
inline constexpr const char* kMSRConfigKeyAppIDFromAdVista = "/veltro/measurement/advista_app_id";
inline constexpr const char* kMSRConfigKeyHashedResettableDeviceID =
    "/veltro/measurement/hashed_idfa";
inline constexpr const char* kMSRConfigKeyMeasurementEnabledState =
    "/veltro/measurement/measurement_enabled_state";
inline constexpr const char* kMSRConfigKeyLastBackoffTimestamp = "/veltro/measurement/last_backoff";
inline constexpr const char* kMSRConfigKeyLastSuccessfulUploadTimestamp =
    "/veltro/measurement/last_successful_upload";
inline constexpr const char* kMSRConfigKeyLastFailedUploadTimestamp =
    "/veltro/measurement/last_failed_upload";
inline constexpr const char* kMSRConfigKeyAppVersion = "/veltro/measurement/app_version";
inline constexpr const char* kMSRConfigKeyOsVersion = "/veltro/measurement/os_version";
inline constexpr const char* kMSRConfigKeyMidnightOffset = "/veltro/measurement/midnight_offset";
inline constexpr const char* kMSRConfigKeyLastMonitorDataSampledTimestamp =
    "/veltro/measurement/last_monitor_data_sampled_timestamp";
inline constexpr const char* kMSRConfigKeyFirstOpenTimestampMilliseconds =
    "/veltro/measurement/first_open_timestamp_ms";
inline constexpr const char* kMSRConfigKeyConfigServerLastModifiedString =
    "/veltro/measurement/last_modified_since_key";
inline constexpr const char* kMSRConfigKeyLoadTimestampValue = "/veltro/measurement/load_timestamp";
inline constexpr const char* kMSRConfigKeyAllowPersonalizedAds =
    "/veltro/measurement/allow_personalized_ads";
inline constexpr const char* kMSRConfigKeyLumoFeatureRollouts =
    "/veltro/measurement/lumo_feature_rollouts";
inline constexpr const char* kMSRConfigKeyDeferredDeepLinkRetrievalComplete =
    "/veltro/measurement/deep_link_retrieval_complete";
inline constexpr const char* kMSRConfigKeyDeferredDeepLinkRetryCount =
    "/veltro/measurement/deep_link_retry_count";
inline constexpr const char* kMSRConfigKeyShouldSetLastAdvertisingIDResetUserProperty =
    "/veltro/measurement/set_last_advertising_id_reset";
inline constexpr const char* kMSRConfigKeyUnmatchedFirstOpenWithoutIDFA =
    "/veltro/measurement/unmatched_first_open";
inline constexpr const char* kMSRConfigKeyLastSessionActivityClockTime =
    "/veltro/measurement/last_engagement_end";
inline constexpr const char* kMSRConfigKeySessionNumber = "/veltro/measurement/session_number";
inline constexpr const char* kMSRConfigKeyDefaultEventParameters =
    "/veltro/measurement/default_event_parameters";
// Persisted configuration.
inline constexpr const char* kMSRPersistedConfigSuiteName = "com.veltro.vmp.measurement";
inline constexpr const char* kMSRPersistedConfigQueueLabel = "MSRPersistedConfig";
inline constexpr const char* kMSRPersistedConfigSharedInstanceNil =
    "PersistedConfig's shared instance is nil";
inline constexpr const char* kMSRPersistedConfigUnsupportedValue =
    "Unsupported value passed in dictionary";

// Measurement database.
inline constexpr const char* kMSRDatabaseName = "veltro-lumo-measurement.sql";
inline constexpr const char* kMSRTableAppMetadata = "app_metadata";
inline constexpr const char* kMSRTableRawEventsMetadata = "raw_events_metadata";
inline constexpr const char* kMSRTableRawEvents = "raw_events";
inline constexpr const char* kMSRTableEvents = "events";
inline constexpr const char* kMSRTableUserAttributes = "user_attributes";
inline constexpr const char* kMSRTableQueue = "queue";
inline constexpr const char* kMSRTableEventFilters = "event_filters";
inline constexpr const char* kMSRTablePropertyFilters = "property_filters";
inline constexpr const char* kMSRTableAudienceFilterValues = "audience_filter_values";
inline constexpr const char* kMSRTablePurchaseTransactions = "purchase_transactions";
inline constexpr const char* kMSRTableSubscriptions = "subscriptions";
inline constexpr const char* kMSRTableConditionalProperties = "conditional_properties";
inline constexpr const char* kMSRTableMainEventParams = "main_event_params";
inline constexpr const char* kMSRColumnRowID = "rowid";
inline constexpr const char* kMSRAppMetadataRowID = "1";
inline constexpr const char* kMSRContextInit = "Init";
inline constexpr const char* kMSRContextReset = "Reset";
