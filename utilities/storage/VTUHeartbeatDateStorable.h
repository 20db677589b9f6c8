// A map from a tag to the date of the last heartbeat sent for it.
#pragma once

#include <string>

#include "platform/base/Value.h"

class VTUHeartbeatDateStorable {
 public:
  virtual ~VTUHeartbeatDateStorable() = default;
  // The stored date, or nil.
  virtual platform::Value heartbeatDateForTag(const std::string& tag) = 0;
  // A nil date removes the tag. True when the map was stored.
  virtual bool setHearbeatDate(const platform::Value& date, const std::string& tag) = 0;
};
