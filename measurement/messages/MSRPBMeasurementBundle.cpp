#include "measurement/messages/MSRPBMeasurementBundle.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBMeasurementBundle::codec() {
  static constexpr MSRPBCodecFunctions kCodec{"MeasurementBundle",
                                              MSRPBMeasurementBundleInit,
                                              MSRPBMeasurementBundleFreeField,
                                              MSRPBMeasurementBundleCopy,
                                              MSRPBMeasurementBundleDeallocate,
                                              MSRPBMeasurementBundleDecode,
                                              MSRPBMeasurementBundleEncode};
  return kCodec;
}
