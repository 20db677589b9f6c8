#include "utilities/network/VTUReachabilityChecker.h"

#include <gtest/gtest.h>

#include "platform/dispatch/RunLoop.h"
#include "platform/testing/PlatformTest.h"
#include "utilities/logger/VTULogger.h"

namespace {

using platform::ReachabilityFlags;
namespace F = platform;

// A substitute reachability service that records what the checker asked of it.
struct FakeApi {
  static inline int creates = 0;
  static inline int releases = 0;
  static inline bool failSchedule = false;
  static inline platform::ReachabilityCallback callback = nullptr;
  static inline void* info = nullptr;
  static platform::ReachabilityRef create(const char*) {
    ++creates;
    return reinterpret_cast<platform::ReachabilityRef>(0x1);
  }
  static bool setCallback(platform::ReachabilityRef, platform::ReachabilityCallback cb,
                          const platform::ReachabilityContext* ctx) {
    callback = cb;
    info = ctx->info;
    return true;
  }
  static bool schedule(platform::ReachabilityRef) { return !failSchedule; }
  static bool unschedule(platform::ReachabilityRef) { return true; }
  static void release(platform::ReachabilityRef) { ++releases; }
  static void fire(ReachabilityFlags flags) { callback(nullptr, flags, info); }
};
const VTUReachabilityApi kFakeApi = {FakeApi::create, FakeApi::setCallback, FakeApi::schedule,
                                     FakeApi::unschedule, FakeApi::release};

struct RecordingDelegate : platform::Object, VTUReachabilityDelegate {
  std::vector<VTUReachabilityStatus> statuses;
  void reachabilityStatusChanged(VTUReachabilityChecker*, VTUReachabilityStatus s) override {
    statuses.push_back(s);
  }
};

class VTUReachabilityCheckerTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    vtu::testing::startCapturingLines();
    VTULoggerSetMaximumLevel(7);
  }
  bool logged(const std::string& text) {
    for (const auto& l : vtu::testing::capturedLines()) {
      if (l.line.find(text) != std::string::npos) return true;
    }
    return false;
  }
};

TEST_F(VTUReachabilityCheckerTest, StatusFromFlags) {
  const ReachabilityFlags R = F::kReachabilityFlagsReachable, C = F::kReachabilityFlagsIsWWAN,
                          REQ = F::kReachabilityFlagsConnectionRequired,
                          DEMAND = F::kReachabilityFlagsConnectionOnDemand,
                          TRAFFIC = F::kReachabilityFlagsConnectionOnTraffic,
                          INTERVENE = F::kReachabilityFlagsInterventionRequired;
  const std::vector<std::pair<ReachabilityFlags, VTUReachabilityStatus>> table = {
      {0, VTUReachabilityStatus::Disconnected},
      {C, VTUReachabilityStatus::Disconnected},
      {R, VTUReachabilityStatus::WiFi},
      {R | C, VTUReachabilityStatus::Cellular},
      {R | REQ, VTUReachabilityStatus::Disconnected},
      {R | REQ | DEMAND, VTUReachabilityStatus::WiFi},
      {R | REQ | TRAFFIC | C, VTUReachabilityStatus::Cellular},
      {R | REQ | DEMAND | INTERVENE, VTUReachabilityStatus::Disconnected},
  };
  for (const auto& [flags, status] : table) {
    EXPECT_EQ(VTUReachabilityChecker::statusForFlags(flags), status) << flags;
  }
}

TEST_F(VTUReachabilityCheckerTest, ReportsChangesOnceAndStopsBackToUnknown) {
  auto delegate = std::make_shared<RecordingDelegate>();
  auto checker = VTUReachabilityChecker::initWithReachabilityDelegate(delegate, "example.org");
  ASSERT_TRUE(checker);
  checker->setReachabilityApi(&kFakeApi);
  EXPECT_TRUE(checker->start());
  EXPECT_TRUE(checker->start());  // already active: no second handle
  EXPECT_EQ(FakeApi::creates, 1);
  EXPECT_TRUE(logged("[VTUReachability][I-REA902003] Monitoring the network status"));

  checker->setReachabilityApi(VTUReachabilityDefaultApi());  // refused while running
  EXPECT_EQ(checker->reachabilityApi(), &kFakeApi);
  EXPECT_TRUE(logged("[I-REA902000] Cannot change reachability API while reachability is "
                     "running. Call stop first."));

  FakeApi::fire(F::kReachabilityFlagsReachable);
  FakeApi::fire(F::kReachabilityFlagsReachable | F::kReachabilityFlagsConnectionRequired |
                F::kReachabilityFlagsConnectionOnDemand);  // same status
  FakeApi::fire(0);
  EXPECT_EQ(delegate->statuses,
            (std::vector<VTUReachabilityStatus>{VTUReachabilityStatus::WiFi,
                                                VTUReachabilityStatus::Disconnected}));
  EXPECT_TRUE(logged("[I-REA902004] Network status has changed. Code:1, status:Disconnected"));

  checker->stop();
  EXPECT_FALSE(checker->isActive());
  EXPECT_EQ(checker->reachabilityStatus(), VTUReachabilityStatus::Unknown);
  EXPECT_EQ(FakeApi::releases, 1);
}

TEST_F(VTUReachabilityCheckerTest, RefusesEmptyHostsForeignDelegatesAndFailedStarts) {
  EXPECT_FALSE(VTUReachabilityChecker::initWithReachabilityDelegate(nullptr, ""));
  EXPECT_TRUE(logged("[VTUReachability][I-REA902001] Invalid host specified"));

  auto delegate = std::make_shared<RecordingDelegate>();
  auto checker = VTUReachabilityChecker::initWithReachabilityDelegate(delegate, "h");
  checker->setReachabilityDelegate(std::make_shared<platform::Object>());
  EXPECT_EQ(checker->reachabilityDelegate(), delegate);
  EXPECT_TRUE(logged("[I-NET902005] Reachability delegate doesn't conform to Reachability "
                     "protocol."));
  checker->setReachabilityDelegate(nullptr);
  EXPECT_EQ(checker->reachabilityDelegate(), nullptr);

  FakeApi::failSchedule = true;
  checker->setReachabilityApi(&kFakeApi);
  EXPECT_FALSE(checker->start());
  EXPECT_FALSE(checker->isActive());
  EXPECT_TRUE(logged("[I-REA902002] Failed to start reachability handle"));
  FakeApi::failSchedule = false;
}

TEST_F(VTUReachabilityCheckerTest, LoopbackHostIsReachableThroughThePlatform) {
  auto delegate = std::make_shared<RecordingDelegate>();
  auto checker = VTUReachabilityChecker::initWithReachabilityDelegate(delegate, "localhost");
  ASSERT_TRUE(checker->start());
  EXPECT_TRUE(pumpUntil([&] { return !delegate->statuses.empty(); }));
  EXPECT_EQ(delegate->statuses.front(), VTUReachabilityStatus::WiFi);
  checker->stop();
}

}  // namespace
