#include "measurement/foundation/MSRParameterSanitizer.h"

#include <algorithm>
#include <vector>

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/engine/MSRRemoteConfig.h"
#include "measurement/foundation/MSRDataTypeValidator.h"
#include "measurement/foundation/MSRMonitor.h"
#include "measurement/foundation/MSRNaming.h"
#include "measurement/foundation/MSRUtilities.h"
#include "measurement/foundation/MSRValue.h"
#include "platform/base/Format.h"
#include "platform/base/Strings.h"
#include "platform/runtime/Runtime.h"

namespace {

using platform::Value;

constexpr std::uint64_t kMaxNameLength = 40;
constexpr std::uint64_t kMaxValueLength = 256;
constexpr std::size_t kMaxArrayElements = 200;

Value int64Value(std::int64_t v) { return Value(MSRValue::initWithInt64(v)); }

std::optional<std::string> stringOf(const Value& v) {
  if (const std::string* s = v.string()) return *s;
  if (const MSRValue* m = v.objectPointer<MSRValue>()) return m->stringValue();
  return std::nullopt;
}

std::int64_t lengthOf(const Value& v) {
  if (auto s = stringOf(v)) return static_cast<std::int64_t>(msr_UTF32Length(*s));
  if (v.isArray()) return static_cast<std::int64_t>(v.count());
  if (const MSRValue* m = v.objectPointer<MSRValue>(); m && m->arrayValue()) {
    return static_cast<std::int64_t>(m->arrayValue()->size());
  }
  return 0;
}

// MSRIsPublicName for a key, without wrapping every key in a value; an empty key still goes
// through it to be logged.
bool isPublicKey(const std::string& key) {
  if (key.empty()) return MSRIsPublicName(Value(key));
  return key[0] != '_';
}

// Whether every key of `parameters` is also one of `replacements` (both in key order).
bool coversEveryKey(const MSRParameters& replacements, const MSRParameters& parameters) {
  if (replacements.size() < parameters.size()) return false;
  auto replacement = replacements.begin();
  for (const auto& [key, value] : parameters) {
    while (replacement != replacements.end() && replacement->first < key) ++replacement;
    if (replacement == replacements.end() || replacement->first != key) return false;
  }
  return true;
}

// The given parameters without the removed keys, with the replacements over them. Removed keys
// come in the parameters' own order, so one ordered walk builds the result; replacement entries
// move over whole, and the untouched rest is one plain copy.
MSRParameters mergedParameters(const MSRParameters& parameters,
                               const std::vector<std::string>& removed,
                               MSRParameters&& replacements) {
  if (removed.empty() && replacements.empty()) return parameters;
  if (removed.empty() && coversEveryKey(replacements, parameters)) return std::move(replacements);
  MSRParameters result;
  auto next = removed.begin();
  auto replacement = replacements.begin();
  auto moveReplacement = [&] {
    auto entry = replacements.extract(replacement++);
    result.insert(result.end(), std::move(entry));
  };
  for (auto given = parameters.begin(); given != parameters.end(); ++given) {
    while (replacement != replacements.end() && replacement->first < given->first) {
      moveReplacement();
    }
    if (replacement != replacements.end() && replacement->first == given->first) {
      if (next != removed.end() && *next == given->first) ++next;
      moveReplacement();
    } else if (next != removed.end() && *next == given->first) {
      ++next;
    } else {
      result.emplace_hint(result.end(), *given);
    }
  }
  while (replacement != replacements.end()) moveReplacement();
  return result;
}

// The same result as mergedParameters, made in the given dictionary itself: its untouched
// entries stay where they are.
MSRParameters mergedInPlace(MSRParameters&& parameters, const std::vector<std::string>& removed,
                            MSRParameters&& replacements) {
  for (const std::string& key : removed) parameters.erase(key);
  for (auto& [key, value] : replacements) parameters.insert_or_assign(key, std::move(value));
  return std::move(parameters);
}

std::string cutText(const std::string& s, std::uint64_t maxLength) {
  if (msr_UTF32Length(s) <= maxLength) return s;
  return platform::utf32Prefix(s, maxLength) + "...";
}

}  // namespace

void MSRSetErrorCode(MSRParameters& parameters, std::int64_t code) {
  if (!parameters.count("_err")) parameters["_err"] = int64Value(code);
}

void MSRSetErrorParameters(MSRParameters& parameters, const Value& name, std::uint64_t maxLength,
                           const Value& value) {
  if (parameters.count("_ev") || parameters.count("_el")) return;
  std::string text;
  if (name.isNil()) {
    text = "(nil)";
  } else if (auto s = stringOf(name)) {
    text = cutText(*s, maxLength);
  } else {
    text = name.className();
  }
  parameters["_ev"] = Value(MSRValue::initWithString(Value(text)));
  if (!value.isNil()) parameters["_el"] = int64Value(lengthOf(value));
}

void MSRSetErrorCodeAndParameters(MSRParameters& parameters, std::int64_t code, const Value& name,
                                  std::uint64_t maxLength, const Value& value) {
  if (parameters.count("_ev") || parameters.count("_el") || parameters.count("_err")) return;
  parameters["_err"] = int64Value(code);
  MSRSetErrorParameters(parameters, name, maxLength, value);
}

void MSRSetArrayParamError(MSRParameters& parameters, std::int64_t arrayFailureCode,
                           const std::string& parameterName,
                           const std::optional<std::string>& eventName) {
  const Value event = eventName ? Value(*eventName) : Value();
  switch (arrayFailureCode) {
    case 10:
      MSRSetErrorCodeAndParameters(parameters, 21, event, kMaxNameLength, Value());
      break;
    case 11:
      MSRSetErrorCodeAndParameters(parameters, 20, Value(parameterName), kMaxNameLength, Value());
      break;
    case 12:
      MSRSetErrorCodeAndParameters(parameters, 17, Value(parameterName), kMaxNameLength, Value());
      break;
    case 13:
      MSRSetErrorCodeAndParameters(parameters, 22, Value(parameterName), kMaxNameLength, Value());
      break;
    default:
      break;
  }
}

bool MSRIsValidEventParameterName(const std::string& name, bool isPublic, MSRParameters& errors) {
  std::int64_t code = 0;
  // The public rule begins with the internal one, on the same limit and type: a name that
  // passes it passes the internal rule too, quietly.
  const bool valid = isPublic
                         ? MSRDataTypeValidator::isValidPublicEventParameterNameText(name, &code)
                         : MSRDataTypeValidator::isValidInternalEventParameterNameText(name, &code);
  if (!valid && code != 0 && !errors.count("_err")) {
    const Value key(name);
    MSRSetErrorCodeAndParameters(errors, code == 4 ? 14 : 3, key, kMaxNameLength,
                                 msr_UTF32Length(name) > kMaxNameLength ? key : Value());
  }
  return valid;
}

std::uint64_t MSRCustomParameterCount(const MSRParameters& parameters, bool exemptItemNames) {
  std::uint64_t count = 0;
  for (const auto& [key, value] : parameters) {
    if (!isPublicKey(key)) continue;
    if (exemptItemNames && MSRIsItemParameterName(key)) continue;
    ++count;
  }
  return count;
}

void MSRTrimCustomParameters(MSRParameters& parameters, std::uint64_t maximum) {
  MSRTrimCustomParametersExempting(parameters, maximum, false);
}

void MSRTrimCustomParametersExempting(MSRParameters& parameters, std::uint64_t maximum,
                                      bool exemptItemNames) {
  std::uint64_t count = MSRCustomParameterCount(parameters, exemptItemNames);
  if (count <= maximum) return;
  std::vector<std::string> keys;
  for (const auto& [key, value] : parameters) keys.push_back(key);
  std::sort(keys.begin(), keys.end());
  for (auto it = keys.rbegin(); it != keys.rend() && count > maximum; ++it) {
    if (!isPublicKey(*it)) continue;
    if (exemptItemNames && MSRIsItemParameterName(*it)) continue;
    parameters.erase(*it);
    --count;
  }
}

Value MSRSanitizedArrayParameter(const Value& array, const std::string& parameterName,
                                 const std::optional<std::string>& eventName, MSRParameters& errors,
                                 bool nested, bool isPublic, std::int64_t* failureCode) {
  const Value::Array* elements = array.array();
  if (!elements) return Value();
  std::size_t kept = elements->size();
  if (!MSRDataTypeValidator::isValidArrayParamForEvent(eventName.value_or(""), parameterName, kept,
                                                       nested, failureCode)) {
    // An event name that is missing is no ecommerce event either.
    if (!failureCode || *failureCode != 12) return Value();
    kept = kMaxArrayElements;
  }
  Value::Array sanitized;
  sanitized.reserve(kept);
  for (std::size_t i = 0; i < kept; ++i) {
    const Value& element = (*elements)[i];
    std::int64_t itemCode = 0;
    if (MSRDataTypeValidator::isValidArrayParamItem(element, &itemCode)) {
      if (auto sanitizedElement =
              MSRSanitizedEventParameters(element.dictionary(), eventName, isPublic, true)) {
        sanitized.push_back(Value(std::move(*sanitizedElement)));
      }
    } else {
      MSRSetErrorCodeAndParameters(
          errors, 4,
          Value(platform::format("%@[%lu]", parameterName, static_cast<unsigned long>(i))),
          kMaxNameLength, Value());
    }
  }
  auto result = MSRValue::initWithArray(Value(std::move(sanitized)));
  return result ? Value(result) : Value();
}

namespace {

// One look at every entry: the keys to drop (in key order) and the entries to put in their place
// or add ("_err", "_ev", "_el" and converted values), logging as it goes. Typed values are
// checked where they are, borrowed from the given dictionary.
void sanitizeEntries(const MSRParameters& parameters, const std::optional<std::string>& eventName,
                     bool isPublic, bool nested, std::vector<std::string>& removed,
                     MSRParameters& replacements) {
  for (const auto& [key, raw] : parameters) {
    if (!MSRIsValidEventParameterName(key, isPublic, replacements)) {
      removed.push_back(key);
      continue;
    }
    // A plain value is converted first and held here.
    const MSRValue* value = raw.objectPointer<MSRValue>();
    const bool wasTyped = value != nullptr;
    MSRValuePtr converted;
    if (!wasTyped) {
      converted = MSRValue::valueFromObject(raw, true);
      value = converted.get();
    }
    if (!value) {
      removed.push_back(key);
      MSRMeasurement::monitor()->logWithLevel(
          3, 18015, "Event parameter value must be of type NSString, NSNumber or NSArray. Type",
          Value(raw.className()));
      continue;
    }
    std::int64_t code = 0;
    bool keep = true;
    if (isPublic && !MSRDataTypeValidator::isValidPublicEventParameterTypedValue(*value, &code)) {
      keep = false;
    } else if (key == "_ev") {
      if (auto s = value->stringValue()) {
        const auto length = msr_UTF32Length(*s);
        const bool alreadyCut = length == kMaxValueLength + 3 && platform::hasSuffix(*s, "...");
        if (length > kMaxValueLength && !alreadyCut) {
          // The cut form replaces the text whatever else came with it: an "_el" of the caller's
          // (raw or typed) stays, one is recorded only when there is none. An "_ev" recorded for
          // an earlier problem stays, as every first record does.
          if (!replacements.count("_ev")) {
            MSRParameters cut;
            MSRSetErrorParameters(cut, Value(*s), kMaxValueLength, Value(*s));
            replacements["_ev"] = cut["_ev"];
            if (!replacements.count("_el") && !parameters.count("_el")) {
              replacements["_el"] = cut["_el"];
            }
          }
        }
      }
    } else if (!MSRDataTypeValidator::isValidInternalEventParameterTypedValue(*value, &code)) {
      keep = false;
    } else if (value->isArray() && !wasTyped) {
      Value checked =
          MSRSanitizedArrayParameter(raw, key, eventName, replacements, nested, isPublic, &code);
      if (checked.isNil()) {
        keep = false;
      } else {
        converted = checked.objectAs<MSRValue>();
        value = converted.get();
      }
    }
    if (!keep) {
      removed.push_back(key);
      if (code == 2 && !replacements.count("_err")) {
        auto s = value->stringValue();
        MSRSetErrorCodeAndParameters(replacements, 4, Value(key), kMaxNameLength,
                                     s ? Value(*s) : Value());
      }
    }
    if (value->isArray() && code != 0) MSRSetArrayParamError(replacements, code, key, eventName);
    // A cut "_ev" recorded above stays: the uncut text must not reach the event.
    if (keep && !wasTyped && !(key == "_ev" && replacements.count("_ev"))) {
      // Keys come in order, so the end is the usual place of a converted value.
      replacements.insert_or_assign(replacements.end(), key, Value(converted));
    }
  }
}

// Items may hold no custom parameters, events only up to the configured number.
MSRParameters cappedParameters(MSRParameters result, bool nested) {
  if (nested) {
    if (MSRCustomParameterCount(result, true) > 0) {
      MSRTrimCustomParametersExempting(result, 0, true);
      MSRSetErrorCode(result, 23);
      MSRMeasurement::monitor()->logWithLevel(0, 18016, "Item cannot contain custom parameters");
    }
  } else {
    const std::int32_t limit = MSRMeasurement::remoteConfig()->maxPublicEventParams();
    if (MSRCustomParameterCount(result, false) > static_cast<std::uint64_t>(limit)) {
      MSRTrimCustomParameters(result, static_cast<std::uint64_t>(limit));
      MSRSetErrorCode(result, 5);
      MSRMeasurement::monitor()->logWithLevel(
          1, 18017, platform::format("Event cannot contain more than %d parameters", limit));
    }
  }
  return result;
}

}  // namespace

std::optional<MSRParameters> MSRSanitizedEventParameters(
    const MSRParameters* parameters, const std::optional<std::string>& eventName, bool isPublic,
    bool nested) {
  if (!parameters || parameters->empty()) return std::nullopt;
  std::vector<std::string> removed;
  MSRParameters replacements;
  sanitizeEntries(*parameters, eventName, isPublic, nested, removed, replacements);
  if (removed.size() == parameters->size()) return replacements;
  return cappedParameters(mergedParameters(*parameters, removed, std::move(replacements)), nested);
}

std::optional<MSRParameters> MSRSanitizedEventParametersTaking(
    MSRParameters parameters, const std::optional<std::string>& eventName, bool isPublic,
    bool nested) {
  if (parameters.empty()) return std::nullopt;
  std::vector<std::string> removed;
  MSRParameters replacements;
  sanitizeEntries(parameters, eventName, isPublic, nested, removed, replacements);
  if (removed.size() == parameters.size()) return replacements;
  return cappedParameters(mergedInPlace(std::move(parameters), removed, std::move(replacements)),
                          nested);
}

std::optional<MSRParameters> MSRSanitizedParameters(const MSRParameters* parameters,
                                                    bool isPublic) {
  return MSRSanitizedEventParameters(parameters, std::nullopt, isPublic, false);
}

bool MSRApplyValueCurrencyRule(MSRParameters& parameters) {
  auto value = parameters.find("value");
  if (value == parameters.end()) return true;
  if (!MSRDataTypeValidator::isValidNumericValue(value->second, nullptr)) {
    parameters.erase(value);
    MSRSetErrorCodeAndParameters(parameters, 18, Value("value"), kMaxValueLength, Value());
    return false;
  }
  auto currency = parameters.find("currency");
  const Value& currencyValue =
      currency == parameters.end() ? platform::nilValue() : currency->second;
  if (!MSRDataTypeValidator::isValidCurrencyCode(currencyValue, nullptr)) {
    MSRMeasurement::monitor()->logWithLevel(
        3, 18014,
        "Value parameter discarded. You must also supply a 3-letter ISO_4217 currency code in "
        "the currency parameter.");
    parameters.erase("value");
    MSRSetErrorCodeAndParameters(parameters, 19, Value("currency"), kMaxValueLength, Value());
    return false;
  }
  return true;
}

namespace {

void logInternalErrorEvent(const MSRParameters& parameters) {
  platform::runtime::Class* analytics = platform::runtime::classNamed("MSRAnalytics");
  constexpr const char* kSelector = "logInternalEventWithOrigin:name:parameters:";
  if (!analytics || !platform::runtime::respondsToSelector(analytics, kSelector)) return;
  platform::runtime::msgSend<void>(analytics, kSelector, std::string("auto"), std::string("_err"),
                                   Value(parameters));
}

}  // namespace

void MSRLogErrorEvent(std::int64_t code) {
  if (code == 0) return;
  logInternalErrorEvent({{"_err", Value(static_cast<long long>(code))}});
}

void MSRLogErrorEventWithValue(std::int64_t code, const Value& name, std::uint64_t maxLength,
                               const Value& value) {
  if (code == 0) return;
  MSRParameters parameters{{"_err", int64Value(code)}};
  bool passValue = false;
  if (!value.isNil()) {
    auto s = stringOf(value);
    passValue = code == 4 || code == 7 || (s && msr_UTF32Length(*s) > maxLength);
  }
  MSRSetErrorParameters(parameters, name, maxLength, passValue ? value : Value());
  logInternalErrorEvent(parameters);
}
