#include "measurement/messages/MSRPBAddress.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBAddress::codec() {
  static constexpr MSRPBCodecFunctions kCodec{
      "Address",         MSRPBAddressInit,       MSRPBAddressFreeField,
      MSRPBAddressCopy,  MSRPBAddressDeallocate, MSRPBAddressDecode,
      MSRPBAddressEncode};
  return kCodec;
}
