// The Filter measurement message as an object that owns its MessageInfo (see MSRPBMessage.h).
// Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBFilter final : public MSRPBMessageClass<MSRPBFilter> {
 public:
  static constexpr const char* kClassName = "MSRPBFilter";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBFilter>;
  MSRPBFilter() = default;
};
