#include "platform/app/AudioPlayer.h"

#include <mpg123.h>

#include <algorithm>
#include <cstring>
#include <system_error>

#include "platform/app/AppConstants.h"
#include "platform/base/Bundle.h"

namespace platform::app {
namespace {

std::string quotedName(const std::filesystem::path& path) {
  return "\u201C" + path.filename().string() + "\u201D";
}

ErrorPtr notAudioError(const std::filesystem::path& path, const std::string& why) {
  return Error::make(
      kOSStatusErrorDomain, kAudioFileUnsupportedFileTypeError,
      {{kLocalizedDescriptionKey, "The file " + quotedName(path) +
                                      " couldn\u2019t be opened because it isn\u2019t "
                                      "a valid MP3 audio file (" +
                                      why + ")."},
       {"NSFilePath", path.string()}});
}

// One decoder handle per open; libmpg123's global setup is done once for the process.
struct DecoderHandle {
  mpg123_handle* handle = nullptr;
  ~DecoderHandle() {
    if (handle) {
      mpg123_close(handle);
      mpg123_delete(handle);
    }
  }
};

bool decoderLibraryReady() {
  static const bool ready = mpg123_init() == MPG123_OK;
  return ready;
}

// Decodes the whole file to interleaved 16-bit samples. The format must be found before any
// sample is taken, so that a file with no MP3 frames is refused at format negotiation.
ErrorPtr decodeFile(const std::filesystem::path& path, AudioFormat* format,
                    std::vector<std::int16_t>* samples) {
  if (!decoderLibraryReady()) return notAudioError(path, "the decoder could not start");
  DecoderHandle decoder;
  int status = MPG123_OK;
  decoder.handle = mpg123_new(nullptr, &status);
  if (!decoder.handle) return notAudioError(path, "the decoder could not start");
  mpg123_param(decoder.handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
  mpg123_format_none(decoder.handle);
  const long* rates = nullptr;
  std::size_t rateCount = 0;
  mpg123_rates(&rates, &rateCount);
  for (std::size_t i = 0; i < rateCount; ++i) {
    mpg123_format(decoder.handle, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
  }
  if (mpg123_open(decoder.handle, path.c_str()) != MPG123_OK) {
    return notAudioError(path, mpg123_strerror(decoder.handle));
  }
  long rate = 0;
  int channels = 0;
  int encoding = 0;
  if (mpg123_getformat(decoder.handle, &rate, &channels, &encoding) != MPG123_OK || rate <= 0 ||
      channels < 1 || channels > 2) {
    return notAudioError(path, "no audio frames were found");
  }
  format->sampleRate = static_cast<int>(rate);
  format->channels = channels;

  std::vector<unsigned char> buffer(std::max<std::size_t>(mpg123_outblock(decoder.handle), 16384));
  samples->clear();
  for (;;) {
    std::size_t done = 0;
    status = mpg123_read(decoder.handle, buffer.data(), buffer.size(), &done);
    const std::size_t count = done / sizeof(std::int16_t);
    const std::size_t old = samples->size();
    samples->resize(old + count);
    std::memcpy(samples->data() + old, buffer.data(), count * sizeof(std::int16_t));
    if (status == MPG123_DONE) break;
    if (status == MPG123_NEW_FORMAT) {
      long r = 0;
      int c = 0, e = 0;
      mpg123_getformat(decoder.handle, &r, &c, &e);
      if (r != rate || c != channels) return notAudioError(path, "the audio format changes");
      continue;
    }
    if (status != MPG123_OK) return notAudioError(path, mpg123_strerror(decoder.handle));
  }
  samples->resize(samples->size() - samples->size() % static_cast<std::size_t>(channels));
  if (samples->empty()) return notAudioError(path, "it holds no audio");
  return nullptr;
}

}  // namespace

AudioPlayer::AudioPlayer() = default;

AudioPlayer::~AudioPlayer() { stop(); }

std::shared_ptr<AudioPlayer> AudioPlayer::create(const std::string& url,
                                                 const std::string& fileTypeHint, ErrorPtr* error) {
  auto path = pathForFileUrl(url);
  if (!path) {
    setError(error, Error::make(kFileErrorDomain, kFileReadNoSuchFileError,
                                {{kLocalizedDescriptionKey,
                                  "The audio file couldn\u2019t be opened because \u201C" + url +
                                      "\u201D is not a file URL."}}));
    return nullptr;
  }
  auto player = createWithPath(*path, fileTypeHint, error);
  if (player) player->url_ = url;
  return player;
}

std::shared_ptr<AudioPlayer> AudioPlayer::createWithPath(const std::filesystem::path& path,
                                                         const std::string& fileTypeHint,
                                                         ErrorPtr* error) {
  if (!fileTypeHint.empty() && fileTypeHint != kFileTypeMPEGLayer3) {
    setError(error, Error::make(kOSStatusErrorDomain, kAudioFileUnsupportedFileTypeError,
                                {{kLocalizedDescriptionKey,
                                  "The file " + quotedName(path) +
                                      " couldn\u2019t be opened because the file type \u201C" +
                                      fileTypeHint + "\u201D is not supported."}}));
    return nullptr;
  }
  if (ErrorPtr refused = AudioBackend::current()->willOpenFile(path)) {
    setError(error, std::move(refused));
    return nullptr;
  }
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (ec || !std::filesystem::exists(status)) {
    setError(error, Error::make(kFileErrorDomain, kFileReadNoSuchFileError,
                                {{kLocalizedDescriptionKey,
                                  "The file " + quotedName(path) +
                                      " couldn\u2019t be opened because there is no such file."},
                                 {"NSFilePath", path.string()}}));
    return nullptr;
  }
  if (!std::filesystem::is_regular_file(status)) {
    setError(error, notAudioError(path, "it is not a regular file"));
    return nullptr;
  }
  if (std::filesystem::file_size(path, ec) == 0 && !ec) {
    setError(error, Error::make(kOSStatusErrorDomain, kAudioFileInvalidFileError,
                                {{kLocalizedDescriptionKey,
                                  "The file " + quotedName(path) +
                                      " couldn\u2019t be opened because it is empty."},
                                 {"NSFilePath", path.string()}}));
    return nullptr;
  }
  auto player = std::make_shared<AudioPlayer>();
  if (ErrorPtr failed = decodeFile(path, &player->format_, &player->samples_)) {
    setError(error, std::move(failed));
    return nullptr;
  }
  player->url_ = fileUrlForPath(path);
  return player;
}

bool AudioPlayer::play() {
  std::unique_ptr<AudioStream> finished;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (samples_.empty()) return false;
    if (playing_) return true;
    // A stream left from a play that ran to its end is closed (outside the lock) and replaced.
    finished = std::move(stream_);
    positionFrames_ = 0;
  }
  finished.reset();
  ErrorPtr error;
  auto stream = AudioBackend::current()->openStream(
      format_, [this](std::int16_t* out, std::size_t frames) { return render(out, frames); },
      &error);
  if (!stream) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    playing_ = true;
  }
  // Started outside the lock: the output thread takes the lock to render.
  stream->start();
  std::unique_ptr<AudioStream> raced;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    raced = std::move(stream_);
    stream_ = std::move(stream);
  }
  return true;
}

void AudioPlayer::stop() {
  std::unique_ptr<AudioStream> stream;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stream = std::move(stream_);
    playing_ = false;
  }
  // Never under the lock: stopping waits for a render that needs it.
  if (stream) stream->stop();
  stream.reset();
  std::lock_guard<std::mutex> lock(mutex_);
  positionFrames_ = 0;
}

bool AudioPlayer::isPlaying() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return playing_;
}

double AudioPlayer::duration() const {
  const auto channels = static_cast<std::size_t>(std::max(1, format_.channels));
  return static_cast<double>(samples_.size() / channels) / format_.sampleRate;
}

double AudioPlayer::currentTime() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<double>(positionFrames_) / format_.sampleRate;
}

std::size_t AudioPlayer::render(std::int16_t* out, std::size_t frames) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!playing_) return 0;
  const auto channels = static_cast<std::size_t>(format_.channels);
  const std::size_t total = samples_.size() / channels;
  const std::size_t count = std::min(frames, total - positionFrames_);
  std::memcpy(out, samples_.data() + positionFrames_ * channels,
              count * channels * sizeof(std::int16_t));
  positionFrames_ += count;
  if (positionFrames_ >= total) playing_ = false;
  return count;
}

}  // namespace platform::app
