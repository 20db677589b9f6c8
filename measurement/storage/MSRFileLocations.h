// Where the engine keeps its files (the paths themselves are made in the foundation, one place
// for every room) and the backup exclusion of a file. Pure functions; any thread.
#pragma once

#include <string>

#include "measurement/foundation/MSRPaths.h"
#include "platform/base/Error.h"

// Marks the file as not to be backed up; the platform's error in the slot on failure.
bool MSRExcludePathFromBackup(const std::string& path, platform::ErrorPtr* error);
