#include "measurement/messages/MSRPBMeasurementBatch.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBMeasurementBatch::codec() {
  static constexpr MSRPBCodecFunctions kCodec{
      "MeasurementBatch",         MSRPBMeasurementBatchInit,       MSRPBMeasurementBatchFreeField,
      MSRPBMeasurementBatchCopy,  MSRPBMeasurementBatchDeallocate, MSRPBMeasurementBatchDecode,
      MSRPBMeasurementBatchEncode};
  return kCodec;
}
