#include "platform/network/BackupExclusion.h"

#include <sys/xattr.h>

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

ErrorPtr attributeError(const std::filesystem::path& path, int err) {
  long code = err == ENOENT ? kFileNoSuchFileError : kFileWriteUnknownError;
  return Error::make(
      kFileErrorDomain, code,
      {{kLocalizedDescriptionKey, Value("Could not mark \"" + path.string() +
                                        "\" as excluded from backup: " + std::strerror(err))},
       {"NSFilePath", Value(path.string())}});
}

}  // namespace

bool setExcludedFromBackup(const std::filesystem::path& path, bool excluded, ErrorPtr* error) {
  int result = excluded ? setxattr(path.c_str(), kExcludeFromBackupAttribute, "1", 1, 0)
                        : removexattr(path.c_str(), kExcludeFromBackupAttribute);
  if (result == 0 || (!excluded && errno == ENODATA)) return true;
  setError(error, attributeError(path, errno));
  return false;
}

bool isExcludedFromBackup(const std::filesystem::path& path) {
  char value[2] = {0};
  ssize_t size = getxattr(path.c_str(), kExcludeFromBackupAttribute, value, sizeof(value));
  return size == 1 && value[0] == '1';
}

}  // namespace platform
