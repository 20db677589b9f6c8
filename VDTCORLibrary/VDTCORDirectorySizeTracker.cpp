#include "VDTCORLibrary/VDTCORDirectorySizeTracker.h"

#include <system_error>

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
  std::uint64_t total = 0;
  std::error_code ec;
  std::filesystem::recursive_directory_iterator it(
      directoryPath_, std::filesystem::directory_options::skip_permission_denied, ec);
  for (; !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    const auto& entry = *it;
    if (entry.path().filename().string().rfind('.', 0) == 0) {
      if (entry.is_directory(ec)) it.disable_recursion_pending();
      ec.clear();
      continue;
    }
    std::error_code entryError;
    if (entry.is_regular_file(entryError)) total += fileSizeAtURL(entry.path());
  }
  return total;
}

std::uint64_t VDTCORDirectorySizeTracker::fileSizeAtURL(const std::filesystem::path& path) {
  std::error_code ec;
  auto size = std::filesystem::file_size(path, ec);
  return ec ? 0 : size;
}
