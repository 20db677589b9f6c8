#include "measurement/messages/MSRPBPropertyFilter.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBPropertyFilter::codec() {
  static constexpr MSRPBCodecFunctions kCodec{
      "PropertyFilter",         MSRPBPropertyFilterInit,       MSRPBPropertyFilterFreeField,
      MSRPBPropertyFilterCopy,  MSRPBPropertyFilterDeallocate, MSRPBPropertyFilterDecode,
      MSRPBPropertyFilterEncode};
  return kCodec;
}
