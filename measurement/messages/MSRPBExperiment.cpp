#include "measurement/messages/MSRPBExperiment.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBExperiment::codec() {
  static constexpr MSRPBCodecFunctions kCodec{
      "Experiment",         MSRPBExperimentInit,       MSRPBExperimentFreeField,
      MSRPBExperimentCopy,  MSRPBExperimentDeallocate, MSRPBExperimentDecode,
      MSRPBExperimentEncode};
  return kCodec;
}
