// The UserAttribute measurement message as an object that owns its MessageInfo (see
// MSRPBMessage.h). Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBUserAttribute final : public MSRPBMessageClass<MSRPBUserAttribute> {
 public:
  static constexpr const char* kClassName = "MSRPBUserAttribute";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBUserAttribute>;
  MSRPBUserAttribute() = default;
};
