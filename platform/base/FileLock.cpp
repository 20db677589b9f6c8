#include "platform/base/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

ErrorPtr lockError(const std::filesystem::path& path, int err) {
  return Error::make(kFileErrorDomain, kFileWriteUnknownError,
                     {{"NSFilePath", Value(path.string())},
                      {kUnderlyingErrorKey, Value(Error::make("NSPOSIXErrorDomain", err))},
                      {kLocalizedDescriptionKey,
                       Value("Could not lock \"" + path.string() + "\": " + std::strerror(err))}});
}

}  // namespace

std::unique_ptr<FileLock> FileLock::acquire(const std::filesystem::path& lockFile,
                                            ErrorPtr* error) {
  int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    setError(error, lockError(lockFile, errno));
    return nullptr;
  }
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    int err = errno;
    ::close(fd);
    setError(error, lockError(lockFile, err));
    return nullptr;
  }
  return std::unique_ptr<FileLock>(new FileLock(fd));
}

std::filesystem::path FileLock::lockFileFor(const std::filesystem::path& file) {
  return file.parent_path() / ("." + file.filename().string() + ".lock");
}

FileLock::~FileLock() {
  // Closing the descriptor releases the lock.
  ::close(fd_);
}

}  // namespace platform
