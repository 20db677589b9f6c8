#include "measurement/messages/MSRPBProgram.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBProgram::codec() {
  static constexpr MSRPBCodecFunctions kCodec{
      "Program",         MSRPBProgramInit,       MSRPBProgramFreeField,
      MSRPBProgramCopy,  MSRPBProgramDeallocate, MSRPBProgramDecode,
      MSRPBProgramEncode};
  return kCodec;
}
