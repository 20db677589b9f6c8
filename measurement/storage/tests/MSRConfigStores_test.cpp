#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <memory>
#include <vector>

#include "measurement/storage/MSRFileLocations.h"
#include "measurement/storage/MSRPersistentDictionary.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "measurement/storage/MSRUserDefaults.h"
#include "platform/base/Files.h"
#include "platform/base/PropertyList.h"
#include "platform/network/BackupExclusion.h"
#include "platform/testing/NestedValues.h"
#include "platform/testing/ChildProcess.h"
#include "platform/testing/PlatformTest.h"
#include "platform/testing/UnreadableFile.h"
#include "utilities/logger/VTULogger.h"

namespace fs = std::filesystem;
using platform::Value;

namespace {

Value nested(int levels, bool dictionaries) {
  return dictionaries ? platform::testing::nestedDictionaries(levels)
                      : platform::testing::nestedArrays(levels);
}

class MSRConfigStoresTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    vtu::testing::startCapturingLines();
  }
  bool logged(const std::string& code) { return timesLogged(code) > 0; }
  std::size_t timesLogged(const std::string& code) {
    vtu::testing::flushLoggingQueue();
    std::size_t times = 0;
    for (const auto& line : vtu::testing::capturedLines()) {
      if (line.line.find(code) != std::string::npos) ++times;
    }
    return times;
  }
  Value fileContent(const fs::path& path) {
    auto bytes = platform::files::readFile(path);
    if (!bytes) return Value();
    return platform::parsePropertyList(
        std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
  }
  // Moves the fake clock and waits for what it handed to the store's queue.
  void advance(MSRPersistentDictionary& store, double seconds) {
    clock().advance(seconds);
    store.serialQueue()->sync([] {});
  }
};

TEST_F(MSRConfigStoresTest, FileLocations) {
  const fs::path support = home() / "Library/Application Support/Veltro/Measurement";
  const fs::path preferences = home() / "Library/Preferences";
  struct Case {
    std::string actual;
    std::string expected;
  };
  const Case cases[] = {
      {MSRApplicationSupportPath("db.sql"), (support / "db.sql").string()},
      {MSRApplicationSupportPlistPath("suite"), (support / "suite.plist").string()},
      {MSRApplicationSupportPlistPath("suite.plist"), (support / "suite.plist").string()},
      {MSRPreferencesPlistPath("suite"), (preferences / "suite.plist").string()},
      {MSRPreferencesPlistPath("suite.plist"), (preferences / "suite.plist.plist").string()},
      {MSRApplicationSupportPath(""), ""},
      {MSRApplicationSupportPlistPath(""), ""},
      {MSRPreferencesPlistPath(""), ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.actual, c.expected);
}

TEST_F(MSRConfigStoresTest, DictionaryWritesOnceASecondAfterTheFirstChange) {
  auto store = MSRPersistentDictionary::initWithFileName("cfg");
  ASSERT_TRUE(store);
  EXPECT_EQ(store->fileURL(), home() / "Library/Application Support/Veltro/Measurement/cfg.plist");
  store->setInteger(1, "a");
  advance(*store, 0.5);
  store->setInteger(2, "b");
  EXPECT_FALSE(fs::exists(store->fileURL()));
  advance(*store, 0.5);
  const Value content = fileContent(store->fileURL());
  EXPECT_EQ(content["a"], Value(1LL));
  EXPECT_EQ(content["b"], Value(2LL));
  EXPECT_FALSE(store->hasPendingPersistence());

  // No second write is pending: a removed file stays removed.
  fs::remove(store->fileURL());
  advance(*store, 2);
  EXPECT_FALSE(fs::exists(store->fileURL()));
}

TEST_F(MSRConfigStoresTest, DictionaryUnchangedValuesScheduleNoWrite) {
  auto store = MSRPersistentDictionary::initWithFileName("cfg");
  store->setObject(Value("x"), "k");
  advance(*store, 1);
  ASSERT_FALSE(store->hasPendingPersistence());
  store->setObject(Value("x"), "k");
  store->removeObjectForKey("missing");
  EXPECT_FALSE(store->hasPendingPersistence());
  auto empty = MSRPersistentDictionary::initWithFileName("other");
  empty->clearAllData();
  EXPECT_FALSE(empty->hasPendingPersistence());
}

TEST_F(MSRConfigStoresTest, DictionaryReleasedWithPendingWriteWritesAtOnceAndReloads) {
  fs::path file;
  {
    auto store = MSRPersistentDictionary::initWithFileName("cfg");
    store->setDouble(2.5, "d");
    store->setObject(Value(Value::Array{Value("a"), Value(1)}), "arr");
    file = store->fileURL();
  }
  ASSERT_TRUE(fs::exists(file));
  auto again = MSRPersistentDictionary::initWithFileName("cfg");
  EXPECT_DOUBLE_EQ(again->doubleForKey("d"), 2.5);
  EXPECT_EQ(again->arrayForKey("arr").count(), 2u);
  EXPECT_EQ(again->integerForKey("arr"), 0);
  EXPECT_FALSE(again->stringForKey("d"));
}

TEST_F(MSRConfigStoresTest, DictionaryWriteThatFailedIsTriedAgain) {
  auto store = MSRPersistentDictionary::initWithFileName("cfg");
  // A folder where the file belongs: the atomic rename onto it fails.
  fs::create_directories(store->fileURL() / "in-the-way");
  store->setInteger(7, "k");
  advance(*store, 1);
  EXPECT_TRUE(logged("I-ACS043000"));
  EXPECT_TRUE(store->hasPendingPersistence());
  fs::remove_all(store->fileURL());
  advance(*store, 1);
  EXPECT_EQ(fileContent(store->fileURL())["k"], Value(7LL));
  EXPECT_FALSE(store->hasPendingPersistence());
}

// A file that cannot be read now (no descriptor free, an I/O error) is not taken for an empty
// one: changes made meanwhile are written over what it holds once it reads again, so no earlier
// key is lost.
TEST_F(MSRConfigStoresTest, DictionaryWhoseFileCannotBeReadNowKeepsItsKeys) {
  using platform::testing::UnreadableFile;
  for (auto cause : UnreadableFile::usableCauses()) {
    SCOPED_TRACE(UnreadableFile::name(cause));
    const fs::path file = MSRApplicationSupportPlistPath("cfg");
    {
      auto first = MSRPersistentDictionary::initWithFileName("cfg");
      first->setObject(Value("abc"), "app_instance_id");
      first->setInteger(7, "session_number");
      first->setInteger(1, "gone");
    }
    std::shared_ptr<MSRPersistentDictionary> store;
    {
      UnreadableFile unreadable(cause, file);
      store = MSRPersistentDictionary::initWithFileName("cfg");
    }
    ASSERT_TRUE(store);
    {
      // Still unreadable when the change comes and its write is due: nothing is written.
      UnreadableFile unreadable(cause, file);
      store->setInteger(8, "session_number");
      store->setObject(Value("x"), "new");
      store->removeObjectForKey("gone");
      // What this store changed is known; what only the file holds is not, and is no "absent".
      struct Read {
        const char* key;
        Value value;
        bool known;
      };
      const Read reads[] = {{"app_instance_id", Value(), false},
                            {"session_number", Value(8LL), true},
                            {"gone", Value(), true},
                            {"never_stored", Value(), false}};
      for (const auto& read : reads) {
        SCOPED_TRACE(read.key);
        platform::ErrorPtr error;
        EXPECT_EQ(store->objectForKey(read.key, &error), read.value);
        EXPECT_EQ(error == nullptr, read.known);
      }
      advance(*store, 1);
      EXPECT_TRUE(store->hasPendingPersistence());
    }
    const Value before(Value::Dictionary{
        {"app_instance_id", Value("abc")}, {"gone", Value(1LL)}, {"session_number", Value(7LL)}});
    EXPECT_EQ(fileContent(file), before);
    fs::path aside = file;
    aside += ".corrupt";
    EXPECT_FALSE(fs::exists(aside));
    platform::ErrorPtr error;
    EXPECT_EQ(store->objectForKey("app_instance_id", &error), Value("abc"));
    EXPECT_FALSE(error);
    EXPECT_EQ(store->integerForKey("session_number"), 8);
    EXPECT_TRUE(store->objectForKey("gone").isNil());
    advance(*store, 1);
    EXPECT_EQ(fileContent(file), Value(Value::Dictionary{{"app_instance_id", Value("abc")},
                                                         {"new", Value("x")},
                                                         {"session_number", Value(8LL)}}));
    EXPECT_FALSE(store->hasPendingPersistence());
    store.reset();
    fs::remove(file);
  }
}

// Bytes that do not decode are kept aside as ".corrupt" rather than written over.
TEST_F(MSRConfigStoresTest, DictionaryWhoseFileDoesNotDecodeMovesItAside) {
  const fs::path file = MSRApplicationSupportPlistPath("cfg");
  fs::create_directories(file.parent_path());
  ASSERT_TRUE(platform::files::writeAtomically(file, std::string_view("not a property list")));
  auto store = MSRPersistentDictionary::initWithFileName("cfg");
  ASSERT_TRUE(store);
  EXPECT_TRUE(store->objectForKey("k").isNil());
  fs::path aside = file;
  aside += ".corrupt";
  EXPECT_EQ(platform::files::readTextFile(aside), "not a property list");
  store->setInteger(1, "k");
  advance(*store, 1);
  EXPECT_EQ(fileContent(file), Value(Value::Dictionary{{"k", Value(1LL)}}));
  EXPECT_EQ(platform::files::readTextFile(aside), "not a property list");
}

TEST_F(MSRConfigStoresTest, DictionaryRefusesBadKeysAndValues) {
  auto store = MSRPersistentDictionary::initWithFileName("cfg");
  store->setObject(Value::set({Value(1)}), "s");
  EXPECT_TRUE(store->objectForKey("s").isNil());
  EXPECT_TRUE(logged("I-ACS043003"));
  store->setObject(Value(Value::Dictionary{{"n", Value::set({Value(1)})}}), "nested");
  EXPECT_TRUE(store->objectForKey("nested").isNil());
  // After a restart the file would give back only what comes before the NUL.
  store->setObject(Value(std::string("a\0b", 3)), "nul");
  EXPECT_TRUE(store->objectForKey("nul").isNil());
  // The file holds each value inside its top-level dictionary, one level deeper than the value.
  for (const bool dictionaries : {false, true}) {
    const std::size_t before = timesLogged("I-ACS043003");
    store->setObject(nested(512, dictionaries), "deep");
    EXPECT_TRUE(store->objectForKey("deep").isNil());
    EXPECT_EQ(timesLogged("I-ACS043003"), before + 1);
  }
  EXPECT_TRUE(store->objectForKey("").isNil());
  EXPECT_TRUE(logged("I-ACS043001"));
  store->setObject(Value(1), "");
  EXPECT_TRUE(logged("I-ACS043002"));
  // A key holding a NUL could never be written: every later write of the file would fail.
  store->setObject(Value(1), std::string("k\0x", 3));
  EXPECT_TRUE(store->objectForKey(std::string("k\0x", 3)).isNil());
  EXPECT_FALSE(store->hasPendingPersistence());
  EXPECT_FALSE(MSRPersistentDictionary::initWithFileName(""));
  // The deepest value the file holds is taken and written with the other keys.
  store->setObject(nested(511, false), "deep");
  store->setObject(nested(511, true), "deep-dictionaries");
  store->setInteger(1, "other");
  advance(*store, 1);
  EXPECT_EQ(fileContent(store->fileURL()),
            Value(Value::Dictionary{{"deep", nested(511, false)},
                                    {"deep-dictionaries", nested(511, true)},
                                    {"other", Value(1LL)}}));
}

TEST_F(MSRConfigStoresTest, DictionaryWhoseFolderCannotBeMadeIsNotCreated) {
  fs::create_directories(home() / "Library/Application Support");
  platform::files::writeAtomically(home() / "Library/Application Support/Veltro", "file");
  EXPECT_FALSE(MSRPersistentDictionary::initWithFileName("cfg"));
  EXPECT_TRUE(logged("I-ACS043004"));
}

TEST_F(MSRConfigStoresTest, UserDefaultsUseThePreferencesLibraryUnlessInfoPlistSaysNo) {
  EXPECT_TRUE(MSRUserDefaults::userPreferenceEnabled());
  auto store = MSRUserDefaults::initWithSuiteName("suite");
  EXPECT_TRUE(store->useCFPreferencesLibrary());
}

TEST_F(MSRConfigStoresTest, UserDefaultsObjectModeFromInfoPlist) {
  writeInfoPlist({{"UseCFPreferencesLibrary", Value(0)}});
  auto store = MSRUserDefaults::initWithSuiteName("suite");
  EXPECT_FALSE(store->useCFPreferencesLibrary());
  store->setInteger(5, "n");
  store->setObject(Value("s"), "str");
  EXPECT_EQ(store->integerForKey("n"), 5);
  EXPECT_EQ(store->integerForKey("str"), 0);
  EXPECT_FALSE(store->stringForKey("n"));
  store->removeObjectForKey("n");
  EXPECT_TRUE(store->objectForKey("n").isNil());
  store->clearAllData();
  EXPECT_TRUE(store->objectForKey("str").isNil());
}

TEST_F(MSRConfigStoresTest, UserDefaultsKeepValuesInTheSuiteAndClearThem) {
  auto store = MSRUserDefaults::initWithSuiteName("suite");
  store->setBool(true, "b");
  store->setObject(Value::date(10), "date");
  EXPECT_TRUE(store->boolForKey("b"));
  EXPECT_EQ(platform::UserDefaults::initWithSuiteName("suite")->objectForKey("b"), Value(true));
  store->setObject(Value::set({Value(1)}), "set");
  EXPECT_TRUE(store->objectForKey("set").isNil());
  EXPECT_TRUE(logged("I-ACS041003"));
  store->setObject(Value(std::string("a\0b", 3)), "nul");
  EXPECT_TRUE(store->objectForKey("nul").isNil());
  // One level deeper than the suite's file holds is refused here, and never holds back the
  // write of another key; the deepest it holds is written.
  for (const bool dictionaries : {false, true}) {
    const std::size_t before = timesLogged("I-ACS041003");
    store->setObject(nested(512, dictionaries), "deep");
    EXPECT_TRUE(store->objectForKey("deep").isNil());
    EXPECT_EQ(timesLogged("I-ACS041003"), before + 1);
  }
  store->setObject(nested(511, true), "deepest");
  store->synchronize();
  EXPECT_FALSE(logged("I-ACS041004"));
  const Value content = fileContent(MSRPreferencesPlistPath("suite"));
  EXPECT_EQ(content["b"], Value(true));
  EXPECT_EQ(content["deepest"], nested(511, true));
  EXPECT_TRUE(store->objectForKey("").isNil());
  EXPECT_TRUE(logged("I-ACS041001"));
  store->clearAllData();
  EXPECT_TRUE(store->objectForKey("b").isNil());
  EXPECT_TRUE(store->objectForKey("date").isNil());
}

// A clear clears the suite as it stands on disk, in either mode: a key that another process wrote
// (its app_instance_id) and this one never read is gone too.
TEST_F(MSRConfigStoresTest, UserDefaultsClearAllDataClearsWhatAnotherProcessWrote) {
  struct Row {
    std::string suite;
    bool useCFPreferencesLibrary;
  };
  const Row rows[] = {{"library-mode", true}, {"object-mode", false}};
  if (platform::testing::testRole() == "other") {
    for (const auto& row : rows) {
      auto store = MSRUserDefaults::initWithSuiteName(row.suite);
      store->setObject(Value("from-the-other-process"), "app_instance_id");
      store->synchronize();
    }
    return;
  }
  std::vector<std::shared_ptr<MSRUserDefaults>> stores;
  for (const auto& row : rows) {
    auto store = MSRUserDefaults::initWithSuiteName(row.suite);
    store->setUseCFPreferencesLibrary(row.useCFPreferencesLibrary);
    store->setInteger(1, "mine");
    store->synchronize();
    stores.push_back(store);
  }
  auto other = platform::testing::ChildProcess::start("other");
  ASSERT_TRUE(other);
  ASSERT_EQ(other->wait(), 0);
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].suite);
    const auto& store = stores[i];
    store->clearAllData();
    store->synchronize();
    EXPECT_TRUE(store->objectForKey("app_instance_id").isNil());
    EXPECT_TRUE(store->objectForKey("mine").isNil());
    const Value content = fileContent(MSRPreferencesPlistPath(rows[i].suite));
    EXPECT_TRUE(content["app_instance_id"].isNil()) << content.description();
    EXPECT_TRUE(content["mine"].isNil()) << content.description();
  }
}

TEST_F(MSRConfigStoresTest, SynchronizeExcludesThePreferencesFileOnce) {
  auto store = MSRUserDefaults::initWithSuiteName("suite");
  store->synchronize();  // no file yet: nothing to exclude
  EXPECT_FALSE(store->isPreferenceFileExcluded());
  store->setInteger(1, "k");
  store->synchronize();
  const std::string path = MSRPreferencesPlistPath("suite");
  ASSERT_TRUE(fs::exists(path));
  EXPECT_TRUE(store->isPreferenceFileExcluded());
  EXPECT_TRUE(platform::isExcludedFromBackup(path));
  platform::setExcludedFromBackup(path, false);
  store->synchronize();
  EXPECT_FALSE(platform::isExcludedFromBackup(path));
  EXPECT_TRUE(MSRUserDefaults::standardUserDefaults()->isPreferenceFileExcluded());
}

// The engine reads the measurement-enabled state through the standard store on its worker queue,
// for every event, so an event handled while the process exits still asks for it. The exit
// handler is registered before the store exists, so it runs after anything exit tears down that
// was made later.
std::weak_ptr<MSRUserDefaults>* gStandardSeenAtExit = nullptr;

void readWhileExiting() {
  if (gStandardSeenAtExit->expired()) {
    std::fputs("the standard store was destroyed while the process exited\n", stderr);
    std::_Exit(3);
  }
  MSRUserDefaults::standardUserDefaults()->objectForKey(kMSRConfigKeyMeasurementEnabledState);
}

TEST_F(MSRConfigStoresTest, StandardStoreServesAReadWhileTheProcessExits) {
  EXPECT_EXIT(
      {
        gStandardSeenAtExit = new std::weak_ptr<MSRUserDefaults>();
        std::atexit(readWhileExiting);
        *gStandardSeenAtExit = MSRUserDefaults::standardUserDefaults();  // made only now
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
