// The RuntimeEntity measurement message as an object that owns its MessageInfo (see
// MSRPBMessage.h). Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBRuntimeEntity final : public MSRPBMessageClass<MSRPBRuntimeEntity> {
 public:
  static constexpr const char* kClassName = "MSRPBRuntimeEntity";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBRuntimeEntity>;
  MSRPBRuntimeEntity() = default;
};
