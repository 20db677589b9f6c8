// Takes over the process's standard error (file descriptor 2) while alive, into a file, so that
// a test can see what the process wrote there; the old standard error is put back at the end.
// One at a time; not for concurrent use.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace platform::testing {

class StandardErrorCapture {
 public:
  explicit StandardErrorCapture(std::filesystem::path file) : file_(std::move(file)) {
    std::fflush(stderr);
    saved_ = ::dup(STDERR_FILENO);
    const int fd = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (saved_ < 0 || fd < 0 || ::dup2(fd, STDERR_FILENO) < 0) {
      throw std::runtime_error("cannot capture standard error");
    }
    ::close(fd);
  }
  ~StandardErrorCapture() {
    std::fflush(stderr);
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
  }
  StandardErrorCapture(const StandardErrorCapture&) = delete;
  StandardErrorCapture& operator=(const StandardErrorCapture&) = delete;

  // Everything written to standard error so far.
  std::string text() const {
    std::fflush(stderr);
    std::ifstream in(file_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bool contains(const std::string& part) const { return text().find(part) != std::string::npos; }

 private:
  std::filesystem::path file_;
  int saved_ = -1;
};

}  // namespace platform::testing
