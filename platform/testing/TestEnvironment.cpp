// What every test process needs before main: no sound card or display (SDL's dummy drivers), and
// LeakSanitizer and ThreadSanitizer pointed at the suppressions of system libraries. Linked whole into every test
// executable, so it holds whatever way ctest or a person starts the test.
#include <cstdlib>

namespace {

struct TestEnvironment {
  TestEnvironment() {
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    setenv("SDL_VIDEODRIVER", "dummy", 0);
  }
} const kTestEnvironment;

}  // namespace

// Read by LeakSanitizer while it starts, so it must not be instrumented.
extern "C" __attribute__((no_sanitize("address", "undefined"), visibility("default"))) const char*
__lsan_default_options() {
  return "suppressions=" TVS_LSAN_SUPPRESSIONS;
}

// Read by ThreadSanitizer while it starts (in the thread-sanitized build only).
extern "C" __attribute__((no_sanitize("thread"), visibility("default"))) const char*
__tsan_default_options() {
  return "suppressions=" TVS_TSAN_SUPPRESSIONS;
}
