// Holds the first open of one file (or of any file right inside one folder), once its path has led
// to that file, until `whileHeld` has run on the gate's own thread: a test can change what the
// path names, or what lies around the file, while a reader is opening it (a fanotify permission
// mark, which needs the right to administer the system; usable() tells). Not thread-safe; one
// reader.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/fanotify.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <thread>

namespace platform::testing {

class OpenGate {
 public:
  static constexpr const char* kNotUsable = "file access permission events are not available here";

  static bool usable() {
    int fd = ::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
  }

  OpenGate(const std::filesystem::path& file, std::function<void()> whileHeld)
      : whileHeld_(std::move(whileHeld)) {
    fd_ = ::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY | O_CLOEXEC);
    stop_ = ::eventfd(0, EFD_CLOEXEC);
    if (fd_ < 0 || stop_ < 0 ||
        ::fanotify_mark(
            fd_, FAN_MARK_ADD,
            FAN_OPEN_PERM | (std::filesystem::is_directory(file) ? FAN_EVENT_ON_CHILD : 0),
            AT_FDCWD, file.c_str()) != 0) {
      closeAll();
      throw std::runtime_error("cannot watch the opens of " + file.string());
    }
    thread_ = std::thread([this] { watch(); });
  }
  ~OpenGate() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(stop_, &one, sizeof one);
    thread_.join();
    closeAll();  // lets any open still waiting through
  }
  OpenGate(const OpenGate&) = delete;
  OpenGate& operator=(const OpenGate&) = delete;

  // Whether an open was held and `whileHeld` ran.
  bool held() const { return held_; }

 private:
  void watch() {
    for (;;) {
      pollfd fds[2] = {{fd_, POLLIN, 0}, {stop_, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0) continue;
      if (fds[1].revents & POLLIN) return;
      alignas(fanotify_event_metadata) char buffer[4096];
      ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0) continue;
      auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer);
      for (; FAN_EVENT_OK(event, n); event = FAN_EVENT_NEXT(event, n)) {
        if (!held_.exchange(true)) whileHeld_();
        fanotify_response response{};
        response.fd = event->fd;
        response.response = FAN_ALLOW;
        [[maybe_unused]] ssize_t w = ::write(fd_, &response, sizeof response);
        if (event->fd >= 0) ::close(event->fd);
      }
    }
  }
  void closeAll() {
    if (fd_ >= 0) ::close(fd_);
    if (stop_ >= 0) ::close(stop_);
    fd_ = stop_ = -1;
  }

  std::function<void()> whileHeld_;
  int fd_ = -1;
  int stop_ = -1;
  std::atomic<bool> held_{false};
  std::thread thread_;
};

}  // namespace platform::testing
