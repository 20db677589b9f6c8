#include "measurement/messages/MSRPBFlag.h"

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRMonitor.h"
#include "measurement/messages/MSRPBAccessors.h"
#include "measurement/messages/MSRPBCodecs.h"
#include "measurement/messages/MSRPBConstants.h"

const MSRPBCodecFunctions& MSRPBFlag::codec() {
  static constexpr MSRPBCodecFunctions kCodec{
      "Flag",          MSRPBFlagInit,  MSRPBFlagFreeField, MSRPBFlagCopy, MSRPBFlagDeallocate,
      MSRPBFlagDecode, MSRPBFlagEncode};
  return kCodec;
}

namespace {

constexpr std::int32_t kNameSlot = 0;
constexpr std::int32_t kIntValueSlot = 1;
constexpr std::int32_t kStringValueSlot = 2;
constexpr std::int32_t kDoubleValueSlot = 3;
constexpr std::int32_t kBoolValueSlot = 4;

}  // namespace

platform::Value MSRPBFlagValueObject(const std::shared_ptr<MSRPBFlag>& flag) {
  if (flag == nullptr) return {};
  if (MSRPBHasField(flag, kIntValueSlot)) {
    return platform::Value(static_cast<long long>(MSRPBGetInt64(flag, kIntValueSlot)));
  }
  if (MSRPBHasField(flag, kDoubleValueSlot)) {
    return platform::Value(MSRPBGetDouble(flag, kDoubleValueSlot));
  }
  if (MSRPBHasField(flag, kStringValueSlot)) return MSRPBGetString(flag, kStringValueSlot);
  if (MSRPBHasField(flag, kBoolValueSlot))
    return platform::Value(MSRPBGetBool(flag, kBoolValueSlot));
  return {};
}

std::shared_ptr<MSRPBFlag> MSRPBFlagWithNameValue(const platform::Value& name,
                                                  const platform::Value& value) {
  if (name.isNil()) {
    MSRMeasurement::monitor()->logWithLevel(1, 850000, std::string(kMSRPBFlagNameNilMessage));
    return nullptr;
  }
  if (!name.isString()) {
    MSRMeasurement::monitor()->logWithLevel(1, 850001, std::string(kMSRPBFlagNameNotStringMessage),
                                            platform::Value(name.className()));
    return nullptr;
  }
  if (!value.isNumber() && !value.isString()) {
    MSRMeasurement::monitor()->logWithLevel(1, 850002, std::string(kMSRPBFlagValueInvalidMessage),
                                            platform::Value(value.className()));
    return nullptr;
  }
  std::shared_ptr<MSRPBFlag> flag = MSRPBFlag::initWithBuffer(platform::Value());
  if (flag == nullptr) return nullptr;
  MSRPBSetStringField(flag, kNameSlot, name);
  if (value.isString()) {
    MSRPBSetStringField(flag, kStringValueSlot, value);
  } else if (value.isFloatingPoint()) {
    MSRPBSetDoubleField(flag, kDoubleValueSlot, value.doubleValue());
  } else {
    MSRPBSetInt64(flag, kIntValueSlot, value.int64Value());
  }
  return flag;
}
