#include "measurement/foundation/MSRUserAttribute.h"

#include "measurement/foundation/MSRDataTypeValidator.h"
#include "measurement/messages/MSRPBAccessors.h"
#include "measurement/messages/MSRPBUserAttribute.h"
#include "platform/base/Saturating.h"

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

std::shared_ptr<MSRPBUserAttribute> MSRUserAttribute::protoUserAttribute() const {
  // Slots of the UserAttribute message.
  constexpr std::int32_t kTimestamp = 0, kName = 1, kString = 2, kInt = 3, kDouble = 5;
  auto proto = MSRPBUserAttribute::message();
  MSRPBSetStringField(proto, kName, platform::Value(name_));
  if (value_->isDouble()) {
    MSRPBSetDoubleField(proto, kDouble, value_->doubleValue());
  } else if (value_->isInt64()) {
    MSRPBSetInt64(proto, kInt, value_->int64Value());
  } else if (auto s = value_->stringValue()) {
    MSRPBSetStringField(proto, kString, platform::Value(*s));
  }
  MSRPBSetInt64(proto, kTimestamp, platform::secondsToMilliseconds(lastSetTimestamp_));
  return proto;
}
