// The fixture of the installations tests: a fresh sandbox, and waiting on promises through the
// main run loop.
#pragma once

#include <string>

#include "platform/testing/PlatformTest.h"
#include "promises/PRMPromise.h"

namespace lmoinst::testing {

class InstallationsTest : public platform::testing::PlatformTest {
 protected:
  // Pumps the main queue until the promise settles; fails the test when it does not.
  bool settle(const PRMPromisePtr& promise, double timeout = 10) {
    return pumpUntil([&] { return !promise->isPending(); }, timeout);
  }
};

}  // namespace lmoinst::testing
