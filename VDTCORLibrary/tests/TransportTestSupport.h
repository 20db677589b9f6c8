// Helpers shared by the transport's tests: waiting for a callback (real-time bound, never a
// sleep), payload objects and a recording uploader.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "VDTCORLibrary/VDTCOREvent.h"
#include "VDTCORLibrary/VDTCORStorageProtocol.h"
#include "VDTCORLibrary/VDTCORUploader.h"

namespace transport_testing {

// Runs `start` with a `done` function and waits until `done` has been called.
inline bool waitFor(const std::function<void(std::function<void()> done)>& start,
                    double seconds = 10) {
  auto state = std::make_shared<std::pair<std::mutex, std::condition_variable>>();
  auto finished = std::make_shared<bool>(false);
  start([state, finished] {
    std::lock_guard lock(state->first);
    *finished = true;
    state->second.notify_all();
  });
  std::unique_lock lock(state->first);
  return state->second.wait_for(lock, std::chrono::duration<double>(seconds),
                                [&] { return *finished; });
}

class TextPayload : public VDTCOREventDataObject {
 public:
  explicit TextPayload(std::string text) : text_(std::move(text)) {}
  std::optional<platform::Bytes> transportBytes() override {
    return platform::Bytes(text_.begin(), text_.end());
  }

 private:
  std::string text_;
};

// Records every upload request it is given.
class RecordingUploader : public VDTCORUploader {
 public:
  void uploadTarget(long target, long conditions) override {
    std::lock_guard lock(mutex);
    calls.emplace_back(target, conditions);
  }
  std::vector<std::pair<long, long>> recorded() {
    std::lock_guard lock(mutex);
    return calls;
  }
  std::mutex mutex;
  std::vector<std::pair<long, long>> calls;
};

// Records what it is asked to store and what life-cycle calls reach it.
class RecordingStorage : public VDTCORStorageProtocol {
 public:
  void storeEvent(const VDTCOREventPtr& event, StoreCompletion completion) override {
    std::lock_guard lock(mutex);
    stored.push_back(event);
    if (completion) completion(true, nullptr);
  }
  void hasEventsForTarget(long, std::function<void(bool)>) override {}
  void batchWithEventSelector(const VDTCORStorageEventSelectorPtr&, double,
                              BatchCompletion) override {}
  void removeBatchWithID(long, bool, std::function<void()>) override {}
  void batchIDsForTarget(long, std::function<void(std::optional<std::set<long>>)>) override {}
  void checkForExpirations() override { ++expiryChecks; }
  void storeLibraryData(const std::optional<platform::Bytes>&, const std::string&,
                        std::function<void(platform::ErrorPtr)>) override {}
  void libraryDataForKey(const std::string&,
                         std::function<void(std::optional<platform::Bytes>, platform::ErrorPtr)>,
                         std::function<std::optional<platform::Bytes>()>) override {}
  void removeLibraryDataForKey(const std::string&,
                               std::function<void(platform::ErrorPtr)>) override {}
  void storageSizeWithCallback(std::function<void(std::uint64_t)>) override {}
  void appWillTerminate(const VDTCORApplicationPtr&) override { ++terminateCalls; }

  std::mutex mutex;
  std::vector<VDTCOREventPtr> stored;
  int terminateCalls = 0;
  int expiryChecks = 0;
};

}  // namespace transport_testing
