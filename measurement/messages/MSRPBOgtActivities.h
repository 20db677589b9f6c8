// The OgtActivities measurement message as an object that owns its MessageInfo (see
// MSRPBMessage.h). Not thread-safe: used from one queue at a time.
#pragma once

#include "measurement/messages/MSRPBMessage.h"

class MSRPBOgtActivities final : public MSRPBMessageClass<MSRPBOgtActivities> {
 public:
  static constexpr const char* kClassName = "MSRPBOgtActivities";
  static const MSRPBCodecFunctions& codec();

 private:
  friend class MSRPBMessageClass<MSRPBOgtActivities>;
  MSRPBOgtActivities() = default;
};
