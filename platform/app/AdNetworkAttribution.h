// Registration of the app for ad-network install attribution. There is no attribution service
// here: the call is counted so that tests can see it happened, and nothing else.
// Thread-safe.
#pragma once

namespace platform::app {

class AdNetworkAttribution {
 public:
  static void registerAppForAdNetworkAttribution();
  static int registrationCount();
};

}  // namespace platform::app
