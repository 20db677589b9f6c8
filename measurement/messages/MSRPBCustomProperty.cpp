#include "measurement/messages/MSRPBCustomProperty.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBCustomProperty::codec() {
  static constexpr MSRPBCodecFunctions kCodec{
      "CustomProperty",         MSRPBCustomPropertyInit,       MSRPBCustomPropertyFreeField,
      MSRPBCustomPropertyCopy,  MSRPBCustomPropertyDeallocate, MSRPBCustomPropertyDecode,
      MSRPBCustomPropertyEncode};
  return kCodec;
}
