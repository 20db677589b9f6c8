// The component registry: population from the registered libraries, eager and lazy creation,
// caching, conformance, duplicates and removal.
#include "core/LMOComponentContainer.h"

#include <gtest/gtest.h>

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
  auto registrants = LMOComponentContainer::registrants();
  ASSERT_EQ(registrants.size(), 2u);
  EXPECT_EQ(registrants[0]->name(), "CTFirstLibrary");
  EXPECT_EQ(registrants[1]->name(), "CTSecondLibrary");
  LMOComponentContainer::registerAsComponentRegistrant(registrants[0]);
  EXPECT_EQ(LMOComponentContainer::registrants().size(), 2u);
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

TEST_F(LMOComponentContainerTest, CreationBlockMayAskTheSameContainer) {
  auto container = LMOComponentContainer::initWithApp(nullptr);
  // The duplicated service is made from inside another request on the same thread.
  auto outer = LMOComponent::componentWithProtocol(
      LMOProtocol::named("CTOuter"), [](LMOComponentContainer& c, bool*) -> platform::ObjectPtr {
        return c.instanceForProtocol(LMOProtocol::named(kDuplicateProtocol));
      });
  auto made = outer->creationBlock()(*container, nullptr);
  EXPECT_TRUE(made);
  EXPECT_EQ(made, container->instanceForProtocol(LMOProtocol::named(kDuplicateProtocol)));
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
