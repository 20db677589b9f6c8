// The main run loop: the process's initial thread drains the main queue and the main thread's
// delayed work here. The app runs it forever; tests pump it with runUntil.
#pragma once

#include <cstdint>
#include <functional>

namespace platform {

class RunLoop {
 public:
  static RunLoop& main();

  // Runs until stop() is called (from any thread). A stop() that comes while the loop is not
  // running ends the next run() at once, so a stop posted early is never lost.
  void run();
  void stop();
  // Drains main-queue work until the predicate holds or `timeoutSeconds` of real time pass
  // (whatever clock is installed; 0 or negative: one round; infinite or unrepresentably large:
  // no limit; NaN: refused, logged, as 0). Returns the predicate's last value. Main thread only.
  bool runUntil(const std::function<bool()>& predicate, double timeoutSeconds = 5);
  // Runs every block that is already due, then returns. Main thread only.
  void drain();

  // Debounced work on the main thread: schedules `block` after `delay` seconds and returns a
  // request id; cancelPerform drops a request that has not run yet.
  std::uint64_t performAfter(double delay, std::function<void()> block);
  void cancelPerform(std::uint64_t requestId);
};

// True on the process's initial thread (the one that ran main).
bool isMainThread();

}  // namespace platform
