#include "measurement/messages/MSRPBOgtActivity.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBOgtActivity::codec() {
  static constexpr MSRPBCodecFunctions kCodec{
      "OgtActivity",         MSRPBOgtActivityInit,       MSRPBOgtActivityFreeField,
      MSRPBOgtActivityCopy,  MSRPBOgtActivityDeallocate, MSRPBOgtActivityDecode,
      MSRPBOgtActivityEncode};
  return kCodec;
}
