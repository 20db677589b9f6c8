// The measurement storage's own texts: log service, folders, file extensions, fixed statements
// and the messages of its errors and log lines. Copied exactly; callers and stored files rely on
// them.
#pragma once

#include <cstddef>

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
// A transaction begun inside a running one.
inline constexpr const char* kMSRNestedBeginSQL = "SAVEPOINT msr_nested";
inline constexpr const char* kMSRNestedReleaseSQL = "RELEASE msr_nested";
inline constexpr const char* kMSRNestedRollbackSQL = "ROLLBACK TO msr_nested";
inline constexpr const char* kMSRIntegrityCheckSQL = "PRAGMA integrity_check";
inline constexpr const char* kMSRPrimaryKey = "PRIMARY KEY";
inline constexpr int kMSRBusyTimeoutMilliseconds = 2000;
inline constexpr const char* kMSRQueryRecordsOperation = "query records";
inline constexpr const char* kMSRTableExistsOperation = "table exists";
inline constexpr const char* kMSRTableInfoOperation = "table info";
inline constexpr const char* kMSRTransactionRolledBack =
    "Transaction was rolled back by the database";

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

// Audience filters and results, complex events.
inline constexpr std::size_t kMSRFilterDeleteChunkSize = 200;
inline constexpr const char* kMSREventFilterEmptyName =
    "Received event filter with empty event name for getting dictionary representation";
inline constexpr const char* kMSREventFilterEmptyData =
    "Received event filter with empty data for getting dictionary representation";
inline constexpr const char* kMSRPropertyFilterEmptyName =
    "Received property filter with empty property name for getting dictionary representation";
inline constexpr const char* kMSRPropertyFilterEmptyData =
    "Received property filter with empty data for getting dictionary representation";
inline constexpr const char* kMSRFilterResultEmptyData =
    "Received filter result with empty data for getting dictionary representation";
inline constexpr const char* kMSREventBlobNotData =
    "Failed to convert data to an event. Data must be a NSData instance";
inline constexpr const char* kMSREventBlobParseFailed = "Failed to parse event from data";
inline constexpr const char* kMSREventBlobInitFailed = "Failed to initialize event from proto data";
inline constexpr const char* kMSRAllAudienceIDsNil =
    "Received nil audience ID for querying all audience IDs";
inline constexpr const char* kMSREmptyEventNameForFilters =
    "Received empty event name for getting event filters";
inline constexpr const char* kMSREmptyPropertyNameForFilters =
    "Received empty property name for getting property filters";
inline constexpr const char* kMSREmptyEventFiltersToUpdate =
    "Received empty event filters to update";
inline constexpr const char* kMSREmptyPropertyFiltersToUpdate =
    "Received empty property filters to update";
inline constexpr const char* kMSREmptyFilterResultsToUpdate =
    "Received empty filter results to update";
inline constexpr const char* kMSRUnknownEventFilterToUpdate =
    "Received unknown data type to update event filter";
inline constexpr const char* kMSRUnknownPropertyFilterToUpdate =
    "Received unknown data type to update property filter";
inline constexpr const char* kMSRUnknownFilterResultToUpdate =
    "Received unknown data type to update filter result";
inline constexpr const char* kMSREmptyFilterResultsToDelete =
    "Received empty filter results to delete";
inline constexpr const char* kMSRUnknownFilterResultToDelete =
    "Received unknown type to delete filter result";
inline constexpr const char* kMSREmptyEventFiltersToDelete =
    "Received empty event filters to delete";
inline constexpr const char* kMSREmptyPropertyFiltersToDelete =
    "Received empty property filters to delete";
inline constexpr const char* kMSRUnknownEventFilterToDelete =
    "Received unknown type to delete event filter";
inline constexpr const char* kMSRUnknownPropertyFilterToDelete =
    "Received unknown type to delete property filter";
inline constexpr const char* kMSRNilMainEvent = "Received nil main event";
inline constexpr const char* kMSRMainEventBlobFailed = "Cannot create the main event blob";
inline constexpr const char* kMSRMainEventBlobNil = "Main event blob is nil in database";
inline constexpr const char* kMSRComplexEventNoChildCount =
    "Complex event does not have children count in database";

// Conditional user properties.
inline constexpr const char* kMSRConditionalPropertyNil =
    "Received empty conditional user property for getting dictionary representation";
inline constexpr const char* kMSRConditionalPropertyEmptyName =
    "Received conditional user property with empty name for getting dictionary representation";
inline constexpr const char* kMSRConditionalPropertyEmptyOrigin =
    "Received conditional user property with empty origin for getting dictionary "
    "representation";
inline constexpr const char* kMSRConditionalPropertyNilValue =
    "Received conditional user property with nil value for getting dictionary representation";
inline constexpr const char* kMSRConditionalPropertyUnreadableValue =
    "Conditional user property value in database cannot be read";
inline constexpr const char* kMSRConditionalPropertyEmptyCondition =
    "Received empty condition for querying a conditional user property";
inline constexpr const char* kMSRConditionalPropertyEmptyEventName =
    "Received nil/empty event name for querying triggered conditional user properties";
