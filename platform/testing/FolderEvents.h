// Events of the kinds asked for on the entries of one folder (inotify), by the entry's name, for
// tests that wait on what a writer does to its files. Not thread-safe; one reader.
#pragma once

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform::testing {

class FolderEvents {
 public:
  FolderEvents(const std::filesystem::path& folder, std::uint32_t mask) {
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0 || ::inotify_add_watch(fd_, folder.c_str(), mask) < 0) {
      throw std::runtime_error("cannot watch " + folder.string());
    }
  }
  ~FolderEvents() { ::close(fd_); }
  FolderEvents(const FolderEvents&) = delete;
  FolderEvents& operator=(const FolderEvents&) = delete;

  // The names of the events that came since the last call ("" for the folder itself), at once.
  std::vector<std::string> take() {
    std::vector<std::string> names;
    alignas(struct inotify_event) char buffer[16384];
    for (;;) {
      ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0) break;
      for (ssize_t at = 0; at < n;) {
        auto* event = reinterpret_cast<struct inotify_event*>(buffer + at);
        names.emplace_back(event->len > 0 ? event->name : "");
        at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
      }
    }
    return names;
  }

  // Waits up to `seconds` for events: their names, or nullopt when none came.
  std::optional<std::vector<std::string>> next(double seconds) {
    struct pollfd p {
      fd_, POLLIN, 0
    };
    if (::poll(&p, 1, static_cast<int>(seconds * 1000)) <= 0) return std::nullopt;
    return take();
  }

 private:
  int fd_ = -1;
};

}  // namespace platform::testing
