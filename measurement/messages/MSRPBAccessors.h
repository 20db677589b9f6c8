// Reading and writing one field of a message object by its slot index (the message's slot
// order, not its wire tag). Each accessor checks the slot's flag word, converts between the slot
// and platform values, and reports misuse in the system log instead of failing its caller:
// getters then give their absent value (no, 0, 0.0, nil), setters change nothing.
// No state, no locks: a message object is used from one queue at a time.
#pragma once

#include <cstdint>
#include <memory>

#include "measurement/messages/NANOMessageBase.h"
#include "platform/base/Value.h"

// Yes for a present singular field and for every repeated field, even an empty one.
bool MSRPBHasField(const NANOMessagePtr& message, std::int32_t index);
// Empties the slot through the message's free-one-field function.
void MSRPBClearField(const NANOMessagePtr& message, std::int32_t index);

bool MSRPBGetBool(const NANOMessagePtr& message, std::int32_t index);
void MSRPBSetBoolField(const NANOMessagePtr& message, std::int32_t index, bool value);
// Enum, int32 and uint32 fields.
std::int32_t MSRPBGetInt32(const NANOMessagePtr& message, std::int32_t index);
void MSRPBSetInt32(const NANOMessagePtr& message, std::int32_t index, std::int32_t value);
// Int64 and uint64 fields.
std::int64_t MSRPBGetInt64(const NANOMessagePtr& message, std::int32_t index);
void MSRPBSetInt64(const NANOMessagePtr& message, std::int32_t index, std::int64_t value);
double MSRPBGetDouble(const NANOMessagePtr& message, std::int32_t index);
void MSRPBSetDoubleField(const NANOMessagePtr& message, std::int32_t index, double value);
// A string value, or nil when absent or not valid UTF-8.
platform::Value MSRPBGetString(const NANOMessagePtr& message, std::int32_t index);
// Nil clears the field; a value that is not a string is logged and clears the field.
void MSRPBSetStringField(const NANOMessagePtr& message, std::int32_t index,
                         const platform::Value& value);

// A new object of `messageClass` holding a copy of the sub-message; null when absent or when
// the class is of another message kind.
NANOMessagePtr MSRPBGetMessage(const NANOMessagePtr& message, std::int32_t index,
                               const NANOMessageClass& messageClass);
template <class T>
std::shared_ptr<T> MSRPBGetMessage(const NANOMessagePtr& message, std::int32_t index) {
  return std::static_pointer_cast<T>(MSRPBGetMessage(message, index, T::messageClass()));
}
// Stores a copy of `value`'s message; a null value (or one without a message) clears the field.
void MSRPBSetMessage(const NANOMessagePtr& message, std::int32_t index,
                     const NANOMessagePtr& value);

// The elements as an array of numbers, strings, data or message objects of `messageClass`
// (used for sub-message elements only); nil on misuse.
platform::Value MSRPBGetRepeated(const NANOMessagePtr& message, std::int32_t index,
                                 const NANOMessageClass& messageClass = {});
template <class T>
platform::Value MSRPBGetRepeated(const NANOMessagePtr& message, std::int32_t index) {
  return MSRPBGetRepeated(message, index, T::messageClass());
}
// Replaces every element; nil empties the field. Either every element is stored or, after the
// first element that does not fit the field, the field is left empty.
void MSRPBSetRepeated(const NANOMessagePtr& message, std::int32_t index,
                      const platform::Value& array);
