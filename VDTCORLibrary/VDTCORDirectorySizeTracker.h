// The total size of the regular files under a directory, computed by a full walk only when not
// known and otherwise adjusted by the sizes of files added and removed. No lock: its owner uses
// it on one serial queue.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

class VDTCORDirectorySizeTracker {
 public:
  explicit VDTCORDirectorySizeTracker(std::filesystem::path directoryPath)
      : directoryPath_(std::move(directoryPath)) {}

  std::uint64_t directoryContentSize();
  // Paths outside the directory are ignored.
  void fileWasAddedAtPath(const std::filesystem::path& path, std::uint64_t size);
  void fileWasRemovedAtPath(const std::filesystem::path& path, std::uint64_t size);
  void resetCachedSize() { cachedSizeBytes_.reset(); }

  // Walks the tree, skipping hidden entries; unreadable entries do not stop the walk.
  std::uint64_t calculateDirectoryContentSize() const;
  static std::uint64_t fileSizeAtURL(const std::filesystem::path& path);

  const std::filesystem::path& directoryPath() const { return directoryPath_; }
  const std::optional<std::uint64_t>& cachedSizeBytes() const { return cachedSizeBytes_; }

 private:
  bool contains(const std::filesystem::path& path) const;

  std::filesystem::path directoryPath_;
  std::optional<std::uint64_t> cachedSizeBytes_;
};
