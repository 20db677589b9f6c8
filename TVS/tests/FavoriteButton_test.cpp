// The heart and share swipe actions on the entity page's rows, driven through the TestHost with
// the built app bundle, recorded haptics, the recording audio backend and the analytics front
// end's log lines.
#include "TVS/FavoriteButton.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "TVS/EntityLoader.h"
#include "TVS/EntityView.h"
#include "TVS/ShareButton.h"
#include "TVS/SoundViewModel.h"
#include "TVS/tests/TVSTestSupport.h"
#include "platform/app/ActivityViewController.h"
#include "platform/app/AppRunner.h"
#include "platform/app/Application.h"
#include "platform/app/AudioBackend.h"
#include "platform/app/Haptics.h"
#include "platform/testing/PlatformTest.h"
#include "platform/ui/TestHost.h"
#include "utilities/logger/VTULogger.h"

namespace {

using tvs::testing::analyticsEvents;

using namespace platform::ui;
using platform::app::HapticsLog;
using platform::app::ImpactStyle;

class FavoriteButtonTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    tvs::testing::useBundle(tvs::testing::builtBundle());
    backend_ = std::make_shared<platform::app::RecordingAudioBackend>();
    platform::app::AudioBackend::setCurrent(backend_);
    vtu::testing::startCapturingLines();
    HapticsLog::clear();
    catalogue_ = EntityLoader::loadEntities();
    ASSERT_GE(catalogue_.size(), 2u);
    entity_ = catalogue_[0];
    ASSERT_GE(entity_->sounds().size(), 3u);
    vm_ = std::make_shared<SoundViewModel>();
  }
  void TearDown() override {
    HapticsLog::setPulseHandler({});
    platform::app::AudioBackend::setCurrent(nullptr);
    PlatformTest::TearDown();
  }

  std::unique_ptr<TestHost> showEntityPage() {
    return std::make_unique<TestHost>(View(EntityView{entity_, vm_, 125}));
  }

  // The buttons of the row titled by clip `i`, revealed by a swipe.
  std::vector<Element> reveal(TestHost& host, std::size_t i) {
    auto row = host.findText(entity_->sounds()[i]->displayName());
    EXPECT_TRUE(row);
    if (!row) return {};
    auto actions = host.revealSwipeActions(*row);
    EXPECT_EQ(actions.size(), 2u);
    return actions;
  }

  // The favourite action's picture in the revealed row: "heartfill", "heart" or "" when neither.
  std::string heartShown(TestHost& host) {
    const bool filled = host.findImage("heartfill").has_value();
    const bool empty = host.findImage("heart").has_value();
    if (filled == empty) return filled ? "both" : "";
    return filled ? "heartfill" : "heart";
  }

  const std::string& soundId(std::size_t i) { return entity_->sounds()[i]->id(); }

  std::shared_ptr<platform::app::RecordingAudioBackend> backend_;
  std::vector<SoundProducingEntityPtr> catalogue_;
  SoundProducingEntityPtr entity_;
  SoundViewModelPtr vm_;
};

TEST_F(FavoriteButtonTest, FirstSwipeShowsTheHeartByTheFavouritesMap) {
  struct Case {
    SoundViewModel::FavouriteMap favourites;
    std::size_t row;
    const char* expected;
  };
  const std::string other = catalogue_[1]->id();
  const Case cases[] = {
      {{}, 0, "heart"},
      {{{soundId(0), entity_->id()}}, 0, "heartfill"},
      {{{soundId(0), entity_->id()}}, 1, "heart"},
      // Keyed by sound id alone, whichever entity it was added under.
      {{{soundId(1), other}}, 1, "heartfill"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected + std::string(" row ") + std::to_string(c.row));
    vm_->favSoundIds().set(c.favourites);
    auto host = showEntityPage();
    auto actions = reveal(*host, c.row);
    EXPECT_EQ(heartShown(*host), c.expected);
    EXPECT_TRUE(host->findImage("imessage"));
    // The heart comes first, the share button after it.
    ASSERT_EQ(actions.size(), 2u);
    EXPECT_LT(actions[0].frame().minX(), actions[1].frame().minX());
  }
}

TEST_F(FavoriteButtonTest, LongSwipeRevealsButPerformsNeitherAction) {
  auto host = showEntityPage();
  auto row = host->findText(entity_->sounds()[0]->displayName());
  ASSERT_TRUE(row);
  host->swipeRow(*row, 2000);
  host->pump();
  EXPECT_TRUE(vm_->favSoundIds().get().empty());
  EXPECT_TRUE(HapticsLog::impacts().empty());
  EXPECT_TRUE(analyticsEvents().empty());
  EXPECT_EQ(host->sheetCount(), 0u);
  EXPECT_EQ(heartShown(*host), "heart");
}

TEST_F(FavoriteButtonTest, TapAddsThenASecondTapRemoves) {
  // At the moment of each impact, the map has already changed.
  std::vector<bool> favouriteAtImpact;
  const std::string id = soundId(2);
  HapticsLog::setPulseHandler(
      [&](ImpactStyle) { favouriteAtImpact.push_back(vm_->isFavourite(id)); });
  auto host = showEntityPage();

  auto actions = reveal(*host, 2);
  ASSERT_EQ(actions.size(), 2u);
  EXPECT_TRUE(host->tap(actions[0]));
  host->pump();
  EXPECT_EQ(vm_->favSoundIds().get(), (SoundViewModel::FavouriteMap{{id, entity_->id()}}));
  EXPECT_EQ(analyticsEvents(), std::vector<std::string>{"sound_favorited"});
  EXPECT_EQ(HapticsLog::impacts(), std::vector<ImpactStyle>{ImpactStyle::Heavy});
  // Persisted as the whole map.
  EXPECT_EQ(vm_->defaults()->objectForKey("favSoundIds"),
            platform::Value(platform::Value::Dictionary{{id, entity_->id()}}));
  actions = reveal(*host, 2);
  EXPECT_EQ(heartShown(*host), "heartfill");

  ASSERT_EQ(actions.size(), 2u);
  EXPECT_TRUE(host->tap(actions[0]));
  host->pump();
  EXPECT_TRUE(vm_->favSoundIds().get().empty());
  EXPECT_EQ(analyticsEvents(), std::vector<std::string>{"sound_favorited"});
  EXPECT_EQ(HapticsLog::impacts(),
            (std::vector<ImpactStyle>{ImpactStyle::Heavy, ImpactStyle::Heavy}));
  EXPECT_EQ(favouriteAtImpact, (std::vector<bool>{true, false}));
  reveal(*host, 2);
  EXPECT_EQ(heartShown(*host), "heart");
}

TEST_F(FavoriteButtonTest, TheMapDecidesWhenAChangeElsewhereLeftTheFlagBehind) {
  auto host = showEntityPage();
  auto actions = reveal(*host, 0);
  EXPECT_EQ(heartShown(*host), "heart");

  // Another screen adds the clip while this row's button keeps its own flag.
  vm_->favSoundIds().mutate([&](auto& map) { map[soundId(0)] = entity_->id(); });
  host->pump();
  actions = reveal(*host, 0);
  EXPECT_EQ(heartShown(*host), "heart");

  ASSERT_EQ(actions.size(), 2u);
  host->tap(actions[0]);
  host->pump();
  EXPECT_FALSE(vm_->isFavourite(soundId(0)));
  EXPECT_TRUE(analyticsEvents().empty());
  EXPECT_EQ(HapticsLog::impacts(), std::vector<ImpactStyle>{ImpactStyle::Heavy});
  reveal(*host, 0);
  EXPECT_EQ(heartShown(*host), "heart");
}

TEST_F(FavoriteButtonTest, ShareGivesTheImpactFirstThenSharesThisRowsClipOnce) {
  for (bool favourite : {false, true}) {
    SCOPED_TRACE(favourite);
    HapticsLog::clear();
    vtu::testing::startCapturingLines();
    SoundViewModel::FavouriteMap before;
    if (favourite) before[soundId(1)] = entity_->id();
    vm_->favSoundIds().set(before);

    auto entity = entity_;
    auto vm = vm_;
    auto host = showEntityPage();
    auto window = platform::app::attachWindow(host->host(), {[entity, vm] {
                                                return View(EntityView{entity, vm, 125});
                                              }});
    auto root = window->rootViewController();
    ASSERT_NE(root, nullptr);
    std::vector<bool> presentedAtImpact;
    HapticsLog::setPulseHandler([&](ImpactStyle) {
      presentedAtImpact.push_back(root->presentedViewController() != nullptr);
    });

    auto actions = reveal(*host, 1);
    ASSERT_EQ(actions.size(), 2u);
    EXPECT_TRUE(host->tap(actions[1]));
    host->pump();

    EXPECT_EQ(HapticsLog::impacts(), std::vector<ImpactStyle>{ImpactStyle::Heavy});
    EXPECT_EQ(presentedAtImpact, std::vector<bool>{false});
    auto sheet = std::dynamic_pointer_cast<platform::app::ActivityViewController>(
        root->presentedViewController());
    ASSERT_NE(sheet, nullptr);
    ASSERT_EQ(sheet->activityItems().size(), 1u);
    EXPECT_EQ(sheet->activityItems()[0],
              platform::Value(*SoundViewModel::soundFileURL(*entity_->sounds()[1], *entity_)));
    EXPECT_EQ(analyticsEvents(), std::vector<std::string>{"sound_share"});
    EXPECT_EQ(vm_->favSoundIds().get(), before);

    root->dismissViewControllerAnimated(false, {});
    host->pump();
    platform::app::Application::sharedApplication()->removeWindow(window);
    HapticsLog::setPulseHandler({});
  }
}

}  // namespace
