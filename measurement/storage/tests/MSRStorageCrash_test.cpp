// A process writing raw events and purchases is killed outright at random points; every write it
// reported as done must still be there afterwards, in a file that passes the integrity check.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "measurement/foundation/MSREvent.h"
#include "measurement/foundation/MSRRawEventData.h"
#include "measurement/storage/MSRDatabase.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "platform/testing/PlatformTest.h"

using platform::ErrorPtr;
using platform::Value;

namespace {

constexpr int kKills = 50;
constexpr int kWritesPerChild = 400;

class MSRStorageCrashTest : public platform::testing::PlatformTest {};

// The child: writes until killed, reporting each finished write on the pipe. It touches only the
// database (no queues, no logging), so nothing it needs lives in threads the fork left behind.
[[noreturn]] void writeUntilKilled(int round, int reportFd,
                                   const std::vector<MSREventPtr>& events) {
  auto database = MSRDatabase::initWithDatabaseName(kMSRDatabaseName, nullptr, nullptr);
  if (!database) _exit(2);
  if (write(reportFd, "R\n", 2) != 2) _exit(5);
  for (int i = 0; i < kWritesPerChild; ++i) {
    std::string done;
    const std::string key = std::to_string(round) + "_" + std::to_string(i);
    if (i % 2 == 0) {
      if (!database->insertRawEvent(events[static_cast<std::size_t>(i)], round, false, nullptr)) {
        _exit(3);
      }
      done = "E" + key + "\n";
    } else {
      if (database->insertIfNotDuplicatePurchaseFingerprint("p" + key, nullptr) != Value(true)) {
        _exit(4);
      }
      done = "P" + key + "\n";
    }
    if (write(reportFd, done.data(), done.size()) != static_cast<ssize_t>(done.size())) _exit(5);
  }
  _exit(0);
}

TEST_F(MSRStorageCrashTest, WritesReportedDoneSurviveSigkill) {
  // Created before the first child, so that every child only opens an existing file.
  ASSERT_TRUE(MSRDatabase::initWithDatabaseName(kMSRDatabaseName, nullptr, nullptr));
  std::mt19937 random(20261207);
  std::uniform_int_distribution<int> killAfterMicros(0, 20000);
  std::set<std::string> reportedEvents;
  std::vector<std::string> reportedPurchases;  // in the order they were written
  for (int round = 0; round < kKills; ++round) {
    std::vector<MSREventPtr> events;
    for (int i = 0; i < kWritesPerChild; ++i) {
      const MSRParameters parameters{{"i", Value(i)}};
      events.push_back(MSREvent::initWithOrigin(
          "app", false, "e" + std::to_string(round) + "_" + std::to_string(i), 1000 + i, 0,
          &parameters));
      ASSERT_TRUE(events.back());
    }
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(fds[0]);
      writeUntilKilled(round, fds[1], events);
    }
    close(fds[1]);
    // The kill lands at a random point of the writing, not of the opening.
    std::string reports;
    char buffer[4096];
    while (reports.find("R\n") == std::string::npos) {
      const ssize_t n = read(fds[0], buffer, sizeof buffer);
      if (n <= 0) break;
      reports.append(buffer, static_cast<std::size_t>(n));
    }
    std::this_thread::sleep_for(std::chrono::microseconds(killAfterMicros(random)));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0))
        << "the writer failed on its own, status " << status;
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) reports.append(buffer, n);
    close(fds[0]);
    for (std::size_t start = 0, end; (end = reports.find('\n', start)) != std::string::npos;
         start = end + 1) {
      const std::string line = reports.substr(start, end - start);
      if (line == "R") continue;
      if (line[0] == 'E') {
        reportedEvents.insert(line.substr(1));
      } else {
        reportedPurchases.push_back(line.substr(1));
      }
    }
  }

  ErrorPtr error;
  auto database = MSRDatabase::initWithDatabaseName(kMSRDatabaseName, nullptr, &error);
  ASSERT_TRUE(database) << (error ? error->localizedDescription() : "");
  const auto check =
      database->sqliteStore()->recordsForQuery("SELECT * FROM pragma_integrity_check", {}, nullptr);
  ASSERT_TRUE(check);
  ASSERT_EQ(check->size(), 1u);
  EXPECT_EQ(Value(check->front())["integrity_check"], Value("ok"));

  std::set<std::string> storedEvents;
  for (int round = 0; round < kKills; ++round) {
    const auto events = database->rawEventsWithMetadataFingerprint(
        round, nullptr, [](std::size_t, const MSRDatabase::Record&) { return true; });
    ASSERT_TRUE(events);
    for (const auto& data : *events) storedEvents.insert(data->rawEvent()->name().substr(1));
  }
  for (const auto& key : reportedEvents) EXPECT_TRUE(storedEvents.count(key)) << "event " << key;
  // Purchases are cut to the newest thousand by design.
  const std::size_t kept = std::min<std::size_t>(reportedPurchases.size(), 1000);
  for (auto it = reportedPurchases.end() - static_cast<std::ptrdiff_t>(kept);
       it != reportedPurchases.end(); ++it) {
    const std::string& key = *it;
    EXPECT_EQ(database->sqliteStore()->numberForQuery(
                  "SELECT EXISTS (SELECT 1 FROM purchase_transactions WHERE fingerprint = ?)",
                  {Value("p" + key)}, nullptr),
              Value(1LL))
        << "purchase " << key;
  }
  // The kills landed mid-run, not all before the first write or after the last.
  EXPECT_GT(reportedEvents.size(), 0u);
  EXPECT_LT(reportedEvents.size() + reportedPurchases.size(),
            static_cast<std::size_t>(kKills * kWritesPerChild));
}

}  // namespace
