#include "measurement/messages/MSRPBSetting.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBSetting::codec() {
  static constexpr MSRPBCodecFunctions kCodec{
      "Setting",         MSRPBSettingInit,       MSRPBSettingFreeField,
      MSRPBSettingCopy,  MSRPBSettingDeallocate, MSRPBSettingDecode,
      MSRPBSettingEncode};
  return kCodec;
}
