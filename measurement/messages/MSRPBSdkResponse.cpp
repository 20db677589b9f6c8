#include "measurement/messages/MSRPBSdkResponse.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBSdkResponse::codec() {
  static constexpr MSRPBCodecFunctions kCodec{
      "SdkResponse",         MSRPBSdkResponseInit,       MSRPBSdkResponseFreeField,
      MSRPBSdkResponseCopy,  MSRPBSdkResponseDeallocate, MSRPBSdkResponseDecode,
      MSRPBSdkResponseEncode};
  return kCodec;
}
