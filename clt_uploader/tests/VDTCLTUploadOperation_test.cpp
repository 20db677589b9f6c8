#include "clt_uploader/VDTCLTUploadOperation.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "VDTCORLibrary/VDTCORFlatFileStorage.h"
#include "clt_uploader/VDTCLTUploader.h"
#include "platform/base/Files.h"
#include "platform/dispatch/SystemLog.h"
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

// Lets every target upload at once and sends no key, unless told to throw from one of the two.
class ThrowingProvider : public VDTCLTUploadMetadataProvider {
 public:
  ThrowingProvider(bool throwsFromNextUploadTime, bool throwsFromAPIKey)
      : throwsFromNextUploadTime_(throwsFromNextUploadTime), throwsFromAPIKey_(throwsFromAPIKey) {}
  VDTCORClockPtr nextUploadTimeForTarget(long) override {
    if (throwsFromNextUploadTime_) throw std::runtime_error("pacing on fire");
    return nullptr;
  }
  void setNextUploadTime(VDTCORClockPtr, long) override {}
  std::optional<std::string> APIKeyForTarget(long) override {
    if (throwsFromAPIKey_) throw std::runtime_error("key on fire");
    return std::nullopt;
  }

 private:
  bool throwsFromNextUploadTime_;
  bool throwsFromAPIKey_;
};

class Payload : public VDTCOREventDataObject {
 public:
  std::optional<platform::Bytes> transportBytes() override { return platform::Bytes{'x'}; }
};

class VDTCLTUploadOperationTest : public platform::testing::PlatformTest {
 protected:
  static std::size_t entriesIn(const std::filesystem::path& folder) {
    auto entries = platform::files::contentsOfDirectory(folder);
    return entries ? entries->size() : 0;
  }
};

// Whatever throws on the way (here the metadata provider, code of the uploader's owner) ends the
// operation as a failed upload would: it finishes, and the events wait in the pool for the next.
TEST_F(VDTCLTUploadOperationTest, ARunThatThrowsFinishesAndKeepsItsEvents) {
  VDTCOREnsureLoaded();
  auto storage = VDTCORFlatFileStorage::sharedInstance();
  auto queue = platform::DispatchQueue::create("upload-operation-test");
  const struct {
    const char* name;
    bool throwsFromNextUploadTime;
    bool throwsFromAPIKey;
    long conditions;
    const char* text;
  } rows[] = {
      {"the readiness check", true, false, VDTCORUploadConditionWifiData, "pacing on fire"},
      {"the request, once the batch is made", false, true, VDTCORUploadConditionWifiData,
       "key on fire"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto event = VDTCOREvent::initWithMappingID("137", 1001);
    event->setDataObject(std::make_shared<Payload>());
    event->setClockSnapshot(VDTCORClock::snapshot());
    bool stored = false;
    storage->storeEvent(event, [&](bool ok, platform::ErrorPtr) { stored = ok; });
    storage->storageQueue()->sync([] {});
    ASSERT_TRUE(stored);
    const auto pool = VDTCORFlatFileStorage::eventDataStoragePath() / "1001";
    const std::size_t events = entriesIn(pool);

    platform::SystemLogCapture log;
    auto provider =
        std::make_shared<ThrowingProvider>(row.throwsFromNextUploadTime, row.throwsFromAPIKey);
    auto operation = VDTCLTUploadOperation::initWithTarget(
        1001, row.conditions, "http://127.0.0.1:1/", queue, storage, provider);
    std::atomic<bool> finished{false};
    operation->setCompletionBlock([&] { finished = true; });
    operation->start();
    ASSERT_TRUE(pumpUntil([&] { return finished.load(); }, 20));
    storage->storageQueue()->sync([] {});
    EXPECT_TRUE(log.contains(row.text));
    EXPECT_EQ(entriesIn(pool), events);
    EXPECT_EQ(entriesIn(VDTCORFlatFileStorage::batchDataStoragePath()), 0u);
    EXPECT_EQ(operation->uploadAttempted(), row.throwsFromAPIKey);
  }
}

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
