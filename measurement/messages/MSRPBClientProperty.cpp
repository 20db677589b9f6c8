#include "measurement/messages/MSRPBClientProperty.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBClientProperty::codec() {
  static constexpr MSRPBCodecFunctions kCodec{
      "ClientProperty",         MSRPBClientPropertyInit,       MSRPBClientPropertyFreeField,
      MSRPBClientPropertyCopy,  MSRPBClientPropertyDeallocate, MSRPBClientPropertyDecode,
      MSRPBClientPropertyEncode};
  return kCodec;
}
