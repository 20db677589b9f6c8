#include "utilities/swizzling/VTUProxySubclass.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/testing/PlatformTest.h"

namespace rt = platform::runtime;
using platform::Object;
using platform::ObjectPtr;
using platform::Value;

namespace {

const char kImplementationsKey[] = "implementations";
const char kClassKey[] = "class";

class ProxyTarget : public rt::RootObject {
 public:
  std::string className() const override { return "SwzProxyTarget"; }
};

void registerTargetClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    rt::registerClass("SwzProxyTarget", rt::kRootClassName, sizeof(ProxyTarget), [](rt::Class& cls) {
      cls.addInstanceMethod("answer", [](Object&) { return 1L; });
    });
    rt::registerClass("SwzProxyDonor", rt::kRootClassName, sizeof(Object), [](rt::Class& cls) {
      cls.addInstanceMethod("answer", [](Object&) { return 2L; });
    });
  });
}

// Records which of the proxy's callbacks ran, with their arguments.
struct Recording {
  std::vector<std::string> calls;
  VTUProxySubclassSetup setup() {
    VTUProxySubclassSetup s;
    s.realIMPBySelectorKey = kImplementationsKey;
    s.realClassKey = kClassKey;
    s.addMethods = [this](rt::Class* subclass, rt::Class* realClass) {
      calls.push_back("addMethods " + realClass->name());
      auto donor = rt::classGetInstanceMethod(rt::classNamed("SwzProxyDonor"), "answer");
      rt::classAddMethod(subclass, "answer", donor->implementation, donor->types);
      rt::IMP real = rt::classGetMethodImplementation(realClass, "answer");
      return Value::Dictionary{{"answer", Value(real)}};
    };
    s.nameTaken = [this](const std::string& real, const std::string& name) {
      calls.push_back("nameTaken " + real + " " + name);
    };
    s.allocationFailed = [this](const std::string& real) {
      calls.push_back("allocationFailed " + real);
    };
    s.sizeMismatch = [this](const std::string& name) { calls.push_back("sizeMismatch " + name); };
    s.proxied = [this] { calls.push_back("proxied"); };
    return s;
  }
};

class VTUProxySubclassTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    registerTargetClasses();
  }
};

TEST_F(VTUProxySubclassTest, DelegateBecomesAnInstanceOfAFreshSubclassKeepingItsRealMethods) {
  auto first = std::make_shared<ProxyTarget>();
  auto second = std::make_shared<ProxyTarget>();
  rt::Class* realClass = rt::objectGetClass(first);
  Recording recording;

  rt::Class* subclass = VTUInstallProxySubclass(first, recording.setup());
  ASSERT_NE(subclass, nullptr);
  EXPECT_EQ(recording.calls, (std::vector<std::string>{"addMethods SwzProxyTarget", "proxied"}));
  EXPECT_EQ(rt::objectGetClass(first), subclass);
  EXPECT_EQ(subclass->name().rfind("VTU_SwzProxyTarget-", 0), 0u) << subclass->name();
  EXPECT_EQ(rt::classNamed(subclass->name()), subclass);
  EXPECT_TRUE(rt::classIsSubclassOf(subclass, realClass));
  EXPECT_EQ(rt::msgSend<long>(first, "answer"), 2L);  // the proxy's method answers now

  // The real implementation and class stay reachable under the proxy's keys.
  Value stored = rt::getAssociatedObject(first.get(), kImplementationsKey);
  auto real = std::dynamic_pointer_cast<const rt::Implementation>(stored["answer"].object());
  ASSERT_TRUE(real);
  EXPECT_EQ(real->call<long>(*first), 1L);
  EXPECT_EQ(rt::getAssociatedObject(first.get(), kClassKey).object().get(), realClass);

  // Another delegate of the same class gets a subclass of its own; the first is untouched.
  Recording again;
  rt::Class* other = VTUInstallProxySubclass(second, again.setup());
  ASSERT_NE(other, nullptr);
  EXPECT_NE(other, subclass);
  EXPECT_EQ(rt::objectGetClass(first), subclass);
}

TEST_F(VTUProxySubclassTest, NoDelegateMakesNoClassAndReportsNothing) {
  Recording recording;
  EXPECT_EQ(VTUInstallProxySubclass(nullptr, recording.setup()), nullptr);
  EXPECT_TRUE(recording.calls.empty());
}

}  // namespace
