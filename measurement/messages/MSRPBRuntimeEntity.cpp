#include "measurement/messages/MSRPBRuntimeEntity.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBRuntimeEntity::codec() {
  static constexpr MSRPBCodecFunctions kCodec{
      "RuntimeEntity",         MSRPBRuntimeEntityInit,       MSRPBRuntimeEntityFreeField,
      MSRPBRuntimeEntityCopy,  MSRPBRuntimeEntityDeallocate, MSRPBRuntimeEntityDecode,
      MSRPBRuntimeEntityEncode};
  return kCodec;
}
