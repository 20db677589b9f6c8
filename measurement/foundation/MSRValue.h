// The typed value of every event parameter and user property: a double, a signed 64-bit
// integer, a string or an array (of parameter dictionaries). Raw values become MSRValues at the
// engine's edge; constructors log and return null instead of failing. Immutable; any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <typeinfo>

#include "platform/base/Value.h"

enum MSRValueType : std::int64_t {
  MSRValueTypeDouble = 0,
  MSRValueTypeInt64 = 1,
  MSRValueTypeString = 2,
  MSRValueTypeArray = 3,
};

class MSRValue;
using MSRValuePtr = std::shared_ptr<const MSRValue>;

class MSRValue : public platform::Object {
 public:
  // A Value holding an MSRValue returns that same object; strings, numbers (floating kind to
  // double, others and booleans to int64) and, when allowed, arrays are wrapped; anything else
  // is null (logged 35000 / 35001).
  static MSRValuePtr valueFromObject(const platform::Value& object);
  static MSRValuePtr valueFromObject(const platform::Value& object, bool allowArray);

  static MSRValuePtr initWithDouble(double value);
  static MSRValuePtr initWithInt64(std::int64_t value);
  static MSRValuePtr initWithString(const platform::Value& string);  // null: 35002 / 35003
  static MSRValuePtr initWithArray(const platform::Value& array);    // null: 35004 / 35005
  static MSRValuePtr initWithValueType(std::int64_t valueType, platform::Value value);

  // The wrapped object.
  const platform::Value& value() const { return value_; }
  std::int64_t valueType() const { return valueType_; }
  bool isDouble() const { return valueType_ == MSRValueTypeDouble; }
  bool isInt64() const { return valueType_ == MSRValueTypeInt64; }
  bool isString() const { return valueType_ == MSRValueTypeString; }
  bool isArray() const { return valueType_ == MSRValueTypeArray; }
  double doubleValue() const;        // 0.0 unless a double
  std::int64_t int64Value() const;   // 0 unless an int64
  std::optional<std::string> stringValue() const;
  const platform::Value::Array* arrayValue() const;  // null unless an array

  // A new value of the same kind sharing the wrapped object.
  MSRValuePtr copy() const;

  std::string className() const override { return "MSRValue"; }
  std::string description() const override { return value_.description(); }
  bool isEqual(const platform::Object& other) const override;
  std::size_t hash() const override;

  MSRValue(std::int64_t valueType, platform::Value value)
      : valueType_(valueType), value_(std::move(value)) {}

 private:
  std::int64_t valueType_;
  platform::Value value_;
};

