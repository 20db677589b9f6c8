// Fills the process's descriptor table while alive, so that the next open() fails with EMFILE
// (as in a process that leaks descriptors, or runs many connections at once); the table and the
// limit are put back at the end. The soft limit is lowered first so that filling it is quick.
// Other threads that open files meanwhile fail too. One at a time.
//
// The undefined-behaviour sanitizer opens a pipe to check an object's type the first time it
// meets it, so under it a full table turns into false reports: tests using this skip themselves
// in the sanitized build (`if (!DescriptorTableFull::usable()) GTEST_SKIP() << ...`) and run in
// the plain one.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <vector>

namespace platform::testing {

class DescriptorTableFull {
 public:
  static constexpr bool usable() {
#if defined(__SANITIZE_ADDRESS__)
    return false;
#else
    return true;
#endif
  }
  static constexpr const char* kNotUsable =
      "a full descriptor table makes the sanitizers' own checks fail; runs in the plain build";

  explicit DescriptorTableFull(rlim_t limit = 512) {
    if (::getrlimit(RLIMIT_NOFILE, &saved_) != 0) throw std::runtime_error("getrlimit");
    struct rlimit lowered = saved_;
    if (lowered.rlim_cur > limit) lowered.rlim_cur = limit;
    if (::setrlimit(RLIMIT_NOFILE, &lowered) != 0) throw std::runtime_error("setrlimit");
    while (true) {
      int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
      if (fd < 0) {
        if (errno != EMFILE) throw std::runtime_error("open /dev/null");
        break;
      }
      fds_.push_back(fd);
    }
  }
  ~DescriptorTableFull() {
    for (int fd : fds_) ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &saved_);
  }
  DescriptorTableFull(const DescriptorTableFull&) = delete;
  DescriptorTableFull& operator=(const DescriptorTableFull&) = delete;

 private:
  struct rlimit saved_ {};
  std::vector<int> fds_;
};

}  // namespace platform::testing
