// The CustomProperty measurement message as an object that owns its MessageInfo (see
// MSRPBMessage.h). Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBCustomProperty final : public MSRPBMessageClass<MSRPBCustomProperty> {
 public:
  static constexpr const char* kClassName = "MSRPBCustomProperty";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBCustomProperty>;
  MSRPBCustomProperty() = default;
};
