// The Flag measurement message as an object that owns its MessageInfo (see MSRPBMessage.h).
// Not thread-safe: used from one queue at a time.
#pragma once

#include <memory>

#include "measurement/messages/MSRPBMessage.h"
#include "platform/base/Value.h"

class MSRPBFlag final : public MSRPBMessageClass<MSRPBFlag> {
 public:
  static constexpr const char* kClassName = "MSRPBFlag";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBFlag>;
  MSRPBFlag() = default;
};

// The flag's value: the first present of int_value (number), double_value (number),
// string_value (string) and bool_value (boolean number); nil when none is set or for null.
platform::Value MSRPBFlagValueObject(const std::shared_ptr<MSRPBFlag>& flag);
// A new flag named `name` holding `value` (a string, or a number: floating-point numbers go to
// double_value, every other number to int_value). Null, after a log through the experiments
// monitor (found by name, forwarding to the engine monitor), when the name is nil or not a string
// or the value is neither a number nor a string.
std::shared_ptr<MSRPBFlag> MSRPBFlagWithNameValue(const platform::Value& name,
                                                  const platform::Value& value);
