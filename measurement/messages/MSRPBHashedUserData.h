// The HashedUserData measurement message as an object that owns its MessageInfo (see
// MSRPBMessage.h). Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBHashedUserData final : public MSRPBMessageClass<MSRPBHashedUserData> {
 public:
  static constexpr const char* kClassName = "MSRPBHashedUserData";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBHashedUserData>;
  MSRPBHashedUserData() = default;
};
