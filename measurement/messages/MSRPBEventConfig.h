// The EventConfig measurement message as an object that owns its MessageInfo (see MSRPBMessage.h).
// Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBEventConfig final : public MSRPBMessageClass<MSRPBEventConfig> {
 public:
  static constexpr const char* kClassName = "MSRPBEventConfig";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBEventConfig>;
  MSRPBEventConfig() = default;
};
