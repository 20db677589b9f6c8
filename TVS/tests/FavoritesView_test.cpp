// The favourites screen, driven through the TestHost with the built app bundle, recorded haptics
// and the analytics front end's log lines; reached directly and through the root screen.
#include "TVS/FavoritesView.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "TVS/ContentView.h"
#include "TVS/EntityLoader.h"
#include "TVS/SoundViewModel.h"
#include "TVS/tests/TVSTestSupport.h"
#include "platform/app/AudioBackend.h"
#include "platform/app/Haptics.h"
#include "platform/base/UserDefaults.h"
#include "platform/testing/PlatformTest.h"
#include "platform/ui/TestHost.h"
#include "utilities/logger/VTULogger.h"

namespace {

using tvs::testing::analyticsEvents;

using namespace platform::ui;
using platform::Value;
using platform::app::HapticsLog;
using platform::app::ImpactStyle;

class FavoritesViewTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    tvs::testing::useBundle(tvs::testing::builtBundle());
    backend_ = std::make_shared<platform::app::RecordingAudioBackend>();
    platform::app::AudioBackend::setCurrent(backend_);
    vtu::testing::startCapturingLines();
    HapticsLog::clear();
    catalogue_ = EntityLoader::loadEntities();
    ASSERT_GE(catalogue_.size(), 3u);
    vm_ = std::make_shared<SoundViewModel>();
  }
  void TearDown() override {
    platform::app::AudioBackend::setCurrent(nullptr);
    PlatformTest::TearDown();
  }

  std::unique_ptr<TestHost> showFavorites(SoundViewModelPtr vm = nullptr) {
    return std::make_unique<TestHost>(View(FavoritesView{vm ? vm : vm_, 70}));
  }

  SoundPtr sound(std::size_t e, std::size_t s) { return catalogue_.at(e)->sounds().at(s); }

  // The portrait drawn in the same row as `title`.
  std::optional<Element> portraitBeside(TestHost& host, const Element& title,
                                        const std::string& imageName) {
    for (auto& image : host.findAllImages(imageName)) {
      const Rect f = image.frame();
      if (f.minY() <= title.frame().midY() && title.frame().midY() <= f.maxY()) return image;
    }
    return std::nullopt;
  }

  std::shared_ptr<platform::app::RecordingAudioBackend> backend_;
  std::vector<SoundProducingEntityPtr> catalogue_;
  SoundViewModelPtr vm_;
};

TEST_F(FavoritesViewTest, EmptyMapShowsAnEmptyListWithoutAMessage) {
  auto host = showFavorites();
  EXPECT_TRUE(host->texts().empty());
  // The tiled background is still there.
  EXPECT_TRUE(host->findImage("what-the-hex"));
}

TEST_F(FavoritesViewTest, FavouritesOfSeveralPeopleAreMixedEachBesideItsOwnPortrait) {
  // Two clips of the first person, one each of two others.
  const std::vector<std::pair<std::size_t, std::size_t>> picks = {{0, 0}, {0, 2}, {1, 1}, {2, 0}};
  SoundViewModel::FavouriteMap favourites;
  for (auto [e, s] : picks) favourites[sound(e, s)->id()] = catalogue_[e]->id();
  vm_->favSoundIds().set(favourites);

  auto host = showFavorites();
  std::set<double> rowsY;
  for (auto [e, s] : picks) {
    SCOPED_TRACE(sound(e, s)->id());
    auto title = host->findText(sound(e, s)->displayName());
    ASSERT_TRUE(title);
    rowsY.insert(title->frame().midY());
    auto portrait = portraitBeside(*host, *title, catalogue_[e]->imageName());
    ASSERT_TRUE(portrait);
    EXPECT_DOUBLE_EQ(portrait->frame().width, 70);
    EXPECT_DOUBLE_EQ(portrait->frame().height, 70);
    EXPECT_LT(portrait->frame().maxX(), title->frame().midX());
  }
  EXPECT_EQ(rowsY.size(), picks.size());
  EXPECT_EQ(host->findAllImages(catalogue_[0]->imageName()).size(), 2u);
  // Nothing but the four clip titles: no title, no caption.
  EXPECT_EQ(host->texts().size(), picks.size());

  // A row plays its own clip.
  auto title = host->findText(sound(1, 1)->displayName());
  host->tap(*title);
  host->pump();
  EXPECT_EQ(analyticsEvents(), std::vector<std::string>{"sound_play"});
}

TEST_F(FavoritesViewTest, EveryRowShowsAFilledHeartAndUnfavouritingRemovesTheRow) {
  vm_->favSoundIds().set({{sound(0, 1)->id(), catalogue_[0]->id()},
                          {sound(1, 0)->id(), catalogue_[1]->id()},
                          {sound(2, 3)->id(), catalogue_[2]->id()}});
  auto host = showFavorites();
  for (auto [e, s] : std::vector<std::pair<std::size_t, std::size_t>>{{0, 1}, {1, 0}, {2, 3}}) {
    auto row = host->findText(sound(e, s)->displayName());
    ASSERT_TRUE(row);
    host->revealSwipeActions(*row);
    EXPECT_TRUE(host->findImage("heartfill"));
    EXPECT_FALSE(host->findImage("heart"));
    EXPECT_TRUE(host->findImage("imessage"));
    host->host().closeSwipeActions();
    host->pump();
  }

  auto row = host->findText(sound(1, 0)->displayName());
  auto actions = host->revealSwipeActions(*row);
  ASSERT_EQ(actions.size(), 2u);
  EXPECT_TRUE(host->tap(actions[0]));
  host->pump();
  EXPECT_FALSE(host->findText(sound(1, 0)->displayName()));
  EXPECT_TRUE(host->findText(sound(0, 1)->displayName()));
  EXPECT_TRUE(host->findText(sound(2, 3)->displayName()));
  EXPECT_FALSE(vm_->isFavourite(sound(1, 0)->id()));
  EXPECT_TRUE(analyticsEvents().empty());
  EXPECT_EQ(HapticsLog::impacts(), std::vector<ImpactStyle>{ImpactStyle::Heavy});
}

TEST_F(FavoritesViewTest, FavouritesOfAPreviousLaunchAreListed) {
  {
    SoundViewModel previous;
    previous.favSoundIds().set(
        {{sound(0, 0)->id(), catalogue_[0]->id()}, {sound(2, 1)->id(), catalogue_[2]->id()}});
  }
  platform::UserDefaults::resetForTesting();
  auto relaunched = std::make_shared<SoundViewModel>();
  auto host = showFavorites(relaunched);
  EXPECT_TRUE(host->findText(sound(0, 0)->displayName()));
  EXPECT_TRUE(host->findText(sound(2, 1)->displayName()));
  EXPECT_EQ(host->texts().size(), 2u);
}

TEST_F(FavoritesViewTest, AFavouriteTheCatalogueNoLongerHoldsIsLeftOutButKept) {
  const Value::Dictionary stored = {
      {"clip_of_an_older_catalogue", Value(catalogue_[0]->id())},
      {sound(1, 0)->id(), Value("person_of_an_older_catalogue")},
      {sound(2, 0)->id(), Value(catalogue_[2]->id())},
  };
  ASSERT_TRUE(
      platform::UserDefaults::standardUserDefaults()->setObject(Value(stored), "favSoundIds"));
  auto vm = std::make_shared<SoundViewModel>();
  auto host = showFavorites(vm);
  EXPECT_EQ(host->texts(), std::vector<std::string>{sound(2, 0)->displayName()});

  // Un-favouriting the one shown row keeps the two entries a later catalogue may bring back.
  auto actions = host->revealSwipeActions(*host->findText(sound(2, 0)->displayName()));
  ASSERT_EQ(actions.size(), 2u);
  host->tap(actions[0]);
  host->pump();
  EXPECT_TRUE(host->texts().empty());
  Value::Dictionary expected = stored;
  expected.erase(sound(2, 0)->id());
  EXPECT_EQ(platform::UserDefaults::standardUserDefaults()->objectForKey("favSoundIds"),
            Value(expected));
}

TEST_F(FavoritesViewTest, RootScreenLinksOpenFavouritesAndSettingsWithTheSameViewModel) {
  auto vm = vm_;
  vm_->favSoundIds().set({{sound(1, 2)->id(), catalogue_[1]->id()}});
  TestHost host(View(ContentView{catalogue_, [vm] { return vm; }}));
  auto heart = host.findSymbol("heart.fill");
  ASSERT_TRUE(heart);
  EXPECT_EQ(heart->foregroundColor(), Color::pink());
  ASSERT_TRUE(host.tap(*heart));
  host.pump();
  EXPECT_EQ(host.navigationDepth(), 1u);
  EXPECT_EQ(host.navigationTitle(), "");
  auto title = host.findText(sound(1, 2)->displayName());
  ASSERT_TRUE(title);
  auto portrait = portraitBeside(host, *title, catalogue_[1]->imageName());
  ASSERT_TRUE(portrait);
  EXPECT_DOUBLE_EQ(portrait->frame().width, 70);

  // Un-favourite here; back on the grid and again on the favourites screen the change shows.
  auto actions = host.revealSwipeActions(*title);
  ASSERT_EQ(actions.size(), 2u);
  host.tap(actions[0]);
  host.pump();
  EXPECT_TRUE(vm_->favSoundIds().get().empty());
  ASSERT_TRUE(host.goBack());
  host.pump();
  ASSERT_TRUE(host.tap(*host.findSymbol("heart.fill")));
  host.pump();
  EXPECT_FALSE(host.findText(sound(1, 2)->displayName()));
  ASSERT_TRUE(host.goBack());
  host.pump();

  auto gear = host.findSymbol("gear");
  ASSERT_TRUE(gear);
  ASSERT_TRUE(host.tap(*gear));
  host.pump();
  EXPECT_EQ(host.navigationTitle(), "Settings");
  EXPECT_TRUE(host.findText("Tavo Vastrow Soundboard Version 2.0.1"));
}

TEST_F(FavoritesViewTest, SnapshotWithARowsActionsRevealed) {
  vm_->favSoundIds().set(
      {{sound(0, 0)->id(), catalogue_[0]->id()}, {sound(1, 0)->id(), catalogue_[1]->id()}});
  auto host = showFavorites();
  auto row = host->findText(sound(0, 0)->displayName());
  ASSERT_TRUE(row);
  host->revealSwipeActions(*row);
  auto heart = host->findImage("heartfill");
  auto share = host->findImage("imessage");
  ASSERT_TRUE(heart && share);
  const auto path = home() / "favourites-actions.png";
  ASSERT_TRUE(host->snapshot(path));

  cairo_surface_t* png = cairo_image_surface_create_from_png(path.c_str());
  ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
  EXPECT_EQ(cairo_image_surface_get_width(png), static_cast<int>(kPhoneSize.width));
  cairo_surface_flush(png);
  const unsigned char* data = cairo_image_surface_get_data(png);
  const int stride = cairo_image_surface_get_stride(png);
  const Rect f = heart->frame();
  const auto px = reinterpret_cast<const uint32_t*>(data + static_cast<int>(f.midY()) *
                                                               stride)[static_cast<int>(f.midX())];
  const int r = (px >> 16) & 0xff, g = (px >> 8) & 0xff, b = px & 0xff;
  cairo_surface_destroy(png);
  // The red of the filled heart where the revealed action sits.
  EXPECT_GT(r, g + 80);
  EXPECT_GT(r, b + 40);
}

}  // namespace
