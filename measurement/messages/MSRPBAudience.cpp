#include "measurement/messages/MSRPBAudience.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBAudience::codec() {
  static constexpr MSRPBCodecFunctions kCodec{
      "Audience",         MSRPBAudienceInit,       MSRPBAudienceFreeField,
      MSRPBAudienceCopy,  MSRPBAudienceDeallocate, MSRPBAudienceDecode,
      MSRPBAudienceEncode};
  return kCodec;
}
