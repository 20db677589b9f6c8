// Shared fixture of the promise tests: a platform sandbox with a fake clock, a recording
// assertion handler, and helpers that pump the main run loop until a promise settles.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/base/Error.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/testing/PlatformTest.h"
#include "promises/PRMPromise.h"

namespace prm_test {

using platform::Value;

struct Assertion {
  std::string function;
  std::string file;
  std::string description;
};

class PromiseTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    previousHandler_ = platform::AssertionHandler::setHandler(
        [this](const std::string& function, const std::string& file, int,
               const std::string& description) {
          std::lock_guard<std::mutex> guard(assertionsLock_);
          assertions_.push_back({function, file, description});
        });
  }
  void TearDown() override {
    platform::AssertionHandler::setHandler(previousHandler_);
    PlatformTest::TearDown();
  }

  std::vector<Assertion> assertions() {
    std::lock_guard<std::mutex> guard(assertionsLock_);
    return assertions_;
  }

  // Pumps the main queue until the promise is no longer pending.
  bool waitFor(const PRMPromisePtr& promise, double timeoutSeconds = 5) {
    return pumpUntil([&] { return !promise->isPending(); }, timeoutSeconds);
  }
  // Runs whatever the main queue holds now (twice, for work that the first round queues).
  void drainMain() {
    platform::RunLoop::main().drain();
    platform::RunLoop::main().drain();
  }
  // Moves the fake clock and lets the main queue run what came due.
  void advance(double seconds) {
    clock().advance(seconds);
    drainMain();
  }
  // True once the promise dispatch group is empty (observed through a notify on the main queue).
  bool groupEmpties(double timeoutSeconds = 5) {
    auto emptied = std::make_shared<bool>(false);
    PRMPromise::dispatchGroup()->notify(platform::DispatchQueue::main(),
                                        [emptied] { *emptied = true; });
    return pumpUntil([emptied] { return *emptied; }, timeoutSeconds);
  }
  // The same check without waiting: for asserting that the group is still occupied.
  bool groupEmptyNow() {
    auto emptied = std::make_shared<bool>(false);
    PRMPromise::dispatchGroup()->notify(platform::DispatchQueue::main(),
                                        [emptied] { *emptied = true; });
    drainMain();
    return *emptied;
  }

  static platform::ErrorPtr makeError(long code, std::string domain = "test.domain") {
    return platform::Error::make(std::move(domain), code);
  }
  static platform::DispatchQueuePtr mainQueue() { return platform::DispatchQueue::main(); }

 private:
  std::mutex assertionsLock_;
  std::vector<Assertion> assertions_;
  platform::AssertionHandler::Handler previousHandler_;
};

}  // namespace prm_test
