#include "platform/app/AudioPlayer.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <random>

#include "platform/app/AppConstants.h"
#include "platform/app/AudioSession.h"
#include "platform/app/tests/AppTestSupport.h"
#include "platform/base/Bundle.h"
#include "platform/testing/PlatformTest.h"

namespace platform::app {
namespace {

using platform::app::testing::writeSilentMp3;

class AudioTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    backend_ = std::make_shared<RecordingAudioBackend>();
    AudioBackend::setCurrent(backend_);
  }
  void TearDown() override {
    AudioBackend::setCurrent(nullptr);
    PlatformTest::TearDown();
  }
  std::filesystem::path clip(int frames = 10) {
    auto path = home() / "clip.mp3";
    writeSilentMp3(path, frames);
    return path;
  }
  std::shared_ptr<RecordingAudioBackend> backend_;
};

TEST_F(AudioTest, OpeningFailsWithAReasonForFilesThatAreNotAudio) {
  std::mt19937 rng(7);
  std::string noise(8192, '\0');
  for (auto& c : noise) c = static_cast<char>(rng());
  std::filesystem::create_directories(home() / "folder.mp3");
  std::ofstream(home() / "empty.mp3");
  std::ofstream(home() / "text.mp3") << "This is a shopping list, not a sound.\n";
  std::ofstream(home() / "noise.mp3", std::ios::binary) << noise;
  writeSilentMp3(home() / "good.mp3", 4);

  struct Case {
    std::string url;
    std::string hint;
    std::string reason;  // part of the localized description
  };
  const std::vector<Case> cases = {
      {fileUrlForPath(home() / "missing.mp3"), kFileTypeMPEGLayer3, "no such file"},
      {fileUrlForPath(home() / "empty.mp3"), kFileTypeMPEGLayer3, "empty"},
      {fileUrlForPath(home() / "text.mp3"), kFileTypeMPEGLayer3, "valid MP3"},
      {fileUrlForPath(home() / "noise.mp3"), kFileTypeMPEGLayer3, "valid MP3"},
      {fileUrlForPath(home() / "folder.mp3"), kFileTypeMPEGLayer3, "not a regular file"},
      {fileUrlForPath(home() / "good.mp3"), "public.aiff-audio", "not supported"},
      {"https://example.com/good.mp3", kFileTypeMPEGLayer3, "not a file URL"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    ErrorPtr error;
    EXPECT_EQ(AudioPlayer::create(c.url, c.hint, &error), nullptr);
    ASSERT_NE(error, nullptr);
    EXPECT_NE(error->localizedDescription().find(c.reason), std::string::npos)
        << error->localizedDescription();
  }
}

TEST_F(AudioTest, OpensAnMp3AndDecodesAllOfIt) {
  ErrorPtr error;
  auto player = AudioPlayer::create(fileUrlForPath(clip(20)), kFileTypeMPEGLayer3, &error);
  ASSERT_NE(player, nullptr) << (error ? error->localizedDescription() : "");
  EXPECT_EQ(player->format().sampleRate, 44100);
  EXPECT_EQ(player->format().channels, 1);
  EXPECT_GE(player->duration(), 18 * 1152 / 44100.0);
  EXPECT_LE(player->duration(), 20 * 1152 / 44100.0);
  EXPECT_FALSE(player->isPlaying());
}

TEST_F(AudioTest, AnErrorFromTheBackendRefusesTheFile) {
  backend_->failFileOpen(Error::withDescription(kOSStatusErrorDomain, 42, "injected"));
  ErrorPtr error;
  EXPECT_EQ(AudioPlayer::create(fileUrlForPath(clip()), kFileTypeMPEGLayer3, &error), nullptr);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->code(), 42);
}

TEST_F(AudioTest, AnEmptyPlayerDoesNotPlay) {
  AudioPlayer player;
  EXPECT_FALSE(player.play());
  EXPECT_FALSE(player.isPlaying());
  player.stop();
}

TEST_F(AudioTest, StopIsSynchronous) {
  auto player = AudioPlayer::create(fileUrlForPath(clip(40)), kFileTypeMPEGLayer3, nullptr);
  ASSERT_TRUE(player);
  ASSERT_TRUE(player->play());
  EXPECT_TRUE(player->isPlaying());
  backend_->pull(1000);
  EXPECT_EQ(backend_->framesRendered(), 1000u);
  player->stop();
  EXPECT_FALSE(player->isPlaying());
  EXPECT_EQ(backend_->startedStreamCount(), 0);
  backend_->pull(1000);
  EXPECT_EQ(backend_->framesRendered(), 1000u);
}

TEST_F(AudioTest, PlayingAgainStartsFromTheBeginning) {
  auto player = AudioPlayer::create(fileUrlForPath(clip(40)), kFileTypeMPEGLayer3, nullptr);
  ASSERT_TRUE(player);
  player->play();
  backend_->pull(3000);
  EXPECT_DOUBLE_EQ(player->currentTime(), 3000 / 44100.0);
  player->stop();
  player->play();
  EXPECT_DOUBLE_EQ(player->currentTime(), 0);
  backend_->pull(500);
  EXPECT_DOUBLE_EQ(player->currentTime(), 500 / 44100.0);
}

TEST_F(AudioTest, PlaysToTheEndThenStopsAndCanPlayAgain) {
  auto player = AudioPlayer::create(fileUrlForPath(clip(4)), kFileTypeMPEGLayer3, nullptr);
  ASSERT_TRUE(player);
  const auto total = static_cast<std::size_t>(player->duration() * 44100 + 0.5);
  player->play();
  backend_->pull(total + 5000);
  EXPECT_EQ(backend_->framesRendered(), total);
  EXPECT_FALSE(player->isPlaying());
  ASSERT_TRUE(player->play());
  EXPECT_TRUE(player->isPlaying());
  backend_->pull(total);
  EXPECT_EQ(backend_->framesRendered(), 2 * total);
}

TEST_F(AudioTest, SessionForwardsRequestsAndReportsRefusals) {
  auto& session = AudioSession::sharedInstance();
  ErrorPtr error;
  EXPECT_TRUE(
      session.setCategory(AudioSessionCategory::Playback, AudioSessionMode::Default, 0, &error));
  EXPECT_TRUE(session.setActive(true, 0, &error));
  EXPECT_EQ(error, nullptr);
  EXPECT_EQ(session.category(), AudioSessionCategory::Playback);
  EXPECT_TRUE(session.isActive());

  backend_->failCategory(Error::withDescription(kAudioSessionErrorDomain, 1, "category refused"));
  backend_->failActivation(Error::withDescription(kAudioSessionErrorDomain, 2, "busy"));
  EXPECT_FALSE(
      session.setCategory(AudioSessionCategory::Ambient, AudioSessionMode::Default, 0, &error));
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->localizedDescription(), "category refused");
  EXPECT_EQ(session.category(), AudioSessionCategory::Playback);
  EXPECT_FALSE(session.setActive(false, 0, &error));
  EXPECT_EQ(error->localizedDescription(), "busy");
  EXPECT_TRUE(session.isActive());

  EXPECT_EQ(backend_->events(),
            (std::vector<std::string>{"category playback default 0", "active 1 0",
                                      "category ambient default 0", "active 0 0"}));
}

TEST_F(AudioTest, SilentSinkKeepsTimeWithTheClock) {
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t frames = 0;
  auto stream = makeSilentAudioStream({8000, 1}, [&](std::int16_t*, std::size_t n) {
    std::lock_guard<std::mutex> lock(mutex);
    frames += n;
    changed.notify_all();
    return n;
  });
  auto waitFor = [&](std::size_t target) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10), [&] { return frames >= target; });
  };
  stream->start();
  clock().advance(0.25);
  ASSERT_TRUE(waitFor(2000));
  clock().advance(2.0);  // more than one round of the sink
  ASSERT_TRUE(waitFor(18000));
  stream->stop();
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(frames, 18000u);  // never ahead of the clock
}

TEST_F(AudioTest, SdlOutputPlaysAFileToItsEndAndStopsAtOnce) {
  useSystemClock();
  AudioBackend::setCurrent(std::make_shared<SdlAudioBackend>());
  auto player = AudioPlayer::create(fileUrlForPath(clip(4)), kFileTypeMPEGLayer3, nullptr);
  ASSERT_TRUE(player);
  ASSERT_TRUE(player->play());
  EXPECT_TRUE(pumpUntil([&] { return !player->isPlaying(); }, 20));
  EXPECT_GT(player->currentTime(), 0.1);

  auto longer = AudioPlayer::create(fileUrlForPath(clip(400)), kFileTypeMPEGLayer3, nullptr);
  ASSERT_TRUE(longer);
  ASSERT_TRUE(longer->play());
  ASSERT_TRUE(pumpUntil([&] { return longer->currentTime() > 0; }, 20));
  longer->stop();
  // Stopping rewound the player; any render after stop() returned would move it again.
  EXPECT_FALSE(pumpUntil([&] { return longer->currentTime() > 0; }, 0.2));
  EXPECT_FALSE(longer->isPlaying());
}

TEST_F(AudioTest, WithoutASoundDeviceTheSilentSinkPlaysInRealTime) {
  ::setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  auto sdl = std::make_shared<SdlAudioBackend>();
  AudioBackend::setCurrent(sdl);
  auto player = AudioPlayer::create(fileUrlForPath(clip(40)), kFileTypeMPEGLayer3, nullptr);
  ASSERT_TRUE(player);
  const double duration = player->duration();
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(player->play());
  EXPECT_TRUE(sdl->usedSilentFallback());
  clock().advance(duration / 2);
  ASSERT_TRUE(pumpUntil([&] { return player->currentTime() >= duration / 2 - 0.001; }));
  EXPECT_TRUE(player->isPlaying());
  EXPECT_LE(player->currentTime(), duration / 2 + 0.001);
  clock().advance(duration);
  ASSERT_TRUE(pumpUntil([&] { return !player->isPlaying(); }));
  player->stop();
  ASSERT_TRUE(player->play());  // a second stream: no second notice
  player->stop();
  const std::string notices = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(notices.find("No sound device could be opened"),
            notices.rfind("No sound device could be opened"));
  EXPECT_NE(notices.find("No sound device could be opened"), std::string::npos);
}

}  // namespace
}  // namespace platform::app
