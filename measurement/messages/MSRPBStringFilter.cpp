#include "measurement/messages/MSRPBStringFilter.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBStringFilter::codec() {
  static constexpr MSRPBCodecFunctions kCodec{
      "StringFilter",         MSRPBStringFilterInit,       MSRPBStringFilterFreeField,
      MSRPBStringFilterCopy,  MSRPBStringFilterDeallocate, MSRPBStringFilterDecode,
      MSRPBStringFilterEncode};
  return kCodec;
}
