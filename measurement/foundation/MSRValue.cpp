#include "measurement/foundation/MSRValue.h"

#include <functional>

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRMonitor.h"

MSRValuePtr MSRValue::valueFromObject(const platform::Value& object) {
  return valueFromObject(object, false);
}

MSRValuePtr MSRValue::valueFromObject(const platform::Value& object, bool allowArray) {
  if (object.isNil()) {
    MSRMeasurement::monitor()->logWithLevel(0, 35000, "Cannot create Value type with nil value");
    return nullptr;
  }
  if (auto existing = object.objectAs<MSRValue>()) return existing;
  if (object.isString()) return initWithString(object);
  if (object.isNumber()) {
    if (object.isFloatingPoint()) return initWithDouble(object.doubleValue());
    return initWithInt64(object.int64Value());
  }
  if (object.isArray() && allowArray) return initWithArray(object);
  MSRMeasurement::monitor()->logWithLevel(
      0, 35001,
      "Cannot create Value type with unsupported value. The Value has to be NSNumber, NSString "
      "or NSArray (if supported). Value",
      object);
  return nullptr;
}

MSRValuePtr MSRValue::initWithDouble(double value) {
  return initWithValueType(MSRValueTypeDouble, platform::Value(value));
}

MSRValuePtr MSRValue::initWithInt64(std::int64_t value) {
  return initWithValueType(MSRValueTypeInt64, platform::Value(static_cast<long long>(value)));
}

MSRValuePtr MSRValue::initWithString(const platform::Value& string) {
  if (string.isNil()) {
    MSRMeasurement::monitor()->logWithLevel(0, 35002, "Cannot create String value with nil");
    return nullptr;
  }
  if (!string.isString()) {
    MSRMeasurement::monitor()->logWithLevel(
        0, 35003, "Cannot create String value with non-string value. Value", string);
    return nullptr;
  }
  return initWithValueType(MSRValueTypeString, string);  // values are immutable: shared
}

MSRValuePtr MSRValue::initWithArray(const platform::Value& array) {
  if (array.isNil()) {
    MSRMeasurement::monitor()->logWithLevel(0, 35004, "Cannot create Array value with nil");
    return nullptr;
  }
  if (!array.isArray()) {
    MSRMeasurement::monitor()->logWithLevel(
        0, 35005, "Cannot create Array value with non-array value. Value", array);
    return nullptr;
  }
  return initWithValueType(MSRValueTypeArray, array);
}

MSRValuePtr MSRValue::initWithValueType(std::int64_t valueType, platform::Value value) {
  return std::make_shared<const MSRValue>(valueType, std::move(value));
}

double MSRValue::doubleValue() const { return isDouble() ? value_.doubleValue() : 0.0; }

std::int64_t MSRValue::int64Value() const { return isInt64() ? value_.int64Value() : 0; }

std::optional<std::string> MSRValue::stringValue() const {
  if (!isString() || !value_.string()) return std::nullopt;
  return *value_.string();
}

const platform::Value::Array* MSRValue::arrayValue() const {
  return isArray() ? value_.array() : nullptr;
}

MSRValuePtr MSRValue::copy() const { return std::make_shared<const MSRValue>(valueType_, value_); }

bool MSRValue::isEqual(const platform::Object& other) const {
  if (typeid(other) != typeid(MSRValue)) return false;
  const auto& o = static_cast<const MSRValue&>(other);
  if (o.valueType_ != valueType_) return false;
  // Kinds match, so numbers compare as the same kind; 1 and 1.0 never meet here.
  return o.value_ == value_;
}

std::size_t MSRValue::hash() const {
  return value_.hash() ^ static_cast<std::size_t>(valueType_ * 31);
}
