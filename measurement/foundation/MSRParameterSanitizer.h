// Event parameters never fail an event: names and values are checked, raw values become typed
// values, items arrays are checked element by element and custom parameters are capped. What had
// to be dropped or cut is recorded in the dictionary itself under "_err" (first error code),
// "_ev" (the offending name or value, cut) and "_el" (its length). Also the value/currency rule
// of conversions and the stand-alone "_err" events. Stateless; runs on the caller's queue.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/base/Value.h"

using MSRParameters = platform::Value::Dictionary;  // name -> raw value or MSRValue object

// Nullopt for a missing or empty input.
std::optional<MSRParameters> MSRSanitizedEventParameters(
    const MSRParameters* parameters, const std::optional<std::string>& eventName, bool isPublic,
    bool nested);
// The same result and log lines from a dictionary the caller hands over; what passes as it is
// stays in it instead of being copied.
std::optional<MSRParameters> MSRSanitizedEventParametersTaking(
    MSRParameters parameters, const std::optional<std::string>& eventName, bool isPublic,
    bool nested);
std::optional<MSRParameters> MSRSanitizedParameters(const MSRParameters* parameters, bool isPublic);
// A new array value of sanitised element dictionaries, or an empty Value (nil).
platform::Value MSRSanitizedArrayParameter(const platform::Value& array,
                                           const std::string& parameterName,
                                           const std::optional<std::string>& eventName,
                                           MSRParameters& errors, bool nested, bool isPublic,
                                           std::int64_t* failureCode);
bool MSRIsValidEventParameterName(const std::string& name, bool isPublic, MSRParameters& errors);

std::uint64_t MSRCustomParameterCount(const MSRParameters& parameters, bool exemptItemNames);
void MSRTrimCustomParameters(MSRParameters& parameters, std::uint64_t maximum);
void MSRTrimCustomParametersExempting(MSRParameters& parameters, std::uint64_t maximum,
                                      bool exemptItemNames);

bool MSRApplyValueCurrencyRule(MSRParameters& parameters);

// Error parameters; each leaves an already recorded error alone. `name` and `value` are raw
// values or MSRValue objects; nil is allowed.
void MSRSetErrorCode(MSRParameters& parameters, std::int64_t code);
void MSRSetErrorParameters(MSRParameters& parameters, const platform::Value& name,
                           std::uint64_t maxLength, const platform::Value& value);
void MSRSetErrorCodeAndParameters(MSRParameters& parameters, std::int64_t code,
                                  const platform::Value& name, std::uint64_t maxLength,
                                  const platform::Value& value);
void MSRSetArrayParamError(MSRParameters& parameters, std::int64_t arrayFailureCode,
                           const std::string& parameterName,
                           const std::optional<std::string>& eventName);

// Stand-alone "_err" events (origin "auto"), sent through the analytics front end's class
// "MSRAnalytics", found by name: its class method "logInternalEventWithOrigin:name:parameters:"
// takes (std::string origin, std::string name, platform::Value parameters dictionary). Without
// the front end the event is dropped.
void MSRLogErrorEvent(std::int64_t code);
void MSRLogErrorEventWithValue(std::int64_t code, const platform::Value& name,
                               std::uint64_t maxLength, const platform::Value& value);
