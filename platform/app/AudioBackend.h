// Where decoded audio goes: a backend opens output streams that pull 16-bit interleaved frames
// from a render callback, and answers the audio session's category and activation requests.
// The process-wide backend is SDL2 output with a silent real-time sink as fallback; tests install
// a RecordingAudioBackend. Backends and streams are thread-safe; the render callback runs on the
// backend's own thread and never after AudioStream::stop() returns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/base/Error.h"

namespace platform::app {

struct AudioFormat {
  int sampleRate = 44100;
  int channels = 2;
};

// Fills `out` with up to `frames` frames (frames * channels samples) and returns how many it
// wrote; the stream pads the rest with silence.
using AudioRenderCallback = std::function<std::size_t(std::int16_t* out, std::size_t frames)>;

class AudioStream {
 public:
  virtual ~AudioStream() = default;  // stops first
  virtual void start() = 0;
  // Synchronous: when it returns, the render callback is not running and never runs again.
  virtual void stop() = 0;
  virtual bool isStarted() const = 0;
};

enum class AudioSessionCategory { SoloAmbient, Ambient, Playback };
enum class AudioSessionMode { Default, SpokenAudio };

class AudioBackend {
 public:
  virtual ~AudioBackend() = default;

  // The process-wide backend, made on first use: SdlAudioBackend.
  static std::shared_ptr<AudioBackend> current();
  // Replaces it (tests); null goes back to the default.
  static void setCurrent(std::shared_ptr<AudioBackend> backend);

  // Session hooks; null means accepted.
  virtual ErrorPtr setCategory(AudioSessionCategory category, AudioSessionMode mode,
                               unsigned options) = 0;
  virtual ErrorPtr setActive(bool active, unsigned options) = 0;
  // Asked before a player decodes a file; an error refuses the file.
  virtual ErrorPtr willOpenFile(const std::filesystem::path& path) {
    (void)path;
    return nullptr;
  }
  // A stream, stopped, or null with *error set.
  virtual std::unique_ptr<AudioStream> openStream(const AudioFormat& format,
                                                  AudioRenderCallback render, ErrorPtr* error) = 0;
};

// A sink with no device: a thread of its own pulls frames at the pace of Clock::current()'s
// uptime, so playback takes as long as with a sound card (and a FakeClock drives it).
std::unique_ptr<AudioStream> makeSilentAudioStream(const AudioFormat& format,
                                                   AudioRenderCallback render);

// SDL2 audio output. When SDL's audio cannot start or no device opens, streams fall back to the
// silent sink and one notice is printed for the process.
class SdlAudioBackend : public AudioBackend {
 public:
  ErrorPtr setCategory(AudioSessionCategory category, AudioSessionMode mode,
                       unsigned options) override;
  ErrorPtr setActive(bool active, unsigned options) override;
  std::unique_ptr<AudioStream> openStream(const AudioFormat& format, AudioRenderCallback render,
                                          ErrorPtr* error) override;
  // Whether the last stream fell back to the silent sink.
  bool usedSilentFallback() const;

 private:
  mutable std::mutex mutex_;
  bool silent_ = false;
};

// The test backend: records every request, can refuse any of them with a given error, and
// renders only when the test pulls frames, so nothing depends on a sound card or timing.
class RecordingAudioBackend : public AudioBackend {
 public:
  ErrorPtr setCategory(AudioSessionCategory category, AudioSessionMode mode,
                       unsigned options) override;
  ErrorPtr setActive(bool active, unsigned options) override;
  ErrorPtr willOpenFile(const std::filesystem::path& path) override;
  std::unique_ptr<AudioStream> openStream(const AudioFormat& format, AudioRenderCallback render,
                                          ErrorPtr* error) override;

  // Errors to give from now on (null: accept again).
  void failCategory(ErrorPtr error);
  void failActivation(ErrorPtr error);
  void failFileOpen(ErrorPtr error);
  void failStreamOpen(ErrorPtr error);

  // Every request in order, e.g. "category playback default 0", "active 1 0",
  // "file /x/a.mp3", "stream 44100 2", "start", "stop".
  std::vector<std::string> events() const;
  // Pulls `frames` frames from every started stream (mixed by summing, clipped) and returns the
  // samples; frames of stopped streams are silence.
  std::vector<std::int16_t> pull(std::size_t frames);
  // Frames that started streams have written (not counting padding), over all pulls.
  std::size_t framesRendered() const;
  int startedStreamCount() const;

 private:
  struct Shared;
  class Stream;
  std::shared_ptr<Shared> shared_;

 public:
  RecordingAudioBackend();
  ~RecordingAudioBackend() override;
};

}  // namespace platform::app
