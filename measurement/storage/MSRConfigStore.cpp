#include "measurement/storage/MSRConfigStore.h"

#include "platform/base/PropertyList.h"

using platform::Value;

bool MSRIsConfigValue(const Value& value) {
  // Checked all the way down, as the value sits in the store's file (under a key of its top-level
  // dictionary): one nested value the property-list writer cannot take would otherwise make every
  // later write of the whole file fail.
  switch (value.kind()) {
    case Value::Kind::String:
    case Value::Kind::Number:
    case Value::Kind::Array:
    case Value::Kind::Dictionary:
    case Value::Kind::Date:
    case Value::Kind::Data:
      return platform::isPropertyListValue(value, 1);
    default:
      return false;
  }
}

Value MSRTypedConfigStore::arrayForKey(const std::string& key) {
  Value value = objectForKey(key);
  return value.isArray() ? value : Value();
}

Value MSRTypedConfigStore::dictionaryForKey(const std::string& key) {
  Value value = objectForKey(key);
  return value.isDictionary() ? value : Value();
}

std::optional<std::string> MSRTypedConfigStore::stringForKey(const std::string& key) {
  const Value value = objectForKey(key);
  if (const std::string* string = value.string()) return *string;
  return std::nullopt;
}

std::int64_t MSRTypedConfigStore::integerForKey(const std::string& key) {
  const Value value = objectForKey(key);
  return value.isNumber() ? value.int64Value() : 0;
}

float MSRTypedConfigStore::floatForKey(const std::string& key) {
  const Value value = objectForKey(key);
  return value.isNumber() ? static_cast<float>(value.doubleValue()) : 0.0f;
}

double MSRTypedConfigStore::doubleForKey(const std::string& key) {
  const Value value = objectForKey(key);
  return value.isNumber() ? value.doubleValue() : 0.0;
}

bool MSRTypedConfigStore::boolForKey(const std::string& key) {
  const Value value = objectForKey(key);
  return value.isNumber() && value.boolValue();
}

void MSRTypedConfigStore::setFloat(float value, const std::string& key) {
  setObject(Value(value), key);
}
void MSRTypedConfigStore::setDouble(double value, const std::string& key) {
  setObject(Value(value), key);
}
void MSRTypedConfigStore::setInteger(std::int64_t value, const std::string& key) {
  setObject(Value(static_cast<long long>(value)), key);
}
void MSRTypedConfigStore::setBool(bool value, const std::string& key) {
  setObject(Value(value), key);
}
