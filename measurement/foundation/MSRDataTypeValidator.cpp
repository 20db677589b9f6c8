#include "measurement/foundation/MSRDataTypeValidator.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <string_view>
#include <unordered_set>

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRMonitor.h"
#include "measurement/foundation/MSRNaming.h"
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
// digits and "_". ASCII, what nearly every name is made of, is answered from a table that holds
// the same answers as the Unicode classes; everything else asks ICU.
constexpr std::uint8_t kAsciiLetter = 1;
constexpr std::uint8_t kAsciiNameCharacter = 2;

constexpr std::array<std::uint8_t, 128> kAsciiClasses = [] {
  std::array<std::uint8_t, 128> classes{};
  for (int c = 'a'; c <= 'z'; ++c) classes[c] = kAsciiLetter | kAsciiNameCharacter;
  for (int c = 'A'; c <= 'Z'; ++c) classes[c] = kAsciiLetter | kAsciiNameCharacter;
  for (int c = '0'; c <= '9'; ++c) classes[c] = kAsciiNameCharacter;
  classes['_'] = kAsciiNameCharacter;
  return classes;
}();

bool isLetter(char32_t c) {
  if (c < 0x80) return (kAsciiClasses[c] & kAsciiLetter) != 0;
  return (U_GET_GC_MASK(static_cast<UChar32>(c)) & U_GC_L_MASK) != 0;
}

bool isNameCharacter(char32_t c) {
  if (c < 0x80) return (kAsciiClasses[c] & kAsciiNameCharacter) != 0;
  return isLetter(c) || platform::isDecimalDigit(c);
}

bool isAscii(std::string_view s) {
  unsigned char all = 0;
  for (char c : s) all |= static_cast<unsigned char>(c);
  return all < 0x80;
}

// Text that is valid UTF-8, as every string a value holds is (a value mends what is not when
// it is made) and as text handed in plainly is checked to be before it gets here. Walking it
// needs no checks and no copy.
char32_t nextCharacter(std::string_view text, std::size_t& at) {
  const auto lead = static_cast<unsigned char>(text[at++]);
  if (lead < 0x80) return lead;
  const int continuations = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
  char32_t c = lead & (0x3F >> continuations);
  for (int k = 0; k < continuations && at < text.size(); ++k) {
    c = (c << 6) | (static_cast<unsigned char>(text[at++]) & 0x3F);
  }
  return c;
}

template <class Predicate>
bool allCharacters(std::string_view text, Predicate predicate) {
  for (std::size_t at = 0; at < text.size();) {
    if (!predicate(nextCharacter(text, at))) return false;
  }
  return true;
}

// Characters (Unicode scalar values) of valid UTF-8: the bytes that begin one.
std::size_t characterCount(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

// A string under test. Log lines show the value the caller handed in, or, for a caller that
// holds plain text, a value made of that text only when a line is written.
class Subject {
 public:
  Subject(const std::string& text, const Value* shown)
      : text_(text), shown_(shown), ascii_(isAscii(text)) {}
  const std::string& text() const { return text_; }
  bool ascii() const { return ascii_; }
  std::size_t length() const { return ascii_ ? text_.size() : characterCount(text_); }
  Value shown() const { return shown_ ? *shown_ : Value(text_); }

 private:
  const std::string& text_;
  const Value* shown_;
  bool ascii_;
};

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
  if (!value.objectPointer<MSRValue>()) {
    setCode(failureCode, 5);
    monitor()->logWithLevel(3, 13005,
                            MSRDataTypeDescription(type, " must be a MSRValue instance. value"),
                            Value(value.className()));
    return false;
  }
  return true;
}

namespace {

// The string rule from its third step on, for a string that is there.
bool stringRule(const Subject& string, std::int64_t minLength, std::int64_t maxLength,
                std::int64_t type, std::int64_t* failureCode) {
  const std::int64_t level = isValueType(type) ? 3 : 0;
  if (minLength >= 1 && string.text().empty()) {
    setCode(failureCode, 1);
    if (!isValueType(type)) {
      monitor()->logWithLevel(level, 13001,
                              MSRDataTypeDescription(type, " is required and can't be empty"));
    }
    return false;
  }
  const auto length = static_cast<std::int64_t>(string.length());
  if (length > maxLength) {
    setCode(failureCode, 2);
    monitor()->logWithLevel(
        level, 13000,
        MSRDataTypeDescription(type,
                               platform::format(" is too long. The maximum supported length is %d",
                                                static_cast<int>(maxLength))),
        string.shown());
    return false;
  }
  if (length < minLength) {
    setCode(failureCode, 7);
    monitor()->logWithLevel(
        level, 13000,
        MSRDataTypeDescription(type,
                               platform::format(" is too short. The minimum supported length is %d",
                                                static_cast<int>(minLength))),
        string.shown());
    return false;
  }
  return true;
}

bool hasOnlyNameCharacters(const Subject& name) {
  if (name.ascii()) {
    return std::all_of(name.text().begin(), name.text().end(),
                       [](char c) { return isNameCharacter(static_cast<unsigned char>(c)); });
  }
  return allCharacters(name.text(), isNameCharacter);
}

bool internalNameRule(const Subject& name, std::int64_t maxLength, std::int64_t type,
                      std::int64_t* failureCode) {
  setCode(failureCode, 0);
  if (!stringRule(name, 1, maxLength, type, failureCode)) return false;
  if (hasOnlyNameCharacters(name)) return true;
  setCode(failureCode, 3);
  monitor()->logWithLevel(
      0, 13002, MSRDataTypeDescription(type, " must contain only letters, numbers, or underscores"),
      name.shown());
  return false;
}

bool publicNameRule(const Subject& name, std::int64_t maxLength, std::int64_t type,
                    std::int64_t* failureCode) {
  if (!internalNameRule(name, maxLength, type, failureCode)) return false;
  std::size_t at = 0;
  if (isLetter(nextCharacter(name.text(), at))) return true;
  setCode(failureCode, 3);
  monitor()->logWithLevel(0, 13003, MSRDataTypeDescription(type, " must start with a letter"),
                          name.shown());
  return false;
}

// The public names of the internal events, but for the ad events', in a hashed set built once
// from the two tables (which live as long as the process).
bool isReservedEventName(const std::string& name) {
  static const auto* reserved = [] {
    auto* names = new std::unordered_set<std::string_view>;
    for (const auto& [publicName, internalName] : MSRInternalEventNamesByPublicName()) {
      if (!MSRAdEventNamesByPublicName().count(publicName)) names->insert(publicName);
    }
    return names;
  }();
  return reserved->count(name) != 0;
}

bool publicEventNameRule(const Subject& name, std::int64_t* failureCode) {
  if (!publicNameRule(name, kMaxEventNameLength, MSRDataTypeEventName, failureCode)) return false;
  const std::string& s = name.text();
  if (s == "screen_view") return true;
  if (isReservedEventName(s)) {
    setCode(failureCode, 4);
    monitor()->logWithLevel(0, 13006, "Event name is reserved. Ignoring event", name.shown());
    return false;
  }
  if (MSRDataTypeValidator::hasReservedPrefixes(s)) {
    setCode(failureCode, 4);
    monitor()->logWithLevel(0, 13007, "Event name uses reserved prefix. Ignoring event",
                            name.shown());
    return false;
  }
  return true;
}

bool publicParameterNameRule(const Subject& name, std::int64_t* failureCode) {
  if (!publicNameRule(name, kMaxParameterNameLength, MSRDataTypeEventParameterName, failureCode)) {
    return false;
  }
  if (MSRDataTypeValidator::hasReservedPrefixes(name.text())) {
    setCode(failureCode, 4);
    monitor()->logWithLevel(0, 13008, "Parameter name uses reserved prefix. Ignoring parameter",
                            name.shown());
    return false;
  }
  return true;
}

// For an origin that is a string.
bool forwardedOriginRule(const std::string& origin, std::int64_t* failureCode) {
  setCode(failureCode, 0);
  if (origin.empty()) {
    setCode(failureCode, 1);
    return false;
  }
  if (!platform::hasSuffix(origin, "+gtm")) {
    setCode(failureCode, 6);
    return false;
  }
  const std::string local = origin.substr(0, origin.size() - 4);
  return internalNameRule(Subject(local, nullptr), kMaxOriginLength, MSRDataTypeEventOrigin,
                          failureCode);
}

// A name rule given a Value: nil and non-strings fail the string rule before any length or
// character matters.
template <class Rule>
bool onValue(const Value& name, std::int64_t type, std::int64_t* failureCode, Rule rule) {
  const std::string* s = name.string();
  if (!s) return MSRDataTypeValidator::isValidString(name, 1, 0, type, failureCode);
  return rule(Subject(*s, &name));
}

// A name rule given plain text: checked as the Value made of it would be, so text that is no
// UTF-8 goes through that Value and its replacement characters.
template <class Rule>
bool onText(const std::string& name, std::int64_t type, std::int64_t* failureCode, Rule rule) {
  const Subject subject(name, nullptr);
  if (!subject.ascii() && !platform::isValidUtf8(name)) {
    return onValue(Value(name), type, failureCode, rule);
  }
  return rule(subject);
}

}  // namespace

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
  return stringRule(Subject(*s, &string), minLength, maxLength, type, failureCode);
}

bool MSRDataTypeValidator::isValidInternalName(const Value& name, std::int64_t maxLength,
                                               std::int64_t type, Code failureCode) {
  return onValue(name, type, failureCode, [&](const Subject& s) {
    return internalNameRule(s, maxLength, type, failureCode);
  });
}

bool MSRDataTypeValidator::isValidPublicName(const Value& name, std::int64_t maxLength,
                                             std::int64_t type, Code failureCode) {
  return onValue(name, type, failureCode,
                 [&](const Subject& s) { return publicNameRule(s, maxLength, type, failureCode); });
}

namespace {

// The value rule's answer for an MSRValue, then the string rule on a string value.
bool typedValueRule(const MSRValue& value, std::int64_t minLength, std::int64_t maxLength,
                    std::int64_t type, std::int64_t* failureCode) {
  setCode(failureCode, 0);
  if (!value.isString()) return true;
  return MSRDataTypeValidator::isValidString(value.value(), minLength, maxLength, type,
                                             failureCode);
}

}  // namespace

bool MSRDataTypeValidator::isValidValue(const Value& value, std::int64_t minLength,
                                        std::int64_t maxLength, std::int64_t type,
                                        Code failureCode) {
  const MSRValue* v = value.objectPointer<MSRValue>();
  if (!v) return MSRIsValidValueObject(value, type, failureCode);
  return typedValueRule(*v, minLength, maxLength, type, failureCode);
}

bool MSRDataTypeValidator::hasReservedPrefixes(const std::string& name) {
  static constexpr std::string_view kPrefixes[] = {"lumo_", "veltro_", "la_"};
  const std::string_view text(name);
  return std::any_of(std::begin(kPrefixes), std::end(kPrefixes),
                     [text](std::string_view prefix) { return text.starts_with(prefix); });
}

bool MSRDataTypeValidator::isValidPublicEventName(const Value& name, Code failureCode) {
  return onValue(name, MSRDataTypeEventName, failureCode,
                 [&](const Subject& s) { return publicEventNameRule(s, failureCode); });
}

bool MSRDataTypeValidator::isValidPublicEventNameText(const std::string& name, Code failureCode) {
  return onText(name, MSRDataTypeEventName, failureCode,
                [&](const Subject& s) { return publicEventNameRule(s, failureCode); });
}

bool MSRDataTypeValidator::isValidPublicEventParameterName(const Value& name, Code failureCode) {
  return onValue(name, MSRDataTypeEventParameterName, failureCode,
                 [&](const Subject& s) { return publicParameterNameRule(s, failureCode); });
}

bool MSRDataTypeValidator::isValidPublicEventParameterNameText(const std::string& name,
                                                               Code failureCode) {
  return onText(name, MSRDataTypeEventParameterName, failureCode,
                [&](const Subject& s) { return publicParameterNameRule(s, failureCode); });
}

bool MSRDataTypeValidator::isValidPublicEventParameterValue(const Value& value, Code failureCode) {
  return isValidValue(value, 0, kMaxPublicParameterValueLength, MSRDataTypeEventParameterValue,
                      failureCode);
}

bool MSRDataTypeValidator::isValidPublicEventParameterTypedValue(const MSRValue& value,
                                                                 Code failureCode) {
  return typedValueRule(value, 0, kMaxPublicParameterValueLength, MSRDataTypeEventParameterValue,
                        failureCode);
}

bool MSRDataTypeValidator::isValidInternalEventOrigin(const Value& origin, Code failureCode) {
  return isValidInternalName(origin, kMaxOriginLength, MSRDataTypeEventOrigin, failureCode);
}

bool MSRDataTypeValidator::isValidInternalEventOriginText(const std::string& origin,
                                                          Code failureCode) {
  return onText(origin, MSRDataTypeEventOrigin, failureCode, [&](const Subject& s) {
    return internalNameRule(s, kMaxOriginLength, MSRDataTypeEventOrigin, failureCode);
  });
}

bool MSRDataTypeValidator::isValidForwardedEventOrigin(const Value& origin, Code failureCode) {
  const std::string* s = origin.string();
  if (!s) {
    setCode(failureCode, 1);
    return false;
  }
  return forwardedOriginRule(*s, failureCode);
}

bool MSRDataTypeValidator::isValidForwardedEventOriginText(const std::string& origin,
                                                           Code failureCode) {
  if (!isAscii(origin) && !platform::isValidUtf8(origin)) {
    return isValidForwardedEventOrigin(Value(origin), failureCode);
  }
  return forwardedOriginRule(origin, failureCode);
}

bool MSRDataTypeValidator::isValidInternalEventName(const Value& name, Code failureCode) {
  return isValidInternalName(name, kMaxEventNameLength, MSRDataTypeEventName, failureCode);
}

bool MSRDataTypeValidator::isValidInternalEventNameText(const std::string& name, Code failureCode) {
  return onText(name, MSRDataTypeEventName, failureCode, [&](const Subject& s) {
    return internalNameRule(s, kMaxEventNameLength, MSRDataTypeEventName, failureCode);
  });
}

bool MSRDataTypeValidator::isValidInternalEventParameterName(const Value& name, Code failureCode) {
  return isValidInternalName(name, kMaxParameterNameLength, MSRDataTypeEventParameterName,
                             failureCode);
}

bool MSRDataTypeValidator::isValidInternalEventParameterNameText(const std::string& name,
                                                                 Code failureCode) {
  return onText(name, MSRDataTypeEventParameterName, failureCode, [&](const Subject& s) {
    return internalNameRule(s, kMaxParameterNameLength, MSRDataTypeEventParameterName, failureCode);
  });
}

bool MSRDataTypeValidator::isValidInternalEventParameterValue(const Value& value,
                                                              Code failureCode) {
  return isValidValue(value, 0, kMaxInternalParameterValueLength, MSRDataTypeEventParameterValue,
                      failureCode);
}

bool MSRDataTypeValidator::isValidInternalEventParameterTypedValue(const MSRValue& value,
                                                                   Code failureCode) {
  return typedValueRule(value, 0, kMaxInternalParameterValueLength, MSRDataTypeEventParameterValue,
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

bool MSRDataTypeValidator::isValidConditionalUserPropertyName(const Value& name, Code failureCode) {
  return isValidInternalName(name, kMaxUserPropertyNameLength,
                             MSRDataTypeConditionalUserPropertyName, failureCode);
}

bool MSRDataTypeValidator::isValidConditionalUserPropertyValue(const Value& value,
                                                               Code failureCode) {
  return isValidValue(value, 1, kMaxUserPropertyValueLength,
                      MSRDataTypeConditionalUserPropertyValue, failureCode);
}

bool MSRDataTypeValidator::isValidNumericValue(const Value& value, Code failureCode) {
  const MSRValue* v = value.objectPointer<MSRValue>();
  if (!v) return MSRIsValidValueObject(value, MSRDataTypeEventParameterValue, failureCode);
  setCode(failureCode, 0);
  if (v->isInt64() || v->isDouble()) return true;
  setCode(failureCode, 8);
  monitor()->logWithLevel(3, 13011,
                          MSRDataTypeDescription(MSRDataTypeEventParameterValue,
                                                 " must be specified with a numeric type. value"),
                          v->stringValue() ? Value(*v->stringValue()) : Value());
  return false;
}

namespace {

// Exactly three UTF-16 units, every character a letter.
bool isCurrencyText(const std::string& s) {
  if (isAscii(s)) {
    return s.size() == 3 && std::all_of(s.begin(), s.end(), [](char c) {
             return isLetter(static_cast<unsigned char>(c));
           });
  }
  // A value's string: valid UTF-8.
  std::size_t units = 0;
  for (std::size_t at = 0; at < s.size();) units += nextCharacter(s, at) >= 0x10000 ? 2 : 1;
  return units == 3 && allCharacters(s, isLetter);
}

}  // namespace

bool MSRDataTypeValidator::isValidCurrencyCode(const Value& value, Code failureCode) {
  const MSRValue* v = value.objectPointer<MSRValue>();
  if (!v) return MSRIsValidValueObject(value, MSRDataTypeEventParameterValue, failureCode);
  setCode(failureCode, 0);
  const std::string* s = v->isString() ? v->value().string() : nullptr;
  if (s && isCurrencyText(*s)) return true;
  setCode(failureCode, 9);
  monitor()->logWithLevel(
      3, 13012,
      MSRDataTypeDescription(
          MSRDataTypeEventParameterValue,
          platform::format(" must contain a %d-letter ISO_4217 currency code. value", 3)),
      value);
  return false;
}
