// The SdkResponse measurement message as an object that owns its MessageInfo (see MSRPBMessage.h).
// Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBSdkResponse final : public MSRPBMessageClass<MSRPBSdkResponse> {
 public:
  static constexpr const char* kClassName = "MSRPBSdkResponse";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBSdkResponse>;
  MSRPBSdkResponse() = default;
};
