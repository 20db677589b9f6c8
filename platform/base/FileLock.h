// An inter-process lock on a lock file (flock), for stores whose file more than one process
// rewrites: the holder re-reads the file, merges its own changes and writes it, and no other
// process does the same meanwhile. The lock also excludes other threads of this process that
// take it, but callers keep their own mutex for that. Not copyable; released when destroyed.
#pragma once

#include <filesystem>
#include <memory>

#include "platform/base/Error.h"

namespace platform {

class FileLock {
 public:
  // Waits until the lock on `lockFile` (created 0600 when missing) is held. Null and an error
  // when the lock file cannot be opened or locked (no descriptor free, no permission).
  static std::unique_ptr<FileLock> acquire(const std::filesystem::path& lockFile,
                                           ErrorPtr* error = nullptr);
  // The lock file of a store's file: hidden, beside it.
  static std::filesystem::path lockFileFor(const std::filesystem::path& file);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  explicit FileLock(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace platform
