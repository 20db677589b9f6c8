// The fixture every test derives from: a fresh sandbox home (TVS_HOME), a fresh main bundle
// directory (TVS_BUNDLE) with an Info.plist, launch arguments reset to the program name, and a
// FakeClock installed as Clock::current(). Each test runs in its own process, so singletons
// start fresh too.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/Value.h"
#include "platform/dispatch/Clock.h"

namespace platform::testing {

class PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  const std::filesystem::path& home() const { return home_; }
  const std::filesystem::path& bundleDir() const { return bundle_; }
  FakeClock& clock() { return *clock_; }
  // Puts the system clock back (tests that need real delays).
  void useSystemClock();
  // argv[0] stays the program name; these follow it.
  void setArguments(std::vector<std::string> arguments);
  // Rewrites the main bundle's Info.plist; "CFBundleIdentifier" is "com.tavo.tests" unless the
  // dictionary gives one. Forgets the cached main bundle and user-defaults domains.
  void writeInfoPlist(const Value::Dictionary& info);
  // Drains the main queue until the predicate holds (real-time timeout).
  bool pumpUntil(const std::function<bool()>& predicate, double timeoutSeconds = 5);

 private:
  std::filesystem::path root_;
  std::filesystem::path home_;
  std::filesystem::path bundle_;
  std::shared_ptr<FakeClock> clock_;
};

}  // namespace platform::testing
