// The EventParam measurement message as an object that owns its MessageInfo (see MSRPBMessage.h).
// Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBEventParam final : public MSRPBMessageClass<MSRPBEventParam> {
 public:
  static constexpr const char* kClassName = "MSRPBEventParam";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBEventParam>;
  MSRPBEventParam() = default;
};
