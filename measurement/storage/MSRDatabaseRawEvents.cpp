// The measurement database's raw events, raw-event metadata and bundle queue.
#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/engine/MSRRemoteConfig.h"
#include "measurement/foundation/MSRError.h"
#include "measurement/foundation/MSREvent.h"
#include "measurement/foundation/MSREventStoredForm.h"
#include "measurement/foundation/MSRMonitor.h"
#include "measurement/foundation/MSRRawEventData.h"
#include "measurement/foundation/MSRUtilities.h"
#include "measurement/foundation/MSRValue.h"
#include "measurement/messages/MSRPBAccessors.h"
#include "measurement/messages/MSRPBEvent.h"
#include "measurement/messages/MSRPBEventParam.h"
#include "measurement/messages/MSRPBMeasurementBundle.h"
#include "measurement/messages/MSRPBSchema.h"
#include "measurement/storage/MSRDatabase.h"
#include "measurement/storage/MSRPersistedConfig.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "platform/base/Format.h"
#include "platform/base/Strings.h"
#include "platform/dispatch/Clock.h"
#include "utilities/VTUGzip.h"

using platform::ErrorPtr;
using platform::Value;

namespace {

constexpr long kMaxRawEventsMetadataRows = 100000;
constexpr std::int32_t kRetryCountCap = std::numeric_limits<std::int32_t>::max();

// The bundle's slot for a wire tag: slots follow the message's own order, not its tags.
std::int32_t bundleSlot(std::uint32_t tag) {
  static const MSRPBMessageType* type = MSRPBMessageTypeNamed("MeasurementBundle");
  for (std::uint32_t slot = 0; type && slot < type->fieldCount; ++slot) {
    if (type->fields[slot].tag == tag) return static_cast<std::int32_t>(slot);
  }
  return -1;
}
std::int32_t endTimestampSlot() { return bundleSlot(6); }
std::int32_t appIDSlot() { return bundleSlot(14); }
std::int32_t retryCountSlot() { return bundleSlot(39); }

double now() { return platform::Clock::current().now(); }

// "rowid IN (?,?,?)" for the IDs; nullopt (error set) for an empty list or a non-number.
std::optional<std::string> rowIDCondition(const Value::Array& rowIDs, ErrorPtr* error) {
  if (!MSRCheckTrue(!rowIDs.empty(), error, 3, "Received empty row IDs to process")) {
    return std::nullopt;
  }
  for (const auto& rowID : rowIDs) {
    if (!MSRCheckTrue(rowID.isNumber(), error, 3, "Received invalid type for row ID to process")) {
      return std::nullopt;
    }
  }
  std::string markers = "?";
  while (markers.size() < 2 * rowIDs.size() - 1) markers += ",?";
  return platform::format("rowid IN (%@)", markers);
}

}  // namespace

bool MSRDatabase::insertIfNotExistsRawEventMetadata(
    const std::shared_ptr<MSRPBMeasurementBundle>& metadata, ErrorPtr* error) {
  const auto bytes = metadata ? metadata->protoBuffer() : std::nullopt;
  const std::int64_t fingerprint = msr_64LSBMD5(bytes.value_or(platform::Bytes()));
  ErrorPtr queryError;
  if (queryRawEventsMetadataWithFingerprint(fingerprint, &queryError)) return true;
  if (!MSRCheckTrue(bytes && !bytes->empty(), error, 3,
                    "Received empty measurement bundle metadata for getting dictionary "
                    "representation")) {
    return false;
  }
  const Record record{{"metadata_fingerprint", Value(static_cast<long long>(fingerprint))},
                      {"metadata", Value::data(*bytes)}};
  return upsertDataType(record, kMSRTableRawEventsMetadata, "metadata_fingerprint",
                        Value(static_cast<long long>(fingerprint)), kMaxRawEventsMetadataRows,
                        error);
}

std::shared_ptr<MSRPBMeasurementBundle> MSRDatabase::queryRawEventsMetadataWithFingerprint(
    std::int64_t fingerprint, ErrorPtr* error) {
  const auto rows = dataTypesFromTableWithName(
      kMSRTableRawEventsMetadata, "metadata_fingerprint",
      Value(static_cast<long long>(fingerprint)), error,
      [](const Record& row, ErrorPtr* rowError) -> Value {
        if (!MSRCheckTrue(!row.empty(), rowError, 3,
                          "Received empty dictionary for getting measurement bundle")) {
          return Value();
        }
        const auto it = row.find("metadata");
        const bool present = it != row.end() && it->second.bytes() && !it->second.bytes()->empty();
        if (!MSRCheckTrue(present, rowError, 3,
                          "Event metadata should not be empty for getting measurement bundle")) {
          return Value();
        }
        auto bundle = MSRPBMeasurementBundle::initWithBuffer(*it->second.bytes());
        return bundle ? Value(bundle) : Value();
      });
  if (!rows || rows->empty()) return nullptr;
  return rows->front().objectAs<MSRPBMeasurementBundle>();
}

bool MSRDatabase::deleteRawEventMetadataWithMetadataFingerprint(std::int64_t fingerprint,
                                                                ErrorPtr* error) {
  return sqliteStore_
      ->deleteRecordsFromTableWithName(kMSRTableRawEventsMetadata, "metadata_fingerprint == ?",
                                       {Value(static_cast<long long>(fingerprint))}, error)
      .has_value();
}

bool MSRDatabase::deleteUnusedRawEventsMetadata(ErrorPtr* error) {
  return sqliteStore_
      ->deleteRecordsFromTableWithName(
          kMSRTableRawEventsMetadata,
          "metadata_fingerprint NOT IN (SELECT DISTINCT metadata_fingerprint FROM raw_events)", {},
          error)
      .has_value();
}

Value MSRDatabase::nextMetadataFingerprintToProcess(ErrorPtr* error) {
  const auto rows = sqliteStore_->recordsForQuery(
      "SELECT metadata_fingerprint, MIN(rowid) FROM raw_events", {}, error);
  if (!rows) return Value();
  if (!MSRCheckTrue(rows->size() == 1, error, 2, "Only one event metadata should be processed")) {
    return Value();
  }
  const auto it = rows->front().find("metadata_fingerprint");
  if (it == rows->front().end() || !it->second.isNumber()) return Value();
  return it->second;
}

Value MSRDatabase::containsRawEventWithMetadataFingerprint(std::int64_t fingerprint,
                                                           ErrorPtr* error) {
  return sqliteStore_->numberForQuery(
      "SELECT EXISTS (SELECT 1 FROM raw_events WHERE metadata_fingerprint = ? LIMIT 1)",
      {Value(static_cast<long long>(fingerprint))}, error);
}

Value MSRDatabase::containsRealtimeRawEventsWithError(ErrorPtr* error) {
  return sqliteStore_->numberForQuery(
      "SELECT EXISTS (SELECT 1 FROM raw_events WHERE is_realtime = 1 LIMIT 1)", {}, error);
}

Value MSRDatabase::isRawEventsTableEmpty(ErrorPtr* error) {
  return sqliteStore_->numberForQuery("SELECT NOT EXISTS (SELECT 1 FROM raw_events LIMIT 1)", {},
                                      error);
}

Value MSRDatabase::queryLatestRawEventTime(ErrorPtr* error) {
  return sqliteStore_->numberForQuery("SELECT MAX(timestamp) FROM raw_events", {}, error);
}

bool MSRDatabase::deleteRawEventsWithMaxRowID(std::int64_t maxRowID,
                                              std::int64_t metadataFingerprint, ErrorPtr* error) {
  // By the fingerprint the rows were read for, not by the row at maxRowID, which may have gone
  // since (aged out, or over the limit) and would then leave every bundled row to be bundled
  // again.
  return sqliteStore_
      ->deleteRecordsFromTableWithName(
          kMSRTableRawEvents, "rowid <= ? AND metadata_fingerprint = ?",
          {Value(static_cast<long long>(maxRowID)),
           Value(static_cast<long long>(metadataFingerprint))},
          error)
      .has_value();
}

Value MSRDatabase::deleteRawEventsOverAbsoluteLimit(ErrorPtr* error) {
  const std::int32_t keep = MSRMeasurement::remoteConfig()->maxEventsStored() - 1;
  const auto deleted = sqliteStore_->deleteRecordsFromTableWithName(
      kMSRTableRawEvents,
      "rowid IN (SELECT rowid FROM raw_events ORDER BY rowid DESC LIMIT -1 OFFSET ?)",
      {Value(keep)}, error);
  return deleted ? Value(static_cast<long long>(*deleted)) : Value();
}

bool MSRDatabase::deleteStaleRawEventsDataOlderThanMaxAge(double maxAge, ErrorPtr* error) {
  if (!MSRCheckTrue(maxAge >= 0, error, 1,
                    "Cannot delete stale raw events given negative time period")) {
    return false;
  }
  const auto deleted = sqliteStore_->deleteRecordsFromTableWithName(
      kMSRTableRawEvents, "abs(timestamp - cast(? as REAL)) > cast(? as REAL)",
      {Value(now()), Value(maxAge)}, error);
  if (!deleted) return false;
  if (*deleted == 0) return true;
  return deleteUnusedRawEventsMetadata(error);
}

bool MSRDatabase::insertBundle(const std::shared_ptr<MSRPBMeasurementBundle>& bundle,
                               bool isRealtime, ErrorPtr* error) {
  const auto bytes = bundle ? bundle->protoBuffer() : std::nullopt;
  if (!MSRCheckTrue(bytes && !bytes->empty(), error, 1, "Failed to insert nil bundle")) {
    return false;
  }
  const Value appID = MSRPBGetString(bundle, appIDSlot());
  if (!MSRCheckTrue(appID.string() && !appID.string()->empty(), error, 1,
                    "Failed to insert bundle without App ID")) {
    return false;
  }
  const std::int64_t endMillis = MSRPBGetInt64(bundle, endTimestampSlot());
  if (!MSRCheckTrue(endMillis >= 1, error, 1, "Failed to insert bundle without valid timestamp")) {
    return false;
  }
  if (maybeDeleteStaleData(error).isNil()) return false;
  const double endTime = static_cast<double>(endMillis) / 1000.0;
  if (std::abs(now() - endTime) > MSRMeasurement::remoteConfig()->maxQueueTime()) {
    MSRMeasurement::monitor()->logWithLevel(
        4, 12016, "Storing bundle outside of the max uploading time span");
  }
  const auto compressed = vtu_dataByGzippingData(*bytes, nullptr);
  if (!MSRCheckTrue(compressed && !compressed->empty(), error, 2, "Failed to compress bundle")) {
    return false;
  }
  MSRMeasurement::monitor()->logWithLevel(7, 12018, "Saving bundle. size (bytes)",
                                          Value(std::to_string(compressed->size())));
  const Record record{{"bundle_end_timestamp", Value(endTime)},
                      {"data", Value::data(*compressed)},
                      {"is_realtime", Value(isRealtime)},
                      {"retry_count", Value(MSRPBGetInt32(bundle, retryCountSlot()))}};
  return sqliteStore_->upsertRecord(record, kMSRTableQueue, error);
}

std::optional<MSRDatabase::QueuedBundle> MSRDatabase::bundleFromRow(const Record& row,
                                                                    ErrorPtr* error) {
  if (!MSRCheckTrue(!row.empty(), error, 3, "Cannot process empty rowData")) return std::nullopt;
  const auto data = row.find("data");
  if (!MSRCheckTrue(data != row.end() && data->second.bytes() && !data->second.bytes()->empty(),
                    error, 3, "Cannot decompress an empty bundle data")) {
    return std::nullopt;
  }
  ErrorPtr inflateError;
  const auto inflated = vtu_dataByInflatingGzippedData(*data->second.bytes(), &inflateError);
  if (!inflated || inflated->empty()) {
    MSRSetError(error, 2, inflateError ? inflateError->localizedDescription() : "");
    return std::nullopt;
  }
  auto bundle = MSRPBMeasurementBundle::initWithBuffer(*inflated);
  if (!MSRCheckNotNull(bundle.get(), error, 2, "Unable to parse bundle from decompressed data")) {
    return std::nullopt;
  }
  const auto retry = row.find("retry_count");
  if (retry != row.end() && retry->second.isNumber() && retry->second.int64Value() >= 1) {
    MSRPBSetInt32(bundle, retryCountSlot(), static_cast<std::int32_t>(retry->second.int64Value()));
  }
  const auto rowID = row.find("rowid");
  if (rowID == row.end() || !rowID->second.isNumber()) return std::nullopt;
  return QueuedBundle{bundle, rowID->second.int64Value()};
}

std::optional<std::vector<MSRDatabase::QueuedBundle>> MSRDatabase::bundlesForQuery(
    const std::string& query, const Value::Array& params, std::int64_t sizeLimit, ErrorPtr* error) {
  const auto rows = sqliteStore_->recordsForQuery(query, params, error);
  if (!rows) return std::nullopt;
  std::vector<QueuedBundle> bundles;
  std::int32_t total = 0;
  for (const auto& row : *rows) {
    auto bundle = bundleFromRow(row, error);
    if (!bundle) continue;
    const auto bytes = bundle->first->protoBuffer();
    const auto size = static_cast<std::int32_t>(bytes ? bytes->size() : 0);
    if (!bundles.empty() && static_cast<std::int64_t>(total) + size > sizeLimit) break;
    total = static_cast<std::int32_t>(static_cast<std::uint32_t>(total) +
                                      static_cast<std::uint32_t>(size));
    bundles.push_back(std::move(*bundle));
    if (total > sizeLimit) break;
  }
  return bundles;
}

std::optional<std::vector<MSRDatabase::QueuedBundle>> MSRDatabase::queryBundlesWithCountLimit(
    std::int64_t countLimit, std::int64_t sizeLimit, ErrorPtr* error) {
  return bundlesForQuery(
      "SELECT rowid, data, retry_count FROM queue ORDER BY bundle_end_timestamp ASC LIMIT ?",
      {Value(static_cast<long long>(countLimit))}, sizeLimit, error);
}

std::optional<std::vector<MSRDatabase::QueuedBundle>> MSRDatabase::queryBundlesWithRowIDs(
    const Value::Array& rowIDs, ErrorPtr* error) {
  const auto condition = rowIDCondition(rowIDs, error);
  if (!condition) return std::nullopt;
  return bundlesForQuery(
      platform::format("SELECT rowid, data, retry_count FROM queue WHERE %@", *condition), rowIDs,
      std::numeric_limits<std::int64_t>::max(), error);
}

bool MSRDatabase::incrementRetryCounterForBundlesWithIDs(const Value::Array& rowIDs,
                                                         ErrorPtr* error) {
  if (!MSRCheckTrue(!rowIDs.empty(), error, 1, "Failed to increment retry counter")) return false;
  const Value atCap = sqliteStore_->numberForQuery(
      "SELECT EXISTS (SELECT 1 FROM queue WHERE retry_count = ? LIMIT 1)", {Value(kRetryCountCap)},
      nullptr);
  if (atCap.isNumber() && atCap.boolValue()) {
    MSRMeasurement::monitor()->logWithLevel(
        1, 12054, "The number of upload retries exceeds the limit. Will remain unchanged.");
  }
  const auto condition = rowIDCondition(rowIDs, error);
  if (!condition) return false;
  Value::Array params = rowIDs;
  params.push_back(Value(kRetryCountCap));
  return sqliteStore_->increaseColumn("retry_count", 1, kMSRTableQueue,
                                      *condition + " AND retry_count < ?", params, error);
}

bool MSRDatabase::deleteBundlesWithRowIDs(const Value::Array& rowIDs, ErrorPtr* error) {
  const auto condition = rowIDCondition(rowIDs, error);
  if (!condition) return false;
  return sqliteStore_->deleteRecordsFromTableWithName(kMSRTableQueue, *condition, rowIDs, error)
      .has_value();
}

Value MSRDatabase::isQueuedBundleTableEmpty(ErrorPtr* error) {
  return sqliteStore_->numberForQuery("SELECT NOT EXISTS (SELECT 1 FROM queue LIMIT 1)", {}, error);
}

Value MSRDatabase::containsRealtimeBundlesWithError(ErrorPtr* error) {
  return sqliteStore_->numberForQuery(
      "SELECT EXISTS (SELECT 1 FROM queue WHERE is_realtime = 1 LIMIT 1)", {}, error);
}

Value MSRDatabase::queryLatestBundleTime(ErrorPtr* error) {
  return sqliteStore_->numberForQuery("SELECT MAX(bundle_end_timestamp) FROM queue", {}, error);
}

bool MSRDatabase::deleteStaleBundlesOlderThanMaxAge(double maxAge, ErrorPtr* error) {
  if (!MSRCheckTrue(maxAge >= 0, error, 1,
                    "Cannot delete stale bundles after negative time period")) {
    return false;
  }
  return sqliteStore_
      ->deleteRecordsFromTableWithName(
          kMSRTableQueue, "abs(bundle_end_timestamp - cast(? as REAL)) > cast(? as REAL)",
          {Value(now()), Value(maxAge)}, error)
      .has_value();
}

Value MSRDatabase::maybeDeleteStaleData(ErrorPtr* error) {
  const double current = now();
  ErrorPtr lastError;
  const double last =
      persistedConfig_ ? persistedConfig_->lastDeleteStaleBundlesTimestamp(&lastError) : 0.0;
  // Whether a deletion is due is not known: none now, and the next call reads again.
  if (lastError) return Value(false);
  const auto remoteConfig = MSRMeasurement::remoteConfig();
  if (std::abs(current - last) <= remoteConfig->databaseDeleteStaleBundlesInterval()) {
    return Value(false);
  }
  const double maxAge = remoteConfig->maxQueueTime();
  if (!deleteStaleRawEventsDataOlderThanMaxAge(maxAge, error) ||
      !deleteStaleBundlesOlderThanMaxAge(maxAge, error)) {
    return Value();
  }
  if (persistedConfig_) persistedConfig_->setLastDeleteStaleBundlesTimestamp(current);
  return Value(true);
}

namespace {

std::int32_t slotOf(const char* typeName, std::uint32_t tag) {
  const MSRPBMessageType* type = MSRPBMessageTypeNamed(typeName);
  for (std::uint32_t slot = 0; type && slot < type->fieldCount; ++slot) {
    if (type->fields[slot].tag == tag) return static_cast<std::int32_t>(slot);
  }
  return -1;
}
// Looked up once: the reads below run for every parameter of every stored event.
std::int32_t paramSlot(std::uint32_t tag) {
  static const std::array<std::int32_t, 7> slots = [] {
    std::array<std::int32_t, 7> found{};
    for (std::uint32_t t = 0; t < found.size(); ++t) found[t] = slotOf("EventParam", t);
    return found;
  }();
  return tag < slots.size() ? slots[tag] : slotOf("EventParam", tag);
}

Value::Dictionary single(const std::string& name, Value value) {
  Value::Dictionary dictionary;
  dictionary.emplace(name, std::move(value));
  return dictionary;
}

}  // namespace

std::optional<Value::Dictionary> MSREventParameterFromProto(
    const std::shared_ptr<MSRPBEventParam>& param, bool nested, ErrorPtr* error) {
  if (!MSRCheckNotNull(param.get(), error, 1, "Failed to parse empty event params data")) {
    return std::nullopt;
  }
  const Value nameValue = MSRPBGetString(param, paramSlot(1));
  const std::string name = nameValue.string() ? *nameValue.string() : "";
  if (!nested && !MSRCheckTrue(!name.empty(), error, 1, "Event parameter name is empty")) {
    return std::nullopt;
  }
  if (MSRPBHasField(param, paramSlot(2))) {
    return single(name, Value(MSRValue::initWithString(MSRPBGetString(param, paramSlot(2)))));
  }
  if (MSRPBHasField(param, paramSlot(3))) {
    return single(name, Value(MSRValue::initWithInt64(MSRPBGetInt64(param, paramSlot(3)))));
  }
  if (MSRPBHasField(param, paramSlot(5))) {
    return single(name, Value(MSRValue::initWithDouble(MSRPBGetDouble(param, paramSlot(5)))));
  }
  const Value children = MSRPBGetRepeated<MSRPBEventParam>(param, paramSlot(6));
  if (children.array() && !children.array()->empty()) {
    if (!nested) {
      Value::Array items;
      for (const auto& child : *children.array()) {
        auto item = MSREventParameterFromProto(child.objectAs<MSRPBEventParam>(), true, nullptr);
        if (item) items.push_back(Value(std::move(*item)));
      }
      return single(name, Value(MSRValue::initWithArray(Value(std::move(items)))));
    }
    Value::Dictionary item;
    for (const auto& child : *children.array()) {
      const auto childParam = child.objectAs<MSRPBEventParam>();
      const Value childName = childParam ? MSRPBGetString(childParam, paramSlot(1)) : Value();
      // A list inside an item is dropped: only single values make an item's fields.
      if (childParam && MSRPBGetRepeated<MSRPBEventParam>(childParam, paramSlot(6)).count()) {
        continue;
      }
      auto entry = MSREventParameterFromProto(childParam, true, nullptr);
      if (entry && entry->size() == 1 && childName.string() &&
          entry->begin()->first == *childName.string()) {
        item.insert(*entry->begin());
      }
    }
    return item;
  }
  MSRSetError(error, 2, "Failed to parse invalid event params data");
  return std::nullopt;
}

namespace {

std::int32_t eventSlot(std::uint32_t tag) {
  static const std::array<std::int32_t, 5> slots = [] {
    std::array<std::int32_t, 5> found{};
    for (std::uint32_t t = 0; t < found.size(); ++t) found[t] = slotOf("Event", t);
    return found;
  }();
  return tag < slots.size() ? slots[tag] : slotOf("Event", tag);
}

// The columns a raw event is made of, each when it is there and not NULL, found in one walk
// over the row rather than one search per column.
struct RawEventColumns {
  const Value* rowID = nullptr;
  const Value* data = nullptr;
  const Value* fingerprint = nullptr;
  const Value* name = nullptr;
  const Value* timestamp = nullptr;

  explicit RawEventColumns(const MSRDatabase::Record& row) {
    using namespace std::string_view_literals;
    for (const auto& [key, value] : row) {
      if (value.isNil() || value.isNull()) continue;
      const std::string_view column = key;
      if (column == "rowid"sv) {
        rowID = &value;
      } else if (column == "data"sv) {
        data = &value;
      } else if (column == "metadata_fingerprint"sv) {
        fingerprint = &value;
      } else if (column == "name"sv) {
        name = &value;
      } else if (column == "timestamp"sv) {
        timestamp = &value;
      }
    }
  }
};

}  // namespace

bool MSRDatabase::insertRawEvent(const std::shared_ptr<MSREvent>& event,
                                 std::int64_t metadataFingerprint, bool isRealtime,
                                 ErrorPtr* error) {
  if (!MSRCheckNotNull(event.get(), error, 1,
                       "Received empty event for inserting in the database")) {
    return false;
  }
  // Wrapping the event as raw event data (row ID 0) cannot fail for an event that is there, so
  // no wrapper is made just to be checked.
  std::optional<platform::Bytes> data = MSREventStoredFormBytes(*event);
  if (!data) {
    // A fresh message: clearing its name leaves the event itself untouched.
    const auto proto = event->protoEvent();
    if (!MSRCheckNotNull(proto.get(), error, 3,
                         "Received empty raw event data for getting dictionary representation")) {
      return false;
    }
    MSRPBClearField(proto, eventSlot(2));
    data = proto->protoBuffer().value_or(platform::Bytes());
  }
  // The row's values are bound straight from the event and the bytes, in the column order of
  // rawEventColumns_. A name that is not valid UTF-8 is stored as its repaired form, as any
  // text value is.
  const std::string& name = event->name();
  std::string repairedName;
  const bool nameIsValid = platform::isValidUtf8(name);
  if (!nameIsValid) repairedName = platform::sanitizeUtf8(name);
  using ColumnValue = MSRSqliteStore::ColumnValue;
  const ColumnValue values[] = {
      ColumnValue::ofBlob(data->data(), data->size()),
      ColumnValue::ofInteger(isRealtime ? 1 : 0),
      ColumnValue::ofInteger(metadataFingerprint),
      ColumnValue::ofText(nameIsValid ? std::string_view(name) : std::string_view(repairedName)),
      ColumnValue::ofReal(event->timestamp()),
  };
  return insertColumnValues(rawEventColumns_, values, error);
}

std::optional<std::vector<std::shared_ptr<MSRRawEventData>>>
MSRDatabase::rawEventsWithMetadataFingerprint(std::int64_t fingerprint, ErrorPtr* error,
                                              const MSRSqliteStore::Filter& eventFilter) {
  static constexpr long long kMaxRawEventsPerRead = 1000;
  // Each row is decoded as it is read, from the reader's one record, instead of every row being
  // kept as a record of its own until the read ends.
  std::vector<std::shared_ptr<MSRRawEventData>> results;
  std::size_t rowsRead = 0;
  Value::Array unreadable;  // row IDs
  if (!sqliteStore_->enumerateRecordsForQuery(
          "SELECT rowid, * FROM raw_events WHERE metadata_fingerprint = ? ORDER BY rowid ASC "
          "LIMIT ?",
          {Value(static_cast<long long>(fingerprint)), Value(kMaxRawEventsPerRead)}, error,
          eventFilter, [&](const Record& row) {
            ++rowsRead;
            if (auto data = rawEventDataFromDictionary(row, error)) {
              results.push_back(std::move(data));
            } else if (const auto rowID = row.find("rowid");
                       rowID != row.end() && rowID->second.isNumber()) {
              unreadable.push_back(rowID->second);
            }
          })) {
    return std::nullopt;
  }
  // Rows that were read but none of which decoded: the last decoding error stands.
  if (results.empty() && rowsRead > 0) {
    deleteUnreadableRawEvents(unreadable);
    return std::nullopt;
  }
  return results;
}

void MSRDatabase::deleteUnreadableRawEvents(const Value::Array& rowIDs) {
  // A row that does not decode now never will. Among rows that decode it goes with them when
  // they are bundled; a fingerprint holding nothing else would never be bundled, and would stand
  // first in line for ever.
  if (rowIDs.empty()) return;
  const auto condition = rowIDCondition(rowIDs, nullptr);
  const auto deleted =
      condition ? sqliteStore_->deleteRecordsFromTableWithName(kMSRTableRawEvents, *condition,
                                                                rowIDs, nullptr)
                : std::nullopt;
  if (deleted && *deleted > 0) {
    MSRMeasurement::monitor()->logWithLevel(2, 12061, "Deleted raw events that cannot be read",
                                            Value(static_cast<long long>(*deleted)));
  }
}

std::optional<MSREventStoredContent> MSREventStoredContentFromMessage(const Value& data,
                                                                      ErrorPtr* error) {
  const auto proto = MSRPBEvent::initWithBuffer(data);
  if (!MSRCheckNotNull(proto.get(), error, 3, "Failed to parse event from data")) {
    return std::nullopt;
  }
  MSREventStoredContent content;
  content.previousTimestamp = static_cast<double>(MSRPBGetInt64(proto, eventSlot(4))) / 1000.0;
  const Value params = MSRPBGetRepeated<MSRPBEventParam>(proto, eventSlot(1));
  if (params.array()) {
    for (const auto& element : *params.array()) {
      const auto param = element.objectAs<MSRPBEventParam>();
      const Value paramName = param ? MSRPBGetString(param, paramSlot(1)) : Value();
      if (paramName.string() && *paramName.string() == "_o") {
        const Value originValue =
            MSRPBHasField(param, paramSlot(2)) ? MSRPBGetString(param, paramSlot(2)) : Value();
        if (!MSRCheckTrue(originValue.string() != nullptr, error, 2,
                          "Cannot create an event from database. Origin parameter is not a "
                          "string")) {
          return std::nullopt;
        }
        content.origin = *originValue.string();
        continue;
      }
      auto entry = MSREventParameterFromProto(param, false, error);
      const std::string key = paramName.string() ? *paramName.string() : "";
      const auto found = entry ? entry->find(key) : Value::Dictionary::iterator();
      if (!MSRCheckTrue(entry && found != entry->end(), error, 2,
                        "Failed to parse event params from data")) {
        return std::nullopt;
      }
      content.parameters[key] = found->second;
    }
  }
  if (!MSRCheckTrue(!content.origin.empty(), error, 2,
                    "Cannot create an event from database. Missing origin parameter")) {
    return std::nullopt;
  }
  return content;
}

std::shared_ptr<MSRRawEventData> MSRDatabase::rawEventDataFromDictionary(const Record& row,
                                                                         ErrorPtr* error) {
  if (!MSRCheckTrue(!row.empty(), error, 1,
                    "Received empty dictionary for getting raw event data")) {
    return nullptr;
  }
  const RawEventColumns columns(row);
  const Value* rowID = columns.rowID;
  if (!MSRCheckNotNull(rowID, error, 1, "Unable to find row ID in the database dictionary")) {
    return nullptr;
  }
  const Value* data = columns.data;
  if (!MSRCheckNotNull(data, error, 1, "Unable to find event data in the database dictionary")) {
    return nullptr;
  }
  const Value* fingerprint = columns.fingerprint;
  if (!MSRCheckNotNull(fingerprint, error, 1,
                       "Unable to find event metadata in the database dictionary")) {
    return nullptr;
  }
  // The ordinary stored form is read directly; anything else goes through the message tree,
  // which gives every unusual input its exact result or error.
  const platform::Bytes* bytes = data->bytes();
  std::optional<MSREventStoredContent> content =
      bytes ? MSREventStoredFormRead(bytes->data(), bytes->size()) : std::nullopt;
  if (!content) content = MSREventStoredContentFromMessage(*data, error);
  if (!content) return nullptr;

  const Value* nameValue = columns.name;
  static const auto* kNoName = new std::string();  // never destroyed
  const std::string& name = nameValue && nameValue->string() ? *nameValue->string() : *kNoName;
  const Value* timestampValue = columns.timestamp;
  const double timestamp = timestampValue ? timestampValue->doubleValue() : 0.0;
  const auto event = MSREvent::initWithOriginTakingParameters(content->origin, false, name,
                                                              timestamp, content->previousTimestamp,
                                                              std::move(content->parameters));
  auto rawEventData = event ? MSRRawEventData::initWithRawEvent(event, rowID->int64Value(),
                                                                fingerprint->int64Value())
                            : nullptr;
  if (!MSRCheckNotNull(rawEventData.get(), error, 2,
                       "Failed to initialize raw event data from dictionary")) {
    return nullptr;
  }
  return rawEventData;
}
