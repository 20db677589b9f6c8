// The SequenceFilterResultTimestamp measurement message as an object that owns its MessageInfo (see
// MSRPBMessage.h). Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBSequenceFilterResultTimestamp final
    : public MSRPBMessageClass<MSRPBSequenceFilterResultTimestamp> {
 public:
  static constexpr const char* kClassName = "MSRPBSequenceFilterResultTimestamp";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBSequenceFilterResultTimestamp>;
  MSRPBSequenceFilterResultTimestamp() = default;
};
