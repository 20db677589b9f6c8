#include "utilities/storage/VTUUserDefaults.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/base/Files.h"
#include "platform/base/PropertyList.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/testing/NestedValues.h"
#include "platform/testing/PlatformTest.h"
#include "utilities/logger/VTULogger.h"

namespace {

class VTUUserDefaultsTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    vtu::testing::startCapturingLines();
  }
  std::string lastLine() {
    auto lines = vtu::testing::capturedLines();
    return lines.empty() ? "" : lines.back().line;
  }
};

TEST_F(VTUUserDefaultsTest, EmptySuiteNameIsTheApplicationDomain) {
  auto empty = VTUUserDefaults::initWithSuiteName("");
  auto standard = VTUUserDefaults::standardUserDefaults();
  empty->setObject("v", "k");
  EXPECT_EQ(standard->objectForKey("k"), platform::Value("v"));
  EXPECT_EQ(platform::UserDefaults::standardUserDefaults()->objectForKey("k"),
            platform::Value("v"));

  auto suite = VTUUserDefaults::initWithSuiteName("com.lumo.LMOInstallations");
  EXPECT_TRUE(suite->objectForKey("k").isNil());
  suite->setObject(1, "k");
  EXPECT_EQ(standard->objectForKey("k"), platform::Value("v"));
}

TEST_F(VTUUserDefaultsTest, TypedGettersReturnTheStoredObjectOrZero) {
  auto d = VTUUserDefaults::initWithSuiteName("suite");
  d->setObject(42, "n");
  EXPECT_EQ(d->stringForKey("n"), platform::Value(42));  // the number, not nil
  EXPECT_EQ(d->integerForKey("n"), 42);
  EXPECT_EQ(d->integerForKey("absent"), 0);
  EXPECT_FALSE(d->boolForKey("absent"));
  EXPECT_EQ(d->doubleForKey("absent"), 0.0);
  d->setBool(true, "b");
  d->setDouble(2.5, "d");
  d->setFloat(1.5f, "f");
  EXPECT_TRUE(d->boolForKey("b"));
  EXPECT_EQ(d->doubleForKey("d"), 2.5);
  EXPECT_EQ(d->floatForKey("f"), 1.5f);
  d->removeObjectForKey("n");
  EXPECT_TRUE(d->objectForKey("n").isNil());
}

TEST_F(VTUUserDefaultsTest, RefusesEmptyKeysAndValuesThatAreNotPropertyLists) {
  auto d = VTUUserDefaults::initWithSuiteName("suite");
  EXPECT_TRUE(d->objectForKey("").isNil());
  EXPECT_EQ(lastLine(), " - <VeltroUtilities>[I-VTU000001] Cannot get object for invalid user "
                        "default key.");
  d->setObject("v", "");
  EXPECT_EQ(lastLine(), " - [VeltroUtilities/UserDefaults][I-VTU000002] Cannot set object for "
                        "invalid user default key.");
  d->setObject(1, "kept");
  // Arrays nested as deep as a property list goes: under a key of the file's top-level
  // dictionary they would be one level too deep.
  const platform::Value tooDeep =
      platform::testing::nestedArrays(platform::kMaxPropertyListDepth);
  for (const platform::Value& bad :
       {platform::Value::null(), platform::Value::set({1, 2}),
        platform::Value(std::make_shared<platform::Object>()), tooDeep}) {
    d->setObject(bad, "kept");
    EXPECT_EQ(d->objectForKey("kept"), platform::Value(1)) << bad.className();
    EXPECT_NE(lastLine().find("[I-VTU000003] Cannot set invalid object to user defaults. Must be "
                              "a string, number, array, dictionary, date, or data. Value: "),
              std::string::npos);
  }
}

TEST_F(VTUUserDefaultsTest, ValuesSurviveARelaunch) {
  {
    auto d = VTUUserDefaults::initWithSuiteName("suite");
    d->setObject(platform::Value::Dictionary{{"a", "b"}}, "dict");
    d->setObject(platform::Value::date(1700000000.5), "when");
  }
  platform::UserDefaults::resetForTesting();
  auto d = VTUUserDefaults::initWithSuiteName("suite");
  EXPECT_EQ(d->objectForKey("dict")["a"], platform::Value("b"));
  EXPECT_EQ(d->objectForKey("when"), platform::Value::date(1700000000.5));
}

TEST_F(VTUUserDefaultsTest, SynchronisesOnceOneSecondAfterTheLastChange) {
  auto d = VTUUserDefaults::initWithSuiteName("suite");
  d->setObject(1, "a");
  clock().advance(0.4);
  d->setObject(2, "b");
  clock().advance(0.4);
  d->setObject(3, "c");
  clock().advance(0.9);  // 1.7 s after the first change, 0.9 s after the last
  platform::RunLoop::main().drain();
  EXPECT_EQ(d->synchronizeCountForTesting(), 0u);
  clock().advance(0.2);
  EXPECT_TRUE(pumpUntil([&] { return d->synchronizeCountForTesting() == 1; }));
  clock().advance(5);
  platform::RunLoop::main().drain();
  EXPECT_EQ(d->synchronizeCountForTesting(), 1u);
}

// Destroying the object cancels its pending synchronisation, also the one that would run at
// exit; the change is left to the preferences' own saving, which writes it when the process ends.
// The change is made while the disk refuses it (a directory stands where the file goes); the
// obstacle is gone before the process ends.
TEST_F(VTUUserDefaultsTest, DestroyedObjectWritesNothingAtExit) {
  const std::filesystem::path file = platform::SandboxHome::preferences() / "suite.plist";
  EXPECT_EXIT(
      {
        auto d = VTUUserDefaults::initWithSuiteName("suite");
        d->objectForKey("loaded");  // the domain is read before the obstacle appears
        std::filesystem::create_directories(file / "obstacle");
        d->setObject(1, "a");
        d.reset();
        std::filesystem::remove_all(file);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(platform::UserDefaults::initWithSuiteName("suite")->objectForKey("a"),
            platform::Value(1));
  std::filesystem::remove_all(file);
  platform::UserDefaults::resetForTesting();

  // A living object's pending synchronisation still runs at exit.
  EXPECT_EXIT(
      {
        // Leaked, so that no destructor runs before the exit handlers.
        static auto* kept =
            new std::shared_ptr<VTUUserDefaults>(VTUUserDefaults::initWithSuiteName("suite"));
        (*kept)->objectForKey("loaded");
        std::filesystem::create_directories(file / "obstacle");
        (*kept)->setObject(1, "a");
        std::filesystem::remove_all(file);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_TRUE(std::filesystem::exists(file));
}

// Other threads can still change defaults while the process exits: an installation that
// finishes saving itself just as the app ends, for one. By then exit may already have destroyed
// every object that was made after its own exit handler was registered. The handler below is
// registered before the standard object and the synchronisation queue exist, so it runs after
// anything torn down with them, and makes the change such a thread would make.
std::weak_ptr<VTUUserDefaults>* gStandardSeenAtExit = nullptr;
std::weak_ptr<platform::DispatchQueue>* gQueueSeenAtExit = nullptr;

void changeWhileExiting() {
  if (gStandardSeenAtExit->expired()) {
    std::fputs("the standard user defaults were destroyed while the process exited\n", stderr);
    std::_Exit(3);
  }
  if (gQueueSeenAtExit->expired()) {
    std::fputs("the synchronisation queue was destroyed while the process exited\n", stderr);
    std::_Exit(4);
  }
  VTUUserDefaults::standardUserDefaults()->setBool(true, "late");
  VTUUserDefaults::initWithSuiteName("suite")->setBool(true, "late");
}

TEST_F(VTUUserDefaultsTest, AChangeMadeWhileTheProcessExitsFindsEverythingInPlace) {
  EXPECT_EXIT(
      {
        gStandardSeenAtExit = new std::weak_ptr<VTUUserDefaults>();
        gQueueSeenAtExit = new std::weak_ptr<platform::DispatchQueue>();
        std::atexit(changeWhileExiting);
        // Made only now, and kept by nothing but themselves.
        *gStandardSeenAtExit = VTUUserDefaults::standardUserDefaults();
        *gQueueSeenAtExit = VTUUserDefaults::synchronizeQueueForTesting();
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
