#include "platform/app/LaunchArguments.h"

#include "platform/base/ProcessInfo.h"

namespace platform::app {

std::optional<std::string> launchArgument(const std::string& name) {
  const auto args = ProcessInfo::processInfo().arguments();
  const std::string flag = "-" + name;
  for (std::size_t i = 1; i + 1 < args.size(); ++i) {
    if (args[i] == flag) return args[i + 1];
  }
  return std::nullopt;
}

}  // namespace platform::app
