#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/testing/PlatformTest.h"
#include "platform/ui/UI.h"
#include "platform/ui/tests/TestAssets.h"

namespace platform::ui {
namespace {

class ListTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    for (const char* name : {"heart", "heartfill", "imessage"}) {
      ui::testing::writeAsset(bundleDir(), name, 24, 24, Color::white());
    }
  }
};

class Favourites : public ObservableObject {
 public:
  Published<std::map<std::string, std::string>> ids{this, {}};
  std::vector<std::string> log;
};

struct Row {
  std::string id;
  std::shared_ptr<Favourites> model;
  View body() const {
    auto m = model;
    auto sid = id;
    bool isFavourite = m->ids->count(id) > 0;
    return Button([m, sid] { m->log.push_back("play " + sid); },
                  Text("Clip " + id).padding().frame({.maxWidth = infinity}))
        .swipeActions(HorizontalEdge::trailing, false,
                      {Button([m, sid] {
                                m->log.push_back("fav " + sid);
                                m->ids.mutate([&](auto& ids) {
                                  if (ids.count(sid)) {
                                    ids.erase(sid);
                                  } else {
                                    ids[sid] = "e";
                                  }
                                });
                              },
                              Image(isFavourite ? "heartfill" : "heart")),
                       Button([m, sid] { m->log.push_back("share " + sid); }, Image("imessage").padding())})
        .listRowSeparator(Visibility::hidden)
        .listRowBackground(Color::clear());
  }
};

struct Clips {
  std::shared_ptr<Favourites> model;
  std::size_t count;
  View body() const {
    auto m = observedObject(model);
    auto n = count;
    return List({ForEach(n, [m](std::size_t i) { return View(Row{std::to_string(i), m}); })})
        .listStyle(ListStyle::plain);
  }
};

TEST_F(ListTest, RowsFillTheWidthInOrderAndTapsPlay) {
  auto model = std::make_shared<Favourites>();
  TestHost host(Clips{model, 5});
  std::vector<std::string> expected{"Clip 0", "Clip 1", "Clip 2", "Clip 3", "Clip 4"};
  EXPECT_EQ(host.texts(), expected);
  auto first = host.findText("Clip 0");
  auto second = host.findText("Clip 1");
  ASSERT_TRUE(first && second);
  EXPECT_LT(first->frame().maxY(), second->frame().y);
  host.tap(*second);
  ASSERT_EQ(model->log.size(), 1u);
  EXPECT_EQ(model->log[0], "play 1");
}

TEST_F(ListTest, RevealedSwipeActionsShowTheCurrentImageAndRunWhenTapped) {
  auto model = std::make_shared<Favourites>();
  model->ids.set({{"2", "e"}});
  TestHost host(Clips{model, 5});
  EXPECT_FALSE(host.findImage("heart"));  // hidden until swiped
  auto actions = host.revealSwipeActions(*host.findText("Clip 2"));
  ASSERT_EQ(actions.size(), 2u);
  EXPECT_TRUE(host.findImage("heartfill"));
  // The actions sit at the trailing edge, the first one leftmost.
  EXPECT_LT(actions[0].frame().x, actions[1].frame().x);
  EXPECT_GT(actions[1].frame().maxX(), 300);
  EXPECT_TRUE(host.tap(actions[0]));
  EXPECT_EQ(model->log.back(), "fav 2");
  EXPECT_EQ(model->ids->count("2"), 0u);
  // Tapping an action closes the row again; the next reveal shows the new state.
  EXPECT_FALSE(host.findImage("heartfill"));
  host.revealSwipeActions(*host.findText("Clip 2"));
  EXPECT_TRUE(host.findImage("heart"));
}

TEST_F(ListTest, ALongSwipeRevealsButNeverRunsAnActionWithoutFullSwipe) {
  auto model = std::make_shared<Favourites>();
  TestHost host(Clips{model, 3});
  host.swipeRow(*host.findText("Clip 1"), 380);
  EXPECT_TRUE(model->log.empty());
  EXPECT_TRUE(host.findImage("heart"));
  EXPECT_TRUE(host.findImage("imessage"));
  // A tap elsewhere closes the actions without playing.
  host.tap(*host.findText("Clip 0"));
  EXPECT_TRUE(model->log.empty());
  EXPECT_FALSE(host.findImage("heart"));
  // A short swipe springs back.
  host.swipeRow(*host.findText("Clip 1"), 20);
  EXPECT_FALSE(host.findImage("heart"));
}

TEST_F(ListTest, FullSwipeRunsTheFirstActionWhenAllowed) {
  std::vector<std::string> log;
  TestHost host(List({Text("row")
                          .frame({.maxWidth = infinity})
                          .swipeActions(HorizontalEdge::trailing, true,
                                        {Button("Delete", [&log] { log.push_back("delete"); })})}));
  host.swipeRow(*host.findText("row"), 370);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], "delete");
}

TEST_F(ListTest, LeadingActionsAreRevealedBySwipingTheOtherWay) {
  std::vector<std::string> log;
  TestHost host(List({Text("row")
                          .frame({.maxWidth = infinity})
                          .swipeActions(HorizontalEdge::leading, false,
                                        {Button("Pin", [&log] { log.push_back("pin"); })})}));
  host.swipeRow(*host.findText("row"), 100);  // the wrong way: nothing
  EXPECT_FALSE(host.findText("Pin"));
  host.swipeRow(*host.findText("row"), -300);
  auto pin = host.findText("Pin");
  ASSERT_TRUE(pin);
  EXPECT_LT(pin->frame().x, 60);
  EXPECT_GT(host.findText("row")->frame().x, 70);
  EXPECT_TRUE(log.empty());
  host.tap(*pin);
  EXPECT_EQ(log, std::vector<std::string>{"pin"});
}

TEST_F(ListTest, RemovingAnItemRemovesItsRow) {
  auto model = std::make_shared<Favourites>();
  model->ids.set({{"a", "1"}, {"b", "2"}});
  struct FavouriteList {
    std::shared_ptr<Favourites> model;
    View body() const {
      auto m = observedObject(model);
      std::vector<std::string> keys;
      for (auto& [k, v] : *m->ids) keys.push_back(k);
      return List({ForEach(keys, [m, keys](std::size_t i) { return View(Row{keys[i], m}); })});
    }
  };
  TestHost host(FavouriteList{model});
  auto actions = host.revealSwipeActions(*host.findText("Clip a"));
  host.tap(actions[0]);
  EXPECT_FALSE(host.findText("Clip a"));
  EXPECT_TRUE(host.findText("Clip b"));
}

TEST_F(ListTest, LongListsBuildOnlyWhatIsVisibleAndScroll) {
  auto model = std::make_shared<Favourites>();
  TestHost host(Clips{model, 500});
  EXPECT_LT(host.host().bodyEvaluationCount(), 60u);
  EXPECT_FALSE(host.findText("Clip 499"));
  host.scroll(*host.findText("Clip 0"), 1e6);
  EXPECT_TRUE(host.findText("Clip 499"));
  EXPECT_FALSE(host.findText("Clip 0"));
  EXPECT_LT(host.host().bodyEvaluationCount(), 200u);
}

TEST_F(ListTest, VerticalDragsAndTheWheelScrollTheList) {
  auto model = std::make_shared<Favourites>();
  TestHost host(Clips{model, 100});
  double top = host.findText("Clip 0")->frame().y;
  Host& h = host.host();
  h.dragBegan({195, 600});
  for (int y = 590; y >= 560; y -= 10) h.dragMoved({195, static_cast<double>(y)});
  h.dragEnded({195, 560});
  host.pump();
  EXPECT_TRUE(model->log.empty());  // a drag is not a tap
  auto clip0 = host.findText("Clip 0");
  ASSERT_TRUE(clip0);
  EXPECT_NEAR(clip0->frame().y, top - 40, 0.5);
  h.scroll({195, 400}, 0, -1000);  // the wheel, back past the top
  host.pump();
  EXPECT_NEAR(host.findText("Clip 0")->frame().y, top, 0.5);
}

TEST_F(ListTest, EmptyListShowsNothing) {
  auto model = std::make_shared<Favourites>();
  TestHost host(Clips{model, 0});
  EXPECT_TRUE(host.texts().empty());
}

TEST_F(ListTest, FormSectionsShowHeadersAndRowsInOrder) {
  std::vector<std::string> log;
  TestHost host(NavigationView(
      Form({Section({Button("Sound Request", [&log] { log.push_back("request"); })}),
            Section(Text("Support"), {Button("FAQ", [&log] { log.push_back("faq"); }),
                                      Text("Version 1").foregroundColor(Color::gray())})})
          .navigationTitle("Settings")));
  std::vector<std::string> expected{"Sound Request", "Support", "FAQ", "Version 1"};
  EXPECT_EQ(host.texts(), expected);
  auto request = host.findText("Sound Request");
  auto support = host.findText("Support");
  auto faq = host.findText("FAQ");
  ASSERT_TRUE(request && support && faq);
  EXPECT_LT(request->frame().maxY(), support->frame().y);
  EXPECT_LT(support->frame().maxY(), faq->frame().y);
  EXPECT_EQ(request->foregroundColor(), Color::accentColor());
  EXPECT_EQ(host.findText("Version 1")->foregroundColor(), Color::gray());
  host.tap(*faq);
  host.tap(*request);
  EXPECT_EQ(log, (std::vector<std::string>{"faq", "request"}));
}

}  // namespace
}  // namespace platform::ui
