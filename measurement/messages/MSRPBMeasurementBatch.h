// The MeasurementBatch measurement message as an object that owns its MessageInfo (see
// MSRPBMessage.h). Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBMeasurementBatch final : public MSRPBMessageClass<MSRPBMeasurementBatch> {
 public:
  static constexpr const char* kClassName = "MSRPBMeasurementBatch";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBMeasurementBatch>;
  MSRPBMeasurementBatch() = default;
};
