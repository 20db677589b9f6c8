// The ResultData measurement message as an object that owns its MessageInfo (see MSRPBMessage.h).
// Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBResultData final : public MSRPBMessageClass<MSRPBResultData> {
 public:
  static constexpr const char* kClassName = "MSRPBResultData";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBResultData>;
  MSRPBResultData() = default;
};
