// A second process for tests that need one (two writers, a lock holder, a writer killed mid-write):
// the test executable is started again with only the running test selected and a role in its
// environment, so the child runs the same test body and takes the branch for its role. The child's
// PlatformTest fixture reuses the parent's sandbox home and bundle. Not thread-safe: call from the
// test's own thread.
//
//   if (testRole() == "writer") { writeItems(); return; }
//   auto child = ChildProcess::start("writer");
//   EXPECT_EQ(child->wait(), 0);
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace platform::testing {

// "" in the test process ctest started; the role given to ChildProcess::start in a child.
const std::string& testRole();

class ChildProcess {
 public:
  // Starts this executable again running the current test as `role`; extra variables are added to
  // the child's environment. Null (with a gtest failure) when the process cannot be started.
  static std::unique_ptr<ChildProcess> start(const std::string& role,
                                             const std::map<std::string, std::string>& env = {});
  ~ChildProcess();  // a child not waited for is killed and reaped

  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  // Waits for the child to end: its exit code, or 128 + the signal that ended it.
  int wait();
  // Whether the child has ended (reaps it without blocking).
  bool hasExited();
  void kill(int signal);

 private:
  explicit ChildProcess(pid_t pid) : pid_(pid) {}
  void record(int status);

  pid_t pid_;
  bool reaped_ = false;
  int exitCode_ = -1;
};

// A child says it reached a point ("lock-held"); the parent waits for it. Announcements are files
// in the shared sandbox's tmp folder. awaitAnnouncement returns false when the child ends first or
// nothing is announced within a bound far above any slow machine's need.
void announce(const std::string& name);
bool awaitAnnouncement(const std::string& name, ChildProcess& child);
// For a child waiting for its parent (the parent announces); false when nothing comes within the
// same bound.
bool awaitAnnouncement(const std::string& name);

// Whether a process (this one included) is waiting for the flock on `lockFile` (read from
// /proc/locks), so that a holder knows another taker has got as far as the lock.
bool someoneWaitsForLock(const std::filesystem::path& lockFile);
// Polls someoneWaitsForLock within the announcements' bound; false when no one comes or `stop`
// (may be empty) holds first.
bool awaitLockWaiter(const std::filesystem::path& lockFile, const std::function<bool()>& stop = {});

}  // namespace platform::testing
