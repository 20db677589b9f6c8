// The public analytics interface the app calls. Deliberately minimal for now: events are
// accepted and, while the default app is not configured, dropped with the monitor's 25018 line;
// handing a configured app's events to the measurement stack comes with the engine.
// Callable from any thread; returns at once.
#pragma once

#include <optional>
#include <string>

#include "platform/base/Value.h"

class LMOAnalytics {
 public:
  // Parameters: string keys; string or number values; nullopt for none.
  static void logEventWithName(const std::string& name,
                               const std::optional<platform::Value::Dictionary>& parameters);
  static void logEventWithOrigin(const std::string& origin, const std::string& name,
                                 const std::optional<platform::Value::Dictionary>& parameters);

  // True when the runtime has a class "LMOApp" that answers isDefaultAppConfigured with yes.
  static bool isDefaultAppConfigured();
};
