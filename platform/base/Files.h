// The sandbox home and the file operations every room uses. The home is $TVS_HOME, else
// $XDG_DATA_HOME/tavo-vastrow-soundboard, else ~/.local/share/tavo-vastrow-soundboard; it holds
// "Library/Application Support", "Library/Caches", "Library/Preferences" and "tmp".
// Thread-safe; errors are of kFileErrorDomain.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/Error.h"
#include "platform/base/Value.h"

namespace platform {

class SandboxHome {
 public:
  // Read from the environment on each call, so tests that set TVS_HOME see it at once.
  static std::filesystem::path root();
  static std::filesystem::path applicationSupport();
  static std::filesystem::path caches();
  static std::filesystem::path preferences();
  static std::filesystem::path tmp();
  static std::filesystem::path documents();
};

struct DirectoryEntry {
  std::string name;
  std::filesystem::path path;
  bool isDirectory = false;
  std::uint64_t size = 0;
  double modificationDate = 0;  // seconds since 1970
  double creationDate = 0;      // the status-change time where no birth time is kept
};

namespace files {

bool exists(const std::filesystem::path& path, bool* isDirectory = nullptr);
// Whether anything is at the path (links followed), and whether it is a folder; nullopt when that
// cannot be told (a link to itself, an I/O error), which a caller that would move or drop what is
// there must never take for "nothing there".
std::optional<bool> lookUp(const std::filesystem::path& path, bool* isDirectory = nullptr);
// Creates the directory (and, with intermediates, its parents). An existing directory is success.
bool createDirectory(const std::filesystem::path& path, bool intermediates,
                     ErrorPtr* error = nullptr);
// Writes to a temporary file beside the target (".<name>.tmp.<pid>.<n>.<r>"), fsyncs it and
// renames it over the target.
bool writeAtomically(const std::filesystem::path& path, std::string_view bytes,
                     ErrorPtr* error = nullptr, unsigned permissions = 0644);
bool writeAtomically(const std::filesystem::path& path, const Bytes& bytes,
                     ErrorPtr* error = nullptr, unsigned permissions = 0644);
// Reads a regular file whole. Anything else at the path (a folder, a pipe, a device) is refused
// at once with kFileReadCorruptFileError, never waited on; a missing one is
// kFileReadNoSuchFileError.
std::optional<Bytes> readFile(const std::filesystem::path& path, ErrorPtr* error = nullptr);
// The same as text. `info` receives the status of the descriptor that was read, so that a caller
// knows which file it read even when another one is renamed over the path meanwhile.
std::optional<std::string> readTextFile(const std::filesystem::path& path,
                                        ErrorPtr* error = nullptr, struct stat* info = nullptr);
// Removes a file or a directory tree. A missing path fails with kFileNoSuchFileError, told
// apart from other failures.
bool removeItem(const std::filesystem::path& path, ErrorPtr* error = nullptr);
// Fails with kFileWriteFileExistsError when the destination exists.
bool moveItem(const std::filesystem::path& from, const std::filesystem::path& to,
              ErrorPtr* error = nullptr);
std::optional<std::vector<DirectoryEntry>> contentsOfDirectory(const std::filesystem::path& path,
                                                               ErrorPtr* error = nullptr);
std::optional<DirectoryEntry> attributes(const std::filesystem::path& path,
                                         ErrorPtr* error = nullptr);

// Calls `visit` for every entry of `folder`, and of its subfolders when `recursive` and `visit`
// returned true for the subfolder. Symbolic links to folders are not followed. A folder that
// cannot be opened or read to its end (gone meanwhile, unreadable, no descriptor left) is passed
// over and the walk goes on with the rest of the tree.
void walkFolder(const std::filesystem::path& folder, bool recursive,
                const std::function<bool(const std::filesystem::directory_entry&)>& visit);

// True for the name writeAtomically gives its temporary files.
bool isTemporaryFileName(std::string_view name);
// Removes the temporary files that interrupted atomic writes (a crash, a kill) left in `folder`,
// and in its subfolders when `recursive`: those unchanged for `minimumAge` seconds that are not
// a write of this process still under way. A store calls it when it opens its folder. Returns
// how many it removed.
std::size_t removeStaleTemporaryFiles(const std::filesystem::path& folder, bool recursive,
                                      double minimumAge = 60);
// The same, the first time this process opens `folder` only: a store calls it each time it
// opens, and the folder is swept once. Thread-safe.
void removeStaleTemporaryFilesOnce(const std::filesystem::path& folder, bool recursive);

}  // namespace files
}  // namespace platform
