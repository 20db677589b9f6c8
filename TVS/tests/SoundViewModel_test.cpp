#include "TVS/SoundViewModel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "TVS/EntityLoader.h"
#include "TVS/tests/TVSTestSupport.h"
#include "platform/app/AudioBackend.h"
#include "platform/app/AudioSession.h"
#include "platform/base/Bundle.h"
#include "platform/base/Files.h"
#include "platform/base/PropertyList.h"
#include "platform/base/UserDefaults.h"
#include "platform/testing/PlatformTest.h"
#include "platform/testing/UnreadableFile.h"
#include "utilities/logger/VTULogger.h"

namespace {

using tvs::testing::analyticsEvents;

using platform::Value;
using tvs::testing::stdoutLines;

class SoundViewModelTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    tvs::testing::useBundle(tvs::testing::builtBundle());
    backend_ = std::make_shared<platform::app::RecordingAudioBackend>();
    platform::app::AudioBackend::setCurrent(backend_);
    vtu::testing::startCapturingLines();
    catalogue_ = EntityLoader::loadEntities();
    ASSERT_GE(catalogue_.size(), 2u);
  }
  void TearDown() override {
    platform::app::AudioBackend::setCurrent(nullptr);
    PlatformTest::TearDown();
  }

  SoundProducingEntityPtr entity(size_t i) { return catalogue_.at(i); }
  SoundPtr sound(size_t e, size_t s) { return catalogue_.at(e)->sounds().at(s); }

  std::vector<std::string> backendEvents() { return backend_->events(); }

  // The favourites in the standard domain's file once its pending changes are written.
  Value storedFavourites() {
    auto defaults = platform::UserDefaults::standardUserDefaults();
    EXPECT_TRUE(defaults->synchronize());
    auto text = platform::files::readTextFile(platform::SandboxHome::preferences() /
                                              (defaults->domainName() + ".plist"));
    return text ? platform::parsePropertyList(*text)["favSoundIds"] : Value();
  }

  std::shared_ptr<platform::app::RecordingAudioBackend> backend_;
  std::vector<SoundProducingEntityPtr> catalogue_;
};

// ---- Favourites

TEST_F(SoundViewModelTest, FirstLaunchStartsEmptyAndStoresNothing) {
  SoundViewModel vm;
  EXPECT_TRUE(vm.favSoundIds().get().empty());
  EXPECT_TRUE(vm.defaults()->objectForKey("favSoundIds").isNil());
}

TEST_F(SoundViewModelTest, EveryChangeIsAnnouncedFirstThenStoredAndPrinted) {
  auto vm = std::make_shared<SoundViewModel>();
  std::vector<size_t> sizesSeenByObservers;
  auto token =
      vm->subscribe([&] { sizesSeenByObservers.push_back(vm->favSoundIds().get().size()); });

  auto printed = stdoutLines([&] {
    vm->favSoundIds().mutate([](auto& m) { m["tavo_hello"] = "tavo"; });
    vm->favSoundIds().mutate([](auto& m) { m["marla_deal"] = "marla"; });
    vm->favSoundIds().set({});
  });
  // Observers were told before each change took effect.
  EXPECT_EQ(sizesSeenByObservers, (std::vector<size_t>{0, 1, 2}));
  EXPECT_EQ(vm->defaults()->objectForKey("favSoundIds"), Value(Value::Dictionary{}));
  // One console line per change, holding the whole map.
  EXPECT_EQ(printed,
            (std::vector<std::string>{R"(["tavo_hello": "tavo"])",
                                      R"(["marla_deal": "marla", "tavo_hello": "tavo"])", "[:]"}));
}

TEST_F(SoundViewModelTest, FavouritesLineStaysOneLineWhateverTheIds) {
  struct Row {
    SoundViewModel::FavouriteMap favourites;
    const char* line;
  };
  const Row rows[] = {
      {{{"a\nb", "e"}}, R"(["a\nb": "e"])"},
      {{{"say \"hi\"", "back\\slash"}}, R"(["say \"hi\"": "back\\slash"])"},
      {{{"tab\there", "cr\r"}}, R"(["tab\there": "cr\r"])"},
      {{{std::string("nul\0", 4), "bell\a"}}, R"(["nul\0": "bell\u{07}"])"},
      {{{"next\xC2\x85line", "para\xE2\x80\xA8graph"}},
       R"(["next\u{85}line": "para\u{2028}graph"])"},
      {{{"caf\xC3\xA9", "\xF0\x9F\x94\x8A"}}, "[\"caf\xC3\xA9\": \"\xF0\x9F\x94\x8A\"]"},
  };
  SoundViewModel vm;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    auto printed = stdoutLines([&] { vm.favSoundIds().set(row.favourites); });
    EXPECT_EQ(printed, std::vector<std::string>{row.line});
  }
}

TEST_F(SoundViewModelTest, FavouritesSurviveARelaunchAndRemovingTheLastKeepsAnEmptyDictionary) {
  {
    SoundViewModel vm;
    vm.favSoundIds().set({{"s1", "e1"}, {"s2", "e2"}});
  }
  platform::UserDefaults::resetForTesting();
  {
    SoundViewModel vm;
    EXPECT_EQ(vm.favSoundIds().get(), (SoundViewModel::FavouriteMap{{"s1", "e1"}, {"s2", "e2"}}));
    vm.favSoundIds().mutate([](auto& m) { m.erase("s1"); });
    vm.favSoundIds().mutate([](auto& m) { m.erase("s2"); });
  }
  platform::UserDefaults::resetForTesting();
  auto stored = platform::UserDefaults::standardUserDefaults()->objectForKey("favSoundIds");
  EXPECT_TRUE(stored.isDictionary());
  EXPECT_EQ(stored.count(), 0u);
  SoundViewModel vm;
  EXPECT_TRUE(vm.favSoundIds().get().empty());
}

TEST_F(SoundViewModelTest, StoredValueOfAnotherTypeStartsEmptyAndIsOverwrittenByTheFirstChange) {
  const Value wrong[] = {
      Value("tavo_hello"),
      Value(Value::Array{Value("a"), Value("b")}),
      Value(Value::Dictionary{{"s1", "e1"}, {"s2", Value(3)}}),
      Value(Value::Dictionary{{"s1", Value(Value::Array{})}}),
  };
  for (const auto& value : wrong) {
    auto defaults = platform::UserDefaults::standardUserDefaults();
    ASSERT_TRUE(defaults->setObject(value, "favSoundIds"));
    SoundViewModel vm;
    EXPECT_TRUE(vm.favSoundIds().get().empty()) << value.description();
    // Construction wrote nothing.
    EXPECT_EQ(defaults->objectForKey("favSoundIds"), value);
    vm.favSoundIds().mutate([](auto& m) { m["x"] = "y"; });
    EXPECT_EQ(defaults->objectForKey("favSoundIds"), Value(Value::Dictionary{{"x", "y"}}));
  }
}

// Favourites read while the defaults file could not be read are not known, not none: no change
// writes over them; the next change after the file reads again is applied onto what is stored,
// together with the changes made meanwhile.
TEST_F(SoundViewModelTest, FavouritesThatCouldNotBeReadAreNeverWrittenOver) {
  using platform::testing::UnreadableFile;
  using Map = SoundViewModel::FavouriteMap;
  struct Row {
    const char* name;
    // Changes made while the file cannot be read, then after it reads again.
    std::vector<std::pair<std::string, std::optional<std::string>>> whileUnreadable, afterwards;
    Map shownWhileUnreadable, stored;
    // Whether the model is left to read the file again by itself before the later changes.
    bool readsAgainByItself = false;
  };
  const Row rows[] = {
      {"the first change comes after the file reads again",
       {},
       {{"s3", "e3"}},
       {},
       {{"s1", "e1"}, {"s2", "e2"}, {"s3", "e3"}}},
      {"changes made meanwhile are kept until the file reads",
       {{"s3", "e3"}, {"s4", "e4"}, {"s4", std::nullopt}},
       {{"s5", "e5"}},
       {{"s3", "e3"}},
       {{"s1", "e1"}, {"s2", "e2"}, {"s3", "e3"}, {"s5", "e5"}}},
      {"the last change of a sound wins over what is stored",
       {{"s1", "e9"}},
       {{"s1", std::nullopt}},
       {{"s1", "e9"}},
       {{"s2", "e2"}}},
      {"changes made meanwhile reach the file once it reads, without another change",
       {{"s3", "e3"}},
       {},
       {{"s3", "e3"}},
       {{"s1", "e1"}, {"s2", "e2"}, {"s3", "e3"}},
       true},
  };
  for (auto cause : UnreadableFile::usableCauses()) {
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(UnreadableFile::name(cause)) + ": " + row.name);
      {
        auto defaults = platform::UserDefaults::standardUserDefaults();
        ASSERT_TRUE(defaults->setObject(Value(Value::Dictionary{{"s1", "e1"}, {"s2", "e2"}}),
                                        "favSoundIds"));
        ASSERT_TRUE(defaults->synchronize());
      }
      platform::UserDefaults::resetForTesting();
      const auto file = platform::SandboxHome::preferences() /
                        (platform::UserDefaults::standardUserDefaults()->domainName() + ".plist");
      auto apply = [](SoundViewModel& vm, const auto& changes) {
        for (const auto& [soundId, entityId] : changes) {
          vm.favSoundIds().mutate([&, soundId = soundId, entityId = entityId](Map& m) {
            if (entityId) {
              m[soundId] = *entityId;
            } else {
              m.erase(soundId);
            }
          });
        }
      };
      std::optional<SoundViewModel> vm;
      {
        UnreadableFile unreadable(cause, file);
        vm.emplace();
        apply(*vm, row.whileUnreadable);
        EXPECT_EQ(vm->favSoundIds().get(), row.shownWhileUnreadable);
      }
      const Value onDisk = storedFavourites();
      EXPECT_EQ(onDisk, Value(Value::Dictionary{{"s1", "e1"}, {"s2", "e2"}}))
          << "nothing written while the favourites were not known: " << onDisk.description();
      if (row.readsAgainByItself) {
        EXPECT_TRUE(pumpUntil([&] {
          clock().advance(1);
          return vm->favSoundIds().get() == row.stored;
        }));
      }
      apply(*vm, row.afterwards);
      EXPECT_EQ(vm->favSoundIds().get(), row.stored) << "the screen shows what is stored";
      vm.reset();
      platform::UserDefaults::resetForTesting();
      SoundViewModel relaunched;
      EXPECT_EQ(relaunched.favSoundIds().get(), row.stored);
    }
  }
}

// ---- Playing

TEST_F(SoundViewModelTest, PlayStopsTheCurrentPlayerSetsTheSessionAndSendsSoundPlay) {
  SoundViewModel vm;
  auto lines = stdoutLines([&] { vm.playSound(sound(0, 0), entity(0)); });
  EXPECT_TRUE(lines.empty());
  auto& player = soundPlayer();
  ASSERT_TRUE(player);
  EXPECT_TRUE(player->isPlaying());
  EXPECT_EQ(player->url(), *SoundViewModel::soundFileURL(*sound(0, 0), *entity(0)));
  auto& session = platform::app::AudioSession::sharedInstance();
  EXPECT_EQ(session.category(), platform::app::AudioSessionCategory::Playback);
  EXPECT_EQ(session.mode(), platform::app::AudioSessionMode::Default);
  EXPECT_TRUE(session.isActive());
  EXPECT_EQ(analyticsEvents(), std::vector<std::string>{"sound_play"});
  auto events = backendEvents();
  ASSERT_GE(events.size(), 3u);
  EXPECT_EQ(events[0], "category playback default 0");
  EXPECT_EQ(events[1], "active 1 0");
  EXPECT_EQ(events.back(), "start");
}

TEST_F(SoundViewModelTest, PlayingAnotherClipStopsTheFirstAndPlayingTheSameRestartsIt) {
  SoundViewModel vm;
  vm.playSound(sound(0, 0), entity(0));
  auto first = soundPlayer();
  backend_->pull(2000);
  ASSERT_GT(first->currentTime(), 0);

  vm.playSound(sound(1, 0), entity(1));
  EXPECT_FALSE(first->isPlaying());
  auto second = soundPlayer();
  EXPECT_NE(second, first);
  EXPECT_TRUE(second->isPlaying());
  EXPECT_EQ(backend_->startedStreamCount(), 1);
  // The old stream stopped before the new session set-up.
  auto events = backendEvents();
  auto firstStart = std::find(events.begin(), events.end(), "start");
  auto stop = std::find(firstStart, events.end(), "stop");
  auto secondCategory = std::find(firstStart, events.end(), "category playback default 0");
  EXPECT_LT(stop - events.begin(), secondCategory - events.begin());

  backend_->pull(2000);
  vm.playSound(sound(1, 0), entity(1));
  auto third = soundPlayer();
  EXPECT_NE(third, second) << "a new player for every play";
  EXPECT_FALSE(second->isPlaying());
  EXPECT_EQ(third->currentTime(), 0) << "restarted from the beginning";
  EXPECT_EQ(analyticsEvents(),
            (std::vector<std::string>{"sound_play", "sound_play", "sound_play"}));
}

// A failure at any step leaves the stopped previous player in place, prints the error and sends
// nothing; the category and activation are set again on the next call.
TEST_F(SoundViewModelTest, FailuresLeaveTheStoppedPlayerAndSendNoEvent) {
  struct Case {
    const char* name;
    void (platform::app::RecordingAudioBackend::*fail)(platform::ErrorPtr);
  } cases[] = {
      {"category", &platform::app::RecordingAudioBackend::failCategory},
      {"activation", &platform::app::RecordingAudioBackend::failActivation},
      {"file open", &platform::app::RecordingAudioBackend::failFileOpen},
  };
  SoundViewModel vm;
  for (const auto& c : cases) {
    vm.playSound(sound(0, 0), entity(0));
    auto previous = soundPlayer();
    ASSERT_TRUE(previous->isPlaying());
    analyticsEvents();
    vtu::testing::startCapturingLines();

    auto error = platform::Error::withDescription("test", 1, std::string("refused: ") + c.name);
    (backend_.get()->*c.fail)(error);
    auto lines = stdoutLines([&] { vm.playSound(sound(0, 1), entity(0)); });
    (backend_.get()->*c.fail)(nullptr);

    EXPECT_EQ(lines, std::vector<std::string>{std::string("refused: ") + c.name}) << c.name;
    EXPECT_EQ(soundPlayer(), previous) << c.name;
    EXPECT_FALSE(previous->isPlaying()) << c.name;
    EXPECT_TRUE(analyticsEvents().empty()) << c.name;
  }
}

TEST_F(SoundViewModelTest, ClipWithoutAFileFailsLikeAnUnopenablePlayer) {
  SoundViewModel vm;
  vm.playSound(sound(0, 0), entity(0));
  auto previous = soundPlayer();
  analyticsEvents();
  vtu::testing::startCapturingLines();
  size_t eventsBefore = backendEvents().size();

  auto ghost = std::make_shared<Sound>("no_such_clip", "Ghost");
  auto lines = stdoutLines([&] { vm.playSound(ghost, entity(0)); });
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("no_such_clip.mp3"), std::string::npos) << lines[0];
  EXPECT_EQ(soundPlayer(), previous);
  EXPECT_FALSE(previous->isPlaying());
  EXPECT_TRUE(analyticsEvents().empty());
  // The session was still set up, as for any play.
  auto events = backendEvents();
  std::vector<std::string> after(events.begin() + eventsBefore, events.end());
  EXPECT_NE(std::find(after.begin(), after.end(), "category playback default 0"), after.end());
  EXPECT_NE(std::find(after.begin(), after.end(), "active 1 0"), after.end());
}

TEST_F(SoundViewModelTest, MissingSoundBundleFindsNoFile) {
  tvs::testing::useBundle(bundleDir());  // the fixture's empty bundle
  EXPECT_FALSE(SoundViewModel::soundFileURL(*sound(0, 0), *entity(0)));
  SoundViewModel vm;
  auto lines = stdoutLines([&] { vm.playSound(sound(0, 0), entity(0)); });
  EXPECT_EQ(lines.size(), 1u);
  EXPECT_TRUE(analyticsEvents().empty());
}

TEST_F(SoundViewModelTest, IdsThatCouldLeaveTheirFolderFindNoFile) {
  // A real clip exists at app_sounds.bundle/tavo/tavo_hello.mp3; none of these may reach it or
  // anything else.
  struct Case {
    std::string entityId, soundId;
  } cases[] = {
      {"tavo", "../tavo/tavo_hello"},
      {"../app_sounds.bundle/tavo", "tavo_hello"},
      {"marla/../tavo", "tavo_hello"},
      {"tavo", std::string("tavo_hello\0x", 12)},
      {std::string("tavo\0", 5), "tavo_hello"},
      {"", "tavo_hello"},
      {".", "tavo_hello"},
      {"..", "tavo_hello"},
      {"tavo", ""},
      {"tavo", ".."},
  };
  for (const auto& c : cases) {
    SoundProducingEntity e(c.entityId, "x", "X", {});
    Sound s(c.soundId, "S");
    EXPECT_FALSE(SoundViewModel::soundFileURL(s, e)) << c.entityId << " / " << c.soundId;
  }
  auto good = SoundViewModel::soundFileURL(Sound("tavo_hello", "S"),
                                           SoundProducingEntity("tavo", "x", "X", {}));
  ASSERT_TRUE(good);
  EXPECT_EQ(*good, platform::fileUrlForPath(tvs::testing::builtBundle() / "app_sounds.bundle" /
                                            "tavo" / "tavo_hello.mp3"));
}

}  // namespace
