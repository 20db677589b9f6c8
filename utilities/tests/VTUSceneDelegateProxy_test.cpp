#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/base/Error.h"
#include "platform/base/ProcessInfo.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/testing/PlatformTest.h"
#include "utilities/logger/VTULogger.h"
#include "utilities/swizzling/VTUSceneDelegateSwizzler.h"

namespace rt = platform::runtime;
using platform::Object;
using platform::ObjectPtr;
using platform::Value;

namespace {

std::vector<std::string>& callLog() {
  static std::vector<std::string> log;
  return log;
}

// This platform has no window scenes; the test stands one in: a runtime object of the scene
// class that holds its delegate.
class TestScene : public rt::RootObject {
 public:
  std::string className() const override { return "UIScene"; }
  ObjectPtr delegate;
};

class SceneRecorder : public rt::RootObject {
 public:
  SceneRecorder(std::string cls, std::string name)
      : name_(std::move(name)), class_(std::move(cls)) {}
  std::string className() const override { return class_; }
  std::string name_;
  std::vector<Value> contexts;

 private:
  std::string class_;
};

void registerSceneClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    rt::registerClass("UIScene", rt::kRootClassName, sizeof(TestScene), [](rt::Class& cls) {
      cls.addInstanceMethod("delegate",
                            [](Object& self) { return static_cast<TestScene&>(self).delegate; });
    });
    auto recording = [](rt::Class& cls) {
      cls.addProtocol("UISceneDelegate");
      cls.addInstanceMethod("scene:openURLContexts:", [](Object& self, ObjectPtr, Value contexts) {
        auto& r = static_cast<SceneRecorder&>(self);
        r.contexts.push_back(contexts);
        callLog().push_back(r.name_);
      });
    };
    rt::registerClass("SwzSceneDelegate", rt::kRootClassName, sizeof(SceneRecorder), recording);
    rt::registerClass("SwzSceneInterceptor", rt::kRootClassName, sizeof(SceneRecorder), recording);
    rt::registerClass("SwzBareSceneDelegate", rt::kRootClassName, sizeof(SceneRecorder),
                      [](rt::Class& cls) { cls.addProtocol("UISceneDelegate"); });
  });
}

class VTUSceneDelegateProxyTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    registerSceneClasses();
    callLog().clear();
    platform::ProcessInfo::processInfo().setOperatingSystemVersionForTesting("13.0");
    vtu::testing::startCapturingLines();
  }
  void TearDown() override {
    platform::ProcessInfo::processInfo().setOperatingSystemVersionForTesting(std::nullopt);
    PlatformTest::TearDown();
  }
  std::shared_ptr<TestScene> connect(const ObjectPtr& delegate) {
    auto scene = std::make_shared<TestScene>();
    scene->delegate = delegate;
    platform::NotificationCenter::defaultCenter().post("UISceneWillConnectNotification",
                                                       Value(scene));
    return scene;
  }
  void openURLs(const std::shared_ptr<TestScene>& scene, const Value& contexts) {
    rt::msgSend<void>(scene->delegate, "scene:openURLContexts:", ObjectPtr(scene), Value(contexts));
  }
};

TEST_F(VTUSceneDelegateProxyTest, ConnectingSceneDelegateCallsInterceptorsFirstAndOnlyOnce) {
  auto interceptor = std::make_shared<SceneRecorder>("SwzSceneInterceptor", "interceptor");
  ASSERT_TRUE(VTUSceneDelegateSwizzler::registerSceneDelegateInterceptor(interceptor));
  VTUSceneDelegateSwizzler::proxyOriginalSceneDelegate();
  ASSERT_TRUE(VTUSceneDelegateSwizzler::isSubscribed());

  auto delegate = std::make_shared<SceneRecorder>("SwzSceneDelegate", "delegate");
  auto scene = connect(delegate);
  rt::Class* proxied = rt::objectGetClass(delegate.get());
  EXPECT_EQ(proxied->name().rfind("VTU_SwzSceneDelegate-", 0), 0u);

  const Value contexts(Value::Array{Value("tvs://scene")});
  openURLs(scene, contexts);
  EXPECT_EQ(callLog(), (std::vector<std::string>{"interceptor", "delegate"}));
  EXPECT_EQ(interceptor->contexts, std::vector<Value>{contexts});
  EXPECT_EQ(delegate->contexts, std::vector<Value>{contexts});

  // Connecting again leaves an already proxied delegate alone.
  connect(delegate);
  EXPECT_EQ(rt::objectGetClass(delegate.get()), proxied);

  // A delegate without its own implementation still lets the interceptors see the URLs.
  auto bare = std::make_shared<SceneRecorder>("SwzBareSceneDelegate", "bare");
  auto bareScene = connect(bare);
  callLog().clear();
  openURLs(bareScene, contexts);
  EXPECT_EQ(callLog(), (std::vector<std::string>{"interceptor"}));
}

TEST_F(VTUSceneDelegateProxyTest, GoneInterceptorsArePrunedAndUnknownIDsRefused) {
  VTUSceneDelegateSwizzler::proxyOriginalSceneDelegate();
  auto gone = std::make_shared<SceneRecorder>("SwzSceneInterceptor", "gone");
  auto id = VTUSceneDelegateSwizzler::registerSceneDelegateInterceptor(gone);
  gone.reset();
  VTUSceneDelegateSwizzler::unregisterSceneDelegateInterceptorWithID(id);
  EXPECT_EQ(VTUSceneDelegateSwizzler::interceptors().count(), 1u);

  auto delegate = std::make_shared<SceneRecorder>("SwzSceneDelegate", "delegate");
  openURLs(connect(delegate), Value(Value::Array{}));
  EXPECT_EQ(callLog(), (std::vector<std::string>{"delegate"}));
  EXPECT_EQ(VTUSceneDelegateSwizzler::interceptors().count(), 0u);

  vtu::testing::flushLoggingQueue();
  std::string all;
  for (auto& l : vtu::testing::capturedLines()) all += l.line + "\n";
  EXPECT_NE(all.find("[VeltroUtilities/SceneDelegateSwizzler][I-SWZ001104] SceneDelegateProxy "
                     "cannot unregister interceptor that was not registered. Interceptor ID " +
                     *id),
            std::string::npos)
      << all;
  EXPECT_NE(all.find("[I-SWZ001110] SceneDelegateProxy cannot find interceptor with ID " + *id +
                     ". Removing the interceptor."),
            std::string::npos)
      << all;
}

TEST_F(VTUSceneDelegateProxyTest, AProxyThatCannotBeMadeWhileASceneConnectsIsLoggedNotRaised) {
  VTUSceneDelegateSwizzler::proxyOriginalSceneDelegate();
  ASSERT_TRUE(VTUSceneDelegateSwizzler::isSubscribed());
  // Generated subclasses come out larger than the delegate's class: the class cannot be swapped.
  VTUSceneDelegateSwizzler::setSubclassPaddingForTesting(8);
  auto delegate = std::make_shared<SceneRecorder>("SwzSceneDelegate", "delegate");
  // The connection is the platform's, inside its notification: nothing may be raised into it
  // (the default assertion handler raises).
  EXPECT_NO_THROW(connect(delegate));
  EXPECT_EQ(rt::objectGetClassName(delegate.get()), "SwzSceneDelegate");
  vtu::testing::flushLoggingQueue();
  size_t sizeLines = 0;
  for (const auto& l : vtu::testing::capturedLines()) {
    sizeLines += l.level == kVTULoggerLevelError &&
                 l.line.find(
                     "[I-SWZ001114] Cannot create subclass of Scene Delegate, because the "
                     "created subclass is not the same size.") != std::string::npos;
  }
  EXPECT_EQ(sizeLines, 1u);
  // Asked for directly, the failed contract is still reported as one.
  std::vector<std::string> assertions;
  auto previous = platform::AssertionHandler::setHandler(
      [&](const std::string&, const std::string&, int, const std::string& description) {
        assertions.push_back(description);
      });
  auto scene = std::make_shared<TestScene>();
  scene->delegate = delegate;
  VTUSceneDelegateSwizzler::proxySceneDelegateIfNeeded(scene);
  EXPECT_EQ(assertions, std::vector<std::string>{"Classes must be the same size to swizzle isa"});
  EXPECT_EQ(rt::objectGetClassName(delegate.get()), "SwzSceneDelegate");
  platform::AssertionHandler::setHandler(previous);
  VTUSceneDelegateSwizzler::setSubclassPaddingForTesting(0);
  // With classes of one size it works again.
  connect(delegate);
  EXPECT_EQ(rt::objectGetClassName(delegate.get()).rfind("VTU_SwzSceneDelegate-", 0), 0u);
}

TEST_F(VTUSceneDelegateProxyTest, SwitchedOffByEitherInfoPlistKeyNothingIsSubscribed) {
  for (const char* key :
       {"LumoAppDelegateProxyEnabled", "VeltroUtilitiesAppDelegateProxyEnabled"}) {
    writeInfoPlist({{key, Value(false)}});
    EXPECT_FALSE(VTUSceneDelegateSwizzler::isSceneDelegateProxyEnabled()) << key;
  }
  VTUSceneDelegateSwizzler::proxyOriginalSceneDelegate();
  EXPECT_FALSE(VTUSceneDelegateSwizzler::isSubscribed());
  auto delegate = std::make_shared<SceneRecorder>("SwzSceneDelegate", "delegate");
  connect(delegate);
  EXPECT_EQ(rt::objectGetClassName(delegate.get()), "SwzSceneDelegate");
}

TEST_F(VTUSceneDelegateProxyTest, BelowVersion13NothingIsSubscribedAndTheHandlerDoesNothing) {
  platform::ProcessInfo::processInfo().setOperatingSystemVersionForTesting("12.4");
  VTUSceneDelegateSwizzler::proxyOriginalSceneDelegate();
  EXPECT_FALSE(VTUSceneDelegateSwizzler::isSubscribed());
  auto delegate = std::make_shared<SceneRecorder>("SwzSceneDelegate", "delegate");
  auto scene = std::make_shared<TestScene>();
  scene->delegate = delegate;
  VTUSceneDelegateSwizzler::handleSceneWillConnect(Value(scene));
  EXPECT_EQ(rt::objectGetClassName(delegate.get()), "SwzSceneDelegate");
}

}  // namespace
