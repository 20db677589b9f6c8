#include "measurement/messages/MSRPBFlag.h"

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRMonitor.h"
#include "measurement/messages/MSRPBAccessors.h"
#include "measurement/messages/MSRPBCodecs.h"
#include "measurement/messages/MSRPBConstants.h"
#include "platform/runtime/Runtime.h"

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

// The flag's checks log through the experiments component's monitor, which sits above this room
// and is found by name; it forwards to the engine monitor, which takes over when it is absent.
void logFlagProblem(std::int64_t level, std::int64_t code, const std::string& message,
                    const std::optional<platform::Value>& context = std::nullopt) {
  namespace runtime = platform::runtime;
  constexpr const char* kBare = "logWithLevel:messageCode:message:";
  constexpr const char* kWithContext = "logWithLevel:messageCode:message:context:";
  const std::optional<std::string> text = message;
  if (runtime::Class* manager = runtime::classNamed(kMSRPBExperimentsManagerClassName);
      manager && runtime::respondsToSelector(manager, "monitor")) {
    auto monitor = runtime::msgSend<platform::ObjectPtr>(manager, "monitor");
    const char* selector = context ? kWithContext : kBare;
    if (monitor && runtime::respondsToSelector(monitor, selector)) {
      if (context) {
        runtime::msgSend<void>(monitor, selector, level, code, text, *context);
      } else {
        runtime::msgSend<void>(monitor, selector, level, code, text);
      }
      return;
    }
  }
  if (context) {
    MSRMeasurement::monitor()->logWithLevel(level, code, text, *context);
  } else {
    MSRMeasurement::monitor()->logWithLevel(level, code, text);
  }
}

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
    logFlagProblem(1, 850000, kMSRPBFlagNameNilMessage);
    return nullptr;
  }
  if (!name.isString()) {
    logFlagProblem(1, 850001, kMSRPBFlagNameNotStringMessage, platform::Value(name.className()));
    return nullptr;
  }
  if (!value.isNumber() && !value.isString()) {
    logFlagProblem(1, 850002, kMSRPBFlagValueInvalidMessage, platform::Value(value.className()));
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
