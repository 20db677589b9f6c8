#include "measurement/messages/MSRPBHashedUserData.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBHashedUserData::codec() {
  static constexpr MSRPBCodecFunctions kCodec{
      "HashedUserData",         MSRPBHashedUserDataInit,       MSRPBHashedUserDataFreeField,
      MSRPBHashedUserDataCopy,  MSRPBHashedUserDataDeallocate, MSRPBHashedUserDataDecode,
      MSRPBHashedUserDataEncode};
  return kCodec;
}
