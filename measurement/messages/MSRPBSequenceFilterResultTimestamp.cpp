#include "measurement/messages/MSRPBSequenceFilterResultTimestamp.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBSequenceFilterResultTimestamp::codec() {
  static constexpr MSRPBCodecFunctions kCodec{"SequenceFilterResultTimestamp",
                                              MSRPBSequenceFilterResultTimestampInit,
                                              MSRPBSequenceFilterResultTimestampFreeField,
                                              MSRPBSequenceFilterResultTimestampCopy,
                                              MSRPBSequenceFilterResultTimestampDeallocate,
                                              MSRPBSequenceFilterResultTimestampDecode,
                                              MSRPBSequenceFilterResultTimestampEncode};
  return kCodec;
}
