#include "measurement/foundation/MSREvent.h"

#include <mutex>
#include <string_view>

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRDataTypeValidator.h"
#include "measurement/foundation/MSRMonitor.h"
#include "measurement/foundation/MSRNaming.h"
#include "measurement/foundation/MSRValue.h"
#include "measurement/messages/MSRPBAccessors.h"
#include "measurement/messages/MSRPBEvent.h"
#include "measurement/messages/MSRPBEventParam.h"
#include "platform/base/Format.h"
#include "platform/base/Saturating.h"

namespace {

using platform::Value;

// The parameter's typed value, borrowed from the dictionary; null when absent or not typed.
const MSRValue* valueAt(const MSRParameters& p, std::string_view key) {
  auto it = p.find(key);
  return it == p.end() ? nullptr : it->second.objectPointer<MSRValue>();
}

bool isInt64One(const MSRParameters& p, std::string_view key) {
  const MSRValue* v = valueAt(p, key);
  return v && v->isInt64() && v->int64Value() == 1;
}

Value int64Value(std::int64_t v) { return Value(MSRValue::initWithInt64(v)); }

// A string, or a string value; nullopt otherwise.
std::optional<std::string> screenString(const Value& v) {
  if (const std::string* s = v.string()) return *s;
  if (const MSRValue* m = v.objectPointer<MSRValue>()) return m->stringValue();
  return std::nullopt;
}

// The origin wrapped as initWithString would. Events mostly come in runs of one origin and
// typed values are immutable, so the events made in a run share one value. The last one is kept
// for the process, never destroyed, since events may still be made while it exits.
Value originValue(const std::string& origin) {
  struct Last {
    std::mutex mutex;
    std::string origin;
    Value value;
  };
  static auto* last = new Last();
  std::lock_guard lock(last->mutex);
  if (last->value.isNil() || origin != last->origin) {
    last->value = Value(MSRValue::initWithValueType(MSRValueTypeString, Value(origin)));
    last->origin = origin;
  }
  return last->value;
}

// The rules an event's origin and name must pass; also notes times out of order.
bool acceptsOriginAndName(const std::string& origin, bool isPublic, const std::string& name,
                          double timestamp, double previousTimestamp) {
  std::int64_t code = 0;
  if (!MSRDataTypeValidator::isValidForwardedEventOriginText(origin, &code)) {
    if (code != 6 || !MSRDataTypeValidator::isValidInternalEventOriginText(origin, &code)) {
      return false;
    }
  }
  // The public rule begins with the internal one on the same limit: a public name that passes
  // needs no second, quiet check.
  if (isPublic ? !MSRDataTypeValidator::isValidPublicEventNameText(name, nullptr)
               : !MSRDataTypeValidator::isValidInternalEventNameText(name, nullptr)) {
    return false;
  }
  if (previousTimestamp > timestamp) {
    MSRMeasurement::monitor()->logWithLevel(
        5, 16002, "Event created with previous timestamp after current timestamp");
  }
  return true;
}

}  // namespace

MSREventPtr MSREvent::initWithOrigin(const std::string& origin, bool isPublic,
                                     const std::string& name, double timestamp,
                                     double previousTimestamp, const MSRParameters* parameters) {
  if (!acceptsOriginAndName(origin, isPublic, name, timestamp, previousTimestamp)) return nullptr;
  return assemble(
      origin, name, timestamp, previousTimestamp,
      MSRSanitizedEventParameters(parameters, name, isPublic, false).value_or(MSRParameters{}));
}

MSREventPtr MSREvent::initWithOriginTakingParameters(const std::string& origin, bool isPublic,
                                                     const std::string& name, double timestamp,
                                                     double previousTimestamp,
                                                     MSRParameters parameters) {
  if (!acceptsOriginAndName(origin, isPublic, name, timestamp, previousTimestamp)) return nullptr;
  return assemble(origin, name, timestamp, previousTimestamp,
                  MSRSanitizedEventParametersTaking(std::move(parameters), name, isPublic, false)
                      .value_or(MSRParameters{}));
}

MSREventPtr MSREvent::assemble(const std::string& origin, const std::string& name, double timestamp,
                               double previousTimestamp, MSRParameters sanitized) {
  auto event = std::make_shared<MSREvent>(ConstructionKey());
  event->origin_ = origin;
  event->name_ = name;
  event->timestamp_ = timestamp;
  event->previousTimestamp_ = previousTimestamp;
  event->parameters_ = std::move(sanitized);
  // The origin passed its rules, so it is a string: wrapped as initWithString would.
  event->parameters_.insert_or_assign("_o", originValue(origin));
  if (event->shouldValidateParams() && !MSRApplyValueCurrencyRule(event->parameters_)) {
    event->parameters_.erase("_c");
  }
  return event;
}

MSREventPtr MSREvent::copy() const { return copyWithParameters(&parameters_); }

MSREventPtr MSREvent::copyWithPreviousTimestamp(double previousTimestamp) const {
  return initWithOrigin(origin_, false, name_, timestamp_, previousTimestamp, &parameters_);
}

MSREventPtr MSREvent::copyWithParameters(const MSRParameters* parameters) const {
  return initWithOrigin(origin_, false, name_, timestamp_, previousTimestamp_, parameters);
}

bool MSREvent::shouldValidateParams() const {
  return isConversion() || name_ == "ad_impression" || name_ == "_ai";
}

bool MSREvent::isConversion() const { return isInt64One(parameters_, "_c"); }

bool MSREvent::isDebug() const { return isInt64One(parameters_, "_dbg"); }

bool MSREvent::isRealtime() const {
  auto it = parameters_.find("_r");
  if (it == parameters_.end()) return false;
  const MSRValue* v = it->second.objectPointer<MSRValue>();
  if (v && v->isInt64()) return v->int64Value() == 1;
  MSRMeasurement::monitor()->logWithLevel(2, 16006, "Realtime parameter must be an int64. Event name",
                                          Value(name_));
  return false;
}

void MSREvent::setConversion(bool conversion) {
  if (conversion) {
    if (!MSRApplyValueCurrencyRule(parameters_)) return;
    parameters_["_c"] = int64Value(1);
    const MSRValue* err = valueAt(parameters_, "_err");
    if (err && err->isInt64() && err->int64Value() == 10) parameters_.erase("_err");
    return;
  }
  if (parameters_.erase("_c")) MSRSetErrorCode(parameters_, 10);
}

void MSREvent::setRealtime(bool realtime) {
  if (realtime) {
    parameters_["_r"] = int64Value(1);
  } else {
    parameters_.erase("_r");
  }
}

void MSREvent::setDebug(bool debug) {
  if (debug) {
    parameters_["_dbg"] = int64Value(1);
  } else {
    parameters_.erase("_dbg");
  }
}

void MSREvent::applyParameters(const MSRParameters& defaults) {
  if (defaults.empty()) return;
  auto sanitized = MSRSanitizedParameters(&defaults, true);
  if (!sanitized || sanitized->empty()) return;
  for (const auto& [key, value] : parameters_) (*sanitized)[key] = value;
  parameters_ = std::move(*sanitized);
}

bool MSREvent::addScreenParameters(const MSRParameters& screen) {
  if (screen.empty() || MSRHasScreenParameters(parameters_)) return false;
  auto si = screen.find("_si");
  if (si == screen.end()) return false;
  auto checkString = [&screen](const char* key, std::int64_t code, const char* message) {
    auto it = screen.find(key);
    if (it == screen.end()) return true;
    auto s = screenString(it->second);
    if (!s) return false;
    if (!MSRDataTypeValidator::isValidScreenParameterValue(Value(*s), nullptr)) {
      MSRMeasurement::monitor()->logWithLevel(3, code, message, Value(*s));
      return false;
    }
    return true;
  };
  if (!checkString("_sc", 16003, "Received invalid screen class")) return false;
  const MSRValue* siValue = si->second.objectPointer<MSRValue>();
  if (!(si->second.isNumber() || (siValue && siValue->isInt64()))) return false;
  if (!checkString("_sn", 16004, "Received invalid screen name")) return false;
  MSRValuePtr id = MSRValue::valueFromObject(si->second);
  if (!id) return false;
  parameters_["_si"] = Value(id);
  for (const char* key : {"_sc", "_sn"}) {
    auto it = screen.find(key);
    if (it == screen.end()) continue;
    if (auto v = MSRValue::valueFromObject(it->second)) parameters_[key] = Value(v);
  }
  return true;
}

std::string MSREvent::description() const {
  return platform::format("<MSREvent: name=%@, origin=%@, timestamp=%@, parameters=%@>",
                          MSREventNameDescription(Value(name_)), origin_, Value(timestamp_),
                          MSRParametersDescription(Value(parameters_)));
}

bool MSRIsErrorEvent(const MSREvent& event) {
  if (event.name().empty()) {
    MSRMeasurement::monitor()->logWithLevel(2, 18004, "Cannot check the event name. Name is empty");
    return false;
  }
  return event.name() == "_err";
}

bool MSRIsSubscriptionEvent(const MSREvent& event) {
  const std::string& name = event.name();
  if (name == "_assc" || name == "_assr") return true;
  if (name != "_iap") return false;
  const MSRValue* v = valueAt(event.parameters(), "subscription");
  return v && v->isInt64() && v->int64Value() == 1;
}

std::int32_t MSREventItemsCount(const MSREvent* event) {
  if (!event) return 0;
  std::int64_t sum = 0;
  for (const auto& [key, value] : event->parameters()) {
    const MSRValue* v = value.objectPointer<MSRValue>();
    // A list value that wraps something else reads as nil: no items.
    if (const auto* elements = v ? v->arrayValue() : nullptr) {
      sum += static_cast<std::int64_t>(elements->size());
    }
  }
  return static_cast<std::int32_t>(sum);
}

MSREventPtr MSREvent::eventFromEditEvent(const MSRPEvent& editEvent) {
  std::string name = editEvent.name;
  const auto& table = MSRInternalEventNamesByPublicName();
  if (auto it = table.find(name); it != table.end()) name = it->second;
  std::string origin = "app";
  if (auto it = editEvent.parameters.find("_o"); it != editEvent.parameters.end()) {
    if (const std::string* s = it->second.string()) origin = *s;
  }
  return initWithOrigin(origin, false, name, editEvent.timestamp, 0, &editEvent.parameters);
}

std::shared_ptr<MSRPEvent> MSREvent::editEvent() const {
  std::string name = name_;
  const auto& table = MSRPublicEventNamesByInternalName();
  if (auto it = table.find(name); it != table.end()) name = it->second;
  return MSRPEvent::initWithName(name, timestamp_, MSRPlainParametersFromValues(parameters_, false));
}

platform::Value::Dictionary MSRPlainParametersFromValues(const MSRParameters& parameters,
                                                         bool nested) {
  platform::Value::Dictionary out;
  for (const auto& [key, value] : parameters) {
    const MSRValue* v = value.objectPointer<MSRValue>();
    if (!v) continue;
    // A value whose kind says string or list but which wraps something else reads as nil, and a
    // nil entry is no entry.
    if (v->isDouble()) {
      out[key] = Value(v->doubleValue());
    } else if (v->isInt64()) {
      out[key] = Value(static_cast<long long>(v->int64Value()));
    } else if (v->isString()) {
      if (auto text = v->stringValue()) out[key] = Value(std::move(*text));
    } else if (v->isArray() && !nested && v->arrayValue()) {
      Value::Array elements;
      for (const auto& element : *v->arrayValue()) {
        if (const auto* d = element.dictionary()) {
          elements.push_back(Value(MSRPlainParametersFromValues(*d, true)));
        }
      }
      out[key] = Value(std::move(elements));
    }
  }
  return out;
}

namespace {

// Slots of the Event and EventParam messages.
constexpr std::int32_t kEventParams = 0, kEventName = 1, kEventTimestamp = 2,
                       kEventPreviousTimestamp = 3;
constexpr std::int32_t kParamName = 0, kParamString = 1, kParamInt = 2, kParamDouble = 4,
                       kParamNested = 5;

}  // namespace

namespace {

void logInvalidParamValue(const std::string& eventName, const std::string& key) {
  MSRMeasurement::monitor()->logWithLevel(2, 16005,
                                          "Invalid event param value. Event name, param name",
                                          Value(MSREventNameDescription(Value(eventName))),
                                          Value(MSRParameterNameDescription(Value(key))));
}

}  // namespace

Value MSREventParamsFromParameters(const MSRParameters& parameters, const std::string& eventName,
                                   bool nested) {
  Value::Array out;
  for (const auto& [key, value] : parameters) {
    const MSRValue* v = value.objectPointer<MSRValue>();
    // A value whose kind says string or list but which wraps something else reads as nil: a
    // parameter without a value could never be read back, so it is left out like a value that is
    // not typed at all.
    if (!v || (v->isString() && !v->value().string()) || (v->isArray() && !v->arrayValue())) {
      logInvalidParamValue(eventName, key);
      continue;
    }
    auto param = MSRPBEventParam::message();
    MSRPBSetStringField(param, kParamName, Value(key));
    if (v->isDouble()) {
      MSRPBSetDoubleField(param, kParamDouble, v->doubleValue());
    } else if (v->isInt64()) {
      MSRPBSetInt64(param, kParamInt, v->int64Value());
    } else if (v->isString()) {
      MSRPBSetStringField(param, kParamString, v->value());
    } else if (v->isArray()) {
      if (nested) {
        MSRMeasurement::monitor()->logWithLevel(
            2, 16007, "Nested params cannot have more than 1 level. Event name, param name",
            Value(MSREventNameDescription(Value(eventName))),
            Value(MSRParameterNameDescription(Value(key))));
        continue;
      }
      Value::Array elements;
      for (const auto& element : *v->arrayValue()) {
        const auto* dictionary = element.dictionary();
        if (!dictionary) {
          // An element is a parameter dictionary; anything else is left out, like any other
          // value that cannot be sent.
          logInvalidParamValue(eventName, key);
          continue;
        }
        auto item = MSRPBEventParam::message();
        MSRPBSetRepeated(item, kParamNested,
                         MSREventParamsFromParameters(*dictionary, eventName, true));
        elements.push_back(Value(item));
      }
      // A list with nothing in it has no value the message can carry (the name alone reads back
      // as a parameter of no kind): it is left out.
      if (elements.empty()) continue;
      MSRPBSetRepeated(param, kParamNested, Value(std::move(elements)));
    }
    out.push_back(Value(param));
  }
  return Value(std::move(out));
}

std::shared_ptr<MSRPBEvent> MSREvent::protoEvent() const {
  auto proto = MSRPBEvent::message();
  MSRPBSetStringField(proto, kEventName, Value(name_));
  if (previousTimestamp_ > 2.220446049250313e-16) {
    MSRPBSetInt64(proto, kEventPreviousTimestamp,
                  platform::secondsToMilliseconds(previousTimestamp_));
  }
  MSRPBSetInt64(proto, kEventTimestamp, platform::secondsToMilliseconds(timestamp_));
  MSRPBSetRepeated(proto, kEventParams, MSREventParamsFromParameters(parameters_, name_, false));
  return proto;
}

MSREventPtr MSREvent::initWithEventProto(const std::shared_ptr<MSRPBEvent>& proto) {
  if (!proto) return nullptr;
  const Value nameValue = MSRPBGetString(proto, kEventName);
  const std::string name = nameValue.string() ? *nameValue.string() : std::string();
  const double timestamp = static_cast<double>(MSRPBGetInt64(proto, kEventTimestamp)) / 1000.0;
  const double previous =
      static_cast<double>(MSRPBGetInt64(proto, kEventPreviousTimestamp)) / 1000.0;
  std::string origin;
  MSRParameters parameters;
  const Value params = MSRPBGetRepeated<MSRPBEventParam>(proto, kEventParams);
  if (const auto* list = params.array()) {
    for (const auto& element : *list) {
      auto param = element.objectAs<MSRPBEventParam>();
      if (!param) continue;
      const Value paramName = MSRPBGetString(param, kParamName);
      if (!MSRPBHasField(param, kParamName) || !paramName.string()) {
        MSRMeasurement::monitor()->logWithLevel(
            2, 15000, "Ignoring parameter. Parameter name is nil. Event name", Value(name));
        continue;
      }
      const std::string& key = *paramName.string();
      if (key == "_o") {
        const Value s = MSRPBGetString(param, kParamString);
        if (!MSRPBHasField(param, kParamString) || !s.string()) {
          MSRMeasurement::monitor()->logWithLevel(
              2, 15001,
              "Cannot create an event from event proto. Origin parameter is not a string. Event "
              "name",
              Value(name));
          return nullptr;
        }
        origin = *s.string();
        continue;
      }
      if (MSRPBHasField(param, kParamString)) {
        parameters[key] = MSRPBGetString(param, kParamString);
      } else if (MSRPBHasField(param, kParamInt)) {
        parameters[key] = Value(static_cast<long long>(MSRPBGetInt64(param, kParamInt)));
      } else if (MSRPBHasField(param, kParamDouble)) {
        parameters[key] = Value(MSRPBGetDouble(param, kParamDouble));
      } else {
        MSRMeasurement::monitor()->logWithLevel(
            5, 15002,
            "Unknown event parameter type from converting an event proto into MSREvent instance. "
            "Event param name",
            Value(MSRParameterNameDescription(Value(key))));
      }
    }
  }
  return initWithOriginTakingParameters(origin, false, name, timestamp, previous,
                                        std::move(parameters));
}
