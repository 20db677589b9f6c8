#include "measurement/foundation/MSRDataTypeValidator.h"

#include <unicode/uchar.h>

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRMonitor.h"
#include "measurement/foundation/MSRNaming.h"
#include "measurement/foundation/MSRUtilities.h"
#include "measurement/foundation/MSRValue.h"
#include "platform/base/Format.h"
#include "platform/base/Strings.h"

namespace {

using platform::Value;

constexpr std::int64_t kMaxEventNameLength = 40;
constexpr std::int64_t kMaxOriginLength = 32;
constexpr std::int64_t kMaxParameterNameLength = 40;
constexpr std::int64_t kMaxPublicParameterValueLength = 100;
constexpr std::int64_t kMaxInternalParameterValueLength = 256;
constexpr std::int64_t kMaxUserPropertyNameLength = 24;
constexpr std::int64_t kMaxUserPropertyValueLength = 36;
constexpr std::int64_t kMaxLongUserPropertyValueLength = 256;
constexpr std::int64_t kMaxScreenValueLength = 100;
constexpr std::uint64_t kMaxArrayElements = 200;

void setCode(std::int64_t* out, std::int64_t code) {
  if (out) *out = code;
}

std::shared_ptr<MSRMonitor> monitor() { return MSRMeasurement::monitor(); }

// Letters are the Unicode letters without combining marks; name characters add the decimal
// digits and "_".
bool isLetter(char32_t c) {
  return (U_GET_GC_MASK(static_cast<UChar32>(c)) & U_GC_L_MASK) != 0;
}

bool isNameCharacter(char32_t c) {
  return isLetter(c) || platform::isDecimalDigit(c) || c == U'_';
}

bool isValueType(std::int64_t type) {
  return type == MSRDataTypeEventParameterValue || type == MSRDataTypeUserPropertyValue;
}

}  // namespace

std::string MSRDataTypeDescription(std::int64_t type, const std::string& suffix) {
  static const char* const kNames[] = {"Event name",
                                       "Event origin",
                                       "Event parameter name",
                                       "Event parameter value",
                                       "User property name",
                                       "User property value",
                                       "Screen parameter value",
                                       "Conditional user property origin",
                                       "Conditional user property name",
                                       "Conditional user property value"};
  std::string name = (type >= 0 && type <= 9) ? kNames[type] : "Object";
  return name + suffix;
}

bool MSRIsValidValueObject(const Value& value, std::int64_t type, std::int64_t* failureCode) {
  setCode(failureCode, 0);
  if (value.isNil()) {
    setCode(failureCode, 1);
    monitor()->logWithLevel(3, 13004, MSRDataTypeDescription(type, " cannot be nil"));
    return false;
  }
  if (!value.objectAs<MSRValue>()) {
    setCode(failureCode, 5);
    monitor()->logWithLevel(3, 13005,
                            MSRDataTypeDescription(type, " must be a MSRValue instance. value"),
                            Value(value.className()));
    return false;
  }
  return true;
}

bool MSRDataTypeValidator::isValidString(const Value& string, std::int64_t minLength,
                                         std::int64_t maxLength, std::int64_t type,
                                         Code failureCode) {
  setCode(failureCode, 0);
  const std::int64_t level = isValueType(type) ? 3 : 0;
  if (string.isNil()) {
    setCode(failureCode, 1);
    monitor()->logWithLevel(level, 13001,
                            MSRDataTypeDescription(type, " is required and can't be nil"));
    return false;
  }
  const std::string* s = string.string();
  if (!s) {
    setCode(failureCode, 5);
    monitor()->logWithLevel(level, 13000, MSRDataTypeDescription(type, " must be of type NSString"),
                            string);
    return false;
  }
  if (minLength >= 1 && s->empty()) {
    setCode(failureCode, 1);
    if (!isValueType(type)) {
      monitor()->logWithLevel(level, 13001,
                              MSRDataTypeDescription(type, " is required and can't be empty"));
    }
    return false;
  }
  const auto length = static_cast<std::int64_t>(msr_UTF32Length(*s));
  if (length > maxLength) {
    setCode(failureCode, 2);
    monitor()->logWithLevel(
        level, 13000,
        MSRDataTypeDescription(
            type, platform::format(" is too long. The maximum supported length is %d",
                                   static_cast<int>(maxLength))),
        string);
    return false;
  }
  if (length < minLength) {
    setCode(failureCode, 7);
    monitor()->logWithLevel(
        level, 13000,
        MSRDataTypeDescription(
            type, platform::format(" is too short. The minimum supported length is %d",
                                   static_cast<int>(minLength))),
        string);
    return false;
  }
  return true;
}

bool MSRDataTypeValidator::isValidInternalName(const Value& name, std::int64_t maxLength,
                                               std::int64_t type, Code failureCode) {
  if (!isValidString(name, 1, maxLength, type, failureCode)) return false;
  for (char32_t c : platform::toUtf32(*name.string())) {
    if (!isNameCharacter(c)) {
      setCode(failureCode, 3);
      monitor()->logWithLevel(
          0, 13002,
          MSRDataTypeDescription(type, " must contain only letters, numbers, or underscores"),
          name);
      return false;
    }
  }
  return true;
}

bool MSRDataTypeValidator::isValidPublicName(const Value& name, std::int64_t maxLength,
                                             std::int64_t type, Code failureCode) {
  if (!isValidInternalName(name, maxLength, type, failureCode)) return false;
  char32_t first = 0;
  msr_getUTF32Bytes(*name.string(), &first, sizeof first);  // little-endian, as this host
  if (!isLetter(first)) {
    setCode(failureCode, 3);
    monitor()->logWithLevel(0, 13003, MSRDataTypeDescription(type, " must start with a letter"),
                            name);
    return false;
  }
  return true;
}

bool MSRDataTypeValidator::isValidValue(const Value& value, std::int64_t minLength,
                                        std::int64_t maxLength, std::int64_t type,
                                        Code failureCode) {
  if (!MSRIsValidValueObject(value, type, failureCode)) return false;
  auto v = value.objectAs<MSRValue>();
  if (!v->isString()) return true;
  return isValidString(v->value(), minLength, maxLength, type, failureCode);
}

bool MSRDataTypeValidator::hasReservedPrefixes(const std::string& name) {
  for (const char* prefix : {"lumo_", "veltro_", "la_"}) {
    if (platform::hasPrefix(name, prefix)) return true;
  }
  return false;
}

bool MSRDataTypeValidator::isValidPublicEventName(const Value& name, Code failureCode) {
  if (!isValidPublicName(name, kMaxEventNameLength, MSRDataTypeEventName, failureCode)) {
    return false;
  }
  const std::string& s = *name.string();
  if (s == "screen_view") return true;
  if (MSRInternalEventNamesByPublicName().count(s) && !MSRAdEventNamesByPublicName().count(s)) {
    setCode(failureCode, 4);
    monitor()->logWithLevel(0, 13006, "Event name is reserved. Ignoring event", name);
    return false;
  }
  if (hasReservedPrefixes(s)) {
    setCode(failureCode, 4);
    monitor()->logWithLevel(0, 13007, "Event name uses reserved prefix. Ignoring event", name);
    return false;
  }
  return true;
}

bool MSRDataTypeValidator::isValidPublicEventParameterName(const Value& name, Code failureCode) {
  if (!isValidPublicName(name, kMaxParameterNameLength, MSRDataTypeEventParameterName,
                         failureCode)) {
    return false;
  }
  if (hasReservedPrefixes(*name.string())) {
    setCode(failureCode, 4);
    monitor()->logWithLevel(0, 13008, "Parameter name uses reserved prefix. Ignoring parameter",
                            name);
    return false;
  }
  return true;
}

bool MSRDataTypeValidator::isValidPublicEventParameterValue(const Value& value, Code failureCode) {
  return isValidValue(value, 0, kMaxPublicParameterValueLength, MSRDataTypeEventParameterValue,
                      failureCode);
}

bool MSRDataTypeValidator::isValidInternalEventOrigin(const Value& origin, Code failureCode) {
  return isValidInternalName(origin, kMaxOriginLength, MSRDataTypeEventOrigin, failureCode);
}

bool MSRDataTypeValidator::isValidForwardedEventOrigin(const Value& origin, Code failureCode) {
  setCode(failureCode, 0);
  const std::string* s = origin.string();
  if (!s || s->empty()) {
    setCode(failureCode, 1);
    return false;
  }
  if (!platform::hasSuffix(*s, "+gtm")) {
    setCode(failureCode, 6);
    return false;
  }
  return isValidInternalName(Value(s->substr(0, s->size() - 4)), kMaxOriginLength,
                             MSRDataTypeEventOrigin, failureCode);
}

bool MSRDataTypeValidator::isValidInternalEventName(const Value& name, Code failureCode) {
  return isValidInternalName(name, kMaxEventNameLength, MSRDataTypeEventName, failureCode);
}

bool MSRDataTypeValidator::isValidInternalEventParameterName(const Value& name,
                                                             Code failureCode) {
  return isValidInternalName(name, kMaxParameterNameLength, MSRDataTypeEventParameterName,
                             failureCode);
}

bool MSRDataTypeValidator::isValidInternalEventParameterValue(const Value& value,
                                                              Code failureCode) {
  return isValidValue(value, 0, kMaxInternalParameterValueLength, MSRDataTypeEventParameterValue,
                      failureCode);
}

bool MSRDataTypeValidator::isValidArrayParamForEvent(const std::string& eventName,
                                                     const std::string& withParamName,
                                                     std::uint64_t withArrayCount,
                                                     bool isNestedArrayParam, Code failureCode) {
  setCode(failureCode, 0);
  if (isNestedArrayParam) {
    setCode(failureCode, 13);
    monitor()->logWithLevel(0, 13013, "Nested array parameters are not allowed. Name",
                            Value(withParamName));
    return false;
  }
  if (!MSRIsEcommerceEventName(eventName)) {
    setCode(failureCode, 10);
    monitor()->logWithLevel(
        0, 13013,
        "Only ecommerce events are allowed to contain array parameters. Invalid ecommerce name",
        Value(eventName));
    return false;
  }
  if (withParamName != "items") {
    setCode(failureCode, 11);
    monitor()->logWithLevel(
        0, 13013,
        MSRDataTypeDescription(
            MSRDataTypeEventParameterName,
            platform::format(" is an invalid ecommerce items. The name of array parameters for "
                             "ecommerce should be \"%@\". Invalid parameter name",
                             "items")),
        Value(withParamName));
    return false;
  }
  if (withArrayCount > kMaxArrayElements) {
    setCode(failureCode, 12);
    monitor()->logWithLevel(
        0, 13013,
        platform::format("Array parameter has too many items. The maximum number of supported "
                         "items is %d. Invalid array size",
                         static_cast<int>(kMaxArrayElements)),
        Value(static_cast<unsigned long long>(withArrayCount)));
    return false;
  }
  return true;
}

bool MSRDataTypeValidator::isValidArrayParamItem(const Value& item, Code failureCode) {
  setCode(failureCode, 0);
  if (item.isDictionary()) return true;
  setCode(failureCode, 14);
  monitor()->logWithLevel(0, 13014, "Array param must be a dictionary. Parameters", item);
  return false;
}

bool MSRDataTypeValidator::isValidPublicUserAttributeName(const Value& name, Code failureCode) {
  if (!isValidPublicName(name, kMaxUserPropertyNameLength, MSRDataTypeUserPropertyName,
                         failureCode)) {
    return false;
  }
  const std::string& s = *name.string();
  if (MSRReservedUserPropertyNames().count(s)) {
    setCode(failureCode, 4);
    monitor()->logWithLevel(0, 13009, "User property name is reserved. Ignoring user property",
                            name);
    return false;
  }
  if (hasReservedPrefixes(s)) {
    setCode(failureCode, 4);
    monitor()->logWithLevel(
        0, 13010, "User property name uses reserved prefix. Ignoring user property", name);
    return false;
  }
  return true;
}

bool MSRDataTypeValidator::isValidPublicUserAttributeValue(const Value& value, Code failureCode) {
  return isValidValue(value, 1, kMaxUserPropertyValueLength, MSRDataTypeUserPropertyValue,
                      failureCode);
}

bool MSRDataTypeValidator::isValidInternalUserAttributeName(const Value& name, Code failureCode) {
  return isValidInternalName(name, kMaxUserPropertyNameLength, MSRDataTypeUserPropertyName,
                             failureCode);
}

bool MSRDataTypeValidator::isValidInternalUserAttributeValue(const Value& value,
                                                             const std::string& name,
                                                             Code failureCode) {
  const bool longValue = name == "_id" || name == "_gbraid";
  return isValidValue(value, 1,
                      longValue ? kMaxLongUserPropertyValueLength : kMaxUserPropertyValueLength,
                      MSRDataTypeUserPropertyValue, failureCode);
}

bool MSRDataTypeValidator::isValidScreenParameterValue(const Value& value, Code failureCode) {
  return isValidString(value, 1, kMaxScreenValueLength, MSRDataTypeScreenParameterValue,
                       failureCode);
}

bool MSRDataTypeValidator::isValidConditionalUserPropertyOrigin(const Value& origin,
                                                                Code failureCode) {
  return isValidInternalName(origin, kMaxOriginLength, MSRDataTypeConditionalUserPropertyOrigin,
                             failureCode);
}

bool MSRDataTypeValidator::isValidConditionalUserPropertyName(const Value& name,
                                                              Code failureCode) {
  return isValidInternalName(name, kMaxUserPropertyNameLength,
                             MSRDataTypeConditionalUserPropertyName, failureCode);
}

bool MSRDataTypeValidator::isValidConditionalUserPropertyValue(const Value& value,
                                                               Code failureCode) {
  return isValidValue(value, 1, kMaxUserPropertyValueLength,
                      MSRDataTypeConditionalUserPropertyValue, failureCode);
}

bool MSRDataTypeValidator::isValidNumericValue(const Value& value, Code failureCode) {
  if (!MSRIsValidValueObject(value, MSRDataTypeEventParameterValue, failureCode)) return false;
  auto v = value.objectAs<MSRValue>();
  if (v->isInt64() || v->isDouble()) return true;
  setCode(failureCode, 8);
  monitor()->logWithLevel(
      3, 13011,
      MSRDataTypeDescription(MSRDataTypeEventParameterValue,
                             " must be specified with a numeric type. value"),
      v->stringValue() ? Value(*v->stringValue()) : Value());
  return false;
}

bool MSRDataTypeValidator::isValidCurrencyCode(const Value& value, Code failureCode) {
  if (!MSRIsValidValueObject(value, MSRDataTypeEventParameterValue, failureCode)) return false;
  auto v = value.objectAs<MSRValue>();
  bool valid = false;
  if (auto s = v->stringValue(); s && platform::utf16Length(*s) == 3) {
    valid = true;
    for (char32_t c : platform::toUtf32(*s)) valid = valid && isLetter(c);
  }
  if (valid) return true;
  setCode(failureCode, 9);
  monitor()->logWithLevel(
      3, 13012,
      MSRDataTypeDescription(
          MSRDataTypeEventParameterValue,
          platform::format(" must contain a %d-letter ISO_4217 currency code. value", 3)),
      value);
  return false;
}
