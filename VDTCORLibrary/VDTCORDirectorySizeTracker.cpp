#include "VDTCORLibrary/VDTCORDirectorySizeTracker.h"

#include <system_error>
#include <vector>

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
  // One directory open at a time, its subdirectories kept for later: a directory that cannot be
  // opened or read to its end (gone meanwhile, unreadable, no file handle left) is skipped and
  // the walk goes on with the rest of the tree.
  std::uint64_t total = 0;
  std::vector<std::filesystem::path> pending{directoryPath_};
  while (!pending.empty()) {
    const std::filesystem::path directory = std::move(pending.back());
    pending.pop_back();
    std::error_code ec;
    std::filesystem::directory_iterator it(
        directory, std::filesystem::directory_options::skip_permission_denied, ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
      const auto& entry = *it;
      if (entry.path().filename().string().rfind('.', 0) == 0) continue;
      std::error_code entryError;
      if (entry.is_symlink(entryError)) {
        if (entry.is_regular_file(entryError)) total += fileSizeAtURL(entry.path());
      } else if (entry.is_directory(entryError)) {
        pending.push_back(entry.path());
      } else if (!entryError && entry.is_regular_file(entryError)) {
        total += fileSizeAtURL(entry.path());
      }
    }
  }
  return total;
}

std::uint64_t VDTCORDirectorySizeTracker::fileSizeAtURL(const std::filesystem::path& path) {
  std::error_code ec;
  auto size = std::filesystem::file_size(path, ec);
  return ec ? 0 : size;
}
