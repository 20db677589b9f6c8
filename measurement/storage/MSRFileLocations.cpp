#include "measurement/storage/MSRFileLocations.h"

#include "platform/network/BackupExclusion.h"

bool MSRExcludePathFromBackup(const std::string& path, platform::ErrorPtr* error) {
  return platform::setExcludedFromBackup(path, true, error);
}
