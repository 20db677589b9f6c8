// The Snapshot measurement message as an object that owns its MessageInfo (see MSRPBMessage.h).
// Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBSnapshot final : public MSRPBMessageClass<MSRPBSnapshot> {
 public:
  static constexpr const char* kClassName = "MSRPBSnapshot";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBSnapshot>;
  MSRPBSnapshot() = default;
};
