// The script runtime's event: a name, a time and plain parameters (numbers, strings, arrays).
// Deliberately minimal: only what event editing exchanges with the engine. Not thread-safe; the
// engine's worker queue owns it while editing.
#pragma once

#include <memory>
#include <string>

#include "platform/base/Value.h"

class MSRPEvent {
 public:
  // Keeps its own copy of the parameters.
  static std::shared_ptr<MSRPEvent> initWithName(std::string name, double timestamp,
                                                 platform::Value::Dictionary parameters) {
    auto e = std::make_shared<MSRPEvent>();
    e->name = std::move(name);
    e->timestamp = timestamp;
    e->parameters = std::move(parameters);
    return e;
  }

  std::string name;
  double timestamp = 0;  // seconds since 1970
  platform::Value::Dictionary parameters;
};
