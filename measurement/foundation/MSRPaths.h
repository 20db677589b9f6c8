// Where the engine keeps its files: the preferences file of a defaults suite, entries of the
// engine folder "Veltro/Measurement" under Application Support, and the engine copy of a suite's
// preferences file. The one place these paths are made; storage and the utilities use them.
// Pure functions (an empty directory is logged through the engine monitor); any thread.
#pragma once

#include <string>

// "<Library>/Preferences/<suite>.plist"; empty for an empty name.
std::string MSRPreferencesPlistPath(const std::string& suiteName);
// "<Application Support>/Veltro/Measurement/<entry>"; empty for an empty name.
std::string MSRApplicationSupportPath(const std::string& entryName);
// As above with ".plist" added unless the name already has that extension.
std::string MSRApplicationSupportPlistPath(const std::string& suiteName);
