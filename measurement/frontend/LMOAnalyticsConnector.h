// The analytics library's registration with the app core: the runtime class
// "LMOAnalyticsConnector" registers itself before main as the library "lumo-analytics" 8.9.1 and
// offers one component for the protocol "LMOAnalyticsInterop", created on demand, not cached.
// Deliberately minimal: the interop declares no operations yet. Immutable; any thread.
#pragma once

#include "core/LMOComponent.h"
#include "platform/runtime/Runtime.h"

class LMOAnalyticsConnector : public platform::runtime::RootObject {
 public:
  static LMOProtocol interopProtocol();
  static LMOComponentList componentsToRegister();

  std::string className() const override;
};
