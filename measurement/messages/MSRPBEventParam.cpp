#include "measurement/messages/MSRPBEventParam.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBEventParam::codec() {
  static constexpr MSRPBCodecFunctions kCodec{
      "EventParam",         MSRPBEventParamInit,       MSRPBEventParamFreeField,
      MSRPBEventParamCopy,  MSRPBEventParamDeallocate, MSRPBEventParamDecode,
      MSRPBEventParamEncode};
  return kCodec;
}
