#include "measurement/foundation/MSRIdentity.h"

#include <charconv>

std::int64_t MSRIdentity::lumoMeasurementLibraryVersion() {
  return libraryVersionFromString(kMSRLibraryVersionString);
}

std::int64_t MSRIdentity::libraryVersionFromString(const std::string& versionString) {
  if (versionString.size() < 4) return 0;
  const std::string head = versionString.substr(0, versionString.size() - 3);
  std::int64_t value = 0;
  auto [ptr, ec] = std::from_chars(head.data(), head.data() + head.size(), value);
  if (ec != std::errc()) return 0;
  return value;
}
