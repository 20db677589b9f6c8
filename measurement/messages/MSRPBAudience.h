// The Audience measurement message as an object that owns its MessageInfo (see MSRPBMessage.h).
// Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBAudience final : public MSRPBMessageClass<MSRPBAudience> {
 public:
  static constexpr const char* kClassName = "MSRPBAudience";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBAudience>;
  MSRPBAudience() = default;
};
