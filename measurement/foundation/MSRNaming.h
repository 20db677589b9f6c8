// The engine's two vocabularies and the rules around them: fixed tables between public names
// ("screen_view") and internal names ("_vs"), reserved and ecommerce name lists, the "_err" code
// names, name predicates and the debug log forms of names and parameters. Tables are built once
// and never change; every function here may run on any thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/base/Value.h"

using MSRNameTable = std::map<std::string, std::string, std::less<>>;

const MSRNameTable& MSRInternalEventNamesByPublicName();
const MSRNameTable& MSRPublicEventNamesByInternalName();
const MSRNameTable& MSRAdEventNamesByPublicName();
const MSRNameTable& MSRPublicToInternalParameterNames();
const MSRNameTable& MSRReservedUserPropertyNames();
const std::map<std::int64_t, std::string>& MSRErrorCodeNames();

// A non-empty string not starting with "_"; a non-string (18002) or an empty one (18003) is
// logged and answers no.
bool MSRIsPublicName(const platform::Value& name);
bool MSRIsNotErrorEventName(const std::string& name);
bool MSRIsEcommerceEventName(const std::string& name);
bool MSRIsItemParameterName(const std::string& name);
bool MSRIsRevenueEventName(const std::string& name);
bool MSRHasScreenParameters(const platform::Value::Dictionary& parameters);
platform::Value::Dictionary MSRScreenParametersFromParameters(
    const platform::Value::Dictionary& parameters);

// Log forms: in debug mode, and only when the public facade is present, an internal name is
// shown with its public one ("screen_view (_vs)").
std::string MSRNameDescription(const platform::Value& name, const MSRNameTable& table);
std::string MSREventNameDescription(const platform::Value& name);
std::string MSRParameterNameDescription(const platform::Value& name);
std::string MSRUserPropertyNameDescription(const platform::Value& name);
std::string MSRParametersDescription(const platform::Value& parameters);
