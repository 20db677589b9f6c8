#include <cairo.h>
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "platform/testing/PlatformTest.h"
#include "platform/ui/UI.h"

namespace platform::ui {
namespace {

class PopoverTest : public platform::testing::PlatformTest {};

View popoverContent(std::vector<std::string>* log) {
  return VStack({Text("In the popover"), Button("Inside", [log] { log->push_back("inside"); })})
      .padding();
}

TEST_F(PopoverTest, ThePopoverSitsNextToItsAnchorInsideTheWindow) {
  struct Case {
    Rect anchor;
    bool below;  // the box lies under the anchor
  };
  const std::vector<Case> cases = {
      {{100, 100, 40, 30}, true},    // room below
      {{400, 1100, 40, 30}, false},  // near the bottom: above
      {{0, 0, 0, 0}, true},          // a point at the corner
      {{810, 500, 10, 10}, true},    // at the trailing edge
  };
  for (const auto& c : cases) {
    std::vector<std::string> log;
    TestHost host(Text("screen"), {.size = kPadSize, .idiom = UserInterfaceIdiom::pad});
    host.host().presentPopover([&log] { return popoverContent(&log); }, c.anchor);
    auto popover = host.topPopover();
    ASSERT_TRUE(popover);
    Rect box = popover->frame;
    EXPECT_GE(box.x, 0);
    EXPECT_LE(box.maxX(), kPadSize.width);
    EXPECT_GE(box.y, 0);
    EXPECT_LE(box.maxY(), kPadSize.height);
    EXPECT_LT(box.height, 300);  // sized to its content, not a sheet
    if (c.below) {
      EXPECT_NEAR(box.y, c.anchor.maxY() + 12, 0.5);
      EXPECT_NEAR(popover->arrowTip.y, c.anchor.maxY(), 0.5);
    } else {
      EXPECT_NEAR(box.maxY(), c.anchor.y - 12, 0.5);
      EXPECT_NEAR(popover->arrowTip.y, c.anchor.y, 0.5);
    }
    EXPECT_GE(popover->arrowTip.x, box.x);
    EXPECT_LE(popover->arrowTip.x, box.maxX());
    // The content is laid out inside the box.
    auto text = host.findText("In the popover");
    ASSERT_TRUE(text);
    EXPECT_TRUE(box.contains(text->frame().center()));
  }
}

TEST_F(PopoverTest, ATapInsideActsATapOutsideOrEscapeClosesIt) {
  std::vector<std::string> log;
  bool underTapped = false;
  TestHost host(Button("Under", [&] { underTapped = true; })
                    .frame({.maxWidth = infinity, .maxHeight = infinity}),
                {.size = kPadSize, .idiom = UserInterfaceIdiom::pad});
  host.host().presentPopover([&log] { return popoverContent(&log); }, {300, 200, 50, 50},
                             [&log] { log.push_back("dismissed"); });
  ASSERT_TRUE(host.topPopover());
  ASSERT_TRUE(host.tap(*host.findText("Inside")));
  EXPECT_EQ(log, std::vector<std::string>{"inside"});
  ASSERT_TRUE(host.topPopover());
  // The arrow belongs to the popover: a tap on its tip keeps it open.
  Point tip = host.topPopover()->arrowTip;
  host.tapAt({tip.x, tip.y + 4});
  ASSERT_TRUE(host.topPopover());

  host.tapAt({20, 1100});  // outside: closes it and reaches nothing beneath
  EXPECT_FALSE(host.topPopover());
  EXPECT_EQ(host.sheetCount(), 0u);
  EXPECT_FALSE(underTapped);
  EXPECT_EQ(log, (std::vector<std::string>{"inside", "dismissed"}));

  host.host().presentPopover([&log] { return popoverContent(&log); }, {300, 200, 50, 50});
  ASSERT_TRUE(host.topPopover());
  EXPECT_TRUE(host.dismissSheet());  // what Escape does
  EXPECT_FALSE(host.topPopover());
  host.tap(*host.findText("Under"));
  EXPECT_TRUE(underTapped);
}

TEST_F(PopoverTest, TheSnapshotShowsTheBoxWithoutDimmingTheScreen) {
  TestHost host(Color::white(), {.size = kPadSize, .idiom = UserInterfaceIdiom::pad});
  host.host().presentPopover([] { return View(Color::pink()).frame(200, 100); },
                             {400, 300, 20, 20});
  auto popover = host.topPopover();
  ASSERT_TRUE(popover);
  auto path = home() / "popover.png";
  ASSERT_TRUE(host.snapshot(path));
  cairo_surface_t* image = cairo_image_surface_create_from_png(path.c_str());
  ASSERT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS);
  const auto* data = cairo_image_surface_get_data(image);
  int stride = cairo_image_surface_get_stride(image);
  auto rgb = [&](double x, double y) {
    const auto* p = data + static_cast<int>(y) * stride + static_cast<int>(x) * 4;
    return std::array<int, 3>{p[2], p[1], p[0]};
  };
  auto inside = rgb(popover->frame.midX(), popover->frame.midY());
  EXPECT_GT(inside[0], 200);  // pink content
  EXPECT_LT(inside[1], 100);
  auto far = rgb(20, 1100);
  EXPECT_EQ(far, (std::array<int, 3>{255, 255, 255}));  // no dimming behind a popover
  auto below = rgb(popover->frame.midX(), popover->frame.maxY() + 6);
  EXPECT_LT(below[0], 255);  // the shadow darkens just under the box
  auto arrow = rgb(popover->arrowTip.x, popover->arrowTip.y + 8);
  EXPECT_GT(arrow[0], 240);  // the arrow is filled with the box's background, not the content
  cairo_surface_destroy(image);
}

}  // namespace
}  // namespace platform::ui
