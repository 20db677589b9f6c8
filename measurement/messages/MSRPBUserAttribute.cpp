#include "measurement/messages/MSRPBUserAttribute.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBUserAttribute::codec() {
  static constexpr MSRPBCodecFunctions kCodec{
      "UserAttribute",         MSRPBUserAttributeInit,       MSRPBUserAttributeFreeField,
      MSRPBUserAttributeCopy,  MSRPBUserAttributeDeallocate, MSRPBUserAttributeDecode,
      MSRPBUserAttributeEncode};
  return kCodec;
}
