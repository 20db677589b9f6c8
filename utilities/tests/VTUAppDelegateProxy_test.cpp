#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/app/Application.h"
#include "platform/base/Error.h"
#include "platform/base/Format.h"
#include "platform/runtime/Crypto.h"
#include "platform/testing/PlatformTest.h"
#include "utilities/logger/VTULogger.h"
#include "utilities/swizzling/VTUAppDelegateSwizzler.h"

namespace rt = platform::runtime;
using platform::Object;
using platform::ObjectPtr;
using platform::Value;

namespace {

// Who was called, in order, across the delegate and every interceptor.
std::vector<std::string>& callLog() {
  static std::vector<std::string> log;
  return log;
}

// A runtime object that answers the proxied operations with configurable results and records
// what it was asked.
class Recorder : public rt::RootObject {
 public:
  Recorder(std::string className, std::string name)
      : class_(std::move(className)), name_(std::move(name)) {}
  std::string className() const override { return class_; }
  const std::string& name() const { return name_; }
  bool openURLAnswer = false;
  long fetchAnswer = 2;
  int fetchCompletionCalls = 1;
  std::vector<std::string> urls;
  std::function<void()> backgroundCompletion;

 private:
  std::string class_;
  std::string name_;
};

void addRecordingMethods(rt::Class& cls, bool withFetch) {
  cls.addProtocol("UIApplicationDelegate");
  cls.addInstanceMethod("application:openURL:options:",
                        [](Object& self, ObjectPtr, std::string url, Value::Dictionary) {
                          auto& r = static_cast<Recorder&>(self);
                          r.urls.push_back(url);
                          callLog().push_back(r.name());
                          return r.openURLAnswer;
                        });
  if (withFetch) {
    cls.addInstanceMethod(
        "application:didReceiveRemoteNotification:fetchCompletionHandler:",
        [](Object& self, ObjectPtr, Value::Dictionary, std::function<void(long)> done) {
          auto& r = static_cast<Recorder&>(self);
          callLog().push_back(r.name());
          for (int i = 0; i < r.fetchCompletionCalls; ++i) done(r.fetchAnswer);
        });
  }
}

void registerTestClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    // The app's delegate: openURL and fetch, but no background-session handling of its own.
    rt::registerClass("SwzAppDelegate", rt::kRootClassName, sizeof(Recorder),
                      [](rt::Class& cls) { addRecordingMethods(cls, true); });
    // An interceptor that also handles background URL sessions.
    rt::registerClass("SwzInterceptor", rt::kRootClassName, sizeof(Recorder), [](rt::Class& cls) {
      addRecordingMethods(cls, true);
      cls.addInstanceMethod(
          "application:handleEventsForBackgroundURLSession:completionHandler:",
          [](Object& self, ObjectPtr, std::string id, std::function<void()> done) {
            auto& r = static_cast<Recorder&>(self);
            callLog().push_back(r.name() + ":" + id);
            r.backgroundCompletion = done;
          });
    });
    // Neither a delegate nor an interceptor.
    rt::registerClass("SwzStranger", rt::kRootClassName, sizeof(Recorder), {});
  });
}

std::shared_ptr<Recorder> makeDelegate() {
  return std::make_shared<Recorder>("SwzAppDelegate", "delegate");
}
std::shared_ptr<Recorder> makeInterceptor(const std::string& name) {
  return std::make_shared<Recorder>("SwzInterceptor", name);
}

class VTUAppDelegateProxyTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    registerTestClasses();
    callLog().clear();
    app_ = platform::app::Application::sharedApplication();
    vtu::testing::startCapturingLines();
    previous_ = platform::AssertionHandler::setHandler(
        [this](const std::string&, const std::string&, int, const std::string& description) {
          assertions_.push_back(description);
        });
  }
  void TearDown() override {
    platform::AssertionHandler::setHandler(previous_);
    PlatformTest::TearDown();
  }

  std::vector<std::string> logLines() {
    vtu::testing::flushLoggingQueue();
    std::vector<std::string> lines;
    for (auto& l : vtu::testing::capturedLines()) lines.push_back(l.line);
    return lines;
  }
  bool logged(const std::string& fragment) {
    for (auto& line : logLines()) {
      if (line.find(fragment) != std::string::npos) return true;
    }
    return false;
  }
  bool openURL(const std::string& url) {
    return rt::msgSend<bool>(app_->delegate(), "application:openURL:options:", ObjectPtr(app_),
                             std::string(url), Value::Dictionary{});
  }

  std::shared_ptr<platform::app::Application> app_;
  platform::AssertionHandler::Handler previous_;
  std::vector<std::string> assertions_;
};

TEST_F(VTUAppDelegateProxyTest, InfoPlistSwitches) {
  struct Case {
    Value::Dictionary info;
    bool enabled;
  };
  const std::vector<Case> cases = {
      {{}, true},
      {{{"VeltroUtilitiesAppDelegateProxyEnabled", Value(false)}}, false},
      {{{"LumoAppDelegateProxyEnabled", Value(false)}}, false},
      {{{"LumoAppDelegateProxyEnabled", Value(0)}}, false},
      {{{"VeltroUtilitiesAppDelegateProxyEnabled", Value("NO")}}, true},
      {{{"LumoAppDelegateProxyEnabled", Value("NO")}}, true},
      {{{"LumoAppDelegateProxyEnabled", Value(true)},
        {"VeltroUtilitiesAppDelegateProxyEnabled", Value(false)}},
       false},
      {{{"LumoAppDelegateProxyEnabled", Value(true)},
        {"VeltroUtilitiesAppDelegateProxyEnabled", Value(1)}},
       true},
  };
  for (const auto& c : cases) {
    writeInfoPlist(c.info);
    EXPECT_EQ(VTUAppDelegateSwizzler::isAppDelegateProxyEnabled(), c.enabled)
        << Value(c.info).description();
  }
}

TEST_F(VTUAppDelegateProxyTest, InstallingTurnsTheDelegateIntoAProxyThatKeepsItsIdentity) {
  auto delegate = makeDelegate();
  app_->setDelegate(delegate);
  std::vector<std::pair<ObjectPtr, ObjectPtr>> changes;
  auto token = app_->observeDelegate([&](ObjectPtr o, ObjectPtr n) { changes.emplace_back(o, n); });

  VTUAppDelegateSwizzler::proxyOriginalDelegate();

  const std::string className = rt::objectGetClassName(delegate.get());
  EXPECT_EQ(className.rfind("VTU_SwzAppDelegate-", 0), 0u) << className;
  EXPECT_EQ(delegate->description(),
            platform::format("<SwzAppDelegate: %p>", platform::pointerValue(delegate.get())));
  EXPECT_TRUE(rt::respondsToSelector(
      delegate.get(), "application:handleEventsForBackgroundURLSession:completionHandler:"));
  EXPECT_TRUE(rt::respondsToSelector(delegate.get(),
                                     "application:continueUserActivity:"
                                     "restorationHandler:"));
  EXPECT_EQ(app_->delegate(), delegate);
  EXPECT_EQ(VTUAppDelegateSwizzler::originalDelegate(), delegate);
  // The delegate was cleared and set again so the application asks afresh what it answers.
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0].second, nullptr);
  EXPECT_EQ(changes[1].second, delegate);
  EXPECT_TRUE(VTUAppDelegateObserver::sharedInstance().isObserving());

  // Installed once per process: a second call changes nothing.
  rt::Class* proxied = rt::objectGetClass(delegate.get());
  VTUAppDelegateSwizzler::proxyOriginalDelegate();
  EXPECT_EQ(rt::objectGetClass(delegate.get()), proxied);
  EXPECT_EQ(changes.size(), 2u);
}

TEST_F(VTUAppDelegateProxyTest, OpenedURLReachesEveryInterceptorBeforeTheDelegate) {
  struct Case {
    bool first, second, delegate, expected;
  };
  const std::vector<Case> cases = {{false, false, false, false},
                                   {true, false, false, true},
                                   {false, true, false, true},
                                   {false, false, true, true},
                                   {true, true, true, true}};
  auto delegate = makeDelegate();
  app_->setDelegate(delegate);
  auto first = makeInterceptor("first");
  auto second = makeInterceptor("second");
  VTUAppDelegateSwizzler::registerAppDelegateInterceptor(first);
  VTUAppDelegateSwizzler::proxyOriginalDelegate();
  // Interceptors may come after installation too.
  VTUAppDelegateSwizzler::registerAppDelegateInterceptor(second);

  for (const auto& c : cases) {
    callLog().clear();
    first->openURLAnswer = c.first;
    second->openURLAnswer = c.second;
    delegate->openURLAnswer = c.delegate;
    EXPECT_EQ(openURL("tvs://open"), c.expected);
    ASSERT_EQ(callLog().size(), 3u);
    EXPECT_EQ(callLog().back(), "delegate");  // every interceptor first, no stop at a true
  }
  EXPECT_EQ(first->urls.size(), cases.size());
  EXPECT_EQ(second->urls.back(), "tvs://open");
  EXPECT_EQ(delegate->urls.size(), cases.size());
}

TEST_F(VTUAppDelegateProxyTest, RegistrationAndUnregistration) {
  auto interceptor = makeInterceptor("one");
  auto id1 = VTUAppDelegateSwizzler::registerAppDelegateInterceptor(interceptor);
  auto id2 = VTUAppDelegateSwizzler::registerAppDelegateInterceptor(interceptor);
  ASSERT_TRUE(id1);
  EXPECT_EQ(id1, id2);
  EXPECT_EQ(*id1, platform::format("VTU_%p", platform::pointerValue(interceptor.get())));
  EXPECT_EQ(VTUAppDelegateSwizzler::interceptors().count(), 1u);

  EXPECT_FALSE(VTUAppDelegateSwizzler::registerAppDelegateInterceptor(nullptr));
  EXPECT_FALSE(VTUAppDelegateSwizzler::registerAppDelegateInterceptor(
      std::make_shared<Recorder>("SwzStranger", "stranger")));
  EXPECT_EQ(VTUAppDelegateSwizzler::interceptors().count(), 1u);

  VTUAppDelegateSwizzler::unregisterAppDelegateInterceptorWithID(std::string("VTU_0x1"));
  EXPECT_EQ(VTUAppDelegateSwizzler::interceptors().count(), 1u);
  VTUAppDelegateSwizzler::unregisterAppDelegateInterceptorWithID(std::nullopt);
  VTUAppDelegateSwizzler::unregisterAppDelegateInterceptorWithID(std::string());
  VTUAppDelegateSwizzler::unregisterAppDelegateInterceptorWithID(id1);
  EXPECT_EQ(VTUAppDelegateSwizzler::interceptors().count(), 0u);

  EXPECT_EQ(assertions_,
            (std::vector<std::string>{
                "AppDelegateProxy cannot add nil interceptor",
                "AppDelegateProxy interceptor does not conform to UIApplicationDelegate",
                "AppDelegateProxy cannot unregister nil interceptor ID.",
                "AppDelegateProxy cannot unregister empty interceptor ID."}));
  EXPECT_TRUE(
      logged("[VeltroUtilities/AppDelegateSwizzler][I-SWZ001000] AppDelegateProxy cannot "
             "add nil interceptor."));
  EXPECT_TRUE(logged("[I-SWZ001001] AppDelegateProxy interceptor does not conform"));
  EXPECT_TRUE(
      logged("[I-SWZ001004] AppDelegateProxy cannot unregister interceptor that was not "
             "registered. Interceptor ID VTU_0x1"));
  EXPECT_TRUE(logged("[I-SWZ001003] AppDelegateProxy cannot unregister empty interceptor ID."));

  // An unregistered interceptor no longer hears anything.
  auto delegate = makeDelegate();
  app_->setDelegate(delegate);
  VTUAppDelegateSwizzler::proxyOriginalDelegate();
  callLog().clear();
  openURL("tvs://x");
  EXPECT_EQ(callLog(), (std::vector<std::string>{"delegate"}));
  EXPECT_TRUE(interceptor->urls.empty());
}

TEST_F(VTUAppDelegateProxyTest, ReleasedInterceptorIsPrunedAtTheNextDelegateCall) {
  auto delegate = makeDelegate();
  app_->setDelegate(delegate);
  VTUAppDelegateSwizzler::proxyOriginalDelegate();
  auto kept = makeInterceptor("kept");
  auto gone = makeInterceptor("gone");
  VTUAppDelegateSwizzler::registerAppDelegateInterceptor(kept);
  auto goneID = VTUAppDelegateSwizzler::registerAppDelegateInterceptor(gone);
  gone.reset();
  EXPECT_EQ(VTUAppDelegateSwizzler::interceptors().count(), 2u);

  callLog().clear();
  openURL("tvs://y");
  EXPECT_EQ(callLog(), (std::vector<std::string>{"kept", "delegate"}));
  EXPECT_EQ(VTUAppDelegateSwizzler::interceptors().count(), 1u);
  EXPECT_TRUE(logged("[I-SWZ001010] AppDelegateProxy cannot find interceptor with ID " + *goneID +
                     ". Removing the interceptor."));
}

TEST_F(VTUAppDelegateProxyTest, BackgroundSessionEventsReachInterceptorsWithTheSameCompletion) {
  auto delegate = makeDelegate();  // has no handler of its own
  app_->setDelegate(delegate);
  auto interceptor = makeInterceptor("net");
  VTUAppDelegateSwizzler::registerAppDelegateInterceptor(interceptor);
  VTUAppDelegateSwizzler::proxyOriginalDelegate();

  int systemCompletions = 0;
  rt::msgSend<void>(delegate, "application:handleEventsForBackgroundURLSession:completionHandler:",
                    ObjectPtr(app_), std::string("session-1"),
                    std::function<void()>([&] { ++systemCompletions; }));
  EXPECT_EQ(callLog(), (std::vector<std::string>{"net:session-1"}));
  ASSERT_TRUE(interceptor->backgroundCompletion);
  interceptor->backgroundCompletion();
  EXPECT_EQ(systemCompletions, 1);
}

TEST_F(VTUAppDelegateProxyTest, NothingIsInstalledWhenDisabledOrNotADelegate) {
  auto delegate = makeDelegate();
  app_->setDelegate(delegate);

  writeInfoPlist({{"VeltroUtilitiesAppDelegateProxyEnabled", Value(false)}});
  VTUAppDelegateSwizzler::proxyOriginalDelegate();
  EXPECT_EQ(rt::objectGetClassName(delegate.get()), "SwzAppDelegate");
  EXPECT_TRUE(logged("[I-SWZ001011] App Delegate Proxy is disabled. "));

  writeInfoPlist({});
  app_->setDelegate(std::make_shared<Recorder>("SwzStranger", "stranger"));
  VTUAppDelegateSwizzler::resetProxyOriginalDelegateOnceToken();
  VTUAppDelegateSwizzler::proxyOriginalDelegate();
  EXPECT_EQ(rt::objectGetClassName(app_->delegate().get()), "SwzStranger");
  EXPECT_TRUE(
      logged("[I-SWZ001014] App Delegate does not conform to UIApplicationDelegate "
             "protocol. "));

  app_->setDelegate(delegate);
  // Once the switches allow it, the same delegate is proxied.
  VTUAppDelegateSwizzler::resetProxyOriginalDelegateOnceToken();
  VTUAppDelegateSwizzler::proxyOriginalDelegate();
  EXPECT_EQ(rt::objectGetClassName(delegate.get()).rfind("VTU_", 0), 0u);
}

TEST_F(VTUAppDelegateProxyTest, ATakenSubclassNameLeavesTheClassButStillReassigns) {
  const auto uuid = platform::crypto::uuidBytes();
  platform::crypto::queueUUIDForTesting(uuid);
  const std::string taken = "VTU_SwzAppDelegate-" + platform::crypto::uuidString(uuid);
  rt::registerClass(taken, "SwzAppDelegate", sizeof(Recorder), {});

  auto delegate = makeDelegate();
  app_->setDelegate(delegate);
  VTUAppDelegateSwizzler::proxyOriginalDelegate();
  EXPECT_EQ(rt::objectGetClassName(delegate.get()), "SwzAppDelegate");
  EXPECT_EQ(VTUAppDelegateSwizzler::originalDelegate(), delegate);
  EXPECT_TRUE(
      logged("[I-SWZ001005] Cannot create a proxy for App Delegate. Subclass already "
             "exists. Original Class: SwzAppDelegate, subclass: " +
             taken));
}

TEST_F(VTUAppDelegateProxyTest, ANewDelegateEndsTheProxyAndTheObservation) {
  auto delegate = makeDelegate();
  app_->setDelegate(delegate);
  VTUAppDelegateSwizzler::proxyOriginalDelegate();
  ASSERT_EQ(VTUAppDelegateSwizzler::originalDelegate(), delegate);

  app_->setDelegate(delegate);  // the same object again is no change
  EXPECT_EQ(VTUAppDelegateSwizzler::originalDelegate(), delegate);

  auto other = makeDelegate();
  app_->setDelegate(other);
  EXPECT_EQ(VTUAppDelegateSwizzler::originalDelegate(), nullptr);
  EXPECT_FALSE(VTUAppDelegateObserver::sharedInstance().isObserving());
  // The old object keeps its subclass; the new one is left alone.
  EXPECT_EQ(rt::objectGetClassName(delegate.get()).rfind("VTU_", 0), 0u);
  EXPECT_EQ(rt::objectGetClassName(other.get()), "SwzAppDelegate");
}

TEST_F(VTUAppDelegateProxyTest, FetchResultsAreMergedAndDeliveredOnceOnTheMainQueue) {
  struct Case {
    long interceptor, delegate, expected;
  };
  const std::vector<Case> cases = {{1, 2, 1}, {2, 0, 0}, {2, 2, 2}, {0, 1, 0}};
  auto delegate = makeDelegate();
  app_->setDelegate(delegate);
  auto interceptor = makeInterceptor("push");
  VTUAppDelegateSwizzler::registerAppDelegateInterceptor(interceptor);
  VTUAppDelegateSwizzler::proxyOriginalDelegateIncludingAPNSMethods();
  // The remote-notification operations are proxied only now, and only the ones asked for.
  EXPECT_TRUE(rt::respondsToSelector(
      delegate.get(), "application:didRegisterForRemoteNotificationsWithDeviceToken:"));

  for (const auto& c : cases) {
    interceptor->fetchAnswer = c.interceptor;
    delegate->fetchAnswer = c.delegate;
    delegate->fetchCompletionCalls = 2;  // a second answer must not upset the count
    std::vector<long> delivered;
    callLog().clear();
    rt::msgSend<void>(delegate, "application:didReceiveRemoteNotification:fetchCompletionHandler:",
                      ObjectPtr(app_), Value::Dictionary{},
                      std::function<void(long)>([&](long r) { delivered.push_back(r); }));
    EXPECT_EQ(callLog(), (std::vector<std::string>{"push", "delegate"}));
    EXPECT_TRUE(delivered.empty());  // on the main queue, not inline
    ASSERT_TRUE(pumpUntil([&] { return !delivered.empty(); }));
    EXPECT_EQ(delivered, std::vector<long>{c.expected});
  }
}

}  // namespace

namespace {

TEST_F(VTUAppDelegateProxyTest, AFailureDuringInstallationIsLoggedAndNeverThrows) {
  auto delegate = makeDelegate();
  app_->setDelegate(delegate);
  // The application refuses to hand out its delegate a second time, mid-installation.
  rt::Class* appClass = rt::classNamed("UIApplication");
  rt::IMP getter = rt::classGetMethodImplementation(appClass, "delegate");
  auto reads = std::make_shared<int>(0);
  rt::classReplaceMethod(appClass, "delegate",
                         rt::implementationWithBlock([getter, reads](Object& self) -> ObjectPtr {
                           if (++*reads == 2) {
                             throw platform::Exception("NSGenericException", "delegate refused");
                           }
                           return getter->call<ObjectPtr>(self);
                         }),
                         "@@:");

  EXPECT_NO_THROW(VTUAppDelegateSwizzler::proxyOriginalDelegate());
  EXPECT_EQ(*reads, 2);
  EXPECT_EQ(VTUAppDelegateSwizzler::originalDelegate(), nullptr);
  EXPECT_TRUE(logged("[I-SWZ001013] Cannot create App Delegate Proxy. "));
}

}  // namespace
