// Marks files and folders as not to be backed up: an extended attribute
// "user.tvs.exclude-from-backup" = "1" that backup tools of this system honour. Thread-safe.
// Errors are of kFileErrorDomain (kFileNoSuchFileError for a missing path,
// kFileWriteUnknownError when the file system keeps no extended attributes).
#pragma once

#include <filesystem>

#include "platform/base/Error.h"

namespace platform {

inline constexpr const char* kExcludeFromBackupAttribute = "user.tvs.exclude-from-backup";

bool setExcludedFromBackup(const std::filesystem::path& path, bool excluded,
                           ErrorPtr* error = nullptr);
bool isExcludedFromBackup(const std::filesystem::path& path);

}  // namespace platform
