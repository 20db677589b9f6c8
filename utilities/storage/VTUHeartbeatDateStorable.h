// A map from a tag to the date of the last heartbeat sent for it.
#pragma once

#include <string>

#include "platform/base/Error.h"
#include "platform/base/Value.h"

class VTUHeartbeatDateStorable {
 public:
  virtual ~VTUHeartbeatDateStorable() = default;
  // The stored date, or nil. Nil with *error set when the map cannot be read now: not known, not
  // absent.
  virtual platform::Value heartbeatDateForTag(const std::string& tag,
                                              platform::ErrorPtr* error = nullptr) = 0;
  // A nil date removes the tag. True when the map was stored; false, and nothing written, also
  // when the stored map cannot be read now, so that no tag stored in it is lost.
  virtual bool setHearbeatDate(const platform::Value& date, const std::string& tag) = 0;
};
