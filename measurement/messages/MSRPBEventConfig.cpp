#include "measurement/messages/MSRPBEventConfig.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBEventConfig::codec() {
  static constexpr MSRPBCodecFunctions kCodec{
      "EventConfig",         MSRPBEventConfigInit,       MSRPBEventConfigFreeField,
      MSRPBEventConfigCopy,  MSRPBEventConfigDeallocate, MSRPBEventConfigDecode,
      MSRPBEventConfigEncode};
  return kCodec;
}
