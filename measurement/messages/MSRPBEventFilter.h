// The EventFilter measurement message as an object that owns its MessageInfo (see MSRPBMessage.h).
// Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBEventFilter final : public MSRPBMessageClass<MSRPBEventFilter> {
 public:
  static constexpr const char* kClassName = "MSRPBEventFilter";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBEventFilter>;
  MSRPBEventFilter() = default;
};
