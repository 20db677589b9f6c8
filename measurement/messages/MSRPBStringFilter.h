// The StringFilter measurement message as an object that owns its MessageInfo (see MSRPBMessage.h).
// Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBStringFilter final : public MSRPBMessageClass<MSRPBStringFilter> {
 public:
  static constexpr const char* kClassName = "MSRPBStringFilter";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBStringFilter>;
  MSRPBStringFilter() = default;
};
