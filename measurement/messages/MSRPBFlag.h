// The Flag measurement message as an object that owns its MessageInfo (see MSRPBMessage.h).
// Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBFlag final : public MSRPBMessageClass<MSRPBFlag> {
 public:
  static constexpr const char* kClassName = "MSRPBFlag";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBFlag>;
  MSRPBFlag() = default;
};
