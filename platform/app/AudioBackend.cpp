#include "platform/app/AudioBackend.h"

#include <algorithm>
#include <condition_variable>
#include <thread>

#include "platform/dispatch/Clock.h"

namespace platform::app {
namespace {

std::mutex& backendMutex() {
  static auto* m = new std::mutex;
  return *m;
}
std::shared_ptr<AudioBackend>& backendSlot() {
  static auto* slot = new std::shared_ptr<AudioBackend>;
  return *slot;
}

// Pulls frames on a thread of its own at the pace of the installed clock. The mutex is held while
// rendering so that stop() returns only once no render is in progress.
class SilentAudioStream : public AudioStream {
 public:
  SilentAudioStream(const AudioFormat& format, AudioRenderCallback render)
      : format_(format), render_(std::move(render)), thread_([this] { loop(); }) {}

  ~SilentAudioStream() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      started_ = false;
      exiting_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

  void start() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (started_) return;
    started_ = true;
    startUptime_ = Clock::current().uptime();
    framesRendered_ = 0;
    wake_.notify_all();
  }

  void stop() override {
    std::lock_guard<std::mutex> lock(mutex_);
    started_ = false;
  }

  bool isStarted() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return started_;
  }

 private:
  void loop() {
    // At most half a second per round, so that a long clock jump cannot starve stop().
    const std::size_t maxChunk = static_cast<std::size_t>(std::max(1, format_.sampleRate / 2));
    std::vector<std::int16_t> scratch;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!exiting_) {
      if (started_) {
        const double elapsed = Clock::current().uptime() - startUptime_;
        const auto due = elapsed <= 0 ? std::uint64_t{0}
                                      : static_cast<std::uint64_t>(elapsed * format_.sampleRate);
        if (due > framesRendered_) {
          const auto frames =
              static_cast<std::size_t>(std::min<std::uint64_t>(due - framesRendered_, maxChunk));
          scratch.assign(frames * static_cast<std::size_t>(format_.channels), 0);
          render_(scratch.data(), frames);
          framesRendered_ += frames;
          continue;
        }
      }
      wake_.wait_for(lock, std::chrono::milliseconds(5));
    }
  }

  const AudioFormat format_;
  const AudioRenderCallback render_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool started_ = false;
  bool exiting_ = false;
  double startUptime_ = 0;
  std::uint64_t framesRendered_ = 0;
  std::thread thread_;  // last: starts once the members above exist
};

}  // namespace

std::shared_ptr<AudioBackend> AudioBackend::current() {
  std::lock_guard<std::mutex> lock(backendMutex());
  auto& slot = backendSlot();
  if (!slot) slot = std::make_shared<SdlAudioBackend>();
  return slot;
}

void AudioBackend::setCurrent(std::shared_ptr<AudioBackend> backend) {
  std::lock_guard<std::mutex> lock(backendMutex());
  backendSlot() = std::move(backend);
}

std::unique_ptr<AudioStream> makeSilentAudioStream(const AudioFormat& format,
                                                   AudioRenderCallback render) {
  return std::make_unique<SilentAudioStream>(format, std::move(render));
}

}  // namespace platform::app
