#include "platform/testing/ChildProcess.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include "platform/base/Files.h"

extern char** environ;

namespace platform::testing {

namespace fs = std::filesystem;

namespace {

constexpr const char* kRoleVariable = "TVS_TEST_ROLE";
constexpr const char* kRootVariable = "TVS_TEST_ROOT";
constexpr auto kAnnouncementBound = std::chrono::seconds(240);

fs::path announcementPath(const std::string& name) {
  return SandboxHome::tmp() / (".announce-" + name);
}

// Polls until `done` holds (true) or `stop` holds or the bound passes (false); `stop` is asked
// after `done`, so what came just before the end still counts.
bool pollWithinBound(const std::function<bool()>& done, const std::function<bool()>& stop) {
  auto deadline = std::chrono::steady_clock::now() + kAnnouncementBound;
  while (std::chrono::steady_clock::now() < deadline) {
    if (done()) return true;
    if (stop && stop()) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

}  // namespace

const std::string& testRole() {
  static const std::string* const role = [] {
    const char* value = std::getenv(kRoleVariable);
    return new std::string(value ? value : "");
  }();
  return *role;
}

std::unique_ptr<ChildProcess> ChildProcess::start(const std::string& role,
                                                  const std::map<std::string, std::string>& env) {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const char* root = std::getenv(kRootVariable);
  if (!test || !root) {
    ADD_FAILURE() << "ChildProcess::start needs a running PlatformTest";
    return nullptr;
  }
  std::string filter = std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();

  std::map<std::string, std::string> variables = env;
  variables[kRoleVariable] = role;
  std::vector<std::string> entries;
  for (char** e = environ; *e; ++e) {
    std::string entry(*e);
    auto name = entry.substr(0, entry.find('='));
    if (!variables.count(name)) entries.push_back(std::move(entry));
  }
  for (const auto& [name, value] : variables) entries.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);

  std::string program = fs::read_symlink("/proc/self/exe").string();
  std::vector<char*> argv{program.data(), filter.data(), nullptr};
  pid_t pid = 0;
  int rc = ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), envp.data());
  if (rc != 0) {
    ADD_FAILURE() << "cannot start a child process: " << std::strerror(rc);
    return nullptr;
  }
  return std::unique_ptr<ChildProcess>(new ChildProcess(pid));
}

ChildProcess::~ChildProcess() {
  if (!reaped_) {
    ::kill(pid_, SIGKILL);
    wait();
  }
}

void ChildProcess::record(int status) {
  reaped_ = true;
  exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int ChildProcess::wait() {
  if (reaped_) return exitCode_;
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0) {
    if (errno != EINTR) {
      reaped_ = true;
      return exitCode_;
    }
  }
  record(status);
  return exitCode_;
}

bool ChildProcess::hasExited() {
  if (reaped_) return true;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) record(status);
  return reaped_;
}

void ChildProcess::kill(int signal) {
  if (!reaped_) ::kill(pid_, signal);
}

void announce(const std::string& name) {
  fs::path path = announcementPath(name);
  std::ofstream(path.string() + ".part").put('\n');
  fs::rename(path.string() + ".part", path);
}

bool awaitAnnouncement(const std::string& name, ChildProcess& child) {
  fs::path path = announcementPath(name);
  return pollWithinBound([&] { return fs::exists(path); }, [&] { return child.hasExited(); });
}

bool awaitAnnouncement(const std::string& name) {
  fs::path path = announcementPath(name);
  return pollWithinBound([&] { return fs::exists(path); }, {});
}

bool someoneWaitsForLock(const fs::path& lockFile) {
  struct stat st {};
  if (::stat(lockFile.c_str(), &st) != 0) return false;
  // A waiter's line reads "1: -> FLOCK  ADVISORY  WRITE <pid> <major>:<minor>:<inode> 0 EOF".
  const std::string inode = ":" + std::to_string(st.st_ino) + " ";
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    if (line.find("->") != std::string::npos && line.find(inode) != std::string::npos) {
      return true;
    }
  }
  return false;
}

bool awaitLockWaiter(const fs::path& lockFile, const std::function<bool()>& stop) {
  return pollWithinBound([&] { return someoneWaitsForLock(lockFile); }, stop);
}

}  // namespace platform::testing
