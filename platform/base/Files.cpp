#include "platform/base/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <set>
#include <string_view>

namespace platform {

namespace fs = std::filesystem;

namespace {

std::string envValue(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

ErrorPtr fileError(long code, const fs::path& path, const std::string& what, int err = 0) {
  Value::Dictionary info{{"NSFilePath", Value(path.string())}};
  std::string text = what + " \"" + path.string() + "\"";
  if (err != 0) {
    text += ": " + std::string(std::strerror(err));
    info[kUnderlyingErrorKey] = Value(Error::make("NSPOSIXErrorDomain", err));
  }
  info[kLocalizedDescriptionKey] = Value(text);
  return Error::make(kFileErrorDomain, code, std::move(info));
}

bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

std::string uniqueSuffix() {
  static std::atomic<unsigned long> counter{0};
  thread_local std::mt19937_64 rng(std::random_device{}());
  return std::to_string(::getpid()) + "." + std::to_string(counter++) + "." +
         std::to_string(rng() % 1000000);
}

// The temporary files of this process's atomic writes still under way: a sweep of stale ones
// must never take a file from under its writer. Never destroyed: writes may run during exit.
struct LiveTemporaries {
  std::mutex mutex;
  // By name: the name holds the process, a counter and a random part, and the same folder may be
  // spelled differently by the writer and by the sweep.
  std::set<std::string> names;
};

LiveTemporaries& liveTemporaries() {
  static auto* live = new LiveTemporaries;
  return *live;
}

class LiveTemporary {
 public:
  explicit LiveTemporary(const fs::path& path) : name_(path.filename().string()) {
    std::lock_guard lock(liveTemporaries().mutex);
    liveTemporaries().names.insert(name_);
  }
  ~LiveTemporary() {
    std::lock_guard lock(liveTemporaries().mutex);
    liveTemporaries().names.erase(name_);
  }
  LiveTemporary(const LiveTemporary&) = delete;
  LiveTemporary& operator=(const LiveTemporary&) = delete;

 private:
  std::string name_;
};

bool isLiveTemporary(const fs::path& path) {
  std::lock_guard lock(liveTemporaries().mutex);
  return liveTemporaries().names.count(path.filename().string()) > 0;
}

bool allDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

double toSeconds(const struct statx_timestamp& ts) {
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::optional<DirectoryEntry> entryFor(const fs::path& path, int* err) {
  const unsigned mask = STATX_TYPE | STATX_SIZE | STATX_MTIME | STATX_CTIME | STATX_BTIME;
  struct statx sx {};
  // A symbolic link reports what it points at, when it points anywhere.
  if (::statx(AT_FDCWD, path.c_str(), 0, mask, &sx) != 0 &&
      ::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, mask, &sx) != 0) {
    *err = errno;
    return std::nullopt;
  }
  DirectoryEntry e;
  e.name = path.filename().string();
  e.path = path;
  e.isDirectory = S_ISDIR(sx.stx_mode);
  e.size = sx.stx_size;
  e.modificationDate = toSeconds(sx.stx_mtime);
  // Not every file system keeps a birth time.
  e.creationDate = (sx.stx_mask & STATX_BTIME) ? toSeconds(sx.stx_btime) : toSeconds(sx.stx_ctime);
  return e;
}

}  // namespace

fs::path SandboxHome::root() {
  std::string home = envValue("TVS_HOME");
  if (!home.empty()) return fs::path(home);
  std::string xdg = envValue("XDG_DATA_HOME");
  if (!xdg.empty()) return fs::path(xdg) / "tavo-vastrow-soundboard";
  std::string user = envValue("HOME");
  if (user.empty()) user = "/tmp";
  return fs::path(user) / ".local" / "share" / "tavo-vastrow-soundboard";
}

fs::path SandboxHome::applicationSupport() { return root() / "Library" / "Application Support"; }
fs::path SandboxHome::caches() { return root() / "Library" / "Caches"; }
fs::path SandboxHome::preferences() { return root() / "Library" / "Preferences"; }
fs::path SandboxHome::tmp() { return root() / "tmp"; }
fs::path SandboxHome::documents() { return root() / "Documents"; }

namespace files {

bool exists(const fs::path& path, bool* isDirectory) {
  return lookUp(path, isDirectory).value_or(false);
}

std::optional<bool> lookUp(const fs::path& path, bool* isDirectory) {
  struct stat st {};
  if (isDirectory) *isDirectory = false;
  if (::stat(path.c_str(), &st) == 0) {
    if (isDirectory) *isDirectory = S_ISDIR(st.st_mode);
    return true;
  }
  if (errno == ENOENT || errno == ENOTDIR) return false;
  return std::nullopt;
}

bool createDirectory(const fs::path& path, bool intermediates, ErrorPtr* error) {
  std::error_code ec;
  bool isDir = false;
  if (exists(path, &isDir)) {
    if (isDir) return true;
    setError(error, fileError(kFileWriteFileExistsError, path, "A file exists at", EEXIST));
    return false;
  }
  if (intermediates) {
    fs::create_directories(path, ec);
  } else {
    fs::create_directory(path, ec);
  }
  if (ec) {
    // Another thread may have made it meanwhile.
    if (exists(path, &isDir) && isDir) return true;
    long code =
        ec == std::errc::no_such_file_or_directory ? kFileNoSuchFileError : kFileWriteUnknownError;
    setError(error, fileError(code, path, "Could not create the folder", ec.value()));
    return false;
  }
  return true;
}

bool writeAtomically(const fs::path& path, std::string_view bytes, ErrorPtr* error,
                     unsigned permissions) {
  if (path.empty() || !path.has_filename()) {
    setError(error, fileError(kFileWriteUnknownError, path, "Not a file path"));
    return false;
  }
  fs::path dir = path.parent_path();
  if (dir.empty()) dir = ".";
  fs::path temp = dir / ("." + path.filename().string() + ".tmp." + uniqueSuffix());
  LiveTemporary live(temp);
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, permissions & 07777);
  if (fd < 0) {
    int err = errno;
    long code = err == ENOENT ? kFileNoSuchFileError : kFileWriteUnknownError;
    setError(error, fileError(code, path, "Could not write", err));
    return false;
  }
  // The umask must not narrow what the caller asked for (0600 stays 0600, 0644 stays 0644).
  ::fchmod(fd, permissions & 07777);
  bool ok = writeAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
  int err = ok ? 0 : errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    setError(error, fileError(kFileWriteUnknownError, path, "Could not write", err));
    return false;
  }
  // Make the rename itself durable.
  int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

bool writeAtomically(const fs::path& path, const Bytes& bytes, ErrorPtr* error,
                     unsigned permissions) {
  return writeAtomically(
      path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), error,
      permissions);
}

std::optional<std::string> readTextFile(const fs::path& path, ErrorPtr* error, struct stat* info) {
  // Opened without waiting: a pipe or a device where a file should be would otherwise hold the
  // caller (and every queue or lock it holds) until some other process opens its other end.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    int err = errno;
    setError(error, fileError(err == ENOENT ? kFileReadNoSuchFileError : kFileReadCorruptFileError,
                              path, "Could not read", err));
    return std::nullopt;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    int err = errno;
    ::close(fd);
    setError(error, fileError(kFileReadCorruptFileError, path, "Could not read", err));
    return std::nullopt;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    if (S_ISDIR(st.st_mode)) {
      setError(error,
               fileError(kFileReadCorruptFileError, path, "Is a folder, not a file", EISDIR));
    } else {
      const char* what = S_ISFIFO(st.st_mode)   ? "Is a pipe, not a file"
                         : S_ISSOCK(st.st_mode) ? "Is a socket, not a file"
                                                : "Is a device, not a file";
      setError(error, fileError(kFileReadCorruptFileError, path, what));
    }
    return std::nullopt;
  }
  // A file on a network or user-space file system may honour the flag; its reads must wait.
  if (int flags = ::fcntl(fd, F_GETFL); flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::string out;
  if (info) *info = st;
  if (st.st_size > 0) out.reserve(static_cast<std::size_t>(st.st_size));
  char buf[65536];
  while (true) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      setError(error, fileError(kFileReadCorruptFileError, path, "Could not read", err));
      return std::nullopt;
    }
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return out;
}

std::optional<Bytes> readFile(const fs::path& path, ErrorPtr* error) {
  auto text = readTextFile(path, error);
  if (!text) return std::nullopt;
  return Bytes(text->begin(), text->end());
}

bool removeItem(const fs::path& path, ErrorPtr* error) {
  std::error_code ec;
  auto status = fs::symlink_status(path, ec);
  if (ec || status.type() == fs::file_type::not_found) {
    setError(error, fileError(kFileNoSuchFileError, path, "No such file", ENOENT));
    return false;
  }
  fs::remove_all(path, ec);
  if (ec) {
    setError(error, fileError(kFileWriteUnknownError, path, "Could not remove", ec.value()));
    return false;
  }
  return true;
}

bool moveItem(const fs::path& from, const fs::path& to, ErrorPtr* error) {
  std::error_code ec;
  if (fs::symlink_status(from, ec).type() == fs::file_type::not_found) {
    setError(error, fileError(kFileNoSuchFileError, from, "No such file", ENOENT));
    return false;
  }
  if (fs::symlink_status(to, ec).type() != fs::file_type::not_found) {
    setError(error, fileError(kFileWriteFileExistsError, to, "An item already exists at", EEXIST));
    return false;
  }
  fs::rename(from, to, ec);
  if (ec == std::errc::cross_device_link) {
    ec.clear();
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    if (!ec) fs::remove_all(from, ec);
  }
  if (ec) {
    long code =
        ec == std::errc::no_such_file_or_directory ? kFileNoSuchFileError : kFileWriteUnknownError;
    setError(error, fileError(code, to, "Could not move to", ec.value()));
    return false;
  }
  return true;
}

std::optional<std::vector<DirectoryEntry>> contentsOfDirectory(const fs::path& path,
                                                               ErrorPtr* error) {
  std::error_code ec;
  fs::directory_iterator it(path, ec);
  if (ec) {
    long code = ec == std::errc::no_such_file_or_directory ? kFileReadNoSuchFileError
                                                           : kFileReadCorruptFileError;
    setError(error, fileError(code, path, "Could not list", ec.value()));
    return std::nullopt;
  }
  std::vector<DirectoryEntry> entries;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    int err = 0;
    // An entry removed while listing is simply not listed.
    if (auto e = entryFor(it->path(), &err)) entries.push_back(std::move(*e));
  }
  if (ec) {
    setError(error, fileError(kFileReadCorruptFileError, path, "Could not list", ec.value()));
    return std::nullopt;
  }
  std::sort(entries.begin(), entries.end(),
            [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
  return entries;
}

std::optional<DirectoryEntry> attributes(const fs::path& path, ErrorPtr* error) {
  int err = 0;
  auto e = entryFor(path, &err);
  if (!e) {
    setError(error, fileError(err == ENOENT ? kFileReadNoSuchFileError : kFileReadCorruptFileError,
                              path, "Could not read the attributes of", err));
  }
  return e;
}

bool isTemporaryFileName(std::string_view name) {
  // "." + target + ".tmp." + pid "." counter "." random
  if (name.size() < 2 || name[0] != '.') return false;
  std::size_t marker = name.rfind(".tmp.");
  if (marker == std::string_view::npos || marker == 0) return false;
  std::string_view suffix = name.substr(marker + 5);
  std::size_t first = suffix.find('.');
  if (first == std::string_view::npos) return false;
  std::size_t second = suffix.find('.', first + 1);
  if (second == std::string_view::npos) return false;
  return allDigits(suffix.substr(0, first)) &&
         allDigits(suffix.substr(first + 1, second - first - 1)) &&
         allDigits(suffix.substr(second + 1));
}

void walkFolder(const fs::path& folder, bool recursive,
                const std::function<bool(const fs::directory_entry&)>& visit) {
  // One folder open at a time, its subfolders kept for later, so that a failure ends the read of
  // one folder only.
  std::vector<fs::path> pending{folder};
  while (!pending.empty()) {
    const fs::path current = std::move(pending.back());
    pending.pop_back();
    std::error_code ec;
    fs::directory_iterator it(current, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
      const fs::directory_entry& entry = *it;
      if (!visit(entry) || !recursive) continue;
      std::error_code typeError;
      if (!entry.is_symlink(typeError) && entry.is_directory(typeError)) {
        pending.push_back(entry.path());
      }
    }
  }
}

std::size_t removeStaleTemporaryFiles(const fs::path& folder, bool recursive, double minimumAge) {
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const double nowSeconds = static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
  std::vector<fs::path> candidates;
  walkFolder(folder, recursive, [&](const fs::directory_entry& entry) {
    if (isTemporaryFileName(entry.path().filename().string())) candidates.push_back(entry.path());
    return true;
  });
  std::size_t removed = 0;
  for (const fs::path& path : candidates) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    const double modified = static_cast<double>(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec / 1e9;
    if (nowSeconds - modified < minimumAge) continue;
    if (isLiveTemporary(path)) continue;
    if (::unlink(path.c_str()) == 0) ++removed;
  }
  return removed;
}

void removeStaleTemporaryFilesOnce(const fs::path& folder, bool recursive) {
  static auto* mutex = new std::mutex;
  static auto* swept = new std::set<fs::path>;
  {
    std::lock_guard lock(*mutex);
    if (!swept->insert(folder).second) return;
  }
  removeStaleTemporaryFiles(folder, recursive);
}

}  // namespace files
}  // namespace platform
