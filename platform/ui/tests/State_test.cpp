#include <gtest/gtest.h>

#include <map>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/testing/PlatformTest.h"
#include "platform/ui/UI.h"

namespace platform::ui {
namespace {

class StateTest : public platform::testing::PlatformTest {};

class Model : public ObservableObject {
 public:
  Published<std::map<std::string, std::string>> favourites{this, {}};
  Published<int> other{this, 0};
};

struct Toggle {
  std::string name;
  bool initial;
  View body() const {
    auto on = state(initial);
    return Button([on] { on.set(!*on); }, Text(name + (*on ? " on" : " off")));
  }
};

struct Counted {
  std::shared_ptr<Model> model;
  int* evaluations;
  View body() const {
    ++*evaluations;
    auto m = observedObject(model);
    return Text("count " + std::to_string(m->favourites->size()));
  }
};

TEST_F(StateTest, StateSurvivesRebuildsOfTheParentAndIgnoresNewInitialValues) {
  auto model = std::make_shared<Model>();
  struct Parent {
    std::shared_ptr<Model> model;
    View body() const {
      auto m = observedObject(model);
      // The initial value follows the model, but the kept flag wins once the row exists.
      return VStack({Toggle{"row", m->favourites->count("a") > 0},
                     Text("n=" + std::to_string(m->other.get()))});
    }
  };
  TestHost host(Parent{model});
  ASSERT_TRUE(host.findText("row off"));
  host.tap(*host.findText("row off"));
  ASSERT_TRUE(host.findText("row on"));
  model->other.set(1);
  host.pump();
  EXPECT_TRUE(host.findText("n=1"));
  EXPECT_TRUE(host.findText("row on"));
  model->favourites.mutate([](auto& m) { m["a"] = "x"; });
  host.pump();
  EXPECT_TRUE(host.findText("row on"));
  model->favourites.mutate([](auto& m) { m.clear(); });
  host.pump();
  EXPECT_TRUE(host.findText("row on"));  // still only the button's own action changes it
}

TEST_F(StateTest, ObservedObjectRebuildsOncePerChangeAndNotPerFrame) {
  auto model = std::make_shared<Model>();
  int evaluations = 0;
  TestHost host(Counted{model, &evaluations});
  EXPECT_EQ(evaluations, 1);
  host.pump();
  host.snapshot(home() / "a.png");
  EXPECT_EQ(evaluations, 1);  // drawing never evaluates a body
  model->favourites.mutate([](auto& m) { m["s1"] = "e1"; });
  host.pump();
  EXPECT_EQ(evaluations, 2);
  EXPECT_TRUE(host.findText("count 1"));
  // Two announcements before the main loop turns: still one rebuild.
  model->favourites.mutate([](auto& m) { m["s2"] = "e1"; });
  model->other.set(5);
  host.pump();
  EXPECT_EQ(evaluations, 3);
  EXPECT_TRUE(host.findText("count 2"));
}

TEST_F(StateTest, ChangesAnnouncedFromAnotherThreadRebuildOnTheMainThread) {
  auto model = std::make_shared<Model>();
  int evaluations = 0;
  TestHost host(Counted{model, &evaluations});
  auto queue = DispatchQueue::create("test.background");
  queue->sync([&] { model->favourites.mutate([](auto& m) { m["x"] = "y"; }); });
  EXPECT_TRUE(pumpUntil([&] {
    host.pump();
    return host.findText("count 1").has_value();
  }));
  EXPECT_EQ(evaluations, 2);
}

TEST_F(StateTest, StateObjectIsMadeOnceAndOnlyTheChangedSubtreeRebuilds) {
  int made = 0;
  int siblingEvaluations = 0;
  struct Sibling {
    int* evaluations;
    View body() const {
      ++*evaluations;
      return Text("sibling");
    }
  };
  struct Owner {
    int* made;
    View body() const {
      auto model = stateObject<Model>([this] {
        ++*made;
        return std::make_shared<Model>();
      });
      return Button([model] { model->other.set(model->other.get() + 1); },
                    Text("taps " + std::to_string(model->other.get())));
    }
  };
  TestHost host(VStack({Owner{&made}, Sibling{&siblingEvaluations}}));
  for (int i = 0; i < 3; ++i) host.tap(*host.findText("taps " + std::to_string(i)));
  EXPECT_TRUE(host.findText("taps 3"));
  EXPECT_EQ(made, 1);
  EXPECT_EQ(siblingEvaluations, 1);
}

TEST_F(StateTest, ExplicitIdentityResetsState) {
  struct Keyed {
    View body() const {
      auto generation = state(0);
      return VStack({View(Toggle{"t", false}).id("gen" + std::to_string(*generation)),
                     Button("next", [generation] { generation.set(*generation + 1); })});
    }
  };
  TestHost host(Keyed{});
  host.tap(*host.findText("t off"));
  ASSERT_TRUE(host.findText("t on"));
  host.tap(*host.findText("next"));
  EXPECT_TRUE(host.findText("t off"));
}

TEST_F(StateTest, StateOutsideABodyIsAContractFailure) {
  EXPECT_THROW(state(1), std::logic_error);
  EXPECT_EQ(environment().colorScheme, ColorScheme::light);
}

TEST_F(StateTest, EnvironmentColourSchemeRebuildsReaders) {
  struct Reader {
    View body() const {
      return Text(environment().colorScheme == ColorScheme::dark ? "dark" : "light");
    }
  };
  TestHost host(Reader{}, {.colorScheme = ColorScheme::dark});
  EXPECT_TRUE(host.findText("dark"));
  host.setColorScheme(ColorScheme::light);
  EXPECT_TRUE(host.findText("light"));
  EXPECT_FALSE(host.findText("dark"));
}

}  // namespace
}  // namespace platform::ui
