// The AudienceLeafFilterResult measurement message as an object that owns its MessageInfo (see
// MSRPBMessage.h). Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBAudienceLeafFilterResult final
    : public MSRPBMessageClass<MSRPBAudienceLeafFilterResult> {
 public:
  static constexpr const char* kClassName = "MSRPBAudienceLeafFilterResult";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBAudienceLeafFilterResult>;
  MSRPBAudienceLeafFilterResult() = default;
};
