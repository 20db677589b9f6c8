// The measurement library's identity: its version string and the version number derived from it,
// kept with the monitor, whose health keys carry the number; and the installation identifier the
// analytics front end hands over. Any thread (a lock guards the identifier).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

inline constexpr const char* kMSRLibraryVersionString = "11400000";

class MSRIdentity {
 public:
  // The version string without its last three characters, as a signed 64-bit integer; 0 when
  // the string has fewer than four characters or does not read as a number.
  static std::int64_t lumoMeasurementLibraryVersion();
  static std::int64_t libraryVersionFromString(const std::string& versionString);

  // The app's installation identifier, as last handed over; nullopt before.
  static void setInstallationID(const std::string& installationID);
  static std::optional<std::string> installationID();
};
