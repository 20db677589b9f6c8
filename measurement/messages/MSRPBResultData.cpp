#include "measurement/messages/MSRPBResultData.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBResultData::codec() {
  static constexpr MSRPBCodecFunctions kCodec{
      "ResultData",         MSRPBResultDataInit,       MSRPBResultDataFreeField,
      MSRPBResultDataCopy,  MSRPBResultDataDeallocate, MSRPBResultDataDecode,
      MSRPBResultDataEncode};
  return kCodec;
}
