// The set-up both delegate proxies share: a uniquely named runtime subclass of the delegate's
// class, carrying the proxy's methods, with the real implementations and the real class kept on
// the delegate, which then becomes an instance of the subclass. Each proxy supplies its methods,
// its own association keys and its log lines. Called under the proxy's own once-guard.
#pragma once

#include <functional>
#include <string>

#include "platform/base/Value.h"
#include "platform/runtime/Runtime.h"

struct VTUProxySubclassSetup {
  // Keys (by address) of the delegate's associated real implementations and real class.
  const void* realIMPBySelectorKey = nullptr;
  const void* realClassKey = nullptr;
  // Adds the proxy's methods to the new subclass; returns the real class's implementations by
  // selector (null where it has none).
  std::function<platform::Value::Dictionary(platform::runtime::Class* subclass,
                                            platform::runtime::Class* realClass)>
      addMethods;
  // The failures and the success, for the proxy to log (and assert) in its own words.
  std::function<void(const std::string& realName, const std::string& name)> nameTaken;
  std::function<void(const std::string& realName)> allocationFailed;
  std::function<void(const std::string& name)> sizeMismatch;
  std::function<void()> proxied;
};

// Null when the delegate has no class or the subclass could not be made; the subclass otherwise
// (also when the delegate's class could not be changed, which then is not reported as proxied).
platform::runtime::Class* VTUInstallProxySubclass(const platform::ObjectPtr& delegate,
                                                  const VTUProxySubclassSetup& setup);
