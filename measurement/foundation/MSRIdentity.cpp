#include "measurement/foundation/MSRIdentity.h"

#include <charconv>
#include <mutex>

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

namespace {

std::mutex& installationIDMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}
std::optional<std::string>& storedInstallationID() {
  static auto* id = new std::optional<std::string>;
  return *id;
}

}  // namespace

void MSRIdentity::setInstallationID(const std::string& installationID) {
  std::lock_guard lock(installationIDMutex());
  storedInstallationID() = installationID;
}

std::optional<std::string> MSRIdentity::installationID() {
  std::lock_guard lock(installationIDMutex());
  return storedInstallationID();
}
