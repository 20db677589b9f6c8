// The app's console: recoverable failures and the tap trace go to standard output, one line each,
// flushed at once so that a line is never lost when the process ends. Main thread only.
#pragma once

#include <string_view>

namespace tvs {

// Writes `line` and a newline to standard output.
void consolePrint(std::string_view line);

}  // namespace tvs
