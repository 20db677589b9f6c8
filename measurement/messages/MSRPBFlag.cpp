#include "measurement/messages/MSRPBFlag.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBFlag::codec() {
  static constexpr MSRPBCodecFunctions kCodec{"Flag", MSRPBFlagInit, MSRPBFlagFreeField, MSRPBFlagCopy,
                                              MSRPBFlagDeallocate, MSRPBFlagDecode, MSRPBFlagEncode};
  return kCodec;
}
