// Decides whether a name or value may enter the measurement engine: event names and origins,
// parameter names and values, items arrays, user properties, screen parameters, conditional user
// property fields, numbers and currency codes. Each rule answers yes or no, writes a failure code
// when given an address (0 valid .. 14, see the constants), and logs the reason through the
// engine monitor. Stateless apart from fixed character classes; any thread.
#pragma once

#include <cstdint>
#include <string>

#include "platform/base/Value.h"

class MSRValue;

enum MSRDataType : std::int64_t {
  MSRDataTypeEventName = 0,
  MSRDataTypeEventOrigin = 1,
  MSRDataTypeEventParameterName = 2,
  MSRDataTypeEventParameterValue = 3,
  MSRDataTypeUserPropertyName = 4,
  MSRDataTypeUserPropertyValue = 5,
  MSRDataTypeScreenParameterValue = 6,
  MSRDataTypeConditionalUserPropertyOrigin = 7,
  MSRDataTypeConditionalUserPropertyName = 8,
  MSRDataTypeConditionalUserPropertyValue = 9,
};

// The display name of a type followed by the suffix ("Event name is too long...").
std::string MSRDataTypeDescription(std::int64_t type, const std::string& suffix);
// nil (1) or not an MSRValue object (5) fail; logged at level 3.
bool MSRIsValidValueObject(const platform::Value& value, std::int64_t type,
                           std::int64_t* failureCode);

class MSRDataTypeValidator {
 public:
  using Code = std::int64_t*;

  // Objects are platform values: strings for names, MSRValue objects for values.
  static bool isValidString(const platform::Value& string, std::int64_t minLength,
                            std::int64_t maxLength, std::int64_t type, Code failureCode);
  static bool isValidInternalName(const platform::Value& name, std::int64_t maxLength,
                                  std::int64_t type, Code failureCode);
  static bool isValidPublicName(const platform::Value& name, std::int64_t maxLength,
                                std::int64_t type, Code failureCode);
  static bool isValidValue(const platform::Value& value, std::int64_t minLength,
                           std::int64_t maxLength, std::int64_t type, Code failureCode);
  static bool hasReservedPrefixes(const std::string& name);

  static bool isValidPublicEventName(const platform::Value& name, Code failureCode);
  static bool isValidPublicEventParameterName(const platform::Value& name, Code failureCode);
  static bool isValidPublicEventParameterValue(const platform::Value& value, Code failureCode);
  static bool isValidInternalEventOrigin(const platform::Value& origin, Code failureCode);
  static bool isValidForwardedEventOrigin(const platform::Value& origin, Code failureCode);
  static bool isValidInternalEventName(const platform::Value& name, Code failureCode);
  static bool isValidInternalEventParameterName(const platform::Value& name, Code failureCode);
  static bool isValidInternalEventParameterValue(const platform::Value& value, Code failureCode);
  static bool isValidArrayParamForEvent(const std::string& eventName,
                                        const std::string& withParamName,
                                        std::uint64_t withArrayCount, bool isNestedArrayParam,
                                        Code failureCode);
  static bool isValidArrayParamItem(const platform::Value& item, Code failureCode);
  static bool isValidPublicUserAttributeName(const platform::Value& name, Code failureCode);
  static bool isValidPublicUserAttributeValue(const platform::Value& value, Code failureCode);
  static bool isValidInternalUserAttributeName(const platform::Value& name, Code failureCode);
  static bool isValidInternalUserAttributeValue(const platform::Value& value,
                                                const std::string& name, Code failureCode);
  static bool isValidScreenParameterValue(const platform::Value& value, Code failureCode);
  static bool isValidConditionalUserPropertyOrigin(const platform::Value& origin, Code failureCode);
  static bool isValidConditionalUserPropertyName(const platform::Value& name, Code failureCode);
  static bool isValidConditionalUserPropertyValue(const platform::Value& value, Code failureCode);
  static bool isValidNumericValue(const platform::Value& value, Code failureCode);
  static bool isValidCurrencyCode(const platform::Value& value, Code failureCode);

  // The event name, origin and parameter name rules for a name held as plain text, as events
  // and the sanitiser hold them: the same answers, failure codes and log lines as the forms
  // above given Value(name), without making that value unless a line is logged.
  static bool isValidPublicEventNameText(const std::string& name, Code failureCode);
  static bool isValidPublicEventParameterNameText(const std::string& name, Code failureCode);
  static bool isValidInternalEventOriginText(const std::string& origin, Code failureCode);
  static bool isValidForwardedEventOriginText(const std::string& origin, Code failureCode);
  static bool isValidInternalEventNameText(const std::string& name, Code failureCode);
  static bool isValidInternalEventParameterNameText(const std::string& name, Code failureCode);
  // The event parameter value rules for a value the caller already holds as an MSRValue.
  static bool isValidPublicEventParameterTypedValue(const MSRValue& value, Code failureCode);
  static bool isValidInternalEventParameterTypedValue(const MSRValue& value, Code failureCode);
};
