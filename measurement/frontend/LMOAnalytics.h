// The public analytics interface the app calls, and the analytics start the app core asks for by
// name. Registered before main as the runtime class "LMOAnalytics" with the class methods
// "logEventWithName:parameters:" (std::string, Value dictionary or nil),
// "logEventWithOrigin:name:parameters:" (std::string, std::string, Value) and
// "startWithConfiguration:options:" (ObjectPtr, ObjectPtr). Deliberately minimal: events and
// start only. Callable from any thread; logging returns at once.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/base/Value.h"

class LMOOptions;

class LMOAnalytics {
 public:
  // Parameters: string keys; string or number values; nullopt for none. Origin "app".
  static void logEventWithName(const std::string& name,
                               const std::optional<platform::Value::Dictionary>& parameters);
  // A configured app's event goes to the analytics stack; otherwise it is logged (25018) and
  // dropped. A value without a plain form is logged first (25040); the event still goes on.
  static void logEventWithOrigin(const std::string& origin, const std::string& name,
                                 const std::optional<platform::Value::Dictionary>& parameters);

  // Starts the analytics facade for the default app with the start dictionary, hands over the
  // installation identifier and follows its changes.
  static void startWithConfiguration(const platform::ObjectPtr& configuration,
                                     const std::shared_ptr<LMOOptions>& options);
  // The start dictionary for these options (the configuration only when given). While the app's
  // data-collection setting, on which the enabled switch rests, cannot be read, that switch is an
  // MSRDeferredSwitch that the engine asks again when an event needs it.
  static platform::Value::Dictionary startDictionary(const platform::ObjectPtr& configuration,
                                                     const LMOOptions& options);

  static bool isDefaultAppConfigured();
};
