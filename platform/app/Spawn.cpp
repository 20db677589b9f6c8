#include "platform/app/Spawn.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <sstream>

extern char** environ;

namespace platform::app {
namespace {

ErrorPtr posixError(int code, const std::string& what) {
  return Error::withDescription("NSPOSIXErrorDomain", code, what + ": " + std::strerror(code));
}

// Writes all of `data` to the pipe with SIGPIPE blocked on this thread, so that a child that
// exits early gives EPIPE instead of ending the process.
bool writeAll(int fd, const std::string& data) {
  sigset_t block, old;
  sigemptyset(&block);
  sigaddset(&block, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &block, &old);
  std::size_t written = 0;
  bool ok = true;
  while (written < data.size()) {
    const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    written += static_cast<std::size_t>(n);
  }
  if (!ok) {
    // Take the pending SIGPIPE off this thread before unblocking it.
    struct timespec zero = {0, 0};
    sigtimedwait(&block, nullptr, &zero);
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return ok;
}

}  // namespace

std::optional<std::string> findOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/local/bin:/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (dir.empty()) continue;
    const std::string candidate = dir + "/" + name;
    std::error_code ec;
    if (std::filesystem::is_regular_file(candidate, ec) && ::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  return std::nullopt;
}

std::optional<int> runProgram(const std::vector<std::string>& argv,
                              const std::optional<std::string>& input, ErrorPtr* error) {
  if (argv.empty()) {
    setError(error, posixError(EINVAL, "no program"));
    return std::nullopt;
  }
  int fds[2] = {-1, -1};
  if (input && ::pipe2(fds, O_CLOEXEC) != 0) {
    setError(error, posixError(errno, "pipe"));
    return std::nullopt;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (input) {
    posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (input) ::close(fds[0]);
  if (rc != 0) {
    if (input) ::close(fds[1]);
    setError(error, posixError(rc, "could not start " + argv[0]));
    return std::nullopt;
  }
  bool wrote = true;
  if (input) {
    wrote = writeAll(fds[1], *input);
    ::close(fds[1]);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      setError(error, posixError(errno, "waitpid"));
      return std::nullopt;
    }
  }
  if (!WIFEXITED(status)) {
    setError(error, posixError(EINTR, argv[0] + " was stopped by a signal"));
    return std::nullopt;
  }
  if (!wrote && WEXITSTATUS(status) == 0) {
    setError(error, posixError(EPIPE, argv[0] + " did not read its input"));
    return std::nullopt;
  }
  return WEXITSTATUS(status);
}

}  // namespace platform::app
