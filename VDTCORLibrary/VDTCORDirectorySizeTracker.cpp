#include "VDTCORLibrary/VDTCORDirectorySizeTracker.h"

#include <system_error>

#include "platform/base/Files.h"

std::uint64_t VDTCORDirectorySizeTracker::directoryContentSize() {
  if (!cachedSizeBytes_) cachedSizeBytes_ = calculateDirectoryContentSize();
  return *cachedSizeBytes_;
}

bool VDTCORDirectorySizeTracker::contains(const std::filesystem::path& path) const {
  return path.string().rfind(directoryPath_.string(), 0) == 0;
}

void VDTCORDirectorySizeTracker::fileWasAddedAtPath(const std::filesystem::path& path,
                                                    std::uint64_t size) {
  if (contains(path)) cachedSizeBytes_ = directoryContentSize() + size;
}

void VDTCORDirectorySizeTracker::fileWasRemovedAtPath(const std::filesystem::path& path,
                                                      std::uint64_t size) {
  if (!contains(path)) return;
  std::uint64_t current = directoryContentSize();
  cachedSizeBytes_ = current > size ? current - size : 0;
}

std::uint64_t VDTCORDirectorySizeTracker::calculateDirectoryContentSize() const {
  // Hidden entries (temporaries of writes under way, lock files) are not counted or entered; a
  // folder that cannot be read is passed over and the rest of the tree still counts.
  std::uint64_t total = 0;
  const auto count = [&total](const std::filesystem::directory_entry& entry) {
    if (entry.path().filename().string().rfind('.', 0) == 0) return false;
    std::error_code ec;
    // A link to a file counts as the file; a link to a folder is not followed.
    if (entry.is_regular_file(ec)) total += fileSizeAtURL(entry.path());
    return true;
  };
  platform::files::walkFolder(directoryPath_, true, count);
  return total;
}

std::uint64_t VDTCORDirectorySizeTracker::fileSizeAtURL(const std::filesystem::path& path) {
  std::error_code ec;
  auto size = std::filesystem::file_size(path, ec);
  return ec ? 0 : size;
}
