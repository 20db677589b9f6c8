#include <algorithm>
#include <string>

#include "platform/app/AudioBackend.h"

namespace platform::app {
namespace {

const char* categoryName(AudioSessionCategory c) {
  switch (c) {
    case AudioSessionCategory::SoloAmbient:
      return "soloambient";
    case AudioSessionCategory::Ambient:
      return "ambient";
    case AudioSessionCategory::Playback:
      return "playback";
  }
  return "?";
}

const char* modeName(AudioSessionMode m) {
  return m == AudioSessionMode::Default ? "default" : "spokenaudio";
}

}  // namespace

struct StreamStateRecord {
  AudioFormat format;
  AudioRenderCallback render;
  std::mutex mutex;  // held while rendering, so stop() waits a pull out
  bool started = false;
};

struct RecordingAudioBackend::Shared {
  std::mutex mutex;
  std::vector<std::string> events;
  std::vector<std::weak_ptr<StreamStateRecord>> streams;
  std::size_t framesRendered = 0;
  ErrorPtr categoryError, activationError, fileError, streamError;

  void record(std::string event) {
    std::lock_guard<std::mutex> lock(mutex);
    events.push_back(std::move(event));
  }
};

class RecordingAudioBackend::Stream : public AudioStream {
 public:
  Stream(std::shared_ptr<Shared> shared, std::shared_ptr<StreamStateRecord> state)
      : shared_(std::move(shared)), state_(std::move(state)) {}
  ~Stream() override {
    stop();
    shared_->record("close");
  }
  void start() override {
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      state_->started = true;
    }
    shared_->record("start");
  }
  void stop() override {
    bool wasStarted;
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      wasStarted = state_->started;
      state_->started = false;
    }
    if (wasStarted) shared_->record("stop");
  }
  bool isStarted() const override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->started;
  }

 private:
  std::shared_ptr<Shared> shared_;
  std::shared_ptr<StreamStateRecord> state_;
};

RecordingAudioBackend::RecordingAudioBackend() : shared_(std::make_shared<Shared>()) {}
RecordingAudioBackend::~RecordingAudioBackend() = default;

ErrorPtr RecordingAudioBackend::setCategory(AudioSessionCategory category, AudioSessionMode mode,
                                            unsigned options) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->events.push_back(std::string("category ") + categoryName(category) + " " +
                            modeName(mode) + " " + std::to_string(options));
  return shared_->categoryError;
}

ErrorPtr RecordingAudioBackend::setActive(bool active, unsigned options) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->events.push_back("active " + std::to_string(active ? 1 : 0) + " " +
                            std::to_string(options));
  return shared_->activationError;
}

ErrorPtr RecordingAudioBackend::willOpenFile(const std::filesystem::path& path) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->events.push_back("file " + path.string());
  return shared_->fileError;
}

std::unique_ptr<AudioStream> RecordingAudioBackend::openStream(const AudioFormat& format,
                                                               AudioRenderCallback render,
                                                               ErrorPtr* error) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->events.push_back("stream " + std::to_string(format.sampleRate) + " " +
                            std::to_string(format.channels));
  if (shared_->streamError) {
    setError(error, shared_->streamError);
    return nullptr;
  }
  auto state = std::make_shared<StreamStateRecord>();
  state->format = format;
  state->render = std::move(render);
  shared_->streams.push_back(state);
  return std::make_unique<Stream>(shared_, state);
}

void RecordingAudioBackend::failCategory(ErrorPtr error) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->categoryError = std::move(error);
}
void RecordingAudioBackend::failActivation(ErrorPtr error) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->activationError = std::move(error);
}
void RecordingAudioBackend::failFileOpen(ErrorPtr error) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->fileError = std::move(error);
}
void RecordingAudioBackend::failStreamOpen(ErrorPtr error) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->streamError = std::move(error);
}

std::vector<std::string> RecordingAudioBackend::events() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->events;
}

std::vector<std::int16_t> RecordingAudioBackend::pull(std::size_t frames) {
  std::vector<std::shared_ptr<StreamStateRecord>> live;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    auto& streams = shared_->streams;
    streams.erase(
        std::remove_if(streams.begin(), streams.end(), [](const auto& w) { return w.expired(); }),
        streams.end());
    for (auto& w : streams) {
      if (auto s = w.lock()) live.push_back(std::move(s));
    }
  }
  // Stereo out; a mono stream goes to both sides.
  std::vector<int> mix(frames * 2, 0);
  std::size_t written = 0;
  for (auto& state : live) {
    std::lock_guard<std::mutex> lock(state->mutex);
    if (!state->started) continue;
    const auto channels = static_cast<std::size_t>(state->format.channels);
    std::vector<std::int16_t> buffer(frames * channels, 0);
    written += state->render(buffer.data(), frames);
    for (std::size_t f = 0; f < frames; ++f) {
      mix[2 * f] += buffer[f * channels];
      mix[2 * f + 1] += buffer[f * channels + (channels > 1 ? 1 : 0)];
    }
  }
  std::vector<std::int16_t> out(mix.size());
  std::transform(mix.begin(), mix.end(), out.begin(),
                 [](int v) { return static_cast<std::int16_t>(std::clamp(v, -32768, 32767)); });
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->framesRendered += written;
  return out;
}

std::size_t RecordingAudioBackend::framesRendered() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->framesRendered;
}

int RecordingAudioBackend::startedStreamCount() const {
  std::vector<std::shared_ptr<StreamStateRecord>> live;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    for (auto& w : shared_->streams)
      if (auto s = w.lock()) live.push_back(std::move(s));
  }
  int count = 0;
  for (auto& s : live) {
    std::lock_guard<std::mutex> lock(s->mutex);
    count += s->started ? 1 : 0;
  }
  return count;
}

}  // namespace platform::app
