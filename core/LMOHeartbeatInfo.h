// Whether a day has passed since the last report per tag, recording the new date when it has.
// The dates live in the heartbeat storage "HEARTBEAT_INFO_STORAGE"; one class-wide lock covers the
// read, the comparison and the write.
#pragma once

#include <string>

enum class LMOHeartbeatCode : long {
  None = 0,      // neither the tag nor "GLOBAL" was due
  SDK = 1,       // only the tag
  Global = 2,    // only "GLOBAL"
  Combined = 3,  // both
};

class LMOHeartbeatInfo {
 public:
  // True when the tag was due and the new date was stored.
  static bool updateIfNeededHeartbeatDateForTag(const std::string& tag);
  // Updates the tag, then "GLOBAL", and combines the two answers.
  static LMOHeartbeatCode heartbeatCodeForTag(const std::string& tag);
};
