#include "measurement/messages/MSRPBMeasurementConfig.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBMeasurementConfig::codec() {
  static constexpr MSRPBCodecFunctions kCodec{"MeasurementConfig",
                                              MSRPBMeasurementConfigInit,
                                              MSRPBMeasurementConfigFreeField,
                                              MSRPBMeasurementConfigCopy,
                                              MSRPBMeasurementConfigDeallocate,
                                              MSRPBMeasurementConfigDecode,
                                              MSRPBMeasurementConfigEncode};
  return kCodec;
}
