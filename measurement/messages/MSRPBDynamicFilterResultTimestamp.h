// The DynamicFilterResultTimestamp measurement message as an object that owns its MessageInfo (see
// MSRPBMessage.h). Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBDynamicFilterResultTimestamp final
    : public MSRPBMessageClass<MSRPBDynamicFilterResultTimestamp> {
 public:
  static constexpr const char* kClassName = "MSRPBDynamicFilterResultTimestamp";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBDynamicFilterResultTimestamp>;
  MSRPBDynamicFilterResultTimestamp() = default;
};
