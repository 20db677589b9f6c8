#include "platform/testing/PlatformTest.h"

#include <stdlib.h>

#include "platform/base/Bundle.h"
#include "platform/base/Files.h"
#include "platform/base/ProcessInfo.h"
#include "platform/base/PropertyList.h"
#include "platform/base/UserDefaults.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/testing/ChildProcess.h"

namespace platform::testing {

namespace fs = std::filesystem;

namespace {

constexpr const char* kTestBundleIdentifier = "com.tavo.tests";

std::string programName() {
  auto args = ProcessInfo::processInfo().arguments();
  return args.empty() ? std::string("tests") : args[0];
}

}  // namespace

void PlatformTest::SetUp() {
  // A child process started by ChildProcess shares its parent's sandbox and bundle as they stand.
  const char* sharedRoot = std::getenv("TVS_TEST_ROOT");
  bool child = !testRole().empty() && sharedRoot;
  if (child) {
    root_ = sharedRoot;
  } else {
    std::string templ = (fs::temp_directory_path() / "tvs-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(templ.data()), nullptr) << "cannot make a temporary directory";
    root_ = templ;
    ::setenv("TVS_TEST_ROOT", root_.c_str(), 1);
  }
  home_ = root_ / "home";
  bundle_ = root_ / "Tests.app";
  ::setenv("TVS_HOME", home_.c_str(), 1);
  ::setenv("TVS_BUNDLE", bundle_.c_str(), 1);
  for (const fs::path& dir : {SandboxHome::applicationSupport(), SandboxHome::caches(),
                              SandboxHome::preferences(), SandboxHome::tmp(), bundle_}) {
    ErrorPtr error;
    ASSERT_TRUE(files::createDirectory(dir, true, &error)) << error->localizedDescription();
  }
  ProcessInfo::processInfo().setArguments({programName()});
  if (child) {
    Bundle::resetMainBundleForTesting();
    UserDefaults::resetForTesting();
  } else {
    writeInfoPlist({});
  }
  clock_ = std::make_shared<FakeClock>();
  Clock::setCurrent(clock_);
}

void PlatformTest::TearDown() {
  Clock::setCurrent(nullptr);
  std::error_code ec;
  if (!root_.empty() && testRole().empty()) fs::remove_all(root_, ec);
}

void PlatformTest::useSystemClock() { Clock::setCurrent(nullptr); }

void PlatformTest::setArguments(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), programName());
  ProcessInfo::processInfo().setArguments(std::move(arguments));
}

void PlatformTest::writeInfoPlist(const Value::Dictionary& info) {
  Value::Dictionary contents = info;
  contents.try_emplace("CFBundleIdentifier", kTestBundleIdentifier);
  ErrorPtr error;
  auto bytes = serializePropertyList(Value(std::move(contents)), PropertyListFormat::Xml, &error);
  ASSERT_TRUE(bytes) << error->localizedDescription();
  ASSERT_TRUE(files::writeAtomically(bundle_ / "Info.plist", *bytes, &error))
      << error->localizedDescription();
  // The main bundle and the standard defaults domain follow the new identifier.
  Bundle::resetMainBundleForTesting();
  UserDefaults::resetForTesting();
}

bool PlatformTest::pumpUntil(const std::function<bool()>& predicate, double timeoutSeconds) {
  return RunLoop::main().runUntil(predicate, timeoutSeconds);
}

}  // namespace platform::testing
