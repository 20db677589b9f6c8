#include "measurement/foundation/MSRUserAttribute.h"

#include "measurement/foundation/MSRDataTypeValidator.h"

std::shared_ptr<MSRUserAttribute> MSRUserAttribute::initWithOrigin(const std::string& origin,
                                                                   const std::string& name,
                                                                   MSRValuePtr value,
                                                                   double lastSetTimestamp) {
  const platform::Value valueObject = value ? platform::Value(value) : platform::Value();
  if (!MSRDataTypeValidator::isValidInternalUserAttributeName(platform::Value(name), nullptr) ||
      !MSRDataTypeValidator::isValidInternalUserAttributeValue(valueObject, name, nullptr)) {
    return nullptr;
  }
  std::shared_ptr<MSRUserAttribute> a(new MSRUserAttribute());
  a->origin_ = origin;
  a->name_ = name;
  a->value_ = std::move(value);
  a->lastSetTimestamp_ = lastSetTimestamp;
  return a;
}
