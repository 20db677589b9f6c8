// The Setting measurement message as an object that owns its MessageInfo (see MSRPBMessage.h).
// Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBSetting final : public MSRPBMessageClass<MSRPBSetting> {
 public:
  static constexpr const char* kClassName = "MSRPBSetting";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBSetting>;
  MSRPBSetting() = default;
};
