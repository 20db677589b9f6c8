#include "measurement/messages/MSRPBFilter.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBFilter::codec() {
  static constexpr MSRPBCodecFunctions kCodec{
      "Filter",         MSRPBFilterInit,       MSRPBFilterFreeField,
      MSRPBFilterCopy,  MSRPBFilterDeallocate, MSRPBFilterDecode,
      MSRPBFilterEncode};
  return kCodec;
}
