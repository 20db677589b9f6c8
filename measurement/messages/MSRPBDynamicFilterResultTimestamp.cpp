#include "measurement/messages/MSRPBDynamicFilterResultTimestamp.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBDynamicFilterResultTimestamp::codec() {
  static constexpr MSRPBCodecFunctions kCodec{"DynamicFilterResultTimestamp",
                                              MSRPBDynamicFilterResultTimestampInit,
                                              MSRPBDynamicFilterResultTimestampFreeField,
                                              MSRPBDynamicFilterResultTimestampCopy,
                                              MSRPBDynamicFilterResultTimestampDeallocate,
                                              MSRPBDynamicFilterResultTimestampDecode,
                                              MSRPBDynamicFilterResultTimestampEncode};
  return kCodec;
}
