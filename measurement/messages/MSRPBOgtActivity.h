// The OgtActivity measurement message as an object that owns its MessageInfo (see MSRPBMessage.h).
// Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBOgtActivity final : public MSRPBMessageClass<MSRPBOgtActivity> {
 public:
  static constexpr const char* kClassName = "MSRPBOgtActivity";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBOgtActivity>;
  MSRPBOgtActivity() = default;
};
