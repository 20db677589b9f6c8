// The PropertyFilter measurement message as an object that owns its MessageInfo (see
// MSRPBMessage.h). Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBPropertyFilter final : public MSRPBMessageClass<MSRPBPropertyFilter> {
 public:
  static constexpr const char* kClassName = "MSRPBPropertyFilter";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBPropertyFilter>;
  MSRPBPropertyFilter() = default;
};
