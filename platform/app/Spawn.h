// Starting helper programs (xdg-open, sendmail) by argv with posix_spawnp: never through a shell,
// so no argument is ever parsed as shell syntax. Thread-safe.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/base/Error.h"

namespace platform::app {

// Starts `argv[0]` (looked up on PATH unless it holds a "/") with stdin from /dev/null, or from
// `input` when given (written through a pipe, then closed). Waits for it to exit and returns its
// exit status (0 is success), or nullopt with *error set when it could not be started or was
// killed by a signal.
std::optional<int> runProgram(const std::vector<std::string>& argv,
                              const std::optional<std::string>& input, ErrorPtr* error);

// The first executable named `name` in the directories of PATH, or nullopt.
std::optional<std::string> findOnPath(const std::string& name);

}  // namespace platform::app
