#include "platform/runtime/Keychain.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/base/FileLock.h"
#include "platform/base/Files.h"
#include "platform/testing/ChildProcess.h"
#include "platform/testing/PlatformTest.h"
#include "platform/testing/StandardErrorCapture.h"
#include "platform/testing/UnreadableFile.h"

namespace platform {
namespace {

class KeychainTest : public testing::PlatformTest {
 protected:
  static Value::Dictionary query(const std::string& account, const char* group = nullptr) {
    Value::Dictionary q = {{kSecClass, Value(kSecClassGenericPassword)},
                           {kSecAttrService, Value("com.example.service")},
                           {kSecAttrAccount, Value(account)}};
    if (group) q[kSecAttrAccessGroup] = Value(group);
    return q;
  }
  static Value::Dictionary with(Value::Dictionary d, const char* key, Value v) {
    d[key] = std::move(v);
    return d;
  }
  static Value data(std::string_view text) { return Value::data(text); }
  static Value::Dictionary readOne(const Value::Dictionary& q) {
    return with(with(q, kSecReturnData, Value(true)), kSecMatchLimit, Value(kSecMatchLimitOne));
  }
};

TEST_F(KeychainTest, AddCopyUpdateDeleteAnswerWithStatusCodes) {
  Keychain keychain;
  Value result;
  EXPECT_EQ(keychain.copyMatching(readOne(query("a")), &result), errSecItemNotFound);
  EXPECT_TRUE(result.isNil());
  EXPECT_EQ(keychain.add(with(query("a"), kSecValueData, data("one"))), errSecSuccess);
  EXPECT_EQ(keychain.add(with(query("a"), kSecValueData, data("again"))), errSecDuplicateItem);
  EXPECT_EQ(keychain.copyMatching(readOne(query("a")), &result), errSecSuccess);
  EXPECT_EQ(result, data("one"));

  EXPECT_EQ(keychain.update(query("a"), {{kSecValueData, data("two")}}), errSecSuccess);
  EXPECT_EQ(keychain.copyMatching(readOne(query("a")), &result), errSecSuccess);
  EXPECT_EQ(result, data("two"));
  EXPECT_EQ(keychain.update(query("b"), {{kSecValueData, data("x")}}), errSecItemNotFound);

  EXPECT_EQ(keychain.deleteItems(query("a")), errSecSuccess);
  EXPECT_EQ(keychain.deleteItems(query("a")), errSecItemNotFound);
  EXPECT_EQ(keychain.copyMatching(readOne(query("a")), &result), errSecItemNotFound);
}

TEST_F(KeychainTest, ItemsSurviveARestartInA0600File) {
  {
    Keychain first;
    ASSERT_EQ(first.add(with(query("kept"), kSecValueData, data("secret"))), errSecSuccess);
  }
  Keychain second;  // a new process would start from the file alone
  Value result;
  ASSERT_EQ(second.copyMatching(readOne(query("kept")), &result), errSecSuccess);
  EXPECT_EQ(result, data("secret"));
  struct stat st {};
  ASSERT_EQ(::stat(Keychain::storagePath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(Keychain::storagePath(), home() / "Library/Keychains/keychain-items.archive");
}

TEST_F(KeychainTest, UpdateKeepsAccessibilityAndAttributesComeBackOnRequest) {
  Keychain keychain;
  ASSERT_EQ(keychain.add(with(with(query("a"), kSecValueData, data("1")), kSecAttrAccessible,
                              Value(kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly))),
            errSecSuccess);
  ASSERT_EQ(keychain.add(with(query("b"), kSecValueData, data("2"))), errSecSuccess);
  ASSERT_EQ(keychain.update(query("a"), {{kSecValueData, data("1b")}}), errSecSuccess);

  Value result;
  auto attrs = with(query("a"), kSecReturnAttributes, Value(true));
  ASSERT_EQ(keychain.copyMatching(attrs, &result), errSecSuccess);
  EXPECT_EQ(result[kSecAttrAccessible], Value(kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly));
  EXPECT_TRUE(result[kSecValueData].isNil());  // data only when asked
  ASSERT_EQ(keychain.copyMatching(with(attrs, kSecReturnData, Value(true)), &result),
            errSecSuccess);
  EXPECT_EQ(result[kSecValueData], data("1b"));

  // An item added without accessibility gets the default; match-all returns every item.
  Value::Dictionary all = {{kSecClass, Value(kSecClassGenericPassword)},
                           {kSecReturnAttributes, Value(true)},
                           {kSecMatchLimit, Value(kSecMatchLimitAll)}};
  ASSERT_EQ(keychain.copyMatching(all, &result), errSecSuccess);
  ASSERT_EQ(result.count(), 2u);
  EXPECT_EQ(result.at(1)[kSecAttrAccessible], Value(kSecAttrAccessibleWhenUnlocked));

  // Without a return key the status alone answers.
  ASSERT_EQ(keychain.copyMatching(query("b"), &result), errSecSuccess);
  EXPECT_TRUE(result.isNil());
}

TEST_F(KeychainTest, AccessGroupsSeparateItemsAndAQueryWithoutOneMatchesAny) {
  Keychain keychain;
  ASSERT_EQ(keychain.add(with(query("k"), kSecValueData, data("none"))), errSecSuccess);
  ASSERT_EQ(keychain.add(with(query("k", "group.x"), kSecValueData, data("x"))), errSecSuccess);
  Value result;
  ASSERT_EQ(keychain.copyMatching(readOne(query("k", "group.x")), &result), errSecSuccess);
  EXPECT_EQ(result, data("x"));
  EXPECT_EQ(keychain.copyMatching(readOne(query("k", "group.y")), &result), errSecItemNotFound);
  // Deleting without a group removes every match.
  EXPECT_EQ(keychain.deleteItems(query("k")), errSecSuccess);
  EXPECT_EQ(keychain.copyMatching(readOne(query("k", "group.x")), &result), errSecItemNotFound);
}

TEST_F(KeychainTest, KeyItemsAreTheirOwnClass) {
  Keychain keychain;
  Value::Dictionary key = {{kSecClass, Value(kSecClassKey)},
                           {kSecAttrApplicationTag, Value::data(std::string_view("tag"))},
                           {kSecAttrKeyType, Value(kSecAttrKeyTypeECSECPrimeRandom)}};
  ASSERT_EQ(keychain.add(with(key, kSecValueData, data("keybytes"))), errSecSuccess);
  EXPECT_EQ(keychain.add(with(key, kSecValueData, data("other"))), errSecDuplicateItem);
  Value result;
  ASSERT_EQ(keychain.copyMatching(readOne(key), &result), errSecSuccess);
  EXPECT_EQ(result, data("keybytes"));
  // A generic password query does not see key items.
  EXPECT_EQ(keychain.deleteItems({{kSecClass, Value(kSecClassGenericPassword)}}),
            errSecItemNotFound);
}

TEST_F(KeychainTest, MalformedRequestsAreParameterErrors) {
  Keychain keychain;
  const Value::Dictionary bad[] = {
      {{kSecAttrAccount, Value("no class")}},
      {{kSecClass, Value("unknown")}, {kSecAttrAccount, Value("a")}},
      with(query("a"), kSecValueData, Value("not data")),
  };
  for (const auto& attributes : bad) EXPECT_EQ(keychain.add(attributes), errSecParam);
  ASSERT_EQ(keychain.add(with(query("a"), kSecValueData, data("1"))), errSecSuccess);
  EXPECT_EQ(keychain.update(query("a"), {{kSecClass, Value(kSecClassKey)}}), errSecParam);
  EXPECT_EQ(keychain.copyMatching(with(query("a"), kSecMatchLimit, Value("lots"))), errSecParam);
  // Renaming an item onto another one's key is refused and changes nothing.
  ASSERT_EQ(keychain.add(with(query("b"), kSecValueData, data("2"))), errSecSuccess);
  EXPECT_EQ(keychain.update(query("b"), {{kSecAttrAccount, Value("a")}}), errSecDuplicateItem);
  Value result;
  ASSERT_EQ(keychain.copyMatching(readOne(query("b")), &result), errSecSuccess);
  EXPECT_EQ(result, data("2"));
}

TEST_F(KeychainTest, InjectedStatusAnswersTheNextCallAndCallsAreRecorded) {
  Keychain keychain;
  ASSERT_EQ(keychain.add(with(query("a"), kSecValueData, data("1"))), errSecSuccess);
  keychain.injectStatusForNextCall(errSecInteractionNotAllowed);
  keychain.injectStatusForNextCall(errSecSuccess);
  Value result;
  EXPECT_EQ(keychain.copyMatching(readOne(query("a")), &result), errSecInteractionNotAllowed);
  EXPECT_TRUE(result.isNil());
  EXPECT_EQ(keychain.deleteItems(query("a")), errSecSuccess);  // injected: nothing deleted
  EXPECT_EQ(keychain.copyMatching(readOne(query("a")), &result), errSecSuccess);
  EXPECT_EQ(result, data("1"));

  auto calls = keychain.recordedCalls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].function, "SecItemAdd");
  EXPECT_EQ(calls[1].function, "SecItemCopyMatching");
  EXPECT_EQ(calls[1].status, errSecInteractionNotAllowed);
  EXPECT_EQ(calls[2].function, "SecItemDelete");
  EXPECT_EQ(calls[2].query.at(kSecAttrAccount), Value("a"));
  keychain.clearRecordedCalls();
  EXPECT_EQ(keychain.update(query("zz"), {{kSecValueData, data("x")}}), errSecItemNotFound);
  calls = keychain.recordedCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].function, "SecItemUpdate");
  EXPECT_EQ(calls[0].status, errSecItemNotFound);
  EXPECT_EQ(calls[0].attributes.at(kSecValueData), data("x"));
}

TEST_F(KeychainTest, RecordingKeepsOnlyTheMostRecentCalls) {
  Keychain keychain;
  keychain.clearRecordedCalls();
  for (std::size_t i = 0; i < Keychain::kMaxRecordedCalls + 5; ++i) {
    keychain.injectStatusForNextCall(errSecItemNotFound);
    keychain.deleteItems(query("n" + std::to_string(i)));
  }
  EXPECT_EQ(keychain.copyMatching(query("last")), errSecItemNotFound);  // a real call
  auto calls = keychain.recordedCalls();
  ASSERT_EQ(calls.size(), Keychain::kMaxRecordedCalls);
  EXPECT_EQ(calls.front().query.at(kSecAttrAccount), Value("n6"));
  EXPECT_EQ(calls.back().function, "SecItemCopyMatching");
  EXPECT_EQ(calls.back().status, errSecItemNotFound);
}

// A damaged file is kept for inspection as ".corrupt", said so in a clear line, and the keychain
// starts empty, so that its owners can set themselves up anew instead of failing for good.
TEST_F(KeychainTest, ADamagedFileIsMovedAsideAndTheKeychainStartsEmpty) {
  Keychain keychain;
  ASSERT_EQ(keychain.add(with(query("a"), kSecValueData, data("1"))), errSecSuccess);
  auto path = Keychain::storagePath();
  auto bytes = *files::readFile(path);
  bytes.back() ^= 0xFF;
  ASSERT_TRUE(files::writeAtomically(path, bytes, nullptr, 0600));
  auto aside = path;
  aside += ".corrupt";
  Value result;
  {
    testing::StandardErrorCapture capture(home().parent_path() / "stderr.txt");
    EXPECT_EQ(keychain.copyMatching(readOne(query("a")), &result), errSecItemNotFound);
    EXPECT_NE(capture.text().find("Keychain: the file " + path.string() + " is damaged"),
              std::string::npos)
        << capture.text();
  }
  EXPECT_EQ(files::readFile(aside), bytes);
  EXPECT_EQ(keychain.add(with(query("b"), kSecValueData, data("2"))), errSecSuccess);
  EXPECT_EQ(keychain.copyMatching(readOne(query("b")), &result), errSecSuccess);
  EXPECT_EQ(result, data("2"));
  EXPECT_EQ(files::readFile(aside), bytes);
}

// A damaged file is moved aside only under the inter-process lock, after reading it again there:
// the process holding the lock may be replacing it with a good one, which a read must then find.
TEST_F(KeychainTest, ADamagedFileIsMovedAsideOnlyUnderTheLock) {
  const auto path = Keychain::storagePath();
  auto good = path;
  good += ".good";
  const auto lockFile = FileLock::lockFileFor(path);
  if (testing::testRole() == "mender") {
    auto lock = FileLock::acquire(lockFile);
    ASSERT_TRUE(lock);
    testing::announce("lock-held");
    // Until the reader waits for the lock, or has moved the damaged file aside without it.
    testing::awaitLockWaiter(lockFile, [&] { return !files::exists(path); });
    ASSERT_TRUE(files::writeAtomically(path, *files::readFile(good), nullptr, 0600));
    return;
  }
  {
    Keychain writer;
    ASSERT_EQ(writer.add(with(query("a"), kSecValueData, data("1"))), errSecSuccess);
  }
  ASSERT_TRUE(files::moveItem(path, good));
  ASSERT_TRUE(files::writeAtomically(path, std::string_view("damaged"), nullptr, 0600));
  auto mender = testing::ChildProcess::start("mender");
  ASSERT_TRUE(mender);
  ASSERT_TRUE(testing::awaitAnnouncement("lock-held", *mender));
  Keychain keychain;
  Value result;
  EXPECT_EQ(keychain.copyMatching(readOne(query("a")), &result), errSecSuccess);
  EXPECT_EQ(result, data("1"));
  EXPECT_EQ(mender->wait(), 0);
  auto aside = path;
  aside += ".corrupt";
  EXPECT_FALSE(files::exists(aside));
  EXPECT_EQ(files::readFile(path), files::readFile(good));
}

// A file that cannot be read now (no descriptor free, an I/O error) fails the call and stays as
// it is: no change is written over the items it holds.
TEST_F(KeychainTest, AFileThatCannotBeReadNowIsKeptAndNotWrittenOver) {
  for (auto cause : testing::UnreadableFile::usableCauses()) {
    SCOPED_TRACE(testing::UnreadableFile::name(cause));
    Keychain keychain;
    ASSERT_EQ(keychain.add(with(query("a"), kSecValueData, data("1"))), errSecSuccess);
    auto before = *files::readFile(Keychain::storagePath());
    {
      testing::UnreadableFile unreadable(cause, Keychain::storagePath());
      Value result;
      EXPECT_EQ(keychain.copyMatching(readOne(query("a")), &result), errSecIO);
      EXPECT_EQ(keychain.add(with(query("b"), kSecValueData, data("2"))), errSecIO);
      EXPECT_EQ(keychain.deleteItems(query("a")), errSecIO);
    }
    EXPECT_EQ(*files::readFile(Keychain::storagePath()), before);
    EXPECT_EQ(keychain.add(with(query("b"), kSecValueData, data("2"))), errSecSuccess);
    EXPECT_EQ(keychain.copyMatching(query("a")), errSecSuccess);
    auto aside = Keychain::storagePath();
    aside += ".corrupt";
    EXPECT_FALSE(files::exists(aside));
    ASSERT_TRUE(files::removeItem(Keychain::storagePath()));
  }
}

// Two processes adding items at once: each re-reads the file under the inter-process lock, so
// every item of both survives.
TEST_F(KeychainTest, TwoProcessesAddingAtOnceLoseNoItem) {
  constexpr int kItems = 200;
  const std::string& role = testing::testRole();
  if (!role.empty()) {
    Keychain keychain;
    for (int i = 0; i < kItems; ++i) {
      auto account = role + "-" + std::to_string(i);
      ASSERT_EQ(keychain.add(with(query(account), kSecValueData, data(account))), errSecSuccess);
    }
    return;
  }
  auto first = testing::ChildProcess::start("first");
  auto second = testing::ChildProcess::start("second");
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->wait(), 0);
  EXPECT_EQ(second->wait(), 0);
  Keychain keychain;
  for (const char* who : {"first", "second"}) {
    for (int i = 0; i < kItems; ++i) {
      auto account = std::string(who) + "-" + std::to_string(i);
      Value result;
      EXPECT_EQ(keychain.copyMatching(readOne(query(account)), &result), errSecSuccess) << account;
      EXPECT_EQ(result, data(account));
    }
  }
}

// What interrupted writes left beside the items (each a full copy of every secret) goes when the
// keychain first opens its folder; a fresh one may be another process's write under way.
TEST_F(KeychainTest, LeftoversOfInterruptedWritesGoWhenTheFolderIsOpened) {
  auto folder = Keychain::storagePath().parent_path();
  ASSERT_TRUE(files::createDirectory(folder, true));
  auto stale = folder / ".keychain-items.archive.tmp.4242.0.123456";
  auto fresh = folder / ".keychain-items.archive.tmp.4243.0.654321";
  ASSERT_TRUE(files::writeAtomically(stale, std::string_view("secret copy")));
  ASSERT_TRUE(files::writeAtomically(fresh, std::string_view("secret copy")));
  struct utimbuf old {};
  old.actime = old.modtime = ::time(nullptr) - 120;
  ASSERT_EQ(::utime(stale.c_str(), &old), 0);
  Keychain keychain;
  EXPECT_EQ(keychain.copyMatching(query("a")), errSecItemNotFound);
  EXPECT_FALSE(files::exists(stale));
  EXPECT_TRUE(files::exists(fresh));
}

TEST_F(KeychainTest, ConcurrentCallsLoseNoItem) {
  Keychain shared;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &shared] {
      Keychain own;  // separate instances share the one file
      for (int i = 0; i < 10; ++i) {
        auto account = std::to_string(t) + "-" + std::to_string(i);
        Keychain& k = i % 2 ? own : shared;
        EXPECT_EQ(k.add(with(query(account), kSecValueData, data(account))), errSecSuccess);
      }
    });
  }
  for (auto& t : threads) t.join();
  Value result;
  Value::Dictionary all = {{kSecClass, Value(kSecClassGenericPassword)},
                           {kSecReturnData, Value(true)},
                           {kSecMatchLimit, Value(kSecMatchLimitAll)}};
  ASSERT_EQ(shared.copyMatching(all, &result), errSecSuccess);
  EXPECT_EQ(result.count(), 40u);
}

// Another thread may still save an item while the process exits (an installation finishing its
// registration as the app ends). The exit handler is registered before the keychain is first
// used, so it runs after exit has torn down anything made later, and asks what that thread
// would ask: a new item is added, and a second one with the same identity is refused.
Keychain* gKeychainAtExit = nullptr;

void addWhileExiting() {
  const Value::Dictionary late = {{kSecClass, Value(kSecClassGenericPassword)},
                                  {kSecAttrService, Value("com.example.service")},
                                  {kSecAttrAccount, Value("late")},
                                  {kSecValueData, Value::data("x")}};
  if (gKeychainAtExit->add(late) != errSecSuccess) std::_Exit(3);
  if (gKeychainAtExit->add(late) != errSecDuplicateItem) std::_Exit(4);
}

TEST_F(KeychainTest, AnItemSavedWhileTheProcessExitsIsCheckedAndKept) {
  EXPECT_EXIT(
      {
        gKeychainAtExit = new Keychain;
        std::atexit(addWhileExiting);
        // Two items, so that the second is compared with the first.
        ASSERT_EQ(gKeychainAtExit->add(with(query("a"), kSecValueData, data("1"))), errSecSuccess);
        ASSERT_EQ(gKeychainAtExit->add(with(query("b"), kSecValueData, data("2"))), errSecSuccess);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace platform
