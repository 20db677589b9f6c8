// The MeasurementBundle measurement message as an object that owns its MessageInfo (see
// MSRPBMessage.h). Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBMeasurementBundle final : public MSRPBMessageClass<MSRPBMeasurementBundle> {
 public:
  static constexpr const char* kClassName = "MSRPBMeasurementBundle";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBMeasurementBundle>;
  MSRPBMeasurementBundle() = default;
};
