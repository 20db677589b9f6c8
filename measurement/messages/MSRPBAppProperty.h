// The AppProperty measurement message as an object that owns its MessageInfo (see MSRPBMessage.h).
// Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBAppProperty final : public MSRPBMessageClass<MSRPBAppProperty> {
 public:
  static constexpr const char* kClassName = "MSRPBAppProperty";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBAppProperty>;
  MSRPBAppProperty() = default;
};
