#include "measurement/storage/MSRFileLocations.h"

#include <filesystem>

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRMonitor.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "platform/base/Files.h"
#include "platform/network/BackupExclusion.h"

namespace fs = std::filesystem;

namespace {

// The platform's Library directory: the parent of its Preferences folder.
fs::path libraryDirectory() { return platform::SandboxHome::preferences().parent_path(); }

}  // namespace

bool MSRExcludePathFromBackup(const std::string& path, platform::ErrorPtr* error) {
  return platform::setExcludedFromBackup(path, true, error);
}

std::string MSRPreferencesPlistPath(const std::string& suiteName) {
  if (suiteName.empty()) return "";
  const fs::path library = libraryDirectory();
  if (library.empty()) {
    MSRMeasurement::monitor()->logWithLevel(2, kMSRLibraryPathEmptyCode, kMSRLibraryPathEmpty);
    return "";
  }
  return (library / kMSRPreferencesFolder / (suiteName + "." + kMSRPlistExtension)).string();
}

std::string MSRApplicationSupportPath(const std::string& entryName) {
  if (entryName.empty()) return "";
  const fs::path support = platform::SandboxHome::applicationSupport();
  if (support.empty()) {
    MSRMeasurement::monitor()->logWithLevel(2, kMSRAppSupportPathEmptyCode,
                                            kMSRAppSupportPathEmpty);
    return "";
  }
  return (support / kMSRStorageEngineFolder / entryName).string();
}

std::string MSRApplicationSupportPlistPath(const std::string& suiteName) {
  if (suiteName.empty()) return "";
  const std::string extension = fs::path(suiteName).extension().string();
  if (extension == std::string(".") + kMSRPlistExtension)
    return MSRApplicationSupportPath(suiteName);
  return MSRApplicationSupportPath(suiteName + "." + kMSRPlistExtension);
}
