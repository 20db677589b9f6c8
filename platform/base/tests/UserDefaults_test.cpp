#include "platform/base/UserDefaults.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>

#include "platform/base/Error.h"
#include "platform/base/FileLock.h"
#include "platform/base/Files.h"
#include "platform/base/PropertyList.h"
#include "platform/testing/ChildProcess.h"
#include "platform/testing/FolderEvents.h"
#include "platform/testing/NestedValues.h"
#include "platform/testing/OpenGate.h"
#include "platform/testing/PlatformTest.h"
#include "platform/testing/RenameCounter.h"
#include "platform/testing/StandardErrorCapture.h"
#include "platform/testing/UnreadableFile.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

class UserDefaultsTest : public testing::PlatformTest {
 protected:
  fs::path fileOf(const std::string& domain) {
    return SandboxHome::preferences() / (domain + ".plist");
  }
  // What the file holds now.
  Value fileContents(const std::string& domain) {
    auto text = files::readTextFile(fileOf(domain));
    return text ? parsePropertyList(*text) : Value();
  }
  // What the file holds once the domain's pending changes are written.
  Value onDisk(const std::string& domain) {
    EXPECT_TRUE(UserDefaults::initWithSuiteName(domain)->synchronize());
    return fileContents(domain);
  }
  // Writes a domain's file as another process would (atomically, under the domain's lock unless
  // the caller holds it).
  void writeFile(const std::string& domain, const Value::Dictionary& content) {
    ASSERT_TRUE(files::createDirectory(SandboxHome::preferences(), true));
    auto bytes = serializePropertyList(Value(content), PropertyListFormat::Binary);
    ASSERT_TRUE(bytes);
    ASSERT_TRUE(files::writeAtomically(fileOf(domain), *bytes, nullptr, 0600));
  }
};

// The lines of `text` that mention `what`.
std::size_t linesWith(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (text.substr(start, end - start).find(what) != std::string::npos) ++count;
    start = end + 1;
  }
  return count;
}

TEST_F(UserDefaultsTest, StandardDomainIsTheBundleIdentifier) {
  auto defaults = UserDefaults::standardUserDefaults();
  EXPECT_EQ(defaults->domainName(), "com.tavo.tests");
  EXPECT_EQ(UserDefaults::standardUserDefaults(), defaults);
  writeInfoPlist({{"CFBundleIdentifier", "com.tavo.other"}});
  EXPECT_EQ(UserDefaults::standardUserDefaults()->domainName(), "com.tavo.other");
}

TEST_F(UserDefaultsTest, WritesAreVisibleAtOnceAndReachTheDisk) {
  auto defaults = UserDefaults::standardUserDefaults();
  Value favourites(Value::Dictionary{{"sound-1", "entity-1"}});
  ASSERT_TRUE(defaults->setObject(favourites, "favSoundIds"));
  EXPECT_EQ(defaults->dictionaryForKey("favSoundIds"), favourites);
  EXPECT_EQ(onDisk("com.tavo.tests")["favSoundIds"], favourites);
  ASSERT_TRUE(defaults->setObject(Value(), "favSoundIds"));  // nil removes
  EXPECT_TRUE(defaults->objectForKey("favSoundIds").isNil());
  EXPECT_TRUE(onDisk("com.tavo.tests")["favSoundIds"].isNil());
}

// A burst of changes costs one write, one second after the last change, made by the domain
// itself; synchronize writes at once; and a change not yet written when the process exits is
// written then.
TEST_F(UserDefaultsTest, ABurstOfChangesIsWrittenOnceAfterTheLastChange) {
  if (testing::testRole() == "exiting") {
    UserDefaults::initWithSuiteName("burst")->setObject("at exit", "last");
    std::exit(0);
  }
  ASSERT_TRUE(files::createDirectory(SandboxHome::preferences(), true));
  testing::RenameCounter writes(SandboxHome::preferences(), "burst.plist");
  auto d = UserDefaults::initWithSuiteName("burst");
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(d->setObject(i, "k" + std::to_string(i)));
  EXPECT_EQ(d->integerForKey("k2"), 2);
  ASSERT_TRUE(pumpUntil([&] { return writes.count() > 0; }, 60));
  EXPECT_EQ(fileContents("burst").count(), 3u);
  EXPECT_TRUE(d->synchronize());  // nothing pending: nothing written
  EXPECT_EQ(writes.count(), 1);

  ASSERT_TRUE(d->setObject("now", "late"));
  EXPECT_TRUE(d->synchronize());
  EXPECT_EQ(writes.count(), 2);
  EXPECT_EQ(fileContents("burst")["late"], Value("now"));

  auto exiting = testing::ChildProcess::start("exiting");
  ASSERT_TRUE(exiting);
  EXPECT_EQ(exiting->wait(), 0);
  EXPECT_EQ(fileContents("burst")["last"], Value("at exit"));
}

// The exit flush waits for a write under way (a large value, here), whichever thread started it,
// and then writes what is still pending: the value is in the file and no cut temporary is left
// beside it. The process exits as the write's temporary file appears, after one more change or
// none; the write is the delayed writer's, or synchronize's on another thread.
TEST_F(UserDefaultsTest, AWriteUnderWayAtExitIsFinished) {
  const std::string large(48u << 20, 'v');
  const std::string& role = testing::testRole();
  if (!role.empty()) {
    ASSERT_TRUE(files::createDirectory(SandboxHome::preferences(), true));
    testing::FolderEvents created(SandboxHome::preferences(), IN_CREATE);
    auto d = UserDefaults::initWithSuiteName("large");
    ASSERT_TRUE(d->setObject(Value::data(large), "blob"));
    // Left running: exit comes while it writes.
    if (role == "synchronizing") std::thread([d] { d->synchronize(); }).detach();
    bool writing = false;
    while (!writing) {
      auto names = created.next(240);
      ASSERT_TRUE(names) << "no write began";
      for (const auto& name : *names) writing |= name.starts_with(".large.plist.tmp.");
    }
    if (role == "changing") {
      ASSERT_TRUE(d->setObject("yes", "late"));
    }
    std::exit(0);
  }
  for (const std::string row : {"exiting", "changing", "synchronizing"}) {
    SCOPED_TRACE(row);
    if (files::exists(SandboxHome::preferences())) {
      for (const auto& entry : fs::directory_iterator(SandboxHome::preferences())) {
        ASSERT_TRUE(files::removeItem(entry.path()));
      }
    }
    auto exiting = testing::ChildProcess::start(row);
    ASSERT_TRUE(exiting);
    EXPECT_EQ(exiting->wait(), 0);
    Value stored = fileContents("large");
    EXPECT_TRUE(stored["blob"] == Value::data(large)) << stored["blob"].className();
    EXPECT_EQ(stored["late"], row == "changing" ? Value("yes") : Value());
    for (const auto& entry : fs::directory_iterator(SandboxHome::preferences())) {
      EXPECT_FALSE(entry.path().filename().string().starts_with(".large.plist.tmp."))
          << entry.path();
    }
  }
}

// Reads and changes are served from memory: while another process holds the domain's lock and a
// write of this process waits for it (synchronize's, or the delayed write's), a read and a change
// answer at once. What the other process wrote meanwhile reaches this process's readers with the
// write, and a change made while the write waited is neither lost nor undone by it.
TEST_F(UserDefaultsTest, AReadDoesNotWaitForAWriteWaitingForAnotherProcess) {
  const std::string& role = testing::testRole();
  if (!role.empty()) {  // the holder of the lock of the domain named by the role
    auto lock = FileLock::acquire(FileLock::lockFileFor(fileOf(role)));
    ASSERT_TRUE(lock);
    testing::announce("lock-held-" + role);
    ASSERT_TRUE(testing::awaitAnnouncement("release-" + role));
    Value::Dictionary theirs = *fileContents(role).dictionary();
    theirs["theirs"] = Value(1);
    writeFile(role, theirs);
    return;
  }
  for (const std::string domain : {"held-synchronize", "held-delayed"}) {
    SCOPED_TRACE(domain);
    const bool synchronizing = domain == "held-synchronize";
    auto d = UserDefaults::initWithSuiteName(domain);
    ASSERT_TRUE(d->setObject("first", "mine"));
    ASSERT_TRUE(d->synchronize());
    auto holder = testing::ChildProcess::start(domain);
    ASSERT_TRUE(holder);
    ASSERT_TRUE(testing::awaitAnnouncement("lock-held-" + domain, *holder));
    ASSERT_TRUE(d->setObject("second", "mine"));
    std::atomic<bool> synchronized{false};
    std::thread writer([&] {
      if (synchronizing) synchronized = d->synchronize();
    });
    ASSERT_TRUE(testing::awaitLockWaiter(FileLock::lockFileFor(fileOf(domain))));

    // Timed on a thread of its own, so that the other process is let go even when a read hangs.
    std::atomic<bool> answered{false};
    double seconds = 0;
    std::thread reader([&] {
      auto start = std::chrono::steady_clock::now();
      auto other = UserDefaults::initWithSuiteName(domain);
      EXPECT_EQ(other->objectForKey("mine"), Value("second"));
      EXPECT_TRUE(other->setObject("third", "mine"));
      EXPECT_EQ(d->stringForKey("mine"), "third");
      EXPECT_EQ(d->dictionaryRepresentation().count(), 1u);
      seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      answered = true;
    });
    for (int i = 0; i < 400 && !answered; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    testing::announce("release-" + domain);
    reader.join();
    writer.join();
    EXPECT_LT(seconds, 0.2);
    EXPECT_EQ(holder->wait(), 0);
    if (synchronizing) {
      EXPECT_TRUE(synchronized);
    } else {
      // The delayed write shows the other process's key to readers once it is done.
      EXPECT_TRUE(pumpUntil([&] { return d->integerForKey("theirs") == 1; }, 120));
    }
    EXPECT_EQ(d->integerForKey("theirs"), 1);
    EXPECT_EQ(d->objectForKey("mine"), Value("third"));
    EXPECT_EQ(onDisk(domain), Value(Value::Dictionary{{"mine", "third"}, {"theirs", 1}}));
  }
}

// A write that fails puts back what it took, but a change made while it was under way wins over
// what it puts back, and both stay visible to readers throughout.
TEST_F(UserDefaultsTest, AChangeMadeDuringAFailingWriteWinsOverWhatItPutsBack) {
  auto d = UserDefaults::initWithSuiteName("putback");
  ASSERT_TRUE(d->setObject("first", "mine"));
  ASSERT_TRUE(d->synchronize());
  const fs::path lockFile = FileLock::lockFileFor(fileOf("putback"));
  auto lock = FileLock::acquire(lockFile);  // this process's own writer waits for it too
  ASSERT_TRUE(lock);
  ASSERT_TRUE(d->setObject("second", "mine"));
  ASSERT_TRUE(d->setObject("second", "other"));
  std::atomic<bool> synchronized{true};
  std::thread writer([&] { synchronized = d->synchronize(); });
  ASSERT_TRUE(testing::awaitLockWaiter(lockFile));
  std::atomic<bool> changed{false};
  std::thread changer([&] {
    EXPECT_TRUE(d->setObject("third", "mine"));
    changed = true;
  });
  for (int i = 0; i < 400 && !changed; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(changed);
  {
    testing::UnreadableFile unreadable(testing::UnreadableFile::Cause::IOError, fileOf("putback"));
    lock.reset();
    writer.join();
    changer.join();
    EXPECT_FALSE(synchronized);
    EXPECT_EQ(d->objectForKey("mine"), Value("third"));
    EXPECT_EQ(d->objectForKey("other"), Value("second"));
  }
  EXPECT_EQ(onDisk("putback"), Value(Value::Dictionary{{"mine", "third"}, {"other", "second"}}));
}

// The last change of a key wins, removals included, whether or not this process has read the key.
TEST_F(UserDefaultsTest, ARemovalOfAKeyOnlyAnotherProcessWroteReachesTheFile) {
  if (testing::testRole() == "writer") {
    auto d = UserDefaults::initWithSuiteName("shared");
    ASSERT_TRUE(d->setObject("theirs", "K"));
    ASSERT_TRUE(d->synchronize());
    return;
  }
  auto d = UserDefaults::initWithSuiteName("shared");
  ASSERT_TRUE(d->setObject(1, "mine"));
  ASSERT_TRUE(d->synchronize());
  auto writer = testing::ChildProcess::start("writer");
  ASSERT_TRUE(writer);
  EXPECT_EQ(writer->wait(), 0);
  ASSERT_EQ(fileContents("shared")["K"], Value("theirs"));
  d->removeObjectForKey("K");
  EXPECT_TRUE(d->synchronize());
  EXPECT_TRUE(d->objectForKey("K").isNil());
  EXPECT_EQ(fileContents("shared"), Value(Value::Dictionary{{"mine", 1}}));
}

// A damaged file is moved aside only under the domain's lock, after reading it again there: the
// process holding the lock may be replacing it with a good one, which is then what a read finds.
TEST_F(UserDefaultsTest, ADamagedFileIsMovedAsideOnlyUnderTheLock) {
  const fs::path lockFile = FileLock::lockFileFor(fileOf("mended"));
  if (testing::testRole() == "mender") {
    auto lock = FileLock::acquire(lockFile);
    ASSERT_TRUE(lock);
    testing::announce("lock-held");
    // Until the reader waits for the lock, or has moved the damaged file aside without it.
    testing::awaitLockWaiter(lockFile, [&] { return !files::exists(fileOf("mended")); });
    writeFile("mended", {{"good", 1}});
    return;
  }
  ASSERT_TRUE(files::createDirectory(SandboxHome::preferences(), true));
  ASSERT_TRUE(files::writeAtomically(fileOf("mended"), std::string_view("damaged")));
  auto mender = testing::ChildProcess::start("mender");
  ASSERT_TRUE(mender);
  ASSERT_TRUE(testing::awaitAnnouncement("lock-held", *mender));
  auto d = UserDefaults::initWithSuiteName("mended");
  EXPECT_EQ(d->integerForKey("good"), 1);
  EXPECT_EQ(mender->wait(), 0);
  fs::path aside = fileOf("mended");
  aside += ".corrupt";
  EXPECT_FALSE(files::exists(aside));
  EXPECT_EQ(fileContents("mended"), Value(Value::Dictionary{{"good", 1}}));
}

// A domain whose writes keep failing is tried again and again, each time after twice the wait of
// the time before (up to a few minutes), and its failure is logged once until a write succeeds
// again. One domain's file cannot be read now (its attempts show as opens of its lock file); the
// other cannot be written (a folder stands where its lock file goes).
TEST_F(UserDefaultsTest, AFailingWriteIsRetriedLessOftenAndLoggedOnce) {
  const auto cause = testing::UnreadableFile::Cause::IOError;
  ASSERT_TRUE(files::createDirectory(SandboxHome::preferences(), true));
  writeFile("unreadable", {{"kept", 1}});
  const fs::path blockedLock = FileLock::lockFileFor(fileOf("blocked"));
  ASSERT_TRUE(files::createDirectory(blockedLock, false));
  const std::string unreadableLock = FileLock::lockFileFor(fileOf("unreadable")).filename();
  testing::StandardErrorCapture capture(home().parent_path() / "stderr.txt");
  auto unreadable = UserDefaults::initWithSuiteName("unreadable");
  auto blocked = UserDefaults::initWithSuiteName("blocked");
  {
    auto file = std::make_unique<testing::UnreadableFile>(cause, fileOf("unreadable"));
    testing::FolderEvents opened(SandboxHome::preferences(), IN_OPEN);
    ASSERT_TRUE(unreadable->setObject(2, "fresh"));
    ASSERT_TRUE(blocked->setObject(3, "fresh"));
    std::vector<std::chrono::steady_clock::time_point> attempts;
    while (attempts.size() < 4) {
      auto names = opened.next(240);
      ASSERT_TRUE(names) << "no attempt to write";
      for (const auto& name : *names) {
        if (name == unreadableLock) attempts.push_back(std::chrono::steady_clock::now());
      }
    }
    for (std::size_t i = 1; i < attempts.size(); ++i) {
      double gap = std::chrono::duration<double>(attempts[i] - attempts[i - 1]).count();
      EXPECT_GT(gap, (1 << (i - 1)) - 0.1) << "attempt " << i + 1;
    }
    std::string text = capture.text();
    EXPECT_EQ(linesWith(text, fileOf("unreadable").string()), 1u) << text;
    EXPECT_EQ(linesWith(text, fileOf("blocked").string()), 1u) << text;
  }
  // A write that succeeds ends the quiet: the next failure is logged again.
  ASSERT_TRUE(files::removeItem(blockedLock));
  EXPECT_TRUE(blocked->synchronize());
  EXPECT_TRUE(unreadable->synchronize());
  EXPECT_EQ(fileContents("unreadable"), Value(Value::Dictionary{{"fresh", 2}, {"kept", 1}}));
  ASSERT_TRUE(files::removeItem(blockedLock));  // the lock file the write made
  ASSERT_TRUE(files::createDirectory(blockedLock, false));
  ASSERT_TRUE(blocked->setObject(4, "again"));
  EXPECT_FALSE(blocked->synchronize());
  EXPECT_FALSE(blocked->synchronize());
  EXPECT_EQ(linesWith(capture.text(), fileOf("blocked").string()), 2u) << capture.text();
}

TEST_F(UserDefaultsTest, ValuesSurviveARestart) {
  auto defaults = UserDefaults::standardUserDefaults();
  ASSERT_TRUE(defaults->setObject(true, "flag"));
  ASSERT_TRUE(defaults->setObject(42, "count"));
  ASSERT_TRUE(defaults->setObject(2.5, "ratio"));
  ASSERT_TRUE(defaults->setObject("text", "name"));
  ASSERT_TRUE(defaults->setObject(Value::date(1767225600.5), "when"));
  ASSERT_TRUE(defaults->setObject(Value::data("\x01\x02"), "blob"));
  ASSERT_TRUE(defaults->setObject(Value(Value::Array{1, "a"}), "list"));
  ASSERT_TRUE(defaults->setObject(Value(UINT64_MAX), "huge"));
  defaults.reset();
  UserDefaults::resetForTesting();

  auto again = UserDefaults::standardUserDefaults();
  EXPECT_TRUE(again->boolForKey("flag"));
  EXPECT_EQ(again->objectForKey("flag").numberKind(), Value::NumberKind::Bool);
  EXPECT_EQ(again->integerForKey("count"), 42);
  EXPECT_DOUBLE_EQ(again->doubleForKey("ratio"), 2.5);
  EXPECT_EQ(again->stringForKey("name"), "text");
  EXPECT_EQ(again->objectForKey("when"), Value::date(1767225600.5));
  EXPECT_EQ(again->objectForKey("blob"), Value::data("\x01\x02"));
  EXPECT_EQ(again->arrayForKey("list"), Value(Value::Array{1, "a"}));
  EXPECT_EQ(again->objectForKey("huge"), Value(UINT64_MAX));
  EXPECT_EQ(again->objectForKey("huge").numberKind(), Value::NumberKind::Unsigned);
}

TEST_F(UserDefaultsTest, TypedAccessorsConvertLikeThePlatform) {
  auto d = UserDefaults::standardUserDefaults();
  ASSERT_TRUE(d->setObject("YES", "s-bool"));
  ASSERT_TRUE(d->setObject("12", "s-int"));
  ASSERT_TRUE(d->setObject(7, "n"));
  ASSERT_TRUE(d->setObject(Value(Value::Array{}), "arr"));
  EXPECT_TRUE(d->boolForKey("s-bool"));
  EXPECT_EQ(d->integerForKey("s-int"), 12);
  EXPECT_EQ(d->stringForKey("n"), "7");
  EXPECT_FALSE(d->stringForKey("arr"));
  EXPECT_TRUE(d->dictionaryForKey("arr").isNil());
  EXPECT_TRUE(d->arrayForKey("n").isNil());
  EXPECT_FALSE(d->boolForKey("absent"));
  EXPECT_EQ(d->integerForKey("absent"), 0);
  EXPECT_FALSE(d->stringForKey("absent"));
}

TEST_F(UserDefaultsTest, RefusesValuesThatAreNotPropertyLists) {
  auto d = UserDefaults::standardUserDefaults();
  ASSERT_TRUE(d->setObject(1, "k"));
  // A string holding a NUL and a date past 2069 would come back changed after a restart.
  const Value withNul(std::string("a\0b", 3));
  // The file holds each value inside its top-level dictionary: one level more than the value.
  using testing::nestedArrays;
  using testing::nestedDictionaries;
  for (const Value& bad :
       {Value::null(), Value::set({1}), Value(Error::make("d", 1)),
        Value(Value::Array{Value::null()}), withNul, Value(Value::Dictionary{{"n", withNul}}),
        Value::date(1e12), nestedArrays(600), nestedArrays(512), nestedDictionaries(512)}) {
    EXPECT_FALSE(d->setObject(bad, "k")) << bad.description().substr(0, 40);
  }
  ASSERT_TRUE(d->setObject(nestedArrays(511), "deep"));
  ASSERT_TRUE(d->setObject(nestedDictionaries(511), "deep-dictionaries"));
  // Nor can a key holding a NUL be written: taking it would make every later write of the
  // domain fail.
  EXPECT_FALSE(d->setObject(2, std::string("k\0x", 3)));
  EXPECT_TRUE(d->objectForKey(std::string("k\0x", 3)).isNil());
  ASSERT_TRUE(d->setObject(3, "k2"));
  EXPECT_EQ(d->objectForKey("k"), Value(1));
  EXPECT_EQ(onDisk("com.tavo.tests")["k"], Value(1));
  EXPECT_EQ(onDisk("com.tavo.tests")["k2"], Value(3));
  EXPECT_EQ(onDisk("com.tavo.tests")["deep"], nestedArrays(511));
  EXPECT_EQ(onDisk("com.tavo.tests")["deep-dictionaries"], nestedDictionaries(511));
}

// Another writer's file with a value this system cannot read exactly (here a string holding a
// NUL, which libplist would cut short) is never read in part: it is moved aside as damaged.
TEST_F(UserDefaultsTest, AFileHoldingAValueThatWouldReadChangedIsMovedAside) {
  // {"k": "a\0b"} in binary: a dictionary, its key, its value, three offsets and the trailer.
  const std::string bytes(
      "bplist00\xD1\x01\x02\x51k\x53"
      "a\0b\x08\x0B\x0D"
      "\0\0\0\0\0\0\x01\x01\0\0\0\0\0\0\0\x03\0\0\0\0\0\0\0\0"
      "\0\0\0\0\0\0\0\x11",
      52);
  ASSERT_TRUE(files::createDirectory(SandboxHome::preferences(), true));
  ASSERT_TRUE(files::writeAtomically(fileOf("other"), std::string_view(bytes)));
  auto d = UserDefaults::initWithSuiteName("other");
  EXPECT_TRUE(d->objectForKey("k").isNil());
  fs::path aside = fileOf("other");
  aside += ".corrupt";
  EXPECT_EQ(files::readTextFile(aside), bytes);
}

TEST_F(UserDefaultsTest, SuitesAreIsolatedAndShareStorageWithinADomain) {
  auto a = UserDefaults::initWithSuiteName("com.lumo.LMOInstallations");
  auto b = UserDefaults::initWithSuiteName("com.veltro.vmp.measurement.monitor");
  auto a2 = UserDefaults::initWithSuiteName("com.lumo.LMOInstallations");
  ASSERT_TRUE(a && b && a2);
  ASSERT_TRUE(a->setObject("A", "key"));
  EXPECT_TRUE(b->objectForKey("key").isNil());
  EXPECT_TRUE(UserDefaults::standardUserDefaults()->objectForKey("key").isNil());
  EXPECT_EQ(a2->objectForKey("key"), Value("A"));  // visible at once to another instance
  EXPECT_TRUE(a->synchronize() && b->synchronize());
  EXPECT_TRUE(files::exists(fileOf("com.lumo.LMOInstallations")));
  EXPECT_FALSE(files::exists(fileOf("com.veltro.vmp.measurement.monitor")));
  for (const char* bad : {"", "a/b", "..", "x..y", "../escape"}) {
    EXPECT_FALSE(UserDefaults::initWithSuiteName(bad)) << bad;
  }
  EXPECT_FALSE(UserDefaults::initWithSuiteName(std::string("a\0b", 3)));
}

TEST_F(UserDefaultsTest, ArgumentDomainIsReadFirstAndNeverWritten) {
  auto d = UserDefaults::standardUserDefaults();
  ASSERT_TRUE(d->setObject(false, "LMOFlag"));
  ASSERT_TRUE(d->setObject(5, "Level"));
  setArguments({"-LMODebugEnabled", "-LMOFlag", "YES", "-Level", "-3", "-Plist",
                "<plist><array><integer>1</integer></array></plist>", "stray", "-Last"});
  EXPECT_TRUE(d->boolForKey("LMOFlag"));
  EXPECT_EQ(d->integerForKey("Level"), -3);
  EXPECT_EQ(d->arrayForKey("Plist"), Value(Value::Array{1}));
  EXPECT_TRUE(d->objectForKey("LMODebugEnabled").isNil());  // a bare flag
  EXPECT_TRUE(d->objectForKey("Last").isNil());
  // Suites see the argument domain too.
  EXPECT_TRUE(UserDefaults::initWithSuiteName("suite")->boolForKey("LMOFlag"));
  EXPECT_EQ(d->dictionaryRepresentation()["LMOFlag"], Value("YES"));
  EXPECT_EQ(onDisk("com.tavo.tests")["LMOFlag"], Value(false));
  setArguments({});
  EXPECT_FALSE(d->boolForKey("LMOFlag"));
}

TEST_F(UserDefaultsTest, ACorruptFileIsMovedAsideNotOverwritten) {
  const std::string garbage = "this is not a property list";
  ASSERT_TRUE(files::writeAtomically(fileOf("com.tavo.tests"), std::string_view(garbage)));
  auto d = UserDefaults::standardUserDefaults();
  EXPECT_TRUE(d->objectForKey("anything").isNil());
  fs::path aside = fileOf("com.tavo.tests");
  aside += ".corrupt";
  EXPECT_EQ(files::readTextFile(aside), garbage);
  ASSERT_TRUE(d->setObject(1, "fresh"));
  EXPECT_EQ(onDisk("com.tavo.tests"), Value(Value::Dictionary{{"fresh", 1}}));

  // A second corruption keeps the first one's copy too.
  ASSERT_TRUE(files::writeAtomically(fileOf("com.tavo.tests"), std::string_view("again")));
  UserDefaults::resetForTesting();
  EXPECT_TRUE(UserDefaults::standardUserDefaults()->objectForKey("fresh").isNil());
  fs::path second = fileOf("com.tavo.tests");
  second += ".corrupt.1";
  EXPECT_EQ(files::readTextFile(aside), garbage);
  EXPECT_EQ(files::readTextFile(second), "again");
}

TEST_F(UserDefaultsTest, AnUnreadablePreferencesPathIsMovedAsideToo) {
  // A folder where the file should be cannot be read as one.
  ASSERT_TRUE(files::createDirectory(fileOf("odd"), false));
  ASSERT_TRUE(files::writeAtomically(fileOf("odd") / "inside", std::string_view("keep me")));
  auto d = UserDefaults::initWithSuiteName("odd");
  ASSERT_TRUE(d->setObject(1, "k"));
  fs::path aside = fileOf("odd");
  aside += ".corrupt";
  EXPECT_EQ(files::readTextFile(aside / "inside"), "keep me");
  EXPECT_EQ(onDisk("odd"), Value(Value::Dictionary{{"k", 1}}));
}

// A file that cannot be read now (no descriptor free, an I/O error) is neither taken for an empty
// one nor for a damaged one: it stays, nothing is written over it, and the domain reads it again.
TEST_F(UserDefaultsTest, AFileThatCannotBeReadNowIsKeptAndReadAgain) {
  for (auto cause : testing::UnreadableFile::usableCauses()) {
    SCOPED_TRACE(testing::UnreadableFile::name(cause));
    UserDefaults::resetForTesting();
    auto bytes = serializePropertyList(
        Value(Value::Dictionary{{"app_instance_id", "abc"}, {"session_number", 7}}),
        PropertyListFormat::Binary);
    ASSERT_TRUE(files::createDirectory(SandboxHome::preferences(), true));
    ASSERT_TRUE(files::writeAtomically(fileOf("kept"), *bytes));
    auto d = UserDefaults::initWithSuiteName("kept");
    {
      testing::UnreadableFile unreadable(cause, fileOf("kept"));
      // Not known is told apart from absent; a key changed here is known.
      ErrorPtr error;
      EXPECT_TRUE(d->objectForKey("app_instance_id", &error).isNil());
      EXPECT_TRUE(error);
      ASSERT_TRUE(d->setObject(1, "fresh"));
      error.reset();
      EXPECT_EQ(d->objectForKey("fresh", &error), Value(1));
      EXPECT_FALSE(error);
      d->removeObjectForKey("gone");
      EXPECT_TRUE(d->objectForKey("gone", &error).isNil());
      EXPECT_FALSE(error);
      EXPECT_TRUE(d->objectForKey("session_number", &error).isNil());
      EXPECT_TRUE(error);
      EXPECT_FALSE(d->synchronize());
    }
    ErrorPtr error;
    EXPECT_EQ(d->objectForKey("session_number", &error), Value(7));
    EXPECT_FALSE(error);
    fs::path aside = fileOf("kept");
    aside += ".corrupt";
    EXPECT_FALSE(files::exists(aside));
    EXPECT_EQ(fileContents("kept").count(), 2u);
    EXPECT_EQ(d->stringForKey("app_instance_id"), "abc");
    EXPECT_TRUE(d->synchronize());
    EXPECT_EQ(
        fileContents("kept"),
        Value(Value::Dictionary{{"app_instance_id", "abc"}, {"fresh", 1}, {"session_number", 7}}));
    ASSERT_TRUE(files::removeItem(fileOf("kept")));
  }
}

TEST_F(UserDefaultsTest, AFileThatIsNotADictionaryIsCorrupt) {
  auto bytes = serializePropertyList(Value(Value::Array{1}), PropertyListFormat::Xml);
  ASSERT_TRUE(files::writeAtomically(fileOf("suite"), *bytes));
  auto d = UserDefaults::initWithSuiteName("suite");
  EXPECT_EQ(d->dictionaryRepresentation().count(), 0u);
  fs::path aside = fileOf("suite");
  aside += ".corrupt";
  EXPECT_TRUE(files::exists(aside));
}

// Another writer's file is read by synchronize, also one renamed in while this process read the
// one before it (the read answers the old content; the next synchronize sees a new file).
TEST_F(UserDefaultsTest, SynchronizePicksUpAnotherWritersFile) {
  auto d = UserDefaults::initWithSuiteName("shared");
  ASSERT_TRUE(d->setObject(1, "a"));
  ASSERT_TRUE(d->synchronize());
  auto bytes = serializePropertyList(Value(Value::Dictionary{{"a", 2}, {"b", 3}}),
                                     PropertyListFormat::Binary);
  ASSERT_TRUE(files::writeAtomically(fileOf("shared"), *bytes));
  EXPECT_TRUE(d->synchronize());
  EXPECT_EQ(d->integerForKey("a"), 2);
  EXPECT_EQ(d->integerForKey("b"), 3);

  // The first read of the domain is held inside its open of the old file, once the path has led
  // to it, until the other writer has renamed the new file over the path.
  if (!testing::OpenGate::usable()) GTEST_SKIP() << testing::OpenGate::kNotUsable;
  const fs::path renamedIn = SandboxHome::preferences() / "renamed.plist.new";
  auto next = serializePropertyList(Value(Value::Dictionary{{"a", 5}}), PropertyListFormat::Binary);
  ASSERT_TRUE(files::writeAtomically(renamedIn, *next));
  auto old = serializePropertyList(Value(Value::Dictionary{{"a", 4}}), PropertyListFormat::Xml);
  ASSERT_TRUE(files::writeAtomically(fileOf("renamed"), *old));
  auto renamed = UserDefaults::initWithSuiteName("renamed");
  {
    testing::OpenGate gate(fileOf("renamed"), [&] {
      ASSERT_EQ(::rename(renamedIn.c_str(), fileOf("renamed").c_str()), 0);
    });
    EXPECT_EQ(renamed->integerForKey("a"), 4);
    EXPECT_TRUE(gate.held());
  }
  EXPECT_TRUE(renamed->synchronize());
  EXPECT_EQ(renamed->integerForKey("a"), 5);
}

TEST_F(UserDefaultsTest, RemovePersistentDomain) {
  auto suite = UserDefaults::initWithSuiteName("gone");
  ASSERT_TRUE(suite->setObject(1, "a"));
  ASSERT_TRUE(UserDefaults::standardUserDefaults()->setObject(1, "keep"));
  suite->removePersistentDomainForName("gone");
  EXPECT_TRUE(suite->objectForKey("a").isNil());
  EXPECT_FALSE(files::exists(fileOf("gone")));
  EXPECT_EQ(UserDefaults::standardUserDefaults()->integerForKey("keep"), 1);
  suite->removePersistentDomainForName("../x");  // refused quietly
}

TEST_F(UserDefaultsTest, ConcurrentWritersLoseNothing) {
  auto d = UserDefaults::initWithSuiteName("busy");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      auto mine = UserDefaults::initWithSuiteName("busy");
      for (int i = 0; i < 25; ++i) mine->setObject(i, "k" + std::to_string(t * 100 + i));
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(d->dictionaryRepresentation().count(), 100u);
  EXPECT_EQ(onDisk("busy").count(), 100u);
}

// Two processes writing one domain at once: each write re-reads the file under the inter-process
// lock and applies its own changes key by key, so both processes' keys all survive, and the last
// write of a key both set wins.
TEST_F(UserDefaultsTest, TwoProcessesWritingOneDomainKeepEachOthersKeys) {
  constexpr int kKeys = 100;
  const std::string& role = testing::testRole();
  if (!role.empty()) {
    auto d = UserDefaults::initWithSuiteName("two");
    for (int i = 0; i < kKeys; ++i) {
      ASSERT_TRUE(d->setObject(i, role + "-" + std::to_string(i)));
      ASSERT_TRUE(d->setObject(role, "both"));
      ASSERT_TRUE(d->synchronize());
    }
    return;
  }
  auto first = testing::ChildProcess::start("first");
  auto second = testing::ChildProcess::start("second");
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->wait(), 0);
  EXPECT_EQ(second->wait(), 0);
  Value stored = fileContents("two");
  EXPECT_EQ(stored.count(), 2u * kKeys + 1);
  for (const char* who : {"first", "second"}) {
    for (int i = 0; i < kKeys; ++i) {
      EXPECT_EQ(stored[std::string(who) + "-" + std::to_string(i)], Value(i)) << who << i;
    }
  }
  EXPECT_TRUE(stored["both"] == Value("first") || stored["both"] == Value("second"));
  // This process sees them too.
  EXPECT_EQ(UserDefaults::initWithSuiteName("two")->integerForKey("second-99"), 99);
}

// One object shared as it is: plain calls need no outside lock, and increments made under the
// object's own (recursive) lock are never lost.
TEST_F(UserDefaultsTest, OneObjectSharedBetweenThreadsGuardsItself) {
  auto shared = UserDefaults::initWithSuiteName("shared");
  const int kThreads = 4;
  const int kRounds = 50;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&shared, t] {
      for (int i = 0; i < kRounds; ++i) {
        shared->setObject(i, "own" + std::to_string(t));
        (void)shared->dictionaryRepresentation();
        std::lock_guard outer(shared->lock());
        std::lock_guard inner(shared->lock());  // a nested caller may take it again
        shared->setObject(shared->integerForKey("count") + 1, "count");
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(shared->integerForKey("count"), kThreads * kRounds);
  EXPECT_EQ(onDisk("shared")["count"], Value(kThreads * kRounds));
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(shared->integerForKey("own" + std::to_string(t)), kRounds - 1);
  }
}

}  // namespace
}  // namespace platform
