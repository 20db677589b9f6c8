// How the app was installed, as the engine asks it. Deliberately minimal: only isFAS, which the
// engine's monitor reaches through the runtime class "MSRAEU" (class method "isFAS"), registered
// before main. Stateless; any thread.
#pragma once

class MSRAEU {
 public:
  // True when the app runs as an App Store installation; the monitor then keeps debug mode and
  // verbose logging off.
  static bool isFAS();
};
