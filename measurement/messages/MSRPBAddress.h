// The Address measurement message as an object that owns its MessageInfo (see MSRPBMessage.h).
// Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBAddress final : public MSRPBMessageClass<MSRPBAddress> {
 public:
  static constexpr const char* kClassName = "MSRPBAddress";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBAddress>;
  MSRPBAddress() = default;
};
