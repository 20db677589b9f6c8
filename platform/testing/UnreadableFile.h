// Makes a store's file unreadable while alive, the way a real file fails to read, and puts it back
// at the end: no descriptor free (EMFILE: the whole process's table is full), or an I/O error
// (EIO: the file is swapped for a link to this process's memory file, whose first page is never
// mapped), or a link to itself (ELOOP: too many levels of links), or a pipe in its place (which a
// reader must refuse rather than wait on for a writer that never comes); the file itself is held
// aside meanwhile. One at a time.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/testing/DescriptorTableFull.h"

namespace platform::testing {

class UnreadableFile {
 public:
  enum class Cause { NoDescriptorFree, IOError, LinkLoop, Pipe };

  static constexpr Cause kCauses[] = {Cause::NoDescriptorFree, Cause::IOError, Cause::LinkLoop,
                                      Cause::Pipe};
  static const char* name(Cause cause) {
    switch (cause) {
      case Cause::NoDescriptorFree:
        return "no descriptor free";
      case Cause::IOError:
        return "an I/O error";
      case Cause::LinkLoop:
        return "a link to itself";
      case Cause::Pipe:
        return "a pipe";
    }
    return "";
  }
  static bool usable(Cause cause) {
    return cause != Cause::NoDescriptorFree || DescriptorTableFull::usable();
  }
  // The causes a test can bring about here; each one that cannot is said to be skipped.
  static std::vector<Cause> usableCauses() {
    std::vector<Cause> causes;
    for (Cause cause : kCauses) {
      if (usable(cause)) {
        causes.push_back(cause);
      } else {
        std::printf("skipped: %s: %s\n", name(cause), DescriptorTableFull::kNotUsable);
      }
    }
    return causes;
  }

  UnreadableFile(Cause cause, std::filesystem::path file) : file_(std::move(file)) {
    if (cause == Cause::NoDescriptorFree) {
      full_ = std::make_unique<DescriptorTableFull>();
      return;
    }
    held_ = file_;
    held_ += ".held-aside";
    std::filesystem::rename(file_, held_);
    if (cause == Cause::Pipe) {
      if (::mkfifo(file_.c_str(), 0600) != 0) throw std::runtime_error("cannot make a pipe");
      return;
    }
    std::filesystem::create_symlink(cause == Cause::LinkLoop ? file_.filename() : "/proc/self/mem",
                                    file_);
  }
  ~UnreadableFile() {
    full_.reset();
    if (!held_.empty()) std::filesystem::rename(held_, file_);
  }
  UnreadableFile(const UnreadableFile&) = delete;
  UnreadableFile& operator=(const UnreadableFile&) = delete;

 private:
  std::filesystem::path file_;
  std::filesystem::path held_;
  std::unique_ptr<DescriptorTableFull> full_;
};

}  // namespace platform::testing
