// Reading "-name value" pairs from the launch arguments. Thread-safe.
#pragma once

#include <optional>
#include <string>

namespace platform::app {

// The argument after "-<name>", or nullopt.
std::optional<std::string> launchArgument(const std::string& name);

}  // namespace platform::app
