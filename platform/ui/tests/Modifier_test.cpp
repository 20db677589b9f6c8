#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/testing/PlatformTest.h"
#include "platform/ui/UI.h"

namespace platform::ui {
namespace {

class ModifierTest : public platform::testing::PlatformTest {};

// A modifier with state of its own that presents a sheet, the way a composer attaches itself.
struct Presenter {
  Binding<bool> isPresented;
  std::vector<std::string>* log;
  View body(View content) const {
    auto builds = state(0);
    auto* l = log;
    return content.overlay(Text("builds " + std::to_string(*builds)), Alignment::bottom())
        .sheet(isPresented, [l] { l->push_back("dismissed"); }, [l, builds] {
          l->push_back("sheet built");
          auto env = environment();
          return VStack({Text("Unable to send").padding(Edges::bottom, 20).multilineTextAlignment(TextAlignment::center),
                         Button("Dismiss", [env] { env.dismiss(); })});
        });
  }
};

struct Screen {
  std::vector<std::string>* log;
  View body() const {
    auto shown = state(false);
    return Button("Open", [shown] { shown.set(true); })
        .modifier(Presenter{shown.binding(), log});
  }
};

TEST_F(ModifierTest, CustomModifierWrapsContentAndPresentsItsSheet) {
  std::vector<std::string> log;
  TestHost host(Screen{&log});
  auto open = host.findText("Open");
  auto builds = host.findText("builds 0");
  ASSERT_TRUE(open && builds);
  EXPECT_DOUBLE_EQ(builds->frame().maxY(), open->frame().maxY());  // bottom-aligned overlay
  host.tap(*open);
  EXPECT_EQ(host.sheetCount(), 1u);
  auto message = host.findText("Unable to send");
  auto dismiss = host.findText("Dismiss");
  ASSERT_TRUE(message && dismiss);
  EXPECT_DOUBLE_EQ(dismiss->frame().y, message->frame().maxY() + 20 + kDefaultSpacing);
  host.tap(*dismiss);
  EXPECT_EQ(host.sheetCount(), 0u);
  EXPECT_EQ(log, (std::vector<std::string>{"sheet built", "dismissed"}));
}

TEST_F(ModifierTest, TextStylesInheritAndTheInnermostWins) {
  TestHost host(VStack({Text("plain"),
                        Text("title bold").font(Font::title3()).foregroundColor(Color::white()).bold(),
                        VStack({Text("inherits"), Text("own").font(Font::body())}).font(Font::title()),
                        Button("in button", [] {}),
                        Button("tinted", [] {}).tint(Color::pink())})
                    .foregroundColor(Color::black()));
  struct Expect {
    const char* text;
    double size;
    FontWeight weight;
    Color color;
  };
  for (Expect e : {Expect{"plain", 17, FontWeight::regular, Color::black()},
                   Expect{"title bold", 20, FontWeight::bold, Color::white()},
                   Expect{"inherits", 28, FontWeight::regular, Color::black()},
                   Expect{"own", 17, FontWeight::regular, Color::black()},
                   Expect{"in button", 17, FontWeight::regular, Color::black()}}) {
    SCOPED_TRACE(e.text);
    auto t = host.findText(e.text);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->font().size, e.size);
    EXPECT_EQ(t->font().weight, e.weight);
    EXPECT_EQ(t->foregroundColor(), e.color);
  }
  TestHost untinted(VStack({Button("in button", [] {}), Button("tinted", [] {}).tint(Color::pink())}));
  EXPECT_EQ(untinted.findText("in button")->foregroundColor(), Color::accentColor());
  EXPECT_EQ(untinted.findText("tinted")->foregroundColor(), Color::pink());
}

TEST_F(ModifierTest, OpacityMultipliesAndIdentifiersAreFound) {
  TestHost host(VStack({Text("half").opacity(0.5).opacity(0.5).accessibilityIdentifier("quarter")}));
  auto t = host.findText("half");
  ASSERT_TRUE(t);
  EXPECT_DOUBLE_EQ(t->effectiveOpacity(), 0.25);
  EXPECT_EQ(t->identifier(), "quarter");
  auto byId = host.findId("quarter");
  ASSERT_TRUE(byId);
  EXPECT_DOUBLE_EQ(byId->frame().width, t->frame().width);
}

TEST_F(ModifierTest, DisabledButtonsDoNotRun) {
  int taps = 0;
  TestHost host(VStack({Button("off", [&taps] { ++taps; }).disabled(), Button("on", [&taps] { ++taps; })}));
  EXPECT_FALSE(host.tap(*host.findText("off")));
  EXPECT_TRUE(host.tap(*host.findText("on")));
  EXPECT_EQ(taps, 1);
}

TEST_F(ModifierTest, MultilineAlignmentCentresWrappedLines) {
  std::string text = "Swipe left on the sound you want to text and press the green text message button.";
  TestHost host(VStack({Text(text).multilineTextAlignment(TextAlignment::center).frame(200, std::nullopt)}),
                {.size = {300, 400}});
  auto t = host.findText(text);
  ASSERT_TRUE(t);
  EXPECT_LE(t->frame().width, 200);
  EXPECT_NEAR(t->frame().midX(), 150, 0.5);
  EXPECT_GT(t->frame().height, 40);
}

}  // namespace
}  // namespace platform::ui
