// How a store reads the one file that holds its state, so that a file that cannot be read now is
// never taken for an empty or a damaged one. Missing: there is none. Unreadable (no descriptor
// free, no permission, an I/O error): the file stays as it is, the store must not write over it
// and tries again later. Undecodable (the bytes are there but do not decode, or a folder stands
// where the file goes): the file is moved aside to "<name>.corrupt" (".corrupt.N" when that is
// taken) and logged, so the store can start afresh without destroying it; a store that other
// processes write moves a file aside only under their shared lock, after reading it again there
// (another process may just have replaced the damaged file with a good one). Thread-safe.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "platform/base/Error.h"

namespace platform {

class StoreFile {
 public:
  enum class Status { Read, Missing, Unreadable, Undecodable };
  // What becomes of a file that does not decode: moved aside, or left where it is (the caller
  // does not hold the lock that other writers of the file take).
  enum class Damaged { MoveAside, Keep };

  // `decode` gets the whole file and answers whether it took it. `owner` names the store in log
  // lines. The error tells why a file was unreadable or undecodable. `info` receives the status
  // of the descriptor whose bytes were decoded (set only when there were bytes).
  static Status read(const std::filesystem::path& path,
                     const std::function<bool(std::string_view bytes)>& decode,
                     std::string_view owner, ErrorPtr* error = nullptr,
                     Damaged damaged = Damaged::MoveAside, struct stat* info = nullptr);
  // Moves a damaged file aside (see above) and logs it; false, also logged, when it could not
  // be moved. `movedTo` receives where it went.
  static bool moveAside(const std::filesystem::path& path, std::string_view owner,
                        std::string_view why, std::filesystem::path* movedTo = nullptr);
};

}  // namespace platform
