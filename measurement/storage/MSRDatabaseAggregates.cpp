// The measurement database's per-event aggregates and user attributes.
#include "measurement/foundation/MSRDataTypeValidator.h"
#include "measurement/foundation/MSRError.h"
#include "measurement/foundation/MSREventAggregates.h"
#include "measurement/foundation/MSRNaming.h"
#include "measurement/foundation/MSRUserAttribute.h"
#include "measurement/foundation/MSRValue.h"
#include "measurement/storage/MSRDatabase.h"
#include "measurement/storage/MSRStorageConstants.h"

using platform::ErrorPtr;
using platform::Value;

namespace {

constexpr long kMaxEventNames = 1000;
constexpr long kMaxUserAttributes = 1000;

// A column that is there and not NULL.
const Value* column(const MSRDatabase::Record& row, const char* name) {
  const auto it = row.find(name);
  if (it == row.end() || it->second.isNil() || it->second.isNull()) return nullptr;
  return &it->second;
}
std::int32_t int32Column(const MSRDatabase::Record& row, const char* name, std::int32_t fallback) {
  const Value* value = column(row, name);
  return value ? static_cast<std::int32_t>(value->int64Value()) : fallback;
}
double doubleColumn(const MSRDatabase::Record& row, const char* name) {
  const Value* value = column(row, name);
  return value ? value->doubleValue() : 0.0;
}
std::string stringColumn(const MSRDatabase::Record& row, const char* name) {
  const Value* value = column(row, name);
  return value && value->string() ? *value->string() : "";
}

std::shared_ptr<MSREventAggregates> aggregatesFromRow(const MSRDatabase::Record& row) {
  auto aggregates = MSREventAggregates::initWithName(
      stringColumn(row, "name"), int32Column(row, "lifetime_count", 0),
      int32Column(row, "current_bundle_count", 0), int32Column(row, "current_session_count", 0),
      doubleColumn(row, "last_fire_timestamp"));
  if (!aggregates) return nullptr;
  aggregates->setLastBundledTimestamp(doubleColumn(row, "last_bundled_timestamp"));
  const Value* complexEventID = column(row, "last_sampled_complex_event_id");
  aggregates->setLastSampledComplexEventID(complexEventID ? *complexEventID : Value());
  aggregates->setLastSamplingRate(int32Column(row, "last_sampling_rate", 1));
  const Value* exempt = column(row, "last_exempt_from_sampling");
  aggregates->setLastExemptFromSampling(exempt && exempt->boolValue());
  aggregates->setLastBundledDay(int32Column(row, "last_bundled_day", 0));
  return aggregates;
}

// Nil row data gives an error; a value that cannot be read gives null without one.
std::shared_ptr<MSRUserAttribute> userAttributeFromRow(const MSRDatabase::Record& row,
                                                       ErrorPtr* error) {
  if (!MSRCheckTrue(!row.empty(), error, 3,
                    "Received empty dictionary for getting user property")) {
    return nullptr;
  }
  const Value* stored = column(row, "value");
  const auto value = stored ? MSRValue::valueFromObject(*stored) : nullptr;
  if (!value) return nullptr;
  return MSRUserAttribute::initWithOrigin(stringColumn(row, "origin"), stringColumn(row, "name"),
                                          value, doubleColumn(row, "set_timestamp"));
}

}  // namespace

Value MSRDatabase::publicEventCount(ErrorPtr* error) {
  return sqliteStore_->numberForQuery(
      "SELECT count(1) FROM events WHERE name NOT LIKE '!_%%' ESCAPE '!'", {}, error);
}

std::optional<std::vector<std::shared_ptr<MSREventAggregates>>> MSRDatabase::allEventAggregates(
    ErrorPtr* error) {
  const auto rows = allDataTypesFromTableWithName(
      kMSRTableEvents, kMaxEventNames, error,
      [](const Record& row, ErrorPtr*) { return aggregatesFromRow(row) ? Value(row) : Value(); });
  if (!rows) return std::nullopt;
  std::vector<std::shared_ptr<MSREventAggregates>> results;
  for (const auto& row : *rows) {
    if (row.dictionary()) results.push_back(aggregatesFromRow(*row.dictionary()));
  }
  return results;
}

std::shared_ptr<MSREventAggregates> MSRDatabase::eventAggregatesWithName(const std::string& name,
                                                                         ErrorPtr* error) {
  const auto rows = dataTypesFromTableWithName(
      kMSRTableEvents, "name", Value(name), error,
      [](const Record& row, ErrorPtr*) { return aggregatesFromRow(row) ? Value(row) : Value(); });
  if (!rows || rows->empty() || !rows->front().dictionary()) return nullptr;
  return aggregatesFromRow(*rows->front().dictionary());
}

bool MSRDatabase::updateEventAggregates(const std::shared_ptr<MSREventAggregates>& aggregates,
                                        ErrorPtr* error) {
  if (!MSRCheckNotNull(aggregates.get(), error, 3,
                       "Received empty event aggregates object for getting dictionary "
                       "representation")) {
    return false;
  }
  if (!MSRCheckTrue(!aggregates->name().empty(), error, 1,
                    "Received event aggregates object with empty name for getting dictionary "
                    "representation")) {
    return false;
  }
  Record record{{"name", Value(aggregates->name())},
                {"lifetime_count", Value(aggregates->lifetimeCount())},
                {"current_bundle_count", Value(aggregates->currentBundleCount())},
                {"last_fire_timestamp", Value(aggregates->lastFireTimestamp())},
                {"last_bundled_timestamp", Value(aggregates->lastBundledTimestamp())},
                {"last_sampling_rate", Value(aggregates->lastSamplingRate())},
                {"last_exempt_from_sampling", Value(aggregates->lastExemptFromSampling() ? 1 : 0)},
                {"last_bundled_day", Value(aggregates->lastBundledDay())},
                {"current_session_count", Value(aggregates->currentSessionCount())}};
  if (aggregates->lastSampledComplexEventID().isNumber()) {
    record.emplace("last_sampled_complex_event_id", aggregates->lastSampledComplexEventID());
  }
  return upsertDataType(record, kMSRTableEvents, "name", Value(aggregates->name()), kMaxEventNames,
                        error);
}

bool MSRDatabase::clearCurrentSessionCounts(ErrorPtr* error) {
  return sqliteStore_->updateAllRecordsInTableWithName(kMSRTableEvents, "current_session_count",
                                                       Value(0), error);
}

Value MSRDatabase::publicUserAttributeCount(ErrorPtr* error) {
  return sqliteStore_->numberForQuery(
      "SELECT count(1) FROM user_attributes WHERE name NOT LIKE '!_%%' ESCAPE '!'", {}, error);
}

Value MSRDatabase::userAttributeCountForOrigin(const std::string& origin, ErrorPtr* error) {
  if (!MSRCheckTrue(!origin.empty(), error, 1,
                    "Received empty user property origin for count query")) {
    return Value();
  }
  return sqliteStore_->numberForQuery("SELECT count(1) FROM user_attributes WHERE origin = ?",
                                      {Value(origin)}, error);
}

Value MSRDatabase::containsUserAttributeWithName(const std::string& name, ErrorPtr* error) {
  if (!MSRCheckTrue(!name.empty(), error, 1,
                    "Received empty user property name for exists query")) {
    return Value();
  }
  return sqliteStore_->numberForQuery(
      "SELECT EXISTS (SELECT 1 FROM user_attributes WHERE name = ? LIMIT 1)", {Value(name)}, error);
}

std::shared_ptr<MSRUserAttribute> MSRDatabase::userAttributeWithName(const std::string& name,
                                                                     ErrorPtr* error) {
  const auto rows = dataTypesFromTableWithName(
      kMSRTableUserAttributes, "name", Value(name), error,
      [](const Record& row, ErrorPtr* rowError) {
        return userAttributeFromRow(row, rowError) ? Value(row) : Value();
      });
  if (!rows || rows->empty() || !rows->front().dictionary()) return nullptr;
  return userAttributeFromRow(*rows->front().dictionary(), error);
}

std::optional<std::vector<std::shared_ptr<MSRUserAttribute>>>
MSRDatabase::allLifetimeValueUserAttributes(ErrorPtr* error) {
  const auto rows = sqliteStore_->recordsForQuery(
      // An exact prefix: with LIKE, "_" matches any character and "sltv_score" would count.
      "SELECT * FROM user_attributes WHERE substr(name, 1, length(?1)) = ?1 "
      "ORDER BY set_timestamp DESC",
      {Value("_ltv_")}, error);
  if (!rows) return std::nullopt;
  std::vector<std::shared_ptr<MSRUserAttribute>> results;
  for (const auto& row : *rows) {
    auto attribute = userAttributeFromRow(row, error);
    if (!attribute) return std::nullopt;
    results.push_back(std::move(attribute));
  }
  return results;
}

std::optional<std::vector<std::shared_ptr<MSRUserAttribute>>>
MSRDatabase::userAttributesIncludingInternal(bool includeInternal, ErrorPtr* error) {
  const auto rows = allDataTypesFromTableWithName(
      kMSRTableUserAttributes, kMaxUserAttributes, error,
      [](const Record& row, ErrorPtr* rowError) {
        return userAttributeFromRow(row, rowError) ? Value(row) : Value();
      });
  if (!rows) {
    if (includeInternal) return std::nullopt;
    return std::vector<std::shared_ptr<MSRUserAttribute>>();
  }
  std::vector<std::shared_ptr<MSRUserAttribute>> results;
  for (const auto& row : *rows) {
    auto attribute = row.dictionary() ? userAttributeFromRow(*row.dictionary(), nullptr) : nullptr;
    if (!attribute) continue;
    const std::string& name = attribute->name();
    if (!includeInternal &&
        (name.empty() || name[0] == '_' || MSRDataTypeValidator::hasReservedPrefixes(name) ||
         MSRReservedUserPropertyNames().count(name))) {
      continue;
    }
    results.push_back(std::move(attribute));
  }
  return results;
}

bool MSRDatabase::updateUserAttribute(const std::shared_ptr<MSRUserAttribute>& attribute,
                                      ErrorPtr* error) {
  if (!MSRCheckNotNull(attribute.get(), error, 3,
                       "Received empty user property for getting dictionary representation")) {
    return false;
  }
  if (!MSRCheckTrue(!attribute->origin().empty(), error, 3,
                    "Received user property with empty origin for getting dictionary "
                    "representation")) {
    return false;
  }
  if (!MSRCheckTrue(!attribute->name().empty(), error, 1,
                    "Received user property with empty name for getting dictionary "
                    "representation")) {
    return false;
  }
  const auto& value = attribute->value();
  const bool emptyString = value && value->isString() && value->stringValue().value_or("").empty();
  if (!MSRCheckTrue(value && !emptyString, error, 1,
                    "Received empty string value for user property")) {
    return false;
  }
  const Record record{{"origin", Value(attribute->origin())},
                      {"name", Value(attribute->name())},
                      {"value", MSRObjectFromValue(*value)},
                      {"set_timestamp", Value(attribute->lastSetTimestamp())}};
  return upsertDataType(record, kMSRTableUserAttributes, "name", Value(attribute->name()),
                        kMaxUserAttributes, error);
}

bool MSRDatabase::deleteUserAttributeWithName(const std::string& name, ErrorPtr* error) {
  return sqliteStore_->deleteRecordFromTableWithName(kMSRTableUserAttributes, "name", Value(name),
                                                     error);
}
