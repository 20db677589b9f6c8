// The ClientProperty measurement message as an object that owns its MessageInfo (see
// MSRPBMessage.h). Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBClientProperty final : public MSRPBMessageClass<MSRPBClientProperty> {
 public:
  static constexpr const char* kClassName = "MSRPBClientProperty";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBClientProperty>;
  MSRPBClientProperty() = default;
};
