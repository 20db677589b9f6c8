// The Event measurement message as an object that owns its MessageInfo (see MSRPBMessage.h).
// Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBEvent final : public MSRPBMessageClass<MSRPBEvent> {
 public:
  static constexpr const char* kClassName = "MSRPBEvent";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBEvent>;
  MSRPBEvent() = default;
};
