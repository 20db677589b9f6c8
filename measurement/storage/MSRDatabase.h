// The measurement engine's one database: a single SQLite file with its 13 tables (app metadata
// and daily counters, raw events and their metadata, the bundle queue, per-event aggregates, user
// attributes, audience filters and results, conditional user properties, purchase and
// subscription fingerprints, complex-event parameters). This part opens, validates, repairs and
// resets it and gives the typed-row operations every table's queries are built on. No lock and no
// queue: the engine calls it from its serial worker queue.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "measurement/storage/MSRSqliteStore.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "platform/base/Error.h"
#include "platform/base/Value.h"

class MSRAppMetadata;
class MSRConditionalUserProperty;
class MSRDailyCounts;
class MSREvent;
class MSREventAggregates;
class MSREventFilter;
struct MSREventStoredContent;
class MSRFilterResult;
class MSRPropertyFilter;
class MSRPBEventParam;
class MSRPBMeasurementBundle;
class MSRPBMeasurementConfig;
class MSRPersistedConfig;
class MSRRawEventData;
class MSRUserAttribute;
class MSRValue;

// A column value of an engine value: a string, a double, or else its 64-bit integer.
platform::Value MSRObjectFromValue(const MSRValue& value);
// One stored event parameter as {name: MSRValue}; an item (nested) gives its own dictionary of
// field name to value. Nullopt with the error set when it cannot be read.
std::optional<platform::Value::Dictionary> MSREventParameterFromProto(
    const std::shared_ptr<MSRPBEventParam>& param, bool nested, platform::ErrorPtr* error);
// A raw event's stored bytes (the data column) read through the Event message; nullopt with the
// error set when they do not give an event's content. The database reads the ordinary stored
// form directly (MSREventStoredForm.h) and comes here for everything else.
std::optional<MSREventStoredContent> MSREventStoredContentFromMessage(const platform::Value& data,
                                                                      platform::ErrorPtr* error);

class MSRDatabase {
 public:
  using Record = MSRSqliteStore::Record;
  // Decodes one row; nil skips the row.
  using CreateDataTypeBlock = std::function<platform::Value(const Record&, platform::ErrorPtr*)>;

  // The name is an entry of the engine folder ("veltro-lumo-measurement.sql"). Null on failure.
  static std::shared_ptr<MSRDatabase> initWithDatabaseName(
      const std::string& databaseName, std::shared_ptr<MSRPersistedConfig> persistedConfig,
      platform::ErrorPtr* error);

  // Deletes the file and starts again on an empty one.
  bool reset(platform::ErrorPtr* error);
  // The context ("Init", "Reset") only names the attempt in log texts.
  bool initializeDatabaseResourcesWithContext(const std::string& context,
                                              const std::string& databasePath,
                                              platform::ErrorPtr* error);
  bool ensureAllTables();
  bool initializeAppMetadata();
  // One exclusive transaction: true commits, false rolls back.
  bool performTransaction(const std::function<bool()>& block);

  // Typed rows. A limit of -1 reads every row.
  std::optional<platform::Value::Array> allDataTypesFromTableWithName(
      const std::string& tableName, long tableLimit, platform::ErrorPtr* error,
      const CreateDataTypeBlock& createDataTypeBlock);
  std::optional<platform::Value::Array> dataTypesFromTableWithName(
      const std::string& tableName, const std::string& columnName,
      const platform::Value& columnValue, platform::ErrorPtr* error,
      const CreateDataTypeBlock& createDataTypeBlock);
  bool insertDataType(const Record& record, const std::string& tableName,
                      platform::ErrorPtr* error);
  // A full table still takes replacements of existing keys.
  bool upsertDataType(const Record& record, const std::string& tableName,
                      const std::string& columnName, const platform::Value& columnValue,
                      long tableLimit, platform::ErrorPtr* error);
  bool updateDataType(const Record& record, const std::string& tableName,
                      const std::string& columnName, const platform::Value& columnValue,
                      platform::ErrorPtr* error);

  // Raw-event metadata: one row per distinct serialized metadata message, keyed by its
  // fingerprint (the 64 low bits of its MD5).
  bool insertIfNotExistsRawEventMetadata(const std::shared_ptr<MSRPBMeasurementBundle>& metadata,
                                         platform::ErrorPtr* error);
  // Null without error when absent.
  std::shared_ptr<MSRPBMeasurementBundle> queryRawEventsMetadataWithFingerprint(
      std::int64_t fingerprint, platform::ErrorPtr* error);
  bool deleteRawEventMetadataWithMetadataFingerprint(std::int64_t fingerprint,
                                                     platform::ErrorPtr* error);
  bool deleteUnusedRawEventsMetadata(platform::ErrorPtr* error);

  // Raw events. Numbers are nil on failure; flags are the numbers 0 and 1.
  platform::Value nextMetadataFingerprintToProcess(platform::ErrorPtr* error);
  platform::Value containsRawEventWithMetadataFingerprint(std::int64_t fingerprint,
                                                          platform::ErrorPtr* error);
  platform::Value containsRealtimeRawEventsWithError(platform::ErrorPtr* error);
  platform::Value isRawEventsTableEmpty(platform::ErrorPtr* error);
  platform::Value queryLatestRawEventTime(platform::ErrorPtr* error);  // nil when empty
  // The rows of the fingerprint read for a bundle, up to the highest row ID read; rows of other
  // fingerprints interleaved with them were not bundled, and stay.
  bool deleteRawEventsWithMaxRowID(std::int64_t maxRowID, std::int64_t metadataFingerprint,
                                   platform::ErrorPtr* error);
  // Leaves room for one more event under maxEventsStored; the number of rows deleted.
  platform::Value deleteRawEventsOverAbsoluteLimit(platform::ErrorPtr* error);
  bool deleteStaleRawEventsDataOlderThanMaxAge(double maxAge, platform::ErrorPtr* error);
  // Stores the event's message without its name (the name has its own column); a new row.
  bool insertRawEvent(const std::shared_ptr<MSREvent>& event, std::int64_t metadataFingerprint,
                      bool isRealtime, platform::ErrorPtr* error);
  // At most 1000 events of the fingerprint in row order, while the filter answers true. Rows that
  // do not decode are skipped; nullopt when the read failed or no row read decoded.
  std::optional<std::vector<std::shared_ptr<MSRRawEventData>>> rawEventsWithMetadataFingerprint(
      std::int64_t fingerprint, platform::ErrorPtr* error,
      const MSRSqliteStore::Filter& eventFilter);
  // One raw_events row ("rowid" and the columns) back to its event; an empty row is refused.
  std::shared_ptr<MSRRawEventData> rawEventDataFromDictionary(const Record& row,
                                                              platform::ErrorPtr* error);

  // The bundle queue: gzip-compressed bundles oldest end time first.
  using QueuedBundle = std::pair<std::shared_ptr<MSRPBMeasurementBundle>, std::int64_t>;
  bool insertBundle(const std::shared_ptr<MSRPBMeasurementBundle>& bundle, bool isRealtime,
                    platform::ErrorPtr* error);
  // The first bundle is always taken; later ones while the uncompressed total fits the limit.
  std::optional<std::vector<QueuedBundle>> queryBundlesWithCountLimit(std::int64_t countLimit,
                                                                      std::int64_t sizeLimit,
                                                                      platform::ErrorPtr* error);
  std::optional<std::vector<QueuedBundle>> queryBundlesWithRowIDs(
      const platform::Value::Array& rowIDs, platform::ErrorPtr* error);
  // Saturates at 2147483647.
  bool incrementRetryCounterForBundlesWithIDs(const platform::Value::Array& rowIDs,
                                              platform::ErrorPtr* error);
  bool deleteBundlesWithRowIDs(const platform::Value::Array& rowIDs, platform::ErrorPtr* error);
  platform::Value isQueuedBundleTableEmpty(platform::ErrorPtr* error);
  platform::Value containsRealtimeBundlesWithError(platform::ErrorPtr* error);
  platform::Value queryLatestBundleTime(platform::ErrorPtr* error);  // nil when empty
  bool deleteStaleBundlesOlderThanMaxAge(double maxAge, platform::ErrorPtr* error);
  // Yes when a deletion ran, no when none was due (or whether one is due cannot be read now: the
  // next call reads again), nil on failure.
  platform::Value maybeDeleteStaleData(platform::ErrorPtr* error);

  // Purchases and subscriptions reported once: yes when newly recorded, no for a duplicate or an
  // empty text, nil on a failure reported through a given error slot.
  platform::Value insertIfNotDuplicatePurchaseFingerprint(const std::string& fingerprint,
                                                          platform::ErrorPtr* error);
  platform::Value insertIfNotDuplicateSubscriptionID(const std::string& subscriptionID,
                                                     platform::ErrorPtr* error);
  // Keeps the newest 1000; the number of rows deleted.
  platform::Value deleteSubscriptionsOverLimit(platform::ErrorPtr* error);

  // Bundle bookkeeping and daily counters of the app metadata row. Null without error when the row
  // is absent; the counts carry the stored day, today's when none is stored.
  std::shared_ptr<MSRAppMetadata> queryAppMetadata(platform::ErrorPtr* error);
  bool updateAppMetadata(const std::shared_ptr<MSRAppMetadata>& appMetadata,
                         platform::ErrorPtr* error);
  // Null with code 2 while the midnight offset that numbers the days cannot be read.
  std::shared_ptr<MSRDailyCounts> dailyCounts(platform::ErrorPtr* error);
  bool updateDailyCounts(const std::shared_ptr<MSRDailyCounts>& dailyCounts,
                         platform::ErrorPtr* error);

  // Per-event-name aggregates (at most 1000 names). Counts are numbers, nil on failure; names
  // starting with "_" are not public.
  platform::Value publicEventCount(platform::ErrorPtr* error);
  // Rows that do not decode are skipped.
  std::optional<std::vector<std::shared_ptr<MSREventAggregates>>> allEventAggregates(
      platform::ErrorPtr* error);
  std::shared_ptr<MSREventAggregates> eventAggregatesWithName(const std::string& name,
                                                              platform::ErrorPtr* error);
  // Replaces the whole row: no complex event ID leaves that column NULL.
  bool updateEventAggregates(const std::shared_ptr<MSREventAggregates>& aggregates,
                             platform::ErrorPtr* error);
  bool clearCurrentSessionCounts(platform::ErrorPtr* error);

  // Current user attributes, internal ones included (at most 1000 names).
  platform::Value publicUserAttributeCount(platform::ErrorPtr* error);
  platform::Value userAttributeCountForOrigin(const std::string& origin, platform::ErrorPtr* error);
  platform::Value containsUserAttributeWithName(const std::string& name, platform::ErrorPtr* error);
  std::shared_ptr<MSRUserAttribute> userAttributeWithName(const std::string& name,
                                                          platform::ErrorPtr* error);
  // Newest first; one row that does not decode fails the whole read.
  std::optional<std::vector<std::shared_ptr<MSRUserAttribute>>> allLifetimeValueUserAttributes(
      platform::ErrorPtr* error);
  // Without internal ones: no leading "_", no reserved prefix, no reserved name; a failed read
  // then gives an empty list with the error set.
  std::optional<std::vector<std::shared_ptr<MSRUserAttribute>>> userAttributesIncludingInternal(
      bool includeInternal, platform::ErrorPtr* error);
  bool updateUserAttribute(const std::shared_ptr<MSRUserAttribute>& attribute,
                           platform::ErrorPtr* error);
  bool deleteUserAttributeWithName(const std::string& name, platform::ErrorPtr* error);

  // The last downloaded measurement configuration and fetch time, in the app metadata row.
  bool updateRemoteConfig(const std::shared_ptr<MSRPBMeasurementConfig>& config,
                          platform::ErrorPtr* error);
  bool updateRemoteConfigSuccessfulTimestamp(double timestamp, platform::ErrorPtr* error);
  // Null without error when none is stored.
  std::shared_ptr<MSRPBMeasurementConfig> queryMeasurementConfigWithError(
      platform::ErrorPtr* error);
  platform::Value lastRemoteConfigUpdateTimestamp(platform::ErrorPtr* error);

  // Audience filters and results. The filters' flags are read from their encoded data, not from
  // the session_scoped column, which only the session-scoped query reads.
  // Keyed by audience ID; empty (error set) when the read fails.
  std::map<std::int32_t, std::shared_ptr<MSRFilterResult>> allFilterResults(
      platform::ErrorPtr* error);
  std::optional<std::vector<std::int32_t>> allAudienceIDs(platform::ErrorPtr* error);
  std::optional<std::vector<std::shared_ptr<MSREventFilter>>> eventFiltersForEventName(
      const std::string& eventName, platform::ErrorPtr* error);
  std::optional<std::vector<std::shared_ptr<MSRPropertyFilter>>> propertyFiltersForPropertyName(
      const std::string& propertyName, platform::ErrorPtr* error);
  // Null without error when the audience has no row.
  std::shared_ptr<MSRFilterResult> filterResultForAudienceID(std::int32_t audienceID,
                                                             platform::ErrorPtr* error);
  // Audience ID to its session-scoped filter IDs; nullopt when the query failed.
  std::optional<std::map<std::int32_t, std::vector<std::int32_t>>> allSessionScopedFilters(
      platform::ErrorPtr* error);
  // Element by element; the first failure stops with the earlier ones written (a null element
  // is refused as an unknown data type).
  bool updateEventFilters(const std::vector<std::shared_ptr<MSREventFilter>>& filters,
                          platform::ErrorPtr* error);
  bool updatePropertyFilters(const std::vector<std::shared_ptr<MSRPropertyFilter>>& filters,
                             platform::ErrorPtr* error);
  bool updateFilterResults(const std::vector<std::shared_ptr<MSRFilterResult>>& results,
                           platform::ErrorPtr* error);
  bool deleteFilterResults(const std::vector<std::shared_ptr<MSRFilterResult>>& results,
                           platform::ErrorPtr* error);
  // Any number of filters: deleted in chunks, all or none (inside the caller's transaction when
  // one is open, else in one of their own).
  bool deleteEventFilters(const std::vector<std::shared_ptr<MSREventFilter>>& filters,
                          platform::ErrorPtr* error);
  bool deletePropertyFilters(const std::vector<std::shared_ptr<MSRPropertyFilter>>& filters,
                             platform::ErrorPtr* error);
  bool deleteAllEventFilters(platform::ErrorPtr* error);
  bool deleteAllPropertyFilters(platform::ErrorPtr* error);

  // Row and record conversions of the audience tables. Rows are checked (error code 3).
  static std::shared_ptr<MSREventFilter> eventFilterFromDictionary(const Record& row);
  static std::shared_ptr<MSRPropertyFilter> propertyFilterFromDictionary(const Record& row);
  static std::shared_ptr<MSRFilterResult> filterResultFromDictionary(const Record& row);
  static std::optional<Record> dictionaryFromEventFilter(const MSREventFilter& filter,
                                                         platform::ErrorPtr* error);
  static std::optional<Record> dictionaryFromPropertyFilter(const MSRPropertyFilter& filter,
                                                            platform::ErrorPtr* error);
  static std::optional<Record> dictionaryFromFilterResult(const MSRFilterResult& result,
                                                          platform::ErrorPtr* error);
  // Events stored in a column: the encoded Event message, and back (error code 2).
  static std::optional<platform::Bytes> blobFromEvent(const MSREvent& event);
  static std::shared_ptr<MSREvent> eventFromBlob(const platform::Value& blob,
                                                 platform::ErrorPtr* error);

  // Complex events under audience evaluation: the main event and its children still to process.
  bool updateComplexEventForAudienceEvaluationWithEventID(
      std::int64_t eventID, std::int64_t childEventCount,
      const std::shared_ptr<MSREvent>& mainEvent, platform::ErrorPtr* error);
  // Nullopt without error when none is stored.
  std::optional<std::pair<std::shared_ptr<MSREvent>, std::int64_t>>
  mainEventAndChildCountPairWithEventID(std::int64_t eventID, platform::ErrorPtr* error);
  bool deleteComplexEventForAudienceEvaluationWithEventID(std::int64_t eventID,
                                                          platform::ErrorPtr* error);

  // Conditional user properties (at most 1000 names). "now" is the clock at the call.
  using ConditionalUserProperties = std::vector<std::shared_ptr<MSRConditionalUserProperty>>;
  // Null without error when none has the name.
  std::shared_ptr<MSRConditionalUserProperty> conditionalUserPropertyWithName(
      const std::string& name, platform::ErrorPtr* error);
  // Replaces the whole row: what the property leaves empty is NULL afterwards.
  bool updateConditionalUserProperty(const std::shared_ptr<MSRConditionalUserProperty>& property,
                                     platform::ErrorPtr* error);
  bool deleteConditionalUserPropertyWithName(const std::string& name, platform::ErrorPtr* error);
  // Not active and created longer ago (or later) than their trigger timeout.
  std::optional<ConditionalUserProperties> timedOutConditionalUserPropertiesWithError(
      platform::ErrorPtr* error);
  // Active and triggered longer ago (or later) than their time to live.
  std::optional<ConditionalUserProperties> expiredConditionalUserPropertiesWithError(
      platform::ErrorPtr* error);
  // Not active, waiting for this event, and still within their trigger timeout.
  std::optional<ConditionalUserProperties> triggeredConditionalUserPropertiesWithEventName(
      const std::string& eventName, platform::ErrorPtr* error);
  // Names that begin with the prefix and the origin, each taken literally; empty means any.
  std::optional<ConditionalUserProperties> conditionalUserPropertiesWithPrefix(
      const std::string& prefix, const std::string& filterByOrigin, platform::ErrorPtr* error);
  // Every row matching the condition; one row that does not decode fails the whole read.
  std::optional<ConditionalUserProperties> conditionalUserPropertiesWithCondition(
      const std::string& condition, const platform::Value::Array& parameterValues,
      platform::ErrorPtr* error);
  static std::optional<Record> dictionaryFromConditionalUserProperty(
      const MSRConditionalUserProperty* property, platform::ErrorPtr* error);
  static std::shared_ptr<MSRConditionalUserProperty> conditionalUserPropertyFromDictionary(
      const Record& row, platform::ErrorPtr* error);

  const std::shared_ptr<MSRSqliteStore>& sqliteStore() const { return sqliteStore_; }
  const std::shared_ptr<MSRPersistedConfig>& persistedConfig() const { return persistedConfig_; }

 private:
  MSRDatabase() = default;
  // Runs the block inside the caller's open transaction, or else in one of its own.
  bool withinTransaction(platform::ErrorPtr* error, const std::function<bool()>& block);
  // Deletes raw events that were read and do not decode, with a log line.
  void deleteUnreadableRawEvents(const platform::Value::Array& rowIDs);
  bool deleteFiltersInChunks(const char* tableName, const std::vector<std::string>& clauses,
                             platform::ErrorPtr* error);
  std::optional<QueuedBundle> bundleFromRow(const Record& row, platform::ErrorPtr* error);
  std::optional<std::vector<QueuedBundle>> bundlesForQuery(const std::string& query,
                                                           const platform::Value::Array& params,
                                                           std::int64_t sizeLimit,
                                                           platform::ErrorPtr* error);

  // insertDataType for a fixed column list and one borrowed value per column.
  bool insertColumnValues(MSRSqliteStore::UpsertColumns& columns,
                          std::span<const MSRSqliteStore::ColumnValue> values,
                          platform::ErrorPtr* error);

  std::shared_ptr<MSRSqliteStore> sqliteStore_;
  std::shared_ptr<MSRPersistedConfig> persistedConfig_;
  // A raw event's row, in the order a record of it lists its columns.
  MSRSqliteStore::UpsertColumns rawEventColumns_{
      kMSRTableRawEvents, {"data", "is_realtime", "metadata_fingerprint", "name", "timestamp"}};
};
