// Counts the complete atomic writes of one file in a folder (inotify): each is a rename of a
// temporary file (".<name>.tmp.<unique>") onto the name. The renames are counted by the
// temporary's name, which differs every time: the kernel merges identical events still unread,
// so events under the target's own name would undercount. Not thread-safe; one reader.
#pragma once

#include <sys/inotify.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace platform::testing {

class RenameCounter {
 public:
  RenameCounter(const std::filesystem::path& folder, const std::string& name)
      : prefix_("." + name + ".tmp.") {
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0 || ::inotify_add_watch(fd_, folder.c_str(), IN_MOVED_FROM) < 0) {
      throw std::runtime_error("cannot watch " + folder.string());
    }
  }
  ~RenameCounter() { ::close(fd_); }
  RenameCounter(const RenameCounter&) = delete;
  RenameCounter& operator=(const RenameCounter&) = delete;

  // The renames seen so far.
  int count() {
    alignas(struct inotify_event) char buffer[16384];
    while (true) {
      ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0) break;
      for (ssize_t at = 0; at < n;) {
        auto* event = reinterpret_cast<struct inotify_event*>(buffer + at);
        if (event->len > 0 && std::string(event->name).starts_with(prefix_)) ++count_;
        at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
      }
    }
    return count_;
  }

 private:
  int fd_ = -1;
  std::string prefix_;
  int count_ = 0;
};

}  // namespace platform::testing
