// The NumberFilter measurement message as an object that owns its MessageInfo (see MSRPBMessage.h).
// Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBNumberFilter final : public MSRPBMessageClass<MSRPBNumberFilter> {
 public:
  static constexpr const char* kClassName = "MSRPBNumberFilter";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBNumberFilter>;
  MSRPBNumberFilter() = default;
};
