// The Experiment measurement message as an object that owns its MessageInfo (see MSRPBMessage.h).
// Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBExperiment final : public MSRPBMessageClass<MSRPBExperiment> {
 public:
  static constexpr const char* kClassName = "MSRPBExperiment";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBExperiment>;
  MSRPBExperiment() = default;
};
