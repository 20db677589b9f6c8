// The Program measurement message as an object that owns its MessageInfo (see MSRPBMessage.h).
// Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBProgram final : public MSRPBMessageClass<MSRPBProgram> {
 public:
  static constexpr const char* kClassName = "MSRPBProgram";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBProgram>;
  MSRPBProgram() = default;
};
