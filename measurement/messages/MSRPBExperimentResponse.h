// The ExperimentResponse measurement message as an object that owns its MessageInfo (see
// MSRPBMessage.h). Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBExperimentResponse final : public MSRPBMessageClass<MSRPBExperimentResponse> {
 public:
  static constexpr const char* kClassName = "MSRPBExperimentResponse";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBExperimentResponse>;
  MSRPBExperimentResponse() = default;
};
