// The MeasurementConfig measurement message as an object that owns its MessageInfo (see
// MSRPBMessage.h). Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBMeasurementConfig final : public MSRPBMessageClass<MSRPBMeasurementConfig> {
 public:
  static constexpr const char* kClassName = "MSRPBMeasurementConfig";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBMeasurementConfig>;
  MSRPBMeasurementConfig() = default;
};
