#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/testing/PlatformTest.h"
#include "platform/ui/UI.h"

namespace platform::ui {
namespace {

class NavigationTest : public platform::testing::PlatformTest {};

struct Detail {
  std::string name;
  View body() const {
    auto taps = state(0);
    return VStack({Text("Detail of " + name),
                   Button("tap " + std::to_string(*taps), [taps] { taps.set(*taps + 1); }),
                   NavigationLink("Deeper", [] { return Text("Deepest").navigationTitle("Deep"); })})
        .navigationTitle(name);
  }
};

struct Home {
  View body() const {
    return NavigationView(
        VStack({NavigationLink("Open Alpha", [] { return View(Detail{"Alpha"}); })})
            .navigationTitle("Home Screen")
            .navigationBarTitleDisplayMode(NavigationBarTitleDisplayMode::inlineMode)
            .toolbar({{ToolbarPlacement::navigationBarLeading,
                       NavigationLink([] { return Text("Favs").navigationTitle(""); },
                                      SystemImage("heart.fill").foregroundColor(Color::pink()))},
                      {ToolbarPlacement::navigationBarTrailing,
                       NavigationLink([] { return Text("Settings body").navigationTitle("Settings"); },
                                      SystemImage("gear"))}}));
  }
};

TEST_F(NavigationTest, PushAndPopWithTitles) {
  TestHost host(Home{});
  EXPECT_EQ(host.navigationTitle(), "Home Screen");
  EXPECT_EQ(host.navigationDepth(), 0u);
  ASSERT_TRUE(host.tap(*host.findText("Open Alpha")));
  EXPECT_EQ(host.navigationTitle(), "Alpha");
  EXPECT_EQ(host.navigationDepth(), 1u);
  EXPECT_TRUE(host.findText("Detail of Alpha"));
  EXPECT_FALSE(host.findText("Open Alpha"));
  host.tap(*host.findText("Deeper"));
  EXPECT_EQ(host.navigationTitle(), "Deep");
  EXPECT_EQ(host.navigationDepth(), 2u);
  EXPECT_TRUE(host.goBack());
  EXPECT_EQ(host.navigationTitle(), "Alpha");
  EXPECT_TRUE(host.goBack());
  EXPECT_EQ(host.navigationTitle(), "Home Screen");
  EXPECT_FALSE(host.goBack());
}

TEST_F(NavigationTest, ToolbarItemsSitInTheBarAndPushTheirScreens) {
  TestHost host(Home{});
  auto heart = host.findSymbol("heart.fill");
  auto gear = host.findSymbol("gear");
  ASSERT_TRUE(heart && gear);
  EXPECT_LT(heart->frame().maxY(), 44.5);
  EXPECT_LT(gear->frame().maxY(), 44.5);
  EXPECT_LT(heart->frame().x, 60);
  EXPECT_GT(gear->frame().x, 300);
  EXPECT_EQ(heart->foregroundColor(), Color::pink());
  EXPECT_EQ(gear->foregroundColor(), Color::accentColor());
  host.tap(*gear);
  EXPECT_EQ(host.navigationTitle(), "Settings");
  // A pushed screen shows its own bar: the root's items are gone.
  EXPECT_FALSE(host.findSymbol("gear"));
  host.goBack();
  host.tap(*host.findSymbol("heart.fill"));
  EXPECT_TRUE(host.findText("Favs"));
}

TEST_F(NavigationTest, BackButtonInTheBarPops) {
  TestHost host(Home{});
  host.tap(*host.findText("Open Alpha"));
  ASSERT_EQ(host.navigationDepth(), 1u);
  EXPECT_TRUE(host.host().tap({30, 22}));
  host.pump();
  EXPECT_EQ(host.navigationDepth(), 0u);
}

TEST_F(NavigationTest, PushedScreenKeepsItsStateWhileShown) {
  TestHost host(Home{});
  host.tap(*host.findText("Open Alpha"));
  host.tap(*host.findText("tap 0"));
  host.tap(*host.findText("tap 1"));
  EXPECT_TRUE(host.findText("tap 2"));
  host.goBack();
  host.tap(*host.findText("Open Alpha"));
  EXPECT_TRUE(host.findText("tap 0"));  // a new push is a new screen
}

TEST_F(NavigationTest, AutomaticRootTitleIsLargeAndContentStartsBelowIt) {
  TestHost host(NavigationView(VStack({Text("top"), Spacer()}).navigationTitle("Big")));
  auto top = host.findText("top");
  ASSERT_TRUE(top);
  EXPECT_DOUBLE_EQ(top->frame().y, 44 + 52);
  TestHost inlineHost(NavigationView(VStack({Text("top"), Spacer()})
                                         .navigationTitle("Small")
                                         .navigationBarTitleDisplayMode(NavigationBarTitleDisplayMode::inlineMode)));
  EXPECT_DOUBLE_EQ(inlineHost.findText("top")->frame().y, 44);
}

// ---- Sheets

struct SheetScreen {
  std::vector<std::string>* log;
  View body() const {
    auto shown = state(false);
    auto* l = log;
    return VStack({Text(*shown ? "flag up" : "flag down"),
                   Button("Open", [shown] { shown.set(!*shown); })})
        .sheet(shown.binding(),
               [l, shown] { l->push_back(std::string("onDismiss flag=") + (*shown ? "up" : "down")); },
               [l] {
                 auto env = environment();
                 return VStack({Text("In sheet"), Button("Close", [env] { env.dismiss(); })});
               });
  }
};

TEST_F(NavigationTest, SheetOpensAndInteractiveDismissLowersTheFlagThenRunsOnDismiss) {
  std::vector<std::string> log;
  TestHost host(SheetScreen{&log});
  EXPECT_EQ(host.sheetCount(), 0u);
  host.tap(*host.findText("Open"));
  EXPECT_EQ(host.sheetCount(), 1u);
  EXPECT_TRUE(host.findText("In sheet"));
  EXPECT_TRUE(host.findText("flag up"));
  // The screen below is modal: taps there do nothing while the sheet is up.
  EXPECT_FALSE(host.host().tap(host.findAllText("Open")[0].frame().center()));
  EXPECT_TRUE(host.dismissSheet());
  EXPECT_EQ(host.sheetCount(), 0u);
  EXPECT_TRUE(host.findText("flag down"));
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], "onDismiss flag=down");
  EXPECT_FALSE(host.dismissSheet());
}

TEST_F(NavigationTest, EnvironmentDismissAndDraggingDownCloseTheSheet) {
  std::vector<std::string> log;
  TestHost host(SheetScreen{&log});
  host.tap(*host.findText("Open"));
  host.tap(*host.findText("Close"));
  EXPECT_EQ(host.sheetCount(), 0u);
  EXPECT_EQ(log.size(), 1u);

  host.tap(*host.findText("Open"));
  ASSERT_EQ(host.sheetCount(), 1u);
  Host& h = host.host();
  h.dragBegan({195, 200});
  for (int y = 210; y <= 400; y += 10) h.dragMoved({195, static_cast<double>(y)});
  h.dragEnded({195, 400});
  host.pump();
  EXPECT_EQ(host.sheetCount(), 0u);
  EXPECT_EQ(log.size(), 2u);
  // A short drag is not a dismissal.
  host.tap(*host.findText("Open"));
  h.dragBegan({195, 200});
  h.dragMoved({195, 240});
  h.dragEnded({195, 240});
  host.pump();
  EXPECT_EQ(host.sheetCount(), 1u);
}

TEST_F(NavigationTest, PresentedContentDismissesWithoutABinding) {
  TestHost host(Text("screen"));
  int dismissed = 0;
  host.host().present([] { return Text("shared file"); }, [&dismissed] { ++dismissed; });
  host.pump();
  EXPECT_EQ(host.sheetCount(), 1u);
  EXPECT_TRUE(host.findText("shared file"));
  host.host().dismissPresented();
  host.pump();
  EXPECT_EQ(host.sheetCount(), 0u);
  EXPECT_EQ(dismissed, 1);
}

// Going back (Alt+Left) while something is presented acts inside the topmost presentation when
// it has a navigation stack of its own, else not at all: never on the screens beneath it.
TEST_F(NavigationTest, GoingBackActsOnlyInsideTheTopmostPresentation) {
  TestHost host(Home{});
  host.tap(*host.findText("Open Alpha"));
  ASSERT_EQ(host.navigationDepth(), 1u);
  auto beneathUnchanged = [&] {
    EXPECT_TRUE(host.findText("Detail of Alpha"));
    EXPECT_EQ(host.sheetCount(), 1u);
  };

  host.host().present([] { return Text("plain sheet"); });
  host.pump();
  EXPECT_FALSE(host.goBack());
  beneathUnchanged();
  host.dismissSheet();

  host.host().presentPopover([] { return Text("plain popover"); }, {100, 100, 20, 20});
  host.pump();
  EXPECT_FALSE(host.goBack());
  beneathUnchanged();
  host.dismissSheet();

  host.host().present([] {
    return NavigationView(
        VStack({NavigationLink("Inner link", [] { return Text("Inner page"); })}));
  });
  host.pump();
  host.tap(*host.findText("Inner link"));
  ASSERT_TRUE(host.findText("Inner page"));
  EXPECT_TRUE(host.goBack());
  EXPECT_TRUE(host.findText("Inner link"));
  EXPECT_FALSE(host.goBack());
  beneathUnchanged();
  host.dismissSheet();

  EXPECT_EQ(host.sheetCount(), 0u);
  EXPECT_TRUE(host.goBack());
  EXPECT_EQ(host.navigationTitle(), "Home Screen");
}

TEST_F(NavigationTest, SheetsAreFullWidthOnPhonesAndCentredOnTablets) {
  std::vector<std::string> log;
  TestHost phone(SheetScreen{&log});
  phone.tap(*phone.findText("Open"));
  auto onPhone = phone.findText("In sheet");
  ASSERT_TRUE(onPhone);
  EXPECT_NEAR(onPhone->frame().midX(), 195, 0.5);
  EXPECT_LT(onPhone->frame().y, 40);

  TestHost pad(SheetScreen{&log}, {.size = kPadSize, .idiom = UserInterfaceIdiom::pad});
  pad.tap(*pad.findText("Open"));
  auto onPad = pad.findText("In sheet");
  ASSERT_TRUE(onPad);
  EXPECT_NEAR(onPad->frame().midX(), kPadSize.width / 2, 0.5);
  EXPECT_GT(onPad->frame().y, (kPadSize.height - 620) / 2 - 1);
}

TEST_F(NavigationTest, TheNewestLiveHostIsTheKeyWindow) {
  EXPECT_EQ(Host::keyWindow(), nullptr);
  auto first = std::make_unique<Host>(Text("one"));
  EXPECT_EQ(Host::keyWindow(), first.get());
  {
    Host second(Text("two"));
    EXPECT_EQ(Host::keyWindow(), &second);
  }
  EXPECT_EQ(Host::keyWindow(), first.get());
  first.reset();
  EXPECT_EQ(Host::keyWindow(), nullptr);
}

TEST_F(NavigationTest, HostedControllerIsMadeOnceAndShowsItsView) {
  struct Composer : HostedController {
    int bodies = 0;
    std::string subject = "Hello";
    View body() override {
      ++bodies;
      return Text("Subject: " + subject);
    }
  };
  int coordinators = 0;
  int controllers = 0;
  std::shared_ptr<Composer> made;
  struct Screen {
    int* coordinators;
    int* controllers;
    std::shared_ptr<Composer>* made;
    View body() const {
      auto flag = state(false);
      auto c = coordinators;
      auto k = controllers;
      auto m = made;
      return Button("compose", [flag] { flag.set(true); })
          .sheet(flag.binding(), {}, [c, k, m] {
            return ViewControllerRepresentable(
                [c] {
                  ++*c;
                  return std::make_shared<int>(7);
                },
                [k, m](const RepresentableContext& context) {
                  ++*k;
                  EXPECT_EQ(*std::static_pointer_cast<int>(context.coordinator), 7);
                  EXPECT_TRUE(context.environment.presentationMode.isPresented);
                  *m = std::make_shared<Composer>();
                  return std::static_pointer_cast<HostedController>(*m);
                });
          });
    }
  };
  TestHost host(Screen{&coordinators, &controllers, &made});
  host.tap(*host.findText("compose"));
  EXPECT_TRUE(host.findText("Subject: Hello"));
  made->subject = "Changed";
  made->objectWillChange();
  host.pump();
  EXPECT_TRUE(host.findText("Subject: Changed"));
  EXPECT_EQ(coordinators, 1);
  EXPECT_EQ(controllers, 1);
  host.dismissSheet();
  host.tap(*host.findText("compose"));
  EXPECT_EQ(controllers, 2);  // each presentation makes its own
}

}  // namespace
}  // namespace platform::ui
