// Where the engine keeps its files: the preferences file of a defaults suite, entries of the
// engine folder "Veltro/Measurement" under Application Support, and the engine copy of a suite's
// preferences file; and the backup exclusion of a file. Pure functions; any thread.
#pragma once

#include <string>

#include "platform/base/Error.h"

// Marks the file as not to be backed up; the platform's error in the slot on failure.
bool MSRExcludePathFromBackup(const std::string& path, platform::ErrorPtr* error);
// "<Library>/Preferences/<suite>.plist"; empty for an empty name.
std::string MSRPreferencesPlistPath(const std::string& suiteName);
// "<Application Support>/Veltro/Measurement/<entry>"; empty for an empty name.
std::string MSRApplicationSupportPath(const std::string& entryName);
// As above with ".plist" added unless the name already has that extension.
std::string MSRApplicationSupportPlistPath(const std::string& suiteName);
