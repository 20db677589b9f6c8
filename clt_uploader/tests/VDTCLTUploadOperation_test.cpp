#include "clt_uploader/VDTCLTUploadOperation.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "VDTCORLibrary/VDTCORFlatFileStorage.h"
#include "clt_uploader/VDTCLTUploader.h"
#include "platform/testing/PlatformTest.h"

namespace {

// Answers that the target must wait, and notes when it was first asked: the first thing an
// operation's run does.
class RecordingProvider : public VDTCLTUploadMetadataProvider {
 public:
  explicit RecordingProvider(std::atomic<int>& sequence) : sequence_(sequence) {}
  VDTCORClockPtr nextUploadTimeForTarget(long) override {
    int expected = 0;
    askedAt.compare_exchange_strong(expected, ++sequence_);
    return VDTCORClock::clockSnapshotInTheFuture(3600000);
  }
  void setNextUploadTime(VDTCORClockPtr, long) override {}
  std::optional<std::string> APIKeyForTarget(long) override { return std::nullopt; }

  std::atomic<int> askedAt{0};

 private:
  std::atomic<int>& sequence_;
};

class VDTCLTUploadOperationTest : public platform::testing::PlatformTest {};

TEST_F(VDTCLTUploadOperationTest, AnOperationCancelledBeforeItStartsNeverRuns) {
  // start() and cancel() race; whichever wins, an operation does no work once it has been
  // reported finished. Many rounds, so that cancel() lands inside start() now and then.
  auto storage = VDTCORFlatFileStorage::sharedInstance();
  auto queue = platform::DispatchQueue::create("upload-operation-test");
  int ranAfterFinishing = 0, startedFirst = 0, cancelledFirst = 0;
  for (int round = 0; round < 500; ++round) {
    std::atomic<int> sequence{0};
    auto provider = std::make_shared<RecordingProvider>(sequence);
    auto operation = VDTCLTUploadOperation::initWithTarget(1001, 4, "http://127.0.0.1:1/", queue,
                                                           storage, provider);
    std::atomic<int> finishedAt{0};
    operation->setCompletionBlock([&] { finishedAt = ++sequence; });
    std::atomic<int> ready{0};
    std::thread starter([&] {
      ++ready;
      while (ready.load() < 2) {
      }
      operation->start();
    });
    std::thread canceller([&] {
      ++ready;
      while (ready.load() < 2) {
      }
      operation->cancel();
    });
    starter.join();
    canceller.join();
    // Let a run that did begin reach its end.
    ASSERT_TRUE(pumpUntil([&] { return finishedAt.load() != 0; }, 10)) << round;
    for (int i = 0; i < 3; ++i) queue->sync([] {});
    int asked = provider->askedAt.load();
    if (asked == 0) {
      ++cancelledFirst;
    } else if (asked < finishedAt.load()) {
      ++startedFirst;
    } else {
      ++ranAfterFinishing;
    }
    EXPECT_TRUE(operation->isFinished()) << round;
    EXPECT_FALSE(operation->isExecuting()) << round;
  }
  EXPECT_EQ(ranAfterFinishing, 0) << "started first " << startedFirst << ", cancelled first "
                                  << cancelledFirst;
}

}  // namespace
