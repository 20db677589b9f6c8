#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>

#include "platform/testing/PlatformTest.h"
#include "platform/ui/UI.h"
#include "platform/ui/tests/TestAssets.h"

namespace platform::ui {
namespace {

struct Pixel {
  int r, g, b;
};

class Png {
 public:
  explicit Png(const std::filesystem::path& path) : s_(cairo_image_surface_create_from_png(path.c_str())) {}
  ~Png() { cairo_surface_destroy(s_); }
  bool ok() const { return cairo_surface_status(s_) == CAIRO_STATUS_SUCCESS; }
  int width() const { return cairo_image_surface_get_width(s_); }
  int height() const { return cairo_image_surface_get_height(s_); }
  Pixel at(double x, double y) const {
    const unsigned char* d = cairo_image_surface_get_data(s_);
    int stride = cairo_image_surface_get_stride(s_);
    std::uint32_t v = *reinterpret_cast<const std::uint32_t*>(d + static_cast<int>(y) * stride + static_cast<int>(x) * 4);
    return {static_cast<int>((v >> 16) & 255), static_cast<int>((v >> 8) & 255), static_cast<int>(v & 255)};
  }

 private:
  cairo_surface_t* s_;
};

::testing::AssertionResult near(Pixel p, Pixel q, int tolerance = 12) {
  if (std::abs(p.r - q.r) <= tolerance && std::abs(p.g - q.g) <= tolerance && std::abs(p.b - q.b) <= tolerance) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "(" << p.r << "," << p.g << "," << p.b << ") vs (" << q.r << ","
                                       << q.g << "," << q.b << ")";
}

const Pixel kRed{255, 0, 0}, kBlue{0, 0, 255}, kGreen{0, 255, 0}, kWhite{255, 255, 255}, kBlack{0, 0, 0};

class SnapshotTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    ui::testing::writeAsset(bundleDir(), "tile", 20, 20, Color::rgb(1, 0, 0), Color::rgb(0, 0, 1));
    ui::testing::writeAsset(bundleDir(), "portrait", 40, 80, Color::rgb(0, 1, 0));
  }
};

View portrait() {
  return Image("portrait")
      .resizable()
      .clipShape(Circle())
      .shadow(Color::whiteLevel(0, 0.33), 5)
      .overlay(Circle().stroke(Color::white(), 3))
      .frame(110, 110);
}

TEST_F(SnapshotTest, TiledBackgroundRepeatsAtItsNaturalSize) {
  TestHost host(View(Spacer()).frame({.maxWidth = infinity, .maxHeight = infinity})
                    .background(Image("tile").resizable({}, ImageResizingMode::tile).edgesIgnoringSafeArea()),
                {.size = {100, 60}});
  auto path = home() / "tile.png";
  ASSERT_TRUE(host.snapshot(path));
  Png png(path);
  ASSERT_TRUE(png.ok());
  EXPECT_EQ(png.width(), 100);
  for (double x : {5.0, 25.0, 85.0}) EXPECT_TRUE(near(png.at(x, 5), kRed)) << x;
  for (double x : {15.0, 35.0, 95.0}) EXPECT_TRUE(near(png.at(x, 45), kBlue)) << x;
  // At twice the pixel size each tile doubles too: the same picture, sharper.
  auto big = home() / "tile2.png";
  ASSERT_TRUE(host.snapshot(big, Size{200, 120}));
  Png png2(big);
  EXPECT_EQ(png2.width(), 200);
  EXPECT_TRUE(near(png2.at(10, 10), kRed));
  EXPECT_TRUE(near(png2.at(30, 10), kBlue));
  EXPECT_TRUE(near(png2.at(50, 10), kRed));
}

TEST_F(SnapshotTest, PortraitIsStretchedClippedToACircleWithARingAndAShadow) {
  TestHost host(portrait(), {.size = {200, 200}});
  auto path = home() / "portrait.png";
  ASSERT_TRUE(host.snapshot(path));
  Png png(path);
  ASSERT_TRUE(png.ok());
  // Centre (100, 100), radius 55: green inside, even near the sides (stretched, not cropped).
  EXPECT_TRUE(near(png.at(100, 100), kGreen));
  EXPECT_TRUE(near(png.at(52, 100), kGreen));
  EXPECT_TRUE(near(png.at(100, 52), kGreen));
  // The frame's corner lies outside the circle: no picture there.
  Pixel corner = png.at(50, 50);
  EXPECT_FALSE(near(corner, kGreen, 60));
  // The 3-point white ring sits on the edge.
  EXPECT_TRUE(near(png.at(155, 100), kWhite, 30));
  EXPECT_TRUE(near(png.at(100, 45), kWhite, 30));
  // The shadow darkens just outside the ring, and fades away further out.
  Pixel inShadow = png.at(158, 100);
  Pixel farAway = png.at(190, 100);
  EXPECT_TRUE(near(farAway, kWhite, 2));
  EXPECT_LT(inShadow.r, 245);
  EXPECT_GT(inShadow.r, 120);
}

TEST_F(SnapshotTest, MissingCorruptOrOutsideAssetsDrawNothing) {
  std::filesystem::create_directories(bundleDir() / "Assets");
  { std::ofstream(bundleDir() / "Assets" / "broken.png") << "not a picture"; }
  ui::testing::writeAsset(bundleDir(), "outside", 10, 10, Color::rgb(1, 0, 0));
  std::filesystem::rename(bundleDir() / "Assets" / "outside.png", bundleDir() / "outside.png");
  TestHost host(VStack({Image("no-such-picture"), Image("broken").resizable(), Image("../outside"),
                        Rectangle().frame(20, 20).accessibilityIdentifier("rect")}),
                {.size = {100, 100}});
  for (const char* name : {"no-such-picture", "broken", "../outside"}) EXPECT_FALSE(host.findImage(name)) << name;
  ASSERT_TRUE(host.snapshot(home() / "missing.png"));
  Png png(home() / "missing.png");
  // Only the rectangle is drawn. The pictures took no space (only the stack's spacing after
  // each: 3 x 8), so the stack is 44 points high and the rectangle spans 52 to 72.
  EXPECT_TRUE(near(png.at(50, 62), kBlack));
  EXPECT_TRUE(near(png.at(50, 40), kWhite));
  EXPECT_TRUE(near(png.at(50, 75), kWhite));
  EXPECT_DOUBLE_EQ(host.findId("rect")->frame().y, 52);
}

TEST_F(SnapshotTest, ColourSchemeChangesLabelsBackgroundsAndAssets) {
  ui::testing::writeAsset(bundleDir(), "light-tile", 10, 10, Color::rgb(1, 0, 0));
  ui::testing::writeAsset(bundleDir(), "dark-tile", 10, 10, Color::rgb(0, 0, 1));
  struct Screen {
    View body() const {
      bool dark = environment().colorScheme == ColorScheme::dark;
      return VStack({Rectangle().frame(40, 40),
                     Text("plate")
                         .padding()
                         .background(View(Color::gray()).clipShape(RoundedRectangle(10)).opacity(0.5)),
                     Image(dark ? "dark-tile" : "light-tile").resizable({}, ImageResizingMode::tile).frame(30, 30)});
    }
  };
  TestHost host(Screen{}, {.size = {200, 300}});
  auto plate = host.findText("plate");
  ASSERT_TRUE(plate);
  auto probe = [&](const char* name, ColorScheme scheme) {
    host.setColorScheme(scheme);
    auto path = home() / name;
    EXPECT_TRUE(host.snapshot(path));
    return std::make_unique<Png>(path);
  };
  auto light = probe("light.png", ColorScheme::light);
  auto dark = probe("dark.png", ColorScheme::dark);
  auto rect = host.findImage("dark-tile");
  ASSERT_TRUE(rect);
  Rect tile = rect->frame();
  Rect textFrame = host.findText("plate")->frame();
  // The rectangle takes the label colour; the window background the other.
  EXPECT_TRUE(near(light->at(100, 5), kWhite));
  EXPECT_TRUE(near(dark->at(100, 5), kBlack));
  double rectY = textFrame.y - 16 - 8 - 20;
  EXPECT_TRUE(near(light->at(100, rectY), kBlack));
  EXPECT_TRUE(near(dark->at(100, rectY), kWhite));
  // The grey plate at half opacity over each background.
  Pixel lp = light->at(textFrame.x - 8, textFrame.y - 8);
  Pixel dp = dark->at(textFrame.x - 8, textFrame.y - 8);
  EXPECT_TRUE(near(lp, {198, 198, 201}, 4));
  EXPECT_TRUE(near(dp, {71, 71, 73}, 4));
  // The image follows the scheme.
  EXPECT_TRUE(near(light->at(tile.midX(), tile.midY()), kRed));
  EXPECT_TRUE(near(dark->at(tile.midX(), tile.midY()), kBlue));
}

TEST_F(SnapshotTest, SampleScreenWithNavigationAndSheetRendersHeadless) {
  struct Screen {
    View body() const {
      auto sheet = state(true);
      return NavigationView(List({ForEach(30, [](std::size_t i) { return Text("Row " + std::to_string(i)); })})
                                .navigationTitle("Sample")
                                .toolbar({{ToolbarPlacement::navigationBarTrailing, SystemImage("gear")}}))
          .sheet(sheet.binding(), {}, [] { return View(Color::rgb(0, 1, 0)).frame(100, 100); });
    }
  };
  TestHost host(Screen{});
  ASSERT_EQ(host.sheetCount(), 1u);
  auto path = home() / "sample.png";
  ASSERT_TRUE(host.snapshot(path));
  Png png(path);
  ASSERT_TRUE(png.ok());
  EXPECT_EQ(png.width(), 390);
  EXPECT_EQ(png.height(), 844);
  // The sheet's content sits at its top centre; the screen below is dimmed.
  EXPECT_TRUE(near(png.at(195, 70), kGreen));
  Pixel dimmed = png.at(5, 5);
  EXPECT_LT(dimmed.r, 230);
}

// How far the most strongly drawn pixel inside `frame` is from the white background (0 for none).
int inkIn(const Png& png, Rect frame) {
  int ink = 0;
  for (double y = std::max(0.0, frame.y); y < std::min<double>(png.height(), frame.maxY()); ++y) {
    for (double x = std::max(0.0, frame.x); x < std::min<double>(png.width(), frame.maxX()); ++x) {
      Pixel p = png.at(x, y);
      ink = std::max(ink, 3 * 255 - p.r - p.g - p.b);
    }
  }
  return ink;
}

TEST_F(SnapshotTest, DisabledControlsAreDrawnFadedAndOtherViewsAreNot) {
  ui::testing::writeAsset(bundleDir(), "swatch-on", 30, 30, Color::rgb(1, 0, 0));
  ui::testing::writeAsset(bundleDir(), "swatch-off", 30, 30, Color::rgb(1, 0, 0));
  auto text = std::make_shared<std::string>("typed");
  Binding<std::string> binding([text] { return *text; }, [text](std::string v) { *text = v; });
  TestHost host(VStack({HStack({Button("Send", [] {}), Button("Sent", [] {}).disabled()}),
                        HStack({Button([] {}, Image("swatch-on")),
                                Button([] {}, Image("swatch-off")).disabled()}),
                        TextField("on", binding).frame(120, std::nullopt),
                        TextField("off", binding).disabled().frame(120, std::nullopt),
                        NavigationLink("Linked", [] { return Text("there"); }).disabled(),
                        VStack({Button("Inner", [] {}), Text("Plain")}).disabled(),
                        // Disabled off again below a disabled container stays disabled.
                        VStack({Button("Still off", [] {}).disabled(false)}).disabled()}),
                {.size = {300, 500}});
  auto path = home() / "disabled.png";
  ASSERT_TRUE(host.snapshot(path));
  Png png(path);
  ASSERT_TRUE(png.ok());

  // Pairs of the same control drawn enabled and disabled: the disabled one is faded.
  auto send = host.findText("Send"), sent = host.findText("Sent");
  ASSERT_TRUE(send && sent);
  EXPECT_DOUBLE_EQ(send->effectiveOpacity(), 1);
  EXPECT_LT(sent->effectiveOpacity(), 0.6);
  const int sendInk = inkIn(png, send->frame()), sentInk = inkIn(png, sent->frame());
  EXPECT_GT(sendInk, 300);  // the accent blue
  EXPECT_LT(sentInk, sendInk * 0.6) << sendInk << " vs " << sentInk;

  auto on = host.findImage("swatch-on"), off = host.findImage("swatch-off");
  ASSERT_TRUE(on && off);
  EXPECT_TRUE(near(png.at(on->frame().midX(), on->frame().midY()), kRed));
  Pixel faded = png.at(off->frame().midX(), off->frame().midY());
  EXPECT_GT(faded.r, 240);
  EXPECT_GT(faded.g, 120) << "a disabled image button is drawn faded, not at full strength";

  auto fields = host.findAllFields();
  ASSERT_EQ(fields.size(), 2u);
  EXPECT_DOUBLE_EQ(fields[0].effectiveOpacity(), 1);
  EXPECT_LT(fields[1].effectiveOpacity(), 0.6);
  EXPECT_LT(inkIn(png, fields[1].frame()), inkIn(png, fields[0].frame()) * 0.6);

  for (const char* name : {"Linked", "Inner", "Still off"}) {
    auto control = host.findText(name);
    ASSERT_TRUE(control) << name;
    EXPECT_LT(control->effectiveOpacity(), 0.6) << name;
    EXPECT_LT(inkIn(png, control->frame()), sendInk * 0.6) << name;
  }
  // A text that is no control is drawn as it is, whatever encloses it.
  auto plain = host.findText("Plain");
  ASSERT_TRUE(plain);
  EXPECT_DOUBLE_EQ(plain->effectiveOpacity(), 1);
  EXPECT_GT(inkIn(png, plain->frame()), 600);
}

}  // namespace
}  // namespace platform::ui
