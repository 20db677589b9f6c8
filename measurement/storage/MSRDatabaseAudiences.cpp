// The measurement database's audience filters and results and the complex events under audience
// evaluation.
#include <set>

#include "measurement/audiences/MSREventFilter.h"
#include "measurement/audiences/MSRFilterResult.h"
#include "measurement/audiences/MSRPropertyFilter.h"
#include "measurement/foundation/MSRError.h"
#include "measurement/foundation/MSREvent.h"
#include "measurement/messages/MSRPBAccessors.h"
#include "measurement/messages/MSRPBEvent.h"
#include "measurement/messages/MSRPBEventFilter.h"
#include "measurement/messages/MSRPBPropertyFilter.h"
#include "measurement/messages/MSRPBSchema.h"
#include "measurement/storage/MSRDatabase.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "platform/base/Format.h"

using platform::ErrorPtr;
using platform::Value;

namespace {

// A message's slot for a wire tag: slots follow the message's own field order.
std::int32_t slotOf(const char* typeName, std::uint32_t tag) {
  const MSRPBMessageType* type = MSRPBMessageTypeNamed(typeName);
  for (std::uint32_t slot = 0; type && slot < type->fieldCount; ++slot) {
    if (type->fields[slot].tag == tag) return static_cast<std::int32_t>(slot);
  }
  return -1;
}

struct FilterFlags {
  bool sessionScoped = false;
  bool dynamic = false;
  bool sequence = false;
};

// The flags an encoded filter carries; all false when the data does not decode.
template <class Message>
FilterFlags flagsOf(const Value& data, const char* typeName, std::uint32_t sessionScopedTag,
                    std::uint32_t dynamicTag, std::uint32_t sequenceTag) {
  FilterFlags flags;
  const auto message = data.bytes() ? Message::initWithBuffer(*data.bytes()) : nullptr;
  if (!message) return flags;
  flags.sessionScoped = MSRPBGetBool(message, slotOf(typeName, sessionScopedTag));
  flags.dynamic = MSRPBGetBool(message, slotOf(typeName, dynamicTag));
  flags.sequence = MSRPBGetBool(message, slotOf(typeName, sequenceTag));
  return flags;
}

const Value* column(const MSRDatabase::Record& row, const char* name) {
  const auto it = row.find(name);
  if (it == row.end() || it->second.isNil() || it->second.isNull()) return nullptr;
  return &it->second;
}

std::int32_t int32Column(const MSRDatabase::Record& row, const char* name) {
  const Value* value = column(row, name);
  return value && value->isNumber() ? static_cast<std::int32_t>(value->int64Value()) : 0;
}

std::string stringColumn(const MSRDatabase::Record& row, const char* name) {
  const Value* value = column(row, name);
  return value && value->string() ? *value->string() : "";
}

platform::Bytes bytesColumn(const MSRDatabase::Record& row, const char* name) {
  const Value* value = column(row, name);
  return value && value->bytes() ? *value->bytes() : platform::Bytes();
}

std::optional<platform::Bytes> optionalBytesColumn(const MSRDatabase::Record& row,
                                                   const char* name) {
  const Value* value = column(row, name);
  if (!value || !value->bytes()) return std::nullopt;
  return *value->bytes();
}

template <class T>
std::optional<std::vector<std::shared_ptr<T>>> objectsOf(
    const std::optional<Value::Array>& values) {
  if (!values) return std::nullopt;
  std::vector<std::shared_ptr<T>> objects;
  for (const auto& value : *values) {
    if (auto object = value.objectAs<T>()) objects.push_back(std::move(object));
  }
  return objects;
}

}  // namespace

std::shared_ptr<MSREventFilter> MSRDatabase::eventFilterFromDictionary(const Record& row) {
  const Value* data = column(row, "data");
  const FilterFlags flags =
      flagsOf<MSRPBEventFilter>(data ? *data : Value(), "EventFilter", 8, 6, 7);
  return std::make_shared<MSREventFilter>(int32Column(row, "audience_id"),
                                          int32Column(row, "filter_id"),
                                          stringColumn(row, "event_name"), bytesColumn(row, "data"),
                                          flags.sessionScoped, flags.dynamic, flags.sequence);
}

std::shared_ptr<MSRPropertyFilter> MSRDatabase::propertyFilterFromDictionary(const Record& row) {
  const Value* data = column(row, "data");
  const FilterFlags flags =
      flagsOf<MSRPBPropertyFilter>(data ? *data : Value(), "PropertyFilter", 6, 4, 5);
  return std::make_shared<MSRPropertyFilter>(
      int32Column(row, "audience_id"), int32Column(row, "filter_id"),
      stringColumn(row, "property_name"), bytesColumn(row, "data"), flags.sessionScoped,
      flags.dynamic, flags.sequence);
}

std::shared_ptr<MSRFilterResult> MSRDatabase::filterResultFromDictionary(const Record& row) {
  return std::make_shared<MSRFilterResult>(int32Column(row, "audience_id"),
                                           optionalBytesColumn(row, "current_results"),
                                           optionalBytesColumn(row, "previous_results"));
}

std::optional<MSRDatabase::Record> MSRDatabase::dictionaryFromEventFilter(
    const MSREventFilter& filter, ErrorPtr* error) {
  if (!MSRCheckTrue(!filter.eventName().empty(), error, 3, kMSREventFilterEmptyName) ||
      !MSRCheckTrue(!filter.data().empty(), error, 3, kMSREventFilterEmptyData)) {
    return std::nullopt;
  }
  return Record{{"audience_id", Value(filter.audienceID())},
                {"filter_id", Value(filter.filterID())},
                {"event_name", Value(filter.eventName())},
                {"data", Value::data(filter.data())},
                {"session_scoped", Value(filter.isSessionScoped() ? 1 : 0)}};
}

std::optional<MSRDatabase::Record> MSRDatabase::dictionaryFromPropertyFilter(
    const MSRPropertyFilter& filter, ErrorPtr* error) {
  if (!MSRCheckTrue(!filter.propertyName().empty(), error, 3, kMSRPropertyFilterEmptyName) ||
      !MSRCheckTrue(!filter.data().empty(), error, 3, kMSRPropertyFilterEmptyData)) {
    return std::nullopt;
  }
  return Record{{"audience_id", Value(filter.audienceID())},
                {"filter_id", Value(filter.filterID())},
                {"property_name", Value(filter.propertyName())},
                {"data", Value::data(filter.data())},
                {"session_scoped", Value(filter.isSessionScoped() ? 1 : 0)}};
}

std::optional<MSRDatabase::Record> MSRDatabase::dictionaryFromFilterResult(
    const MSRFilterResult& result, ErrorPtr* error) {
  const auto& current = result.currentResults();
  if (!MSRCheckTrue(current && !current->empty(), error, 3, kMSRFilterResultEmptyData)) {
    return std::nullopt;
  }
  const auto& previous = result.previousResults();
  return Record{{"audience_id", Value(result.audienceID())},
                {"current_results", Value::data(*current)},
                {"previous_results",
                 previous && !previous->empty() ? Value::data(*previous) : Value::null()}};
}

std::optional<platform::Bytes> MSRDatabase::blobFromEvent(const MSREvent& event) {
  const auto proto = event.protoEvent();
  if (!proto) return std::nullopt;
  return proto->protoBuffer();
}

std::shared_ptr<MSREvent> MSRDatabase::eventFromBlob(const Value& blob, ErrorPtr* error) {
  if (!MSRCheckTrue(blob.isData(), error, 2, kMSREventBlobNotData)) return nullptr;
  const auto proto = MSRPBEvent::initWithBuffer(*blob.bytes());
  if (!MSRCheckNotNull(proto.get(), error, 2, kMSREventBlobParseFailed)) return nullptr;
  auto event = MSREvent::initWithEventProto(proto);
  if (!MSRCheckNotNull(event.get(), error, 2, kMSREventBlobInitFailed)) return nullptr;
  return event;
}

std::map<std::int32_t, std::shared_ptr<MSRFilterResult>> MSRDatabase::allFilterResults(
    ErrorPtr* error) {
  std::map<std::int32_t, std::shared_ptr<MSRFilterResult>> results;
  const auto values = allDataTypesFromTableWithName(
      kMSRTableAudienceFilterValues, -1, error,
      [](const Record& row, ErrorPtr*) { return Value(filterResultFromDictionary(row)); });
  if (!values) return results;
  for (const auto& value : *values) {
    if (auto result = value.objectAs<MSRFilterResult>()) results[result->audienceID()] = result;
  }
  return results;
}

std::optional<std::vector<std::int32_t>> MSRDatabase::allAudienceIDs(ErrorPtr* error) {
  const auto rows = sqliteStore_->recordsForQuery(
      "SELECT audience_id FROM event_filters UNION SELECT audience_id FROM property_filters", {},
      error);
  if (!rows) return std::nullopt;
  std::vector<std::int32_t> ids;
  for (const auto& row : *rows) {
    const Value* id = column(row, "audience_id");
    if (!MSRCheckTrue(id && id->isNumber(), error, 1, kMSRAllAudienceIDsNil)) {
      return std::nullopt;
    }
    ids.push_back(static_cast<std::int32_t>(id->int64Value()));
  }
  return ids;
}

std::optional<std::vector<std::shared_ptr<MSREventFilter>>> MSRDatabase::eventFiltersForEventName(
    const std::string& eventName, ErrorPtr* error) {
  if (!MSRCheckTrue(!eventName.empty(), error, 1, kMSREmptyEventNameForFilters)) {
    return std::nullopt;
  }
  return objectsOf<MSREventFilter>(dataTypesFromTableWithName(
      kMSRTableEventFilters, "event_name", Value(eventName), error,
      [](const Record& row, ErrorPtr*) { return Value(eventFilterFromDictionary(row)); }));
}

std::optional<std::vector<std::shared_ptr<MSRPropertyFilter>>>
MSRDatabase::propertyFiltersForPropertyName(const std::string& propertyName, ErrorPtr* error) {
  if (!MSRCheckTrue(!propertyName.empty(), error, 1, kMSREmptyPropertyNameForFilters)) {
    return std::nullopt;
  }
  return objectsOf<MSRPropertyFilter>(dataTypesFromTableWithName(
      kMSRTablePropertyFilters, "property_name", Value(propertyName), error,
      [](const Record& row, ErrorPtr*) { return Value(propertyFilterFromDictionary(row)); }));
}

std::shared_ptr<MSRFilterResult> MSRDatabase::filterResultForAudienceID(std::int32_t audienceID,
                                                                        ErrorPtr* error) {
  const auto results = objectsOf<MSRFilterResult>(dataTypesFromTableWithName(
      kMSRTableAudienceFilterValues, "audience_id", Value(audienceID), error,
      [](const Record& row, ErrorPtr*) { return Value(filterResultFromDictionary(row)); }));
  if (!results || results->empty()) return nullptr;
  return results->front();
}

std::optional<std::map<std::int32_t, std::vector<std::int32_t>>>
MSRDatabase::allSessionScopedFilters(ErrorPtr* error) {
  const auto rows = sqliteStore_->recordsForQuery(
      "SELECT audience_id, filter_id FROM event_filters WHERE session_scoped = 1 UNION SELECT "
      "audience_id, filter_id FROM property_filters WHERE session_scoped = 1",
      {}, error);
  // A failed read is a failure with or without an error slot: an empty map would tell the
  // caller there are no session-scoped filters to reset.
  if (!rows) return std::nullopt;
  std::map<std::int32_t, std::vector<std::int32_t>> filters;
  for (const auto& row : *rows) {
    filters[int32Column(row, "audience_id")].push_back(int32Column(row, "filter_id"));
  }
  return filters;
}

namespace {

// Converts and upserts each element in order; the first failure ends the update.
template <class T, class Convert>
bool updateEach(MSRSqliteStore& store, const std::vector<std::shared_ptr<T>>& elements,
                const char* table, const char* emptyMessage, const char* unknownMessage,
                Convert convert, ErrorPtr* error) {
  if (!MSRCheckTrue(!elements.empty(), error, 1, emptyMessage)) return false;
  for (const auto& element : elements) {
    if (!MSRCheckNotNull(element.get(), error, 1, unknownMessage)) return false;
    const auto record = convert(*element, error);
    if (!record) return false;
    if (!store.upsertRecord(*record, table, error)) return false;
  }
  return true;
}

}  // namespace

bool MSRDatabase::updateEventFilters(const std::vector<std::shared_ptr<MSREventFilter>>& filters,
                                     ErrorPtr* error) {
  return updateEach(*sqliteStore_, filters, kMSRTableEventFilters, kMSREmptyEventFiltersToUpdate,
                    kMSRUnknownEventFilterToUpdate, &dictionaryFromEventFilter, error);
}

bool MSRDatabase::updatePropertyFilters(
    const std::vector<std::shared_ptr<MSRPropertyFilter>>& filters, ErrorPtr* error) {
  return updateEach(*sqliteStore_, filters, kMSRTablePropertyFilters,
                    kMSREmptyPropertyFiltersToUpdate, kMSRUnknownPropertyFilterToUpdate,
                    &dictionaryFromPropertyFilter, error);
}

bool MSRDatabase::updateFilterResults(const std::vector<std::shared_ptr<MSRFilterResult>>& results,
                                      ErrorPtr* error) {
  return updateEach(*sqliteStore_, results, kMSRTableAudienceFilterValues,
                    kMSREmptyFilterResultsToUpdate, kMSRUnknownFilterResultToUpdate,
                    &dictionaryFromFilterResult, error);
}

bool MSRDatabase::deleteFilterResults(const std::vector<std::shared_ptr<MSRFilterResult>>& results,
                                      ErrorPtr* error) {
  if (!MSRCheckTrue(!results.empty(), error, 1, kMSREmptyFilterResultsToDelete)) return false;
  std::set<std::int32_t> seen;
  std::string ids;
  for (const auto& result : results) {
    if (!MSRCheckNotNull(result.get(), error, 1, kMSRUnknownFilterResultToDelete)) return false;
    if (!seen.insert(result->audienceID()).second) continue;
    if (!ids.empty()) ids += ",";
    ids += std::to_string(result->audienceID());
  }
  return sqliteStore_
      ->deleteRecordsFromTableWithName(kMSRTableAudienceFilterValues,
                                       platform::format("%@ IN (%@)", "audience_id", ids), {},
                                       error)
      .has_value();
}

bool MSRDatabase::withinTransaction(ErrorPtr* error, const std::function<bool()>& block) {
  if (!MSRCheckNotNull(sqliteStore_ ? sqliteStore_->sqliteHandle() : nullptr, error, 2,
                       "Database not open")) {
    return false;
  }
  // Inside the caller's transaction this one joins it, and the caller's commit or rollback
  // decides; inside one SQLite has already rolled back it fails.
  return sqliteStore_->performTransactionWithError(error, block);
}

bool MSRDatabase::deleteFiltersInChunks(const char* tableName,
                                        const std::vector<std::string>& clauses, ErrorPtr* error) {
  // One OR chain over every filter grows an expression tree SQLite refuses beyond about a
  // thousand terms; chunks stay well below that, and one transaction keeps the delete whole.
  ErrorPtr chunkError;
  const bool done = withinTransaction(error, [&] {
    for (std::size_t start = 0; start < clauses.size(); start += kMSRFilterDeleteChunkSize) {
      const std::size_t end = std::min(clauses.size(), start + kMSRFilterDeleteChunkSize);
      std::string condition;
      for (std::size_t i = start; i < end; ++i) {
        if (i > start) condition += " OR ";
        condition += clauses[i];
      }
      if (!sqliteStore_->deleteRecordsFromTableWithName(tableName, condition, {}, &chunkError)) {
        return false;
      }
    }
    return true;
  });
  // The statement's own error says more than the transaction's "Transaction failed".
  if (!done && chunkError && error) *error = chunkError;
  return done;
}

namespace {

template <class T>
std::optional<std::vector<std::string>> filterClauses(
    const std::vector<std::shared_ptr<T>>& filters, const char* emptyMessage,
    const char* unknownMessage, ErrorPtr* error) {
  if (!MSRCheckTrue(!filters.empty(), error, 1, emptyMessage)) return std::nullopt;
  std::vector<std::string> clauses;
  clauses.reserve(filters.size());
  for (const auto& filter : filters) {
    if (!MSRCheckNotNull(filter.get(), error, 1, unknownMessage)) return std::nullopt;
    clauses.push_back(platform::format("(audience_id=%d AND filter_id=%d)", filter->audienceID(),
                                       filter->filterID()));
  }
  return clauses;
}

}  // namespace

bool MSRDatabase::deleteEventFilters(const std::vector<std::shared_ptr<MSREventFilter>>& filters,
                                     ErrorPtr* error) {
  const auto clauses =
      filterClauses(filters, kMSREmptyEventFiltersToDelete, kMSRUnknownEventFilterToDelete, error);
  return clauses && deleteFiltersInChunks(kMSRTableEventFilters, *clauses, error);
}

bool MSRDatabase::deletePropertyFilters(
    const std::vector<std::shared_ptr<MSRPropertyFilter>>& filters, ErrorPtr* error) {
  const auto clauses = filterClauses(filters, kMSREmptyPropertyFiltersToDelete,
                                     kMSRUnknownPropertyFilterToDelete, error);
  return clauses && deleteFiltersInChunks(kMSRTablePropertyFilters, *clauses, error);
}

bool MSRDatabase::deleteAllEventFilters(ErrorPtr* error) {
  return sqliteStore_->deleteAllRecordsFromTableWithName(kMSRTableEventFilters, error);
}

bool MSRDatabase::deleteAllPropertyFilters(ErrorPtr* error) {
  return sqliteStore_->deleteAllRecordsFromTableWithName(kMSRTablePropertyFilters, error);
}

bool MSRDatabase::updateComplexEventForAudienceEvaluationWithEventID(
    std::int64_t eventID, std::int64_t childEventCount, const std::shared_ptr<MSREvent>& mainEvent,
    ErrorPtr* error) {
  if (!MSRCheckNotNull(mainEvent.get(), error, 1, kMSRNilMainEvent)) return false;
  const auto blob = blobFromEvent(*mainEvent);
  if (!MSRCheckTrue(blob.has_value(), error, 1, kMSRMainEventBlobFailed)) return false;
  return sqliteStore_->upsertRecord(
      {{"main_event", Value::data(*blob)},
       {"event_id", Value(static_cast<long long>(eventID))},
       {"children_to_process", Value(static_cast<long long>(childEventCount))}},
      kMSRTableMainEventParams, error);
}

std::optional<std::pair<std::shared_ptr<MSREvent>, std::int64_t>>
MSRDatabase::mainEventAndChildCountPairWithEventID(std::int64_t eventID, ErrorPtr* error) {
  const std::string query =
      platform::format("SELECT * FROM %@ WHERE event_id=? LIMIT 1", kMSRTableMainEventParams);
  const auto rows =
      sqliteStore_->recordsForQuery(query, {Value(static_cast<long long>(eventID))}, error);
  if (!rows || rows->empty()) return std::nullopt;
  const Record& row = rows->front();
  const auto blob = row.find("main_event");
  auto event = eventFromBlob(blob == row.end() ? Value() : blob->second, nullptr);
  if (!MSRCheckNotNull(event.get(), error, 3, kMSRMainEventBlobNil)) return std::nullopt;
  const Value* children = column(row, "children_to_process");
  if (!MSRCheckTrue(children && children->isNumber(), error, 3, kMSRComplexEventNoChildCount)) {
    return std::nullopt;
  }
  return std::make_pair(std::move(event), children->int64Value());
}

bool MSRDatabase::deleteComplexEventForAudienceEvaluationWithEventID(std::int64_t eventID,
                                                                     ErrorPtr* error) {
  return sqliteStore_
      ->deleteRecordsFromTableWithName(kMSRTableMainEventParams, "event_id=?",
                                       {Value(static_cast<long long>(eventID))}, error)
      .has_value();
}
