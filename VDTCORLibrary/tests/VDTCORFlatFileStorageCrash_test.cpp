// A real child process stores events into this test's sandbox home and is killed with SIGKILL at
// random points, again and again. Whatever it was doing, every event whose store it saw succeed
// is there afterwards and decodes, half-written files are neither counted nor batched, and
// nothing lands outside the store.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <random>
#include <set>
#include <thread>

#include "VDTCORLibrary/VDTCORFlatFileStorage.h"
#include "VDTCORLibrary/VDTCORPlatform.h"
#include "VDTCORLibrary/tests/TransportTestSupport.h"
#include "platform/base/Files.h"
#include "platform/testing/PlatformTest.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

std::uintmax_t sizeOf(const fs::path& path) {
  std::error_code ec;
  auto size = fs::file_size(path, ec);
  return ec ? 0 : size;
}

class VDTCORFlatFileStorageCrashTest : public platform::testing::PlatformTest {
 protected:
  // Starts the child for one run; it inherits TVS_HOME, so it stores into this test's home.
  pid_t spawnChild(const fs::path& report, int run) {
    std::string program = VDTCOR_STORE_CHILD, reportArg = report.string(),
                runArg = std::to_string(run);
    char* argv[] = {program.data(), reportArg.data(), runArg.data(), nullptr};
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ), 0);
    return pid;
  }
};

TEST_F(VDTCORFlatFileStorageCrashTest, KillsAtRandomPointsLoseNoReportedEvent) {
  const fs::path report = home().parent_path() / "reported-ids.txt";
  const unsigned start = std::random_device{}();
  SCOPED_TRACE("random start " + std::to_string(start));
  std::mt19937 random(start);
  std::uniform_int_distribution<int> extraMicros(0, 40000);
  int killedWhileRunning = 0;
  for (int run = 0; run < 50; ++run) {
    const auto before = sizeOf(report);
    pid_t pid = spawnChild(report, run);
    ASSERT_GT(pid, 0);
    // Once this run has stored something, kill it a random moment later (mid-write, mid-rename,
    // between events: wherever it happens to be).
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int status = 0;
    bool exited = false;
    while (sizeOf(report) == before && std::chrono::steady_clock::now() < deadline) {
      if (waitpid(pid, &status, WNOHANG) == pid) {
        exited = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    ASSERT_FALSE(exited) << "the child ended on its own, status " << status;
    std::this_thread::sleep_for(std::chrono::microseconds(extraMicros(random)));
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    killedWhileRunning += WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  }
  EXPECT_EQ(killedWhileRunning, 50);

  std::set<std::string> reported;
  {
    std::ifstream in(report);
    for (std::string line; std::getline(in, line);) reported.insert(line);
  }
  ASSERT_FALSE(reported.empty());

  // Every event file that is not hidden decodes; together they hold every reported event.
  const fs::path targetDir = VDTCORFlatFileStorage::eventDataStoragePath() / "1001";
  std::set<std::string> present;
  std::uintmax_t visibleBytes = 0;
  int leftoverTemporaries = 0;
  for (const auto& entry : fs::directory_iterator(targetDir)) {
    std::string name = entry.path().filename().string();
    if (name[0] == '.') {
      ++leftoverTemporaries;
      continue;
    }
    auto event = VDTCORUnarchiveObject("VDTCOREvent", entry.path(), std::nullopt, nullptr)
                     .objectAs<VDTCOREvent>();
    ASSERT_TRUE(event) << name;
    present.insert(event->eventID());
    visibleBytes += entry.file_size();
  }
  for (const auto& id : reported) EXPECT_TRUE(present.count(id)) << id;
  std::printf("%zu events reported, %zu present, %d half-written files left behind\n",
              reported.size(), present.size(), leftoverTemporaries);

  // Only finished files count toward the size limit (the library folder holds nothing here).
  std::uint64_t counted = 0;
  ASSERT_TRUE(transport_testing::waitFor([&](auto done) {
    VDTCORFlatFileStorage::sharedInstance()->storageSizeWithCallback([&, done](std::uint64_t size) {
      counted = size;
      done();
    });
  }));
  EXPECT_EQ(counted, visibleBytes);

  // A batch takes exactly the finished files, never a half-written one.
  std::vector<VDTCOREventPtr> batched;
  ASSERT_TRUE(transport_testing::waitFor([&](auto done) {
    VDTCORFlatFileStorage::sharedInstance()->batchWithEventSelector(
        VDTCORStorageEventSelector::eventSelectorForTarget(1001), clock().now() + 600,
        [&, done](std::optional<long>, std::optional<std::vector<VDTCOREventPtr>> events) {
          batched = events.value_or(std::vector<VDTCOREventPtr>{});
          done();
        });
  }));
  std::set<std::string> batchedIDs;
  for (const auto& event : batched) batchedIDs.insert(event->eventID());
  EXPECT_EQ(batchedIDs, present);

  // Nothing anywhere in the home but the store.
  const std::string root = (VDTCORStorageRootURL() / "").string();
  for (const auto& entry : fs::recursive_directory_iterator(home())) {
    if (entry.is_regular_file()) {
      EXPECT_EQ(entry.path().string().rfind(root, 0), 0u) << entry.path();
    }
  }
}

}  // namespace
