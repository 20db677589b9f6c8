// The screens driven through the headless TestHost, with the built app bundle (catalogue,
// portraits, tiles) and the recording audio backend.
#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "TVS/BackgroundView.h"
#include "TVS/ContentView.h"
#include "TVS/EntitiesView.h"
#include "TVS/EntityLoader.h"
#include "TVS/EntityView.h"
#include "TVS/SoundViewModel.h"
#include "TVS/tests/TVSTestSupport.h"
#include "platform/app/AudioBackend.h"
#include "platform/testing/PlatformTest.h"
#include "platform/ui/TestHost.h"

namespace {

using namespace platform::ui;
using tvs::testing::stdoutLines;

class ScreensTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    tvs::testing::useBundle(tvs::testing::builtBundle());
    backend_ = std::make_shared<platform::app::RecordingAudioBackend>();
    platform::app::AudioBackend::setCurrent(backend_);
    catalogue_ = EntityLoader::loadEntities();
    ASSERT_GE(catalogue_.size(), 6u);
    vm_ = std::make_shared<SoundViewModel>();
  }
  void TearDown() override {
    platform::app::AudioBackend::setCurrent(nullptr);
    PlatformTest::TearDown();
  }

  // A test bundle holding the built bundle's artwork and the given catalogue.
  void useCatalogue(const std::string& json) {
    std::filesystem::copy(tvs::testing::builtBundle() / "Assets", bundleDir() / "Assets",
                          std::filesystem::copy_options::recursive);
    tvs::testing::writeFile(bundleDir() / "SoundProducingEntities.json", json);
    tvs::testing::useBundle(bundleDir());
  }

  std::vector<Element> portraits(TestHost& host) {
    std::vector<Element> found;
    for (const auto& entity : catalogue_) {
      for (auto& element : host.findAllImages(entity->imageName())) found.push_back(element);
    }
    std::sort(found.begin(), found.end(), [](const Element& a, const Element& b) {
      return a.frame().y != b.frame().y ? a.frame().y < b.frame().y : a.frame().x < b.frame().x;
    });
    return found;
  }

  std::shared_ptr<platform::app::RecordingAudioBackend> backend_;
  std::vector<SoundProducingEntityPtr> catalogue_;
  SoundViewModelPtr vm_;
};

// The grid's rule: at least one column; each further column needs imageSize plus the default
// spacing; spare width is shared; portraits keep their size and are centred in their columns.
TEST_F(ScreensTest, GridColumnsFollowTheWindowWidth) {
  struct Case {
    double width;
    int columns;
  } cases[] = {{100, 1}, {200, 1}, {256, 2}, {390, 3}, {500, 4}, {820, 6}};
  for (const auto& c : cases) {
    TestHost host(View(EntitiesView{vm_, 110, catalogue_}), {.size = {c.width, 2000}});
    auto cells = portraits(host);
    ASSERT_EQ(cells.size(), catalogue_.size()) << c.width;
    const double firstRowY = cells[0].frame().y;
    int columns = 0;
    for (const auto& cell : cells) columns += cell.frame().y == firstRowY ? 1 : 0;
    EXPECT_EQ(columns, c.columns) << "width " << c.width;

    const double available = c.width - 20;
    const double columnWidth = (available - (c.columns - 1) * kDefaultSpacing) / c.columns;
    for (int i = 0; i < columns; ++i) {
      Rect frame = cells[i].frame();
      EXPECT_DOUBLE_EQ(frame.width, 110) << "width " << c.width;
      EXPECT_DOUBLE_EQ(frame.height, 110) << "width " << c.width;
      if (c.width >= 130) {
        double expectedMid = 10 + i * (columnWidth + kDefaultSpacing) + columnWidth / 2;
        EXPECT_NEAR(frame.midX(), expectedMid, 0.5) << "width " << c.width << " column " << i;
      }
    }
    // Rows are 20 points apart, and the first starts below the 20-point spacer.
    if (cells.size() > static_cast<size_t>(c.columns)) {
      EXPECT_NEAR(cells[c.columns].frame().y - firstRowY, 110 + 20, 0.5) << c.width;
    }
    EXPECT_GE(firstRowY, 20);
  }
}

TEST_F(ScreensTest, EmptyCatalogueShowsOnlyTheSpacerOverTheBackground) {
  TestHost host(View(EntitiesView{vm_, 110, {}}));
  EXPECT_TRUE(portraits(host).empty());
  EXPECT_TRUE(host.texts().empty());
  EXPECT_TRUE(host.findImage("what-the-hex"));
}

TEST_F(ScreensTest, EveryEntityGetsACellInOrderWhateverItsFlags) {
  useCatalogue(R"([
    {"id": "a", "imageName": "greta", "displayName": "A", "disabled": true, "sounds": []},
    {"id": "b", "imageName": "tavo", "displayName": "B", "special_tag": "x", "sounds": []},
    {"id": "c", "imageName": "marla", "displayName": "C", "disabled": false, "sounds": []},
    {"id": "d", "imageName": "no-such-portrait", "displayName": "D", "sounds": []}
  ])");
  auto entities = EntityLoader::loadEntities();
  ASSERT_EQ(entities.size(), 4u);
  TestHost host(View(NavigationView(View(EntitiesView{vm_, 110, entities}))), {.size = {390, 844}});
  auto greta = host.findImage("greta");
  auto tavo = host.findImage("tavo");
  auto marla = host.findImage("marla");
  ASSERT_TRUE(greta && tavo && marla);
  EXPECT_LT(greta->frame().x, tavo->frame().x);
  EXPECT_LT(tavo->frame().x, marla->frame().x);
  // The cell without a picture still links to its page.
  ASSERT_EQ(host.navigationDepth(), 0u);
  Point fourth{10 + 55, marla->frame().maxY() + 20 + 55};
  EXPECT_TRUE(host.host().tap(fourth));
  host.pump();
  EXPECT_EQ(host.navigationTitle(), "D");
}

TEST_F(ScreensTest, CellPushesTheEntityPageWithA125PointPortrait) {
  TestHost host(View(ContentView{catalogue_, [this] { return vm_; }}));
  auto cell = host.findImage(catalogue_[0]->imageName());
  ASSERT_TRUE(cell);
  EXPECT_DOUBLE_EQ(cell->frame().width, 110);
  ASSERT_TRUE(host.tap(*cell));
  EXPECT_EQ(host.navigationTitle(), catalogue_[0]->displayName());
  auto portrait = host.findImage(catalogue_[0]->imageName());
  ASSERT_TRUE(portrait);
  EXPECT_DOUBLE_EQ(portrait->frame().width, 125);
  EXPECT_DOUBLE_EQ(portrait->frame().height, 125);
  EXPECT_TRUE(host.goBack());
  EXPECT_EQ(host.navigationTitle(), "Tavo Vastrow Soundboard");
}

TEST_F(ScreensTest, EntityPageListsEveryClipInCatalogueOrder) {
  useCatalogue(R"([{"id": "e", "imageName": "tavo", "displayName": "Person", "sounds": [
    {"id": "one", "displayName": "First clip"},
    {"id": "two", "displayName": "Second clip", "locked": true},
    {"id": "three", "displayName": "Third clip", "skip": true},
    {"id": "four", "displayName": "Fourth clip", "locked": false, "skip": false}]},
    {"id": "empty", "imageName": "marla", "displayName": "Nobody", "sounds": []}])");
  auto entities = EntityLoader::loadEntities();
  ASSERT_EQ(entities.size(), 2u);
  {
    TestHost host(View(NavigationView(View(EntityView{entities[0], vm_, 125}))));
    EXPECT_EQ(host.navigationTitle(), "Person");
    EXPECT_EQ(host.texts(),
              (std::vector<std::string>{"First clip", "Second clip", "Third clip", "Fourth clip"}));
  }
  {
    TestHost host(View(NavigationView(View(EntityView{entities[1], vm_, 125}))));
    EXPECT_EQ(host.navigationTitle(), "Nobody");
    EXPECT_TRUE(host.findImage("marla"));
    EXPECT_TRUE(host.texts().empty());
  }
}

TEST_F(ScreensTest, TapPrintsTheClipIdAndPlaysItThenAnotherTapSwitchesClips) {
  auto entity = catalogue_[0];
  TestHost host(View(EntityView{entity, vm_, 125}));
  auto first = host.findText(entity->sounds()[0]->displayName());
  auto second = host.findText(entity->sounds()[1]->displayName());
  ASSERT_TRUE(first && second);

  auto lines = stdoutLines([&] { EXPECT_TRUE(host.tap(*first)); });
  EXPECT_EQ(lines, std::vector<std::string>{entity->sounds()[0]->id()});
  auto playing = soundPlayer();
  EXPECT_TRUE(playing->isPlaying());
  EXPECT_EQ(playing->url(), *SoundViewModel::soundFileURL(*entity->sounds()[0], *entity));

  lines = stdoutLines([&] { EXPECT_TRUE(host.tap(*second)); });
  EXPECT_EQ(lines, std::vector<std::string>{entity->sounds()[1]->id()});
  EXPECT_FALSE(playing->isPlaying());
  EXPECT_TRUE(soundPlayer()->isPlaying());
  EXPECT_EQ(soundPlayer()->url(), *SoundViewModel::soundFileURL(*entity->sounds()[1], *entity));
}

TEST_F(ScreensTest, RowTitleColourFollowsTheColourScheme) {
  auto entity = catalogue_[0];
  TestHost host(View(EntityView{entity, vm_, 125}), {.colorScheme = ColorScheme::light});
  const std::string title = entity->sounds()[0]->displayName();
  auto text = host.findText(title);
  ASSERT_TRUE(text);
  EXPECT_EQ(text->foregroundColor(), Color::black());
  EXPECT_EQ(text->font(), Font::title().withWeight(FontWeight::semibold));
  EXPECT_NEAR(text->effectiveOpacity(), 0.9, 1e-9);
  EXPECT_TRUE(host.findImage("what-the-hex"));

  host.setColorScheme(ColorScheme::dark);
  text = host.findText(title);
  ASSERT_TRUE(text);
  EXPECT_EQ(text->foregroundColor(), Color::white());
  EXPECT_NEAR(text->effectiveOpacity(), 0.9, 1e-9);
  EXPECT_TRUE(host.findImage("what-the-hex-dark"));
  EXPECT_FALSE(host.findImage("what-the-hex"));
}

TEST_F(ScreensTest, RootScreenTitleToolbarAndOneViewModelAcrossRebuilds) {
  int made = 0;
  TestHost host(View(ContentView{catalogue_, [&] {
                                   ++made;
                                   return vm_;
                                 }}));
  EXPECT_EQ(host.navigationTitle(), "Tavo Vastrow Soundboard");
  EXPECT_TRUE(host.findSymbol("heart.fill"));
  EXPECT_TRUE(host.findSymbol("gear"));
  EXPECT_EQ(host.findSymbol("heart.fill")->foregroundColor(), Color::pink());
  EXPECT_EQ(made, 1);

  // A change of the model, a colour-scheme switch and a trip to an entity page keep the model.
  vm_->favSoundIds().mutate([](auto& m) { m["a"] = "b"; });
  host.pump();
  host.setColorScheme(ColorScheme::dark);
  ASSERT_TRUE(host.tap(*host.findImage(catalogue_[1]->imageName())));
  EXPECT_TRUE(host.goBack());
  EXPECT_EQ(made, 1);
}

// ---- Snapshots, checked by pixel probes.

struct Pixel {
  int r, g, b;
};

class Png {
 public:
  explicit Png(const std::filesystem::path& path)
      : surface_(cairo_image_surface_create_from_png(path.c_str())) {}
  ~Png() { cairo_surface_destroy(surface_); }
  bool ok() const { return cairo_surface_status(surface_) == CAIRO_STATUS_SUCCESS; }
  int width() const { return cairo_image_surface_get_width(surface_); }
  int height() const { return cairo_image_surface_get_height(surface_); }
  Pixel at(double x, double y) const {
    cairo_surface_flush(surface_);
    const unsigned char* data = cairo_image_surface_get_data(surface_);
    const int stride = cairo_image_surface_get_stride(surface_);
    auto px =
        reinterpret_cast<const uint32_t*>(data + static_cast<int>(y) * stride)[static_cast<int>(x)];
    return {static_cast<int>((px >> 16) & 0xff), static_cast<int>((px >> 8) & 0xff),
            static_cast<int>(px & 0xff)};
  }

 private:
  cairo_surface_t* surface_;
};

bool isWhite(Pixel p) { return p.r > 235 && p.g > 235 && p.b > 235; }
int brightness(Pixel p) { return (p.r + p.g + p.b) / 3; }

TEST_F(ScreensTest, GridSnapshotsInLightAndDark) {
  for (ColorScheme scheme : {ColorScheme::light, ColorScheme::dark}) {
    const bool dark = scheme == ColorScheme::dark;
    TestHost host(View(ContentView{catalogue_, [this] { return vm_; }}),
                  {.size = {390, 844}, .colorScheme = scheme});
    auto cell = host.findImage("tavo");
    ASSERT_TRUE(cell);
    Rect f = cell->frame();
    auto path = home() / (dark ? "grid-dark.png" : "grid-light.png");
    ASSERT_TRUE(host.snapshot(path));
    Png png(path);
    ASSERT_TRUE(png.ok());
    ASSERT_EQ(png.width(), 390);
    // The portrait's own colour just below the top of the circle (the ring covers its edge).
    Pixel inside = png.at(f.midX(), f.minY() + 6);
    EXPECT_GT(inside.r, inside.b + 60) << "the orange portrait";
    // The white ring on the circle's edge.
    EXPECT_TRUE(isWhite(png.at(f.midX(), f.minY() + 0.5))) << dark;
    // A corner of the cell is outside the circle: background, not portrait.
    Pixel corner = png.at(f.minX() + 2, f.minY() + 2);
    EXPECT_LT(std::abs(corner.r - corner.b), 40) << "grey background or shadow";
    // Far from every portrait, the tile: light or dark.
    Pixel empty = png.at(5, 843);
    if (dark) {
      EXPECT_LT(brightness(empty), 80);
    } else {
      EXPECT_GT(brightness(empty), 180);
    }
  }
}

TEST_F(ScreensTest, EntityPageSnapshotsInLightAndDark) {
  auto entity = catalogue_[0];
  for (ColorScheme scheme : {ColorScheme::light, ColorScheme::dark}) {
    const bool dark = scheme == ColorScheme::dark;
    TestHost host(View(NavigationView(View(EntityView{entity, vm_, 125}))),
                  {.size = {390, 844}, .colorScheme = scheme});
    auto portrait = host.findImage(entity->imageName());
    auto title = host.findText(entity->sounds()[0]->displayName());
    ASSERT_TRUE(portrait && title);
    auto path = home() / (dark ? "entity-dark.png" : "entity-light.png");
    ASSERT_TRUE(host.snapshot(path));
    Png png(path);
    ASSERT_TRUE(png.ok());
    Rect p = portrait->frame();
    EXPECT_DOUBLE_EQ(p.width, 125);
    EXPECT_GT(png.at(p.midX(), p.minY() + 6).r, png.at(p.midX(), p.minY() + 6).b + 60);
    // Within the grey plate of the first row, left of the centred title: grey at half opacity
    // over the tile, darker than the light tile and lighter than the dark one.
    Rect t = title->frame();
    Pixel plate = png.at(20, t.midY());
    if (dark) {
      EXPECT_GT(brightness(plate), 45);
      EXPECT_LT(brightness(plate), 110);
    } else {
      EXPECT_GT(brightness(plate), 150);
      EXPECT_LT(brightness(plate), 225);
    }
    // The title's glyphs: somewhere across the text some pixel is near black (light) or near
    // white (dark).
    bool found = false;
    for (double x = t.minX(); x < t.maxX() && !found; x += 1) {
      Pixel q = png.at(x, t.midY());
      found = dark ? brightness(q) > 200 : brightness(q) < 50;
    }
    EXPECT_TRUE(found) << (dark ? "white title" : "black title");
  }
}

// The background repeats its tile at the tile's own size, on any window size, in both schemes.
TEST_F(ScreensTest, BackgroundTilesAtItsNaturalSize) {
  for (const char* name : {"what-the-hex", "what-the-hex-dark"}) {
    Png tile(tvs::testing::builtBundle() / "Assets" / (std::string(name) + ".png"));
    ASSERT_TRUE(tile.ok());
    const int tw = tile.width();
    const int th = tile.height();
    const ColorScheme scheme =
        std::string(name) == "what-the-hex" ? ColorScheme::light : ColorScheme::dark;
    for (Size size : {Size{390, 844}, kPadSize}) {
      TestHost host(View(BackgroundView{}), {.size = size, .colorScheme = scheme});
      auto path = home() / "background.png";
      ASSERT_TRUE(host.snapshot(path));
      Png png(path);
      ASSERT_TRUE(png.ok());
      int differing = 0;
      int compared = 0;
      for (int y = 0; y + th < size.height; y += 7) {
        for (int x = 0; x + tw < size.width; x += 5) {
          Pixel a = png.at(x, y), b = png.at(x + tw, y), c = png.at(x, y + th);
          ++compared;
          if (a.r != b.r || a.g != b.g || a.b != b.b || a.r != c.r || a.g != c.g || a.b != c.b) {
            ++differing;
          }
        }
      }
      EXPECT_GT(compared, 1000);
      EXPECT_EQ(differing, 0) << name << " at " << size.width << "x" << size.height;
      // And the pattern is there: the tile is not one flat colour.
      std::set<int> shades;
      for (int x = 0; x < tw; ++x) shades.insert(brightness(png.at(x, th / 2)));
      EXPECT_GT(shades.size(), 1u) << name;
    }
  }
}

}  // namespace
