// An audio player for one file: opening decodes the whole MP3 (libmpg123) so that a file that is
// missing, empty or not audio fails at once with an error saying why; play streams the samples
// through the current AudioBackend. Thread-safe (one mutex guards the position and the stream);
// the app uses it from the main thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/app/AudioBackend.h"
#include "platform/base/Error.h"

namespace platform::app {

class AudioPlayer {
 public:
  // An empty player (no file): play does nothing and answers false.
  AudioPlayer();
  ~AudioPlayer();  // stops
  AudioPlayer(const AudioPlayer&) = delete;
  AudioPlayer& operator=(const AudioPlayer&) = delete;

  // Opens a "file://" URL. `fileTypeHint` is kFileTypeMPEGLayer3 or empty; any other hint is an
  // unsupported type. Null with *error set (its localizedDescription says why) on failure.
  static std::shared_ptr<AudioPlayer> create(const std::string& url,
                                             const std::string& fileTypeHint, ErrorPtr* error);
  // The same for a path.
  static std::shared_ptr<AudioPlayer> createWithPath(const std::filesystem::path& path,
                                                     const std::string& fileTypeHint,
                                                     ErrorPtr* error);

  // Starts (or keeps) playing from the current position, from the beginning after stop or after
  // the end was reached. False when there is nothing to play or no output could be opened.
  bool play();
  // Synchronous: no sound of this player after it returns. Rewinds to the beginning.
  void stop();
  // True from play until stop or the end of the file.
  bool isPlaying() const;

  const std::string& url() const { return url_; }
  AudioFormat format() const { return format_; }
  double duration() const;
  // Seconds of audio handed to the output since the last (re)start from the beginning.
  double currentTime() const;

 private:
  std::size_t render(std::int16_t* out, std::size_t frames);

  std::string url_;
  AudioFormat format_;
  std::vector<std::int16_t> samples_;  // interleaved
  mutable std::mutex mutex_;
  std::size_t positionFrames_ = 0;
  bool playing_ = false;
  std::unique_ptr<AudioStream> stream_;
};

}  // namespace platform::app
