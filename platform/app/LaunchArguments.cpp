#include "platform/app/LaunchArguments.h"

#include <filesystem>

#include "platform/app/AppConstants.h"
#include "platform/base/ProcessInfo.h"

namespace platform::app {
namespace {

// The options that take a value, with the value's name in the usage line. The window host reads
// the first four, the mail transport the last.
struct ValueOption {
  const char* name;
  const char* value;
};
constexpr ValueOption kValueOptions[] = {
    {"snapshot", "PATH"},          {"ColorScheme", "dark|light"}, {"WindowSize", "WxH"},
    {kIdiomArgument, "pad|phone"}, {kMailOutboxArgument, "DIR"},
};

}  // namespace

std::optional<std::string> launchArgument(const std::string& name) {
  return ProcessInfo::processInfo().argumentValue(name);
}

std::optional<std::string> launchArgumentsError(const std::vector<std::string>& arguments) {
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    for (const auto& option : kValueOptions) {
      if (arguments[i] != std::string("-") + option.name) continue;
      // An empty value is no value either: each reader would pass it over.
      if (i + 1 < arguments.size() && !arguments[i + 1].empty() &&
          !ProcessInfo::isOption(arguments[i + 1])) {
        continue;
      }
      std::string program =
          arguments.empty() ? "" : std::filesystem::path(arguments[0]).filename().string();
      if (program.empty()) program = "app";
      std::string usage = "usage: " + program;
      for (const auto& o : kValueOptions)
        usage += std::string(" [-") + o.name + " " + o.value + "]";
      return program + ": -" + option.name + " needs a value (" + option.value + "); " + usage;
    }
  }
  return std::nullopt;
}

}  // namespace platform::app
