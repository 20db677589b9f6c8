// The ExperimentRequest measurement message as an object that owns its MessageInfo (see
// MSRPBMessage.h). Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBExperimentRequest final : public MSRPBMessageClass<MSRPBExperimentRequest> {
 public:
  static constexpr const char* kClassName = "MSRPBExperimentRequest";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBExperimentRequest>;
  MSRPBExperimentRequest() = default;
};
