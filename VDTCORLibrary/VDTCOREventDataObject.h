// The payload of a transport event: the client's object that turns itself into bytes. Called on
// the thread that sets it on an event.
#pragma once

#include <optional>

#include "platform/base/Value.h"

class VDTCOREventDataObject {
 public:
  virtual ~VDTCOREventDataObject() = default;
  // The payload bytes; nullopt when the object cannot encode itself.
  virtual std::optional<platform::Bytes> transportBytes() = 0;
};
