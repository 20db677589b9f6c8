#include "measurement/foundation/MSRPaths.h"

#include <filesystem>

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRConstants.h"
#include "measurement/foundation/MSRMonitor.h"
#include "platform/base/Files.h"

namespace fs = std::filesystem;

namespace {

// The platform's Library directory: the parent of its Preferences folder.
fs::path libraryDirectory() { return platform::SandboxHome::preferences().parent_path(); }

}  // namespace

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
  return (support / kMSREngineFolder / entryName).string();
}

std::string MSRApplicationSupportPlistPath(const std::string& suiteName) {
  if (suiteName.empty()) return "";
  const std::string extension = fs::path(suiteName).extension().string();
  if (extension == std::string(".") + kMSRPlistExtension) {
    return MSRApplicationSupportPath(suiteName);
  }
  return MSRApplicationSupportPath(suiteName + "." + kMSRPlistExtension);
}
