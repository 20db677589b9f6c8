#include <gtest/gtest.h>

#include "platform/testing/PlatformTest.h"
#include "platform/ui/UI.h"

namespace platform::ui {
namespace {

class LayoutTest : public platform::testing::PlatformTest {};

TEST_F(LayoutTest, VerticalStackCentresChildrenWithDefaultSpacing) {
  TestHost host(VStack({Text("First"), Text("Second line")}));
  auto a = host.findText("First");
  auto b = host.findText("Second line");
  ASSERT_TRUE(a && b);
  EXPECT_DOUBLE_EQ(a->frame().maxY() + kDefaultSpacing, b->frame().y);
  EXPECT_NEAR(a->frame().midX(), 195, 0.5);
  EXPECT_NEAR(b->frame().midX(), 195, 0.5);
  EXPECT_GT(b->frame().width, a->frame().width);
  // The pair sits in the middle of the window.
  EXPECT_NEAR((a->frame().y + b->frame().maxY()) / 2, 422, 0.5);
}

TEST_F(LayoutTest, SpacerPushesHorizontalChildrenToTheEdgesInsidePadding) {
  TestHost host(HStack({Text("L"), Spacer(), Text("R")}).padding());
  auto l = host.findText("L");
  auto r = host.findText("R");
  ASSERT_TRUE(l && r);
  EXPECT_DOUBLE_EQ(l->frame().x, kDefaultPadding);
  EXPECT_DOUBLE_EQ(r->frame().maxX(), 390 - kDefaultPadding);
}

TEST_F(LayoutTest, FramesFixFlexAndAlign) {
  TestHost host(VStack(VStackOptions{.spacing = 0},
                       {Rectangle().frame(100, 50).accessibilityIdentifier("fixed"),
                        Text("wide").frame({.maxWidth = infinity, .alignment = Alignment::leading()}),
                        Rectangle().frame(std::nullopt, 20).accessibilityIdentifier("filler"),
                        Text("short").padding(Edges::bottom, 20)}));
  auto fixed = host.findId("fixed");
  auto wide = host.findText("wide");
  auto filler = host.findId("filler");
  ASSERT_TRUE(fixed && wide && filler);
  EXPECT_DOUBLE_EQ(fixed->frame().width, 100);
  EXPECT_DOUBLE_EQ(fixed->frame().height, 50);
  EXPECT_DOUBLE_EQ(wide->frame().x, 0);  // leading inside a full-width frame
  EXPECT_DOUBLE_EQ(filler->frame().width, 390);
  EXPECT_DOUBLE_EQ(filler->frame().height, 20);
}

TEST_F(LayoutTest, EdgePaddingPadsOnlyThoseEdgesByTheDefault) {
  TestHost host(HStack({.alignment = VerticalAlignment::top},
                       {Text("T").padding(Edges::top).padding(Edges::leading), Spacer(),
                        Rectangle().frame(10, 10).accessibilityIdentifier("box").padding(Edges::top | Edges::trailing, 4)})
                    .frame({.maxHeight = infinity, .alignment = Alignment::top()}));
  auto t = host.findText("T");
  auto box = host.findId("box");
  ASSERT_TRUE(t && box);
  EXPECT_DOUBLE_EQ(t->frame().x, kDefaultPadding);
  EXPECT_DOUBLE_EQ(box->frame().maxX(), 390 - 4);
  EXPECT_DOUBLE_EQ(box->frame().y, 4);
}

TEST_F(LayoutTest, ForEachAndGroupsJoinTheirStackOrStandAlone) {
  TestHost host(VStack({Text("head"), Group({Text("g1"), Text("g2")}),
                        ForEach(2, [](std::size_t i) { return Text("row " + std::to_string(i)); })}));
  EXPECT_EQ(host.texts(), (std::vector<std::string>{"head", "g1", "g2", "row 0", "row 1"}));
  EXPECT_DOUBLE_EQ(host.findText("g2")->frame().y, host.findText("g1")->frame().maxY() + kDefaultSpacing);
  TestHost alone(ForEach(std::vector<std::string>{"a", "b"}, [](std::size_t i) { return Text(i ? "B" : "A"); }));
  EXPECT_EQ(alone.texts(), (std::vector<std::string>{"A", "B"}));
}

TEST_F(LayoutTest, TextWrapsToTheOfferedWidth) {
  std::string longText = "A sentence long enough that it cannot fit on one line of a narrow frame at all";
  TestHost host(Text(longText).frame(120, std::nullopt));
  auto t = host.findText(longText);
  ASSERT_TRUE(t);
  EXPECT_LE(t->frame().width, 120);
  EXPECT_GT(t->frame().height, 3 * 17);
}

View portraitGrid(std::size_t count) {
  return ScrollView(VStack({Rectangle().opacity(0).frame(std::nullopt, 20),
                            LazyVGrid({GridItem::adaptive(110)}, {.spacing = 20},
                                      {ForEach(count,
                                               [](std::size_t i) {
                                                 return View(Circle().frame(110, 110))
                                                     .accessibilityIdentifier("cell" + std::to_string(i));
                                               })})
                                .padding(Edges::leading, 10)
                                .padding(Edges::trailing, 10)}));
}

TEST_F(LayoutTest, AdaptiveGridFitsAsManyColumnsAsTheWidthAllows) {
  struct Case {
    double width;
    std::size_t columns;
  };
  // Width left after 20 points of side padding; each further column needs 110 + 8.
  for (Case c : {Case{100, 1}, Case{245, 1}, Case{248, 2}, Case{390, 3}, Case{820, 6}}) {
    SCOPED_TRACE(c.width);
    TestHost host(portraitGrid(12), {.size = {c.width, 844}});
    auto first = host.findId("cell0");
    ASSERT_TRUE(first);
    std::size_t columns = 0;
    for (std::size_t i = 0; i < 12; ++i) {
      auto cell = host.findId("cell" + std::to_string(i));
      if (cell && cell->frame().y == first->frame().y) ++columns;
    }
    EXPECT_EQ(columns, c.columns);
    // Portraits keep their size and sit centred in columns that share the spare width.
    EXPECT_DOUBLE_EQ(first->frame().width, 110);
    double available = c.width - 20;
    double column = std::max(110.0, (available - 8.0 * static_cast<double>(c.columns - 1)) /
                                        static_cast<double>(c.columns));
    EXPECT_NEAR(first->frame().x, 10 + (column - 110) / 2, 0.01);
    EXPECT_DOUBLE_EQ(first->frame().y, 20 + kDefaultSpacing);
  }
}

TEST_F(LayoutTest, GridRowsAreSpacedAndBuiltOnlyNearTheVisibleArea) {
  TestHost host(portraitGrid(300));
  auto a = host.findId("cell0");
  auto b = host.findId("cell3");
  ASSERT_TRUE(a && b);
  EXPECT_DOUBLE_EQ(b->frame().y, a->frame().maxY() + 20);
  std::uint64_t built = host.host().bodyEvaluationCount();
  EXPECT_LT(built, 100u);  // 100 rows of 3: only a screenful and a margin is built
  EXPECT_FALSE(host.findId("cell299"));
  host.scroll(*a, 1e6);
  EXPECT_TRUE(host.findId("cell299"));
  EXPECT_FALSE(host.findId("cell0"));
}

TEST_F(LayoutTest, EmptyGridShowsOnlyTheSpacer) {
  TestHost host(portraitGrid(0));
  EXPECT_FALSE(host.findId("cell0"));
}

}  // namespace
}  // namespace platform::ui
