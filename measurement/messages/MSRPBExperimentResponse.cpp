#include "measurement/messages/MSRPBExperimentResponse.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBExperimentResponse::codec() {
  static constexpr MSRPBCodecFunctions kCodec{"ExperimentResponse",
                                              MSRPBExperimentResponseInit,
                                              MSRPBExperimentResponseFreeField,
                                              MSRPBExperimentResponseCopy,
                                              MSRPBExperimentResponseDeallocate,
                                              MSRPBExperimentResponseDecode,
                                              MSRPBExperimentResponseEncode};
  return kCodec;
}
