#include <SDL2/SDL.h>

#include <cstdio>
#include <cstring>

#include "platform/app/AppConstants.h"
#include "platform/app/AudioBackend.h"

namespace platform::app {
namespace {

// SDL's audio subsystem is started once for the process; its answer is kept.
bool sdlAudioStarted(std::string* why) {
  static std::once_flag once;
  static bool started = false;
  static std::string* failure = new std::string;
  std::call_once(once, [] {
    started = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
    if (!started) *failure = SDL_GetError();
  });
  if (!started && why) *why = *failure;
  return started;
}

void printSilentNoticeOnce(const std::string& why) {
  static std::once_flag once;
  std::call_once(once, [&] {
    std::fprintf(stderr, "No sound device could be opened (%s); audio plays silently.\n",
                 why.c_str());
  });
}

class SdlAudioStream : public AudioStream {
 public:
  SdlAudioStream(int channels, AudioRenderCallback render)
      : channels_(channels), render_(std::move(render)) {}

  ~SdlAudioStream() override {
    if (device_ != 0) SDL_CloseAudioDevice(device_);  // joins SDL's audio thread
  }

  bool open(const AudioFormat& format, std::string* why) {
    SDL_AudioSpec want;
    std::memset(&want, 0, sizeof want);
    want.freq = format.sampleRate;
    want.format = AUDIO_S16SYS;
    want.channels = static_cast<Uint8>(format.channels);
    want.samples = 1024;
    want.callback = &SdlAudioStream::callback;
    want.userdata = this;
    SDL_AudioSpec have;
    // No allowed changes: SDL converts to whatever the device takes.
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device_ == 0) *why = SDL_GetError();
    return device_ != 0;
  }

  void start() override {
    std::lock_guard<std::mutex> lock(mutex_);
    started_ = true;
    SDL_PauseAudioDevice(device_, 0);
  }

  void stop() override {
    std::lock_guard<std::mutex> lock(mutex_);
    started_ = false;
    SDL_PauseAudioDevice(device_, 1);
    // SDL checks the pause flag under the device lock; taking it waits out a running callback.
    SDL_LockAudioDevice(device_);
    SDL_UnlockAudioDevice(device_);
  }

  bool isStarted() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return started_;
  }

 private:
  static void callback(void* userdata, Uint8* stream, int length) {
    auto* self = static_cast<SdlAudioStream*>(userdata);
    std::memset(stream, 0, static_cast<std::size_t>(length));
    const std::size_t frames =
        static_cast<std::size_t>(length) / (sizeof(std::int16_t) * self->channels_);
    self->render_(reinterpret_cast<std::int16_t*>(stream), frames);
  }

  const int channels_;
  const AudioRenderCallback render_;
  mutable std::mutex mutex_;
  bool started_ = false;
  SDL_AudioDeviceID device_ = 0;
};

}  // namespace

ErrorPtr SdlAudioBackend::setCategory(AudioSessionCategory, AudioSessionMode, unsigned) {
  return nullptr;
}

ErrorPtr SdlAudioBackend::setActive(bool, unsigned) { return nullptr; }

std::unique_ptr<AudioStream> SdlAudioBackend::openStream(const AudioFormat& format,
                                                         AudioRenderCallback render,
                                                         ErrorPtr* error) {
  if (format.sampleRate <= 0 || format.channels < 1 || format.channels > 2) {
    setError(error, Error::withDescription(kOSStatusErrorDomain, kAudioOutputUnavailableError,
                                           "The audio format is not supported by the output."));
    return nullptr;
  }
  std::string why;
  if (sdlAudioStarted(&why)) {
    auto stream = std::make_unique<SdlAudioStream>(format.channels, render);
    if (stream->open(format, &why)) {
      std::lock_guard<std::mutex> lock(mutex_);
      silent_ = false;
      return stream;
    }
  }
  printSilentNoticeOnce(why);
  std::lock_guard<std::mutex> lock(mutex_);
  silent_ = true;
  return makeSilentAudioStream(format, std::move(render));
}

bool SdlAudioBackend::usedSilentFallback() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return silent_;
}

}  // namespace platform::app
