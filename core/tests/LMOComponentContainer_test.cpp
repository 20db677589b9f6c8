// The component registry: population from the registered libraries, eager and lazy creation,
// caching, conformance, duplicates and removal.
#include "core/LMOComponentContainer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>

#include "core/LMOConstants.h"
#include "core/tests/CoreTestSupport.h"

namespace {

using namespace core_testing;
namespace rt = platform::runtime;

class LMOComponentContainerTest : public CoreTest {
 protected:
  std::shared_ptr<LMOApp> configureNamed(const std::string& name) {
    LMOApp::configureWithName(name, makeOptions(validOptions()));
    return LMOApp::appNamed(name);
  }
};

TEST_F(LMOComponentContainerTest, LibrariesRegisterOnceInOrder) {
  // The test libraries and the real ones linked into this program (installations, analytics).
  auto registrants = LMOComponentContainer::registrants();
  std::vector<std::string> names;
  for (const auto* registrant : registrants) names.push_back(registrant->name());
  std::vector<std::string> testLibraries;
  for (const auto& name : names) {
    if (name.rfind("CT", 0) == 0) testLibraries.push_back(name);
  }
  EXPECT_EQ(testLibraries, (std::vector<std::string>{"CTFirstLibrary", "CTSecondLibrary"}));
  EXPECT_EQ(std::count(names.begin(), names.end(), "LMOAnalyticsConnector"), 1);
  EXPECT_EQ(std::count(names.begin(), names.end(), "LMOInstallations"), 1);
  ASSERT_EQ(names.size(), 4u);
  LMOComponentContainer::registerAsComponentRegistrant(registrants[0]);
  EXPECT_EQ(LMOComponentContainer::registrants().size(), 4u);
}

TEST_F(LMOComponentContainerTest, FirstRegistrantWinsADuplicatedProtocol) {
  auto container = LMOComponentContainer::initWithApp(nullptr);
  auto lines = linesWithCode("I-COR000029");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("Attempted to register protocol CTDuplicated, but it already has an "
                          "implementation."),
            std::string::npos);
  EXPECT_EQ(duplicateMaker(container->instanceForProtocol(LMOProtocol::named(kDuplicateProtocol))),
            "first");
  // In the other order the other one wins.
  auto reversed = LMOComponentContainer::initWithApp(
      nullptr, {rt::classNamed("CTSecondLibrary"), rt::classNamed("CTFirstLibrary")});
  EXPECT_EQ(duplicateMaker(reversed->instanceForProtocol(LMOProtocol::named(kDuplicateProtocol))),
            "second");
}

TEST_F(LMOComponentContainerTest, UnknownProtocolYieldsNothingAndLogsNothing) {
  auto container = LMOComponentContainer::initWithApp(nullptr);
  const auto before = loggedLines().size();
  EXPECT_EQ(container->instanceForProtocol(LMOProtocol::named("CTNobody")), nullptr);
  EXPECT_EQ(loggedLines().size(), before);
}

TEST_F(LMOComponentContainerTest, CachingFollowsTheBlocksFlag) {
  auto container = LMOComponentContainer::initWithApp(nullptr);
  auto lazy1 = container->instanceForProtocol(LMOProtocol::named(kLazyProtocol));
  auto lazy2 = container->instanceForProtocol(LMOProtocol::named(kLazyProtocol));
  ASSERT_TRUE(lazy1 && lazy2);
  EXPECT_NE(lazy1, lazy2) << "uncached: a new instance per request";
  EXPECT_EQ(creations(kLazyProtocol), 2);
  auto cached1 = container->instanceForProtocol(LMOProtocol::named(kDuplicateProtocol));
  auto cached2 = container->instanceForProtocol(LMOProtocol::named(kDuplicateProtocol));
  EXPECT_EQ(cached1, cached2);
  EXPECT_EQ(creations(kDuplicateProtocol), 1);
  // The typed form casts.
  EXPECT_TRUE(container->instanceForProtocol<TestService>(LMOProtocol::named(kLazyProtocol)));
}

TEST_F(LMOComponentContainerTest, NonConformingInstanceIsReturnedAndLoggedEachTime) {
  auto container = LMOComponentContainer::initWithApp(nullptr);
  EXPECT_TRUE(container->instanceForProtocol(LMOProtocol::named(kMisfitProtocol)));
  EXPECT_TRUE(container->instanceForProtocol(LMOProtocol::named(kMisfitProtocol)));
  auto lines = linesWithCode("I-COR000030");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("An instance conforming to CTMisfit was requested, but the instance "
                          "provided does not conform to the protocol"),
            std::string::npos);
  // A C++ protocol check decides by type instead.
  EXPECT_TRUE(container->instanceForProtocol(LMOProtocol::of<platform::Object>(kMisfitProtocol)));
  EXPECT_EQ(linesWithCode("I-COR000030").size(), 2u);
}

TEST_F(LMOComponentContainerTest, EagerInDefaultAppOnlyInTheDefaultApp) {
  auto named = configureNamed("side-app");
  ASSERT_TRUE(named);
  EXPECT_EQ(creations(kEagerProtocol), 1) << "always eager";
  EXPECT_EQ(creations(kDefaultEagerProtocol), 0) << "lazy in a named app";
  EXPECT_FALSE(named->container()->eagerProtocolNames()) << "the eager list is gone once made";

  LMOApp::configureWithOptions(makeOptions(validOptions()));
  EXPECT_EQ(creations(kEagerProtocol), 2);
  EXPECT_EQ(creations(kDefaultEagerProtocol), 1);
  // A second run makes nothing more.
  LMOApp::defaultApp()->container()->instantiateEagerComponents();
  EXPECT_EQ(creations(kDefaultEagerProtocol), 1);
  EXPECT_EQ(creations(kLazyProtocol), 0);
}

TEST_F(LMOComponentContainerTest, AfterRemovalRequestsYieldNothing) {
  auto app = configureNamed("gone");
  auto container = app->container();
  auto eager = container->instanceForProtocol(LMOProtocol::named(kEagerProtocol));
  ASSERT_TRUE(eager);
  container->removeAllComponents();
  EXPECT_EQ(container->instanceForProtocol(LMOProtocol::named(kEagerProtocol)), eager)
      << "cached instances outlive the components until dropped";
  EXPECT_EQ(container->instanceForProtocol(LMOProtocol::named(kLazyProtocol)), nullptr);
  container->removeAllCachedInstances();
  EXPECT_EQ(deletionsHeard(), std::vector<std::string>{"gone"});
  EXPECT_EQ(container->instanceForProtocol(LMOProtocol::named(kEagerProtocol)), nullptr);
  EXPECT_TRUE(container->componentNames().empty());
}

// A library (not registered with the app core) whose one component is made from another one
// that its creation block asks the same container for.
constexpr const char* kOuterProtocol = "CTOuter";
struct OuterRecord {
  std::mutex mutex;
  std::vector<platform::ObjectPtr> innerSeen;
};
OuterRecord& outerRecord() {
  static auto* record = new OuterRecord;
  return *record;
}
const rt::ClassRegistrar kOuterService("CTOuterService", rt::kRootClassName, sizeof(TestService),
                                       [](rt::Class& c) { c.addProtocol(kOuterProtocol); });
const rt::ClassRegistrar kOuterLibrary(
    "CTOuterLibrary", rt::kRootClassName, sizeof(rt::RootObject), [](rt::Class& c) {
      c.addProtocol(lmo::kLibraryProtocolName);
      c.addClassMethod(
          lmo::kComponentsToRegisterSelector, [](platform::Object&) -> LMOComponentList {
            return {LMOComponent::componentWithProtocol(
                LMOProtocol::named(kOuterProtocol),
                [](LMOComponentContainer& container, bool* isCacheable) -> platform::ObjectPtr {
                  auto inner =
                      container.instanceForProtocol(LMOProtocol::named(kDuplicateProtocol));
                  {
                    std::lock_guard lock(outerRecord().mutex);
                    outerRecord().innerSeen.push_back(inner);
                  }
                  *isCacheable = true;
                  return std::make_shared<TestService>("CTOuterService");
                })};
          });
    });

TEST_F(LMOComponentContainerTest, CreationBlockMayAskTheSameContainer) {
  auto container = LMOComponentContainer::initWithApp(
      nullptr, {rt::classNamed("CTOuterLibrary"), rt::classNamed("CTFirstLibrary")});
  // The duplicated service is made from inside the request for the outer one, on the same
  // thread and the same container, while that request is still under way.
  auto outer = container->instanceForProtocol(LMOProtocol::named(kOuterProtocol));
  ASSERT_TRUE(outer);
  EXPECT_EQ(outer->className(), "CTOuterService");
  std::vector<platform::ObjectPtr> seen;
  {
    std::lock_guard lock(outerRecord().mutex);
    seen = outerRecord().innerSeen;
  }
  ASSERT_EQ(seen.size(), 1u);
  ASSERT_TRUE(seen[0]);
  EXPECT_EQ(duplicateMaker(seen[0]), "first");
  // Both were cached by the container: asking again makes nothing new.
  EXPECT_EQ(seen[0], container->instanceForProtocol(LMOProtocol::named(kDuplicateProtocol)));
  EXPECT_EQ(outer, container->instanceForProtocol(LMOProtocol::named(kOuterProtocol)));
  EXPECT_EQ(creations(kDuplicateProtocol), 1);
  EXPECT_TRUE(linesWithCode("I-COR000030").empty()) << "both conform";
}

TEST_F(LMOComponentContainerTest, ComponentFactoriesKeepTheirFields) {
  auto dependency = LMODependency::dependencyWithProtocol(LMOProtocol::named("P"));
  EXPECT_TRUE(dependency->isRequired());
  EXPECT_FALSE(LMODependency::dependencyWithProtocol(LMOProtocol::named("P"), false)->isRequired());
  auto lazy = LMOComponent::componentWithProtocol(LMOProtocol::named("Q"), {});
  EXPECT_EQ(lazy->instantiationTiming(), LMOInstantiationTiming::Lazy);
  EXPECT_TRUE(lazy->dependencies().empty());
  auto full = LMOComponent::componentWithProtocol(
      LMOProtocol::named("Q"), LMOInstantiationTiming::EagerInDefaultApp, {dependency}, {});
  EXPECT_EQ(static_cast<long>(full->instantiationTiming()), 2);
  EXPECT_EQ(full->dependencies().size(), 1u);
  EXPECT_EQ(full->protocol().name(), "Q");
}

}  // namespace
