#include "platform/base/ProcessInfo.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>

namespace platform {

namespace {

struct State {
  std::mutex mutex;
  bool argumentsSet = false;
  std::vector<std::string> arguments;
  unsigned long generation = 0;
  std::optional<std::string> deviceModel;
  std::optional<std::string> osVersion;
  std::optional<bool> appExtension;
  std::optional<bool> appStore;
  std::optional<bool> simulator;
};

State& state() {
  static auto* s = new State();
  return *s;
}

// Before main hands over argv the kernel's copy is the best answer.
std::vector<std::string> kernelArguments() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < all.size()) {
    std::size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    out.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

// "6.1.0-18-amd64" -> "6.1".
std::string majorMinor(const std::string& release) {
  std::size_t i = 0;
  int dots = 0;
  while (i < release.size() && (std::isdigit(static_cast<unsigned char>(release[i])) ||
                                (release[i] == '.' && dots++ < 1))) {
    ++i;
  }
  std::string out = release.substr(0, i);
  if (!out.empty() && out.back() == '.') out.pop_back();
  return out.empty() ? "0.0" : out;
}

}  // namespace

ProcessInfo& ProcessInfo::processInfo() {
  static auto* info = new ProcessInfo();
  return *info;
}

std::vector<std::string> ProcessInfo::arguments() const {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.argumentsSet) {
    s.arguments = kernelArguments();
    s.argumentsSet = true;
  }
  return s.arguments;
}

void ProcessInfo::setArguments(std::vector<std::string> arguments) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.arguments = std::move(arguments);
  s.argumentsSet = true;
  ++s.generation;
}

unsigned long ProcessInfo::argumentsGeneration() const {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.generation;
}

std::optional<std::string> ProcessInfo::argumentValue(const std::string& name) const {
  return argumentValueIn(arguments(), name);
}

std::optional<std::string> ProcessInfo::argumentValueIn(const std::vector<std::string>& arguments,
                                                        const std::string& name) {
  const std::string flag = name.starts_with("-") ? name : "-" + name;
  for (std::size_t i = 1; i + 1 < arguments.size(); ++i) {
    if (arguments[i] == flag && !isOption(arguments[i + 1])) return arguments[i + 1];
  }
  return std::nullopt;
}

bool ProcessInfo::isOption(const std::string& argument) {
  if (!argument.starts_with("-")) return false;
  const bool negativeNumber =
      argument.size() > 1 &&
      (std::isdigit(static_cast<unsigned char>(argument[1])) || argument[1] == '.');
  return !negativeNumber;
}

bool ProcessInfo::hasArgument(const std::string& argument) const {
  auto args = arguments();
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == argument) return true;
  }
  return false;
}

std::optional<std::string> ProcessInfo::environmentValue(const std::string& name) const {
  const char* v = std::getenv(name.c_str());
  if (!v) return std::nullopt;
  return std::string(v);
}

std::string ProcessInfo::processName() const {
  auto args = arguments();
  if (!args.empty() && !args[0].empty()) {
    auto slash = args[0].find_last_of('/');
    return slash == std::string::npos ? args[0] : args[0].substr(slash + 1);
  }
  std::ifstream in("/proc/self/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

int ProcessInfo::processIdentifier() const { return static_cast<int>(::getpid()); }

std::string ProcessInfo::deviceModel() const {
  {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.deviceModel) return *s.deviceModel;
  }
  struct utsname u {};
  if (::uname(&u) != 0) return "unknown";
  return u.machine;
}

std::optional<std::string> ProcessInfo::declaredOperatingSystemVersion() const {
  {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.osVersion) return *s.osVersion;
  }
  if (auto configured = environmentValue("TVS_OS_VERSION"); configured && !configured->empty()) {
    return *configured;
  }
  return std::nullopt;
}

std::string ProcessInfo::operatingSystemVersion() const {
  if (auto declared = declaredOperatingSystemVersion()) return *declared;
  struct utsname u {};
  if (::uname(&u) != 0) return "0.0";
  return majorMinor(u.release);
}

bool ProcessInfo::isAppExtension() const {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.appExtension.value_or(false);
}

bool ProcessInfo::isAppStoreInstall() const {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.appStore.value_or(false);
}

bool ProcessInfo::isSimulator() const {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.simulator.value_or(false);
}

std::string ProcessInfo::hostName() const {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

void ProcessInfo::setDeviceModelForTesting(std::optional<std::string> v) {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().deviceModel = std::move(v);
}

void ProcessInfo::setOperatingSystemVersionForTesting(std::optional<std::string> v) {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().osVersion = std::move(v);
}

void ProcessInfo::setAppExtensionForTesting(std::optional<bool> v) {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().appExtension = v;
}

void ProcessInfo::setAppStoreInstallForTesting(std::optional<bool> v) {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().appStore = v;
}

void ProcessInfo::setSimulatorForTesting(std::optional<bool> v) {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().simulator = v;
}

}  // namespace platform
