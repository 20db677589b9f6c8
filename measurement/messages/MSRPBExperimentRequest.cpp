#include "measurement/messages/MSRPBExperimentRequest.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBExperimentRequest::codec() {
  static constexpr MSRPBCodecFunctions kCodec{"ExperimentRequest",
                                              MSRPBExperimentRequestInit,
                                              MSRPBExperimentRequestFreeField,
                                              MSRPBExperimentRequestCopy,
                                              MSRPBExperimentRequestDeallocate,
                                              MSRPBExperimentRequestDecode,
                                              MSRPBExperimentRequestEncode};
  return kCodec;
}
