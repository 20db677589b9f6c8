#include "measurement/messages/MSRPBNumberFilter.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBNumberFilter::codec() {
  static constexpr MSRPBCodecFunctions kCodec{
      "NumberFilter",         MSRPBNumberFilterInit,       MSRPBNumberFilterFreeField,
      MSRPBNumberFilterCopy,  MSRPBNumberFilterDeallocate, MSRPBNumberFilterDecode,
      MSRPBNumberFilterEncode};
  return kCodec;
}
