// Launch arguments and the environment facts the stack asks about. Every fact can be overridden
// in tests. Thread-safe (a lock guards the overrides).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform {

class ProcessInfo {
 public:
  static ProcessInfo& processInfo();

  // argv as given to main (set by main, replaced by tests); arguments()[0] is the program.
  std::vector<std::string> arguments() const;
  void setArguments(std::vector<std::string> arguments);
  // Grows by one on every setArguments, so caches of values derived from the arguments (the
  // user defaults' argument domain) know when to rebuild.
  unsigned long argumentsGeneration() const;
  // The value after "-name" in the arguments, if any ("name" may be given with its dash). An
  // option is never a value: "-snapshot -ColorScheme dark" gives "-snapshot" none. The user
  // defaults' argument domain pairs the arguments the same way.
  std::optional<std::string> argumentValue(const std::string& name) const;
  // The same over given arguments (the program first), as main has them.
  static std::optional<std::string> argumentValueIn(const std::vector<std::string>& arguments,
                                                    const std::string& name);
  // Whether an argument is an option rather than a value: it starts with a dash and is no
  // negative number ("-3", "-.5").
  static bool isOption(const std::string& argument);
  bool hasArgument(const std::string& argument) const;

  std::optional<std::string> environmentValue(const std::string& name) const;
  std::string processName() const;
  int processIdentifier() const;

  // Facts: the device model from uname's machine ("x86_64"), the OS version string
  // ("<major>.<minor>" from the kernel release unless configured through $TVS_OS_VERSION), an
  // app extension (false),
  // an App Store install (false), a simulator (false), the host name.
  std::string deviceModel() const;
  std::string operatingSystemVersion() const;
  // The OS version of the app's platform when it is declared ($TVS_OS_VERSION, or a test's
  // value); none when only the kernel's release is known, which is not a version of that
  // platform and must not be compared as one (the logger's standard-error rule asks this).
  std::optional<std::string> declaredOperatingSystemVersion() const;
  bool isAppExtension() const;
  bool isAppStoreInstall() const;
  bool isSimulator() const;
  std::string hostName() const;

  void setDeviceModelForTesting(std::optional<std::string> v);
  void setOperatingSystemVersionForTesting(std::optional<std::string> v);
  void setAppExtensionForTesting(std::optional<bool> v);
  void setAppStoreInstallForTesting(std::optional<bool> v);
  void setSimulatorForTesting(std::optional<bool> v);
};

}  // namespace platform
