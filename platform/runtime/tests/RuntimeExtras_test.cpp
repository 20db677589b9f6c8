#include "platform/runtime/RuntimeExtras.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "platform/testing/PlatformTest.h"

namespace platform::runtime {
namespace {

class Holder : public RootObject {
 public:
  explicit Holder(std::string cls) : class_(std::move(cls)) {}
  std::string className() const override { return class_; }
  ObjectPtr target;

 private:
  std::string class_;
};

void registerHolders() {
  static std::once_flag once;
  std::call_once(once, [] {
    registerClass("ObsHolder", kRootClassName, sizeof(Holder), [](Class& cls) {
      cls.addInstanceMethod("target",
                            [](Object& self) { return static_cast<Holder&>(self).target; });
      cls.addInstanceMethod("setTarget:", [](Object& self, ObjectPtr value) {
        static_cast<Holder&>(self).target = std::move(value);
      });
    });
    registerClass("ObsSubHolder", "ObsHolder", sizeof(Holder), {});
  });
}

using Change = std::pair<ObjectPtr, ObjectPtr>;

class RuntimeExtrasTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    registerHolders();
  }
};

TEST_F(RuntimeExtrasTest, ObserversOfOneObjectHearItsChangesUntilTheTokenGoes) {
  auto observed = std::make_shared<Holder>("ObsSubHolder");  // setter inherited
  auto other = std::make_shared<Holder>("ObsSubHolder");
  auto a = std::make_shared<Holder>("ObsHolder");
  auto b = std::make_shared<Holder>("ObsHolder");
  std::vector<Change> changes;
  auto token = observeObjectProperty(observed, "target",
                                     [&](ObjectPtr o, ObjectPtr n) { changes.emplace_back(o, n); });
  ASSERT_TRUE(token);

  msgSend<void>(observed, "setTarget:", ObjectPtr(a));
  msgSend<void>(other, "setTarget:", ObjectPtr(b));  // another object: not heard
  msgSend<void>(observed, "setTarget:", ObjectPtr(b));
  EXPECT_EQ(changes, (std::vector<Change>{{nullptr, a}, {a, b}}));
  EXPECT_EQ(other->target, b);  // the setter still does its work

  token.reset();
  msgSend<void>(observed, "setTarget:", ObjectPtr());
  EXPECT_EQ(changes.size(), 2u);
  EXPECT_EQ(observed->target, nullptr);
}

TEST_F(RuntimeExtrasTest, NothingToObserveGivesNoToken) {
  auto holder = std::make_shared<Holder>("ObsHolder");
  EXPECT_FALSE(observeObjectProperty(holder, "missing", [](ObjectPtr, ObjectPtr) {}));
  EXPECT_FALSE(observeObjectProperty(nullptr, "target", [](ObjectPtr, ObjectPtr) {}));
}

}  // namespace
}  // namespace platform::runtime
