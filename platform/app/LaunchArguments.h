// Reading "-name value" pairs from the launch arguments, and checking that the options of this
// platform that take a value were given one. Thread-safe.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform::app {

// The argument after "-<name>", or nullopt (also when what follows is another option).
std::optional<std::string> launchArgument(const std::string& name);

// For launch arguments as main receives them (the program first): when one of the options that
// take a value ("-snapshot PATH", "-ColorScheme", "-WindowSize", "-DeviceIdiom",
// "-MailOutboxDirectory") comes last, before another option or with an empty value, a one-line
// message naming it, with the usage; nullopt when every one of them has its value.
std::optional<std::string> launchArgumentsError(const std::vector<std::string>& arguments);

}  // namespace platform::app
