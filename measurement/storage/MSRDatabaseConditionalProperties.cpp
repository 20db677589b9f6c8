// The measurement database's conditional user properties.
#include "measurement/foundation/MSRConditionalUserProperty.h"
#include "measurement/foundation/MSRError.h"
#include "measurement/foundation/MSREvent.h"
#include "measurement/foundation/MSRValue.h"
#include "measurement/storage/MSRDatabase.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "platform/base/Format.h"
#include "platform/dispatch/Clock.h"

using platform::ErrorPtr;
using platform::Value;

namespace {

constexpr long kMaxConditionalProperties = 1000;

const Value* column(const MSRDatabase::Record& row, const char* name) {
  const auto it = row.find(name);
  if (it == row.end() || it->second.isNil() || it->second.isNull()) return nullptr;
  return &it->second;
}

double doubleColumn(const MSRDatabase::Record& row, const char* name) {
  const Value* value = column(row, name);
  return value && value->isNumber() ? value->doubleValue() : 0.0;
}

std::string stringColumn(const MSRDatabase::Record& row, const char* name) {
  const Value* value = column(row, name);
  return value && value->string() ? *value->string() : "";
}

double now() { return platform::Clock::current().now(); }

}  // namespace

std::optional<MSRDatabase::Record> MSRDatabase::dictionaryFromConditionalUserProperty(
    const MSRConditionalUserProperty* property, ErrorPtr* error) {
  if (!MSRCheckNotNull(property, error, 3, kMSRConditionalPropertyNil) ||
      !MSRCheckTrue(!property->name().empty(), error, 3, kMSRConditionalPropertyEmptyName) ||
      !MSRCheckTrue(!property->origin().empty(), error, 3, kMSRConditionalPropertyEmptyOrigin) ||
      !MSRCheckNotNull(property->value().get(), error, 3, kMSRConditionalPropertyNilValue)) {
    return std::nullopt;
  }
  Record row{{"name", Value(property->name())},
             {"origin", Value(property->origin())},
             {"value", MSRObjectFromValue(*property->value())},
             {"creation_timestamp", Value(property->creationTimestamp())},
             {"active", Value(property->isActive() ? 1 : 0)},
             {"trigger_timeout", Value(property->triggerTimeout())},
             {"triggered_timestamp", Value(property->triggeredTimestamp())},
             {"time_to_live", Value(property->timeToLive())}};
  if (property->triggerEventName() && !property->triggerEventName()->empty()) {
    row.emplace("trigger_event_name", Value(*property->triggerEventName()));
  }
  const std::pair<const char*, const MSREventPtr*> events[] = {
      {"triggered_event", &property->triggeredEvent()},
      {"timed_out_event", &property->timedOutEvent()},
      {"expired_event", &property->expiredEvent()}};
  for (const auto& [name, event] : events) {
    if (!*event) continue;
    const auto blob = blobFromEvent(**event);
    if (blob) row.emplace(name, Value::data(*blob));
  }
  return row;
}

std::shared_ptr<MSRConditionalUserProperty> MSRDatabase::conditionalUserPropertyFromDictionary(
    const Record& row, ErrorPtr* error) {
  const Value* stored = column(row, "value");
  const auto value = stored ? MSRValue::valueFromObject(*stored) : nullptr;
  if (!MSRCheckNotNull(value.get(), error, 2, kMSRConditionalPropertyUnreadableValue)) {
    return nullptr;
  }
  auto property = MSRConditionalUserProperty::init();
  property->setName(stringColumn(row, "name"));
  property->setOrigin(stringColumn(row, "origin"));
  property->setValue(value);
  property->setTriggerTimeout(doubleColumn(row, "trigger_timeout"));
  property->setTimeToLive(doubleColumn(row, "time_to_live"));
  property->setCreationTimestamp(doubleColumn(row, "creation_timestamp"));
  property->setTriggeredTimestamp(doubleColumn(row, "triggered_timestamp"));
  const Value* active = column(row, "active");
  property->setActive(active && active->isNumber() && active->int64Value() != 0);
  if (const Value* trigger = column(row, "trigger_event_name"); trigger && trigger->string()) {
    property->setTriggerEventName(*trigger->string());
  }
  using Setter = void (MSRConditionalUserProperty::*)(MSREventPtr);
  const std::pair<const char*, Setter> events[] = {
      {"triggered_event", &MSRConditionalUserProperty::setTriggeredEvent},
      {"timed_out_event", &MSRConditionalUserProperty::setTimedOutEvent},
      {"expired_event", &MSRConditionalUserProperty::setExpiredEvent}};
  for (const auto& [name, setter] : events) {
    const Value* blob = column(row, name);
    if (!blob) continue;
    // A damaged event column fails the row whether or not the caller asked for the error, so
    // that a rewrite of what was read cannot drop the event silently.
    auto event = eventFromBlob(*blob, error);
    if (!event) return nullptr;
    ((*property).*setter)(std::move(event));
  }
  return property;
}

std::shared_ptr<MSRConditionalUserProperty> MSRDatabase::conditionalUserPropertyWithName(
    const std::string& name, ErrorPtr* error) {
  const auto rows = dataTypesFromTableWithName(
      kMSRTableConditionalProperties, "name", Value(name), error,
      [](const Record& row, ErrorPtr* rowError) {
        return Value(conditionalUserPropertyFromDictionary(row, rowError));
      });
  if (!rows || rows->empty()) return nullptr;
  return rows->front().objectAs<MSRConditionalUserProperty>();
}

bool MSRDatabase::updateConditionalUserProperty(
    const std::shared_ptr<MSRConditionalUserProperty>& property, ErrorPtr* error) {
  const auto row = dictionaryFromConditionalUserProperty(property.get(), error);
  if (!row) return false;
  return upsertDataType(*row, kMSRTableConditionalProperties, "name", Value(property->name()),
                        kMaxConditionalProperties, error);
}

bool MSRDatabase::deleteConditionalUserPropertyWithName(const std::string& name, ErrorPtr* error) {
  return sqliteStore_->deleteRecordFromTableWithName(kMSRTableConditionalProperties, "name",
                                                     Value(name), error);
}

std::optional<MSRDatabase::ConditionalUserProperties>
MSRDatabase::conditionalUserPropertiesWithCondition(const std::string& condition,
                                                    const Value::Array& parameterValues,
                                                    ErrorPtr* error) {
  if (!MSRCheckTrue(!condition.empty(), error, 1, kMSRConditionalPropertyEmptyCondition)) {
    return std::nullopt;
  }
  const auto rows =
      sqliteStore_->recordsForQuery(platform::format("SELECT rowid, * FROM %@ WHERE %@",
                                                     kMSRTableConditionalProperties, condition),
                                    parameterValues, error);
  if (!rows) return std::nullopt;
  ConditionalUserProperties properties;
  for (const auto& row : *rows) {
    auto property = conditionalUserPropertyFromDictionary(row, error);
    if (!property) return std::nullopt;
    properties.push_back(std::move(property));
  }
  return properties;
}

std::optional<MSRDatabase::ConditionalUserProperties>
MSRDatabase::timedOutConditionalUserPropertiesWithError(ErrorPtr* error) {
  return conditionalUserPropertiesWithCondition(
      "active=0 and abs(? - creation_timestamp) > trigger_timeout", {Value(now())}, error);
}

std::optional<MSRDatabase::ConditionalUserProperties>
MSRDatabase::expiredConditionalUserPropertiesWithError(ErrorPtr* error) {
  return conditionalUserPropertiesWithCondition(
      "active=1 and abs(? - triggered_timestamp) > time_to_live", {Value(now())}, error);
}

std::optional<MSRDatabase::ConditionalUserProperties>
MSRDatabase::triggeredConditionalUserPropertiesWithEventName(const std::string& eventName,
                                                             ErrorPtr* error) {
  if (!MSRCheckTrue(!eventName.empty(), error, 1, kMSRConditionalPropertyEmptyEventName)) {
    return std::nullopt;
  }
  return conditionalUserPropertiesWithCondition(
      "active=0 and trigger_event_name=? and abs(? - creation_timestamp) <= trigger_timeout",
      {Value(eventName), Value(now())}, error);
}

std::optional<MSRDatabase::ConditionalUserProperties>
MSRDatabase::conditionalUserPropertiesWithPrefix(const std::string& prefix,
                                                 const std::string& filterByOrigin,
                                                 ErrorPtr* error) {
  // Both are taken literally: with LIKE, "%" and "_" in a name would match other names, and
  // letters would match regardless of case.
  std::string condition;
  Value::Array parameters;
  if (!filterByOrigin.empty()) {
    condition = platform::format("%@ = ?", "origin");
    parameters.push_back(Value(filterByOrigin));
  }
  if (!prefix.empty()) {
    if (!condition.empty()) condition += " AND ";
    condition += platform::format("substr(%@, 1, length(?)) = ?", "name");
    parameters.push_back(Value(prefix));
    parameters.push_back(Value(prefix));
  }
  if (condition.empty()) condition = "1 == 1";
  return conditionalUserPropertiesWithCondition(condition, parameters, error);
}
