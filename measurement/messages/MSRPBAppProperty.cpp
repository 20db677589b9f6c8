#include "measurement/messages/MSRPBAppProperty.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBAppProperty::codec() {
  static constexpr MSRPBCodecFunctions kCodec{
      "AppProperty",         MSRPBAppPropertyInit,       MSRPBAppPropertyFreeField,
      MSRPBAppPropertyCopy,  MSRPBAppPropertyDeallocate, MSRPBAppPropertyDecode,
      MSRPBAppPropertyEncode};
  return kCodec;
}
