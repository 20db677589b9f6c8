// The measurement library's identity: its version string and the version number derived from it.
// Kept with the monitor, whose health keys carry the number. Pure; any thread.
#pragma once

#include <cstdint>
#include <string>

inline constexpr const char* kMSRLibraryVersionString = "11400000";

class MSRIdentity {
 public:
  // The version string without its last three characters, as a signed 64-bit integer; 0 when
  // the string has fewer than four characters or does not read as a number.
  static std::int64_t lumoMeasurementLibraryVersion();
  static std::int64_t libraryVersionFromString(const std::string& versionString);
};
