#include "utilities/swizzling/VTUSwizzler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/base/Error.h"
#include "platform/testing/PlatformTest.h"

namespace rt = platform::runtime;
using platform::Object;

namespace {

class Greeter : public rt::RootObject {
 public:
  std::string className() const override { return "SwzGreeter"; }
};
class LoudGreeter : public Greeter {
 public:
  std::string className() const override { return "SwzLoudGreeter"; }
};

void registerGreeters() {
  static std::once_flag once;
  std::call_once(once, [] {
    rt::registerClass("SwzGreeter", rt::kRootClassName, sizeof(Greeter), [](rt::Class& cls) {
      cls.addInstanceMethod(
          "greeting", [](Object&) { return std::string("hello"); }, "@@:");
      cls.addClassMethod(
          "kind", [](Object&) { return std::string("greeter"); }, "@@:");
      cls.setFactory([] { return std::make_shared<Greeter>(); });
    });
    rt::registerClass("SwzLoudGreeter", "SwzGreeter", sizeof(LoudGreeter), {});
  });
}

class VTUSwizzlerTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    registerGreeters();
    previous_ = platform::AssertionHandler::setHandler(
        [this](const std::string&, const std::string&, int, const std::string& description) {
          assertions_.push_back(description);
        });
  }
  void TearDown() override {
    platform::AssertionHandler::setHandler(previous_);
    PlatformTest::TearDown();
  }
  platform::AssertionHandler::Handler previous_;
  std::vector<std::string> assertions_;
};

TEST_F(VTUSwizzlerTest, SwizzlingAnInheritedMethodOverridesItOnlyInTheSubclass) {
  rt::Class* base = rt::classNamed("SwzGreeter");
  rt::Class* loud = rt::classNamed("SwzLoudGreeter");
  rt::IMP old = VTUSwizzler::currentImplementationForClass(loud, "greeting", false);
  ASSERT_TRUE(old);
  rt::IMP block = rt::implementationWithBlock(
      [old](Object& self) { return old->call<std::string>(self) + "!"; });
  VTUSwizzler::swizzleClass(loud, "greeting", false, block);

  auto loudOne = std::make_shared<LoudGreeter>();
  auto plainOne = std::make_shared<Greeter>();
  EXPECT_EQ(rt::msgSend<std::string>(loudOne, "greeting"), "hello!");
  EXPECT_EQ(rt::msgSend<std::string>(plainOne, "greeting"), "hello");
  EXPECT_EQ(VTUSwizzler::currentImplementationForClass(loud, "greeting", false), block);
  EXPECT_EQ(VTUSwizzler::currentImplementationForClass(base, "greeting", false), old);
  EXPECT_TRUE(assertions_.empty());
}

TEST_F(VTUSwizzlerTest, SwizzlingAClassMethodWorksOnTheMetaclass) {
  rt::Class* base = rt::classNamed("SwzGreeter");
  VTUSwizzler::swizzleClass(base, "kind", true,
                            rt::implementationWithBlock([](Object&) { return std::string("x"); }));
  EXPECT_EQ(rt::msgSend<std::string>(static_cast<Object*>(base), "kind"), "x");
  EXPECT_FALSE(VTUSwizzler::selectorExistsInClass("kind", base, false));
  EXPECT_TRUE(VTUSwizzler::selectorExistsInClass("kind", base, true));
  EXPECT_TRUE(
      VTUSwizzler::selectorExistsInClass("greeting", rt::classNamed("SwzLoudGreeter"), false));
}

TEST_F(VTUSwizzlerTest, ContractViolationsAreAssertedAndChangeNothing) {
  rt::Class* base = rt::classNamed("SwzGreeter");
  auto block = rt::implementationWithBlock([](Object&) { return std::string("no"); });
  VTUSwizzler::swizzleClass(base, "", false, block);
  VTUSwizzler::swizzleClass(nullptr, "greeting", false, block);
  VTUSwizzler::swizzleClass(base, "farewell", false, block);
  EXPECT_FALSE(VTUSwizzler::currentImplementationForClass(base, "farewell", false));
  EXPECT_FALSE(VTUSwizzler::currentImplementationForClass(nullptr, "greeting", false));
  EXPECT_EQ(assertions_,
            (std::vector<std::string>{
                "The selector cannot be NULL", "The class cannot be Nil",
                "You're attempting to swizzle a method that doesn't exist. (SwzGreeter, farewell)",
                "The Method for this class/selector combo doesn't exist (SwzGreeter, farewell)."}));
  EXPECT_EQ(rt::msgSend<std::string>(std::make_shared<Greeter>(), "greeting"), "hello");
  EXPECT_FALSE(rt::classRespondsToSelector(base, "farewell"));
}

}  // namespace
