#include "platform/base/StoreFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/base/Files.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

void logLine(std::string_view owner, const std::string& message) {
  std::fprintf(stderr, "%.*s: %s\n", static_cast<int>(owner.size()), owner.data(), message.c_str());
}

}  // namespace

StoreFile::Status StoreFile::read(const fs::path& path,
                                  const std::function<bool(std::string_view bytes)>& decode,
                                  std::string_view owner, ErrorPtr* error, Damaged damaged,
                                  struct stat* info) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) return Status::Missing;
  // A folder where the file goes never becomes readable by waiting.
  if (S_ISDIR(st.st_mode)) {
    std::string why = "a folder, not a file";
    setError(error, Error::withDescription(kFileErrorDomain, kFileReadCorruptFileError,
                                           "\"" + path.string() + "\" is " + why));
    if (damaged == Damaged::MoveAside) moveAside(path, owner, why);
    return Status::Undecodable;
  }
  ErrorPtr readError;
  auto bytes = files::readTextFile(path, &readError, info);
  if (!bytes) {
    if (readError && readError->code() == kFileReadNoSuchFileError) return Status::Missing;
    setError(error, readError);
    return Status::Unreadable;
  }
  if (decode(*bytes)) return Status::Read;
  setError(error, Error::withDescription(kFileErrorDomain, kFileReadCorruptFileError,
                                         "\"" + path.string() + "\" could not be decoded"));
  if (damaged == Damaged::MoveAside) moveAside(path, owner, "damaged (it does not decode)");
  return Status::Undecodable;
}

bool StoreFile::moveAside(const fs::path& path, std::string_view owner, std::string_view why,
                          fs::path* movedTo) {
  fs::path aside = path;
  aside += ".corrupt";
  for (int n = 1; files::exists(aside); ++n) {
    aside = path;
    aside += ".corrupt." + std::to_string(n);
  }
  ErrorPtr moveError;
  if (!files::moveItem(path, aside, &moveError)) {
    logLine(owner, "the file " + path.string() + " is " + std::string(why) +
                       " and could not be moved aside: " + moveError->localizedDescription());
    return false;
  }
  logLine(owner, "the file " + path.string() + " is " + std::string(why) + "; moved it to " +
                     aside.string() + " and started afresh");
  if (movedTo) *movedTo = aside;
  return true;
}

}  // namespace platform
