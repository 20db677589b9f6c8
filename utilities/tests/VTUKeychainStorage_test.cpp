#include "utilities/storage/VTUKeychainStorage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "platform/runtime/Keychain.h"
#include "platform/testing/PlatformTest.h"
#include "utilities/storage/VTUKeychainUtils.h"

namespace {

using platform::Value;

class VTUKeychainStorageTest : public platform::testing::PlatformTest {
 protected:
  // Settles the promise by pumping the main queue (reads recover on the default queue).
  PRMPromisePtr await(const PRMPromisePtr& promise) {
    EXPECT_TRUE(pumpUntil([&] { return !promise->isPending(); }));
    return promise;
  }
  std::vector<std::string> keychainFunctions() {
    std::vector<std::string> names;
    for (const auto& call : platform::Keychain::shared().recordedCalls()) {
      names.push_back(call.function);
    }
    return names;
  }
  std::shared_ptr<VTUKeychainStorage> store = VTUKeychainStorage::initWithService("svc");
};

TEST_F(VTUKeychainStorageTest, ReadOfAMissingKeyGivesNilAndCachesNothing) {
  auto read = await(store->getObjectForKey("k", "NSString", std::nullopt));
  EXPECT_TRUE(read->isFulfilled());
  EXPECT_TRUE(read->value().isNil());
  EXPECT_FALSE(store->inMemoryCache()->objectForKey("k"));
}

TEST_F(VTUKeychainStorageTest, WrittenObjectIsReadFromTheCacheWithoutAKeychainCall) {
  EXPECT_EQ(await(store->setObject("secret", "k", std::nullopt))->value(), Value::null());
  platform::Keychain::shared().clearRecordedCalls();
  auto read = await(store->getObjectForKey("k", "NSString", std::nullopt));
  EXPECT_EQ(read->value(), Value("secret"));
  EXPECT_TRUE(keychainFunctions().empty());

  // A fresh process (an empty cache) reads the keychain, also across a relaunch of the file.
  auto fresh = VTUKeychainStorage::initWithService("svc");
  EXPECT_EQ(await(fresh->getObjectForKey("k", "NSString", std::nullopt))->value(), Value("secret"));
  EXPECT_EQ(keychainFunctions(), std::vector<std::string>{"SecItemCopyMatching"});
}

TEST_F(VTUKeychainStorageTest, WritingTwiceUpdatesTheOneItemAndKeepsItsAccessibility) {
  await(store->setObject("one", "k", std::nullopt));
  await(store->setObject("two", "k", std::nullopt));
  Value items;
  ASSERT_EQ(platform::Keychain::shared().copyMatching(
                {{platform::kSecClass, platform::kSecClassGenericPassword},
                 {platform::kSecAttrService, "svc"},
                 {platform::kSecReturnAttributes, true},
                 {platform::kSecMatchLimit, platform::kSecMatchLimitAll}},
                &items),
            platform::errSecSuccess);
  ASSERT_EQ(items.count(), 1u);
  EXPECT_EQ(items.at(0)[platform::kSecAttrAccessible],
            Value(platform::kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly));
  store->resetInMemoryCache();
  EXPECT_EQ(await(store->getObjectForKey("k", "NSString", std::nullopt))->value(), Value("two"));
}

TEST_F(VTUKeychainStorageTest, RemovingAMissingKeyFulfilsWithNull) {
  EXPECT_EQ(await(store->removeObjectForKey("nothing", std::nullopt))->value(), Value::null());
  await(store->setObject("v", "k", "group"));
  EXPECT_EQ(await(store->removeObjectForKey("k", "group"))->value(), Value::null());
  store->resetInMemoryCache();
  EXPECT_TRUE(await(store->getObjectForKey("k", "NSString", "group"))->value().isNil());
}

TEST_F(VTUKeychainStorageTest, CacheIsKeyedByKeyAloneAndTheKeychainByAccessGroup) {
  await(store->setObject("v", "k", std::nullopt));
  EXPECT_EQ(await(store->getObjectForKey("k", "NSString", "group"))->value(), Value("v"));
  store->resetInMemoryCache();
  EXPECT_TRUE(await(store->getObjectForKey("k", "NSString", "group"))->value().isNil());
}

TEST_F(VTUKeychainStorageTest, SixthKeyMayEvictOneWhichIsReadBackFromTheKeychain) {
  for (int i = 0; i < 6; ++i) await(store->setObject(i, "k" + std::to_string(i), std::nullopt));
  EXPECT_EQ(store->inMemoryCache()->count(), 5u);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(await(store->getObjectForKey("k" + std::to_string(i), "NSNumber", std::nullopt))
                  ->value(),
              Value(i));
  }
}

TEST_F(VTUKeychainStorageTest, FailuresRejectWithTheKeychainFunctionAndStatus) {
  platform::Keychain::shared().injectStatusForNextCall(platform::errSecInteractionNotAllowed);
  auto read = await(store->getObjectForKey("k", "NSString", std::nullopt));
  ASSERT_TRUE(read->isRejected());
  EXPECT_EQ(read->error()->domain(), "com.vtu.keychain.ErrorDomain");
  EXPECT_EQ(read->error()->code(), 0);
  EXPECT_EQ(read->error()->userInfo().at("NSLocalizedFailureReason"),
            Value("SecItemCopyMatching (-25308)"));

  // A failed write leaves no trace in the cache: a later read answers what the keychain holds.
  platform::Keychain::shared().injectStatusForNextCall(platform::errSecItemNotFound);
  platform::Keychain::shared().injectStatusForNextCall(platform::errSecIO);
  auto write = await(store->setObject("new", "k", std::nullopt));
  ASSERT_TRUE(write->isRejected());
  EXPECT_EQ(write->error()->userInfo().at("NSLocalizedFailureReason"), Value("SecItemAdd (-36)"));
  EXPECT_FALSE(store->inMemoryCache()->objectForKey("k"));
  EXPECT_TRUE(await(store->getObjectForKey("k", "NSString", std::nullopt))->value().isNil());
  // Also when an older value is stored: the read finds the older one, not the refused one.
  await(store->setObject("old", "k", std::nullopt));
  platform::Keychain::shared().injectStatusForNextCall(platform::errSecIO);
  ASSERT_TRUE(await(store->setObject("refused", "k", std::nullopt))->isRejected());
  EXPECT_EQ(await(store->getObjectForKey("k", "NSString", std::nullopt))->value(), Value("old"));

  platform::Keychain::shared().injectStatusForNextCall(platform::errSecIO);
  auto remove = await(store->removeObjectForKey("k", std::nullopt));
  ASSERT_TRUE(remove->isRejected());
  EXPECT_EQ(remove->error()->userInfo().at("NSLocalizedFailureReason"),
            Value("SecItemDelete (-36)"));

  // A keychain call that throws fails its operation the same way, with what was thrown; a write
  // leaves no trace in the cache then either.
  const std::pair<const char*, std::function<PRMPromisePtr()>> operations[] = {
      {"read", [&] { return store->getObjectForKey("k", "NSString", std::nullopt); }},
      {"write", [&] { return store->setObject("thrown away", "k", std::nullopt); }},
      {"remove", [&] { return store->removeObjectForKey("k", std::nullopt); }},
  };
  for (const auto& [name, operation] : operations) {
    SCOPED_TRACE(name);
    store->resetInMemoryCache();
    std::atomic<bool> thrown{false};
    platform::Keychain::shared().setCallHookForTesting([&](const platform::KeychainCall&) {
      if (!thrown.exchange(true)) throw std::runtime_error("keychain on fire");
    });
    auto failed = await(operation());
    platform::Keychain::shared().setCallHookForTesting(nullptr);
    EXPECT_TRUE(thrown.load());
    ASSERT_TRUE(failed->isRejected());
    EXPECT_EQ(failed->error()->localizedDescription(), "keychain on fire");
    EXPECT_FALSE(store->inMemoryCache()->objectForKey("k"));
  }
  EXPECT_EQ(await(store->getObjectForKey("k", "NSString", std::nullopt))->value(), Value("old"));
}

TEST_F(VTUKeychainStorageTest, StoredObjectOfAnotherClassRejectsAndIsNotCached) {
  await(store->setObject(42, "k", std::nullopt));
  store->resetInMemoryCache();
  auto read = await(store->getObjectForKey("k", "NSString", std::nullopt));
  EXPECT_TRUE(read->isRejected());
  EXPECT_FALSE(store->inMemoryCache()->objectForKey("k"));
}

TEST_F(VTUKeychainStorageTest, ACachedObjectIsOnlyHandedOutForTheClassAskedFor) {
  await(store->setObject(42, "k", std::nullopt));
  // Cached as a number: a read for a string goes to the keychain, whose archive is refused.
  platform::Keychain::shared().clearRecordedCalls();
  auto asString = await(store->getObjectForKey("k", "NSString", std::nullopt));
  ASSERT_TRUE(asString->isRejected());
  EXPECT_EQ(keychainFunctions(), std::vector<std::string>{"SecItemCopyMatching"});
  // The class itself, or a class it descends from, is answered from the cache.
  platform::Keychain::shared().clearRecordedCalls();
  EXPECT_EQ(await(store->getObjectForKey("k", "NSNumber", std::nullopt))->value(), Value(42));
  EXPECT_EQ(await(store->getObjectForKey("k", "NSObject", std::nullopt))->value(), Value(42));
  EXPECT_TRUE(keychainFunctions().empty());
}

TEST_F(VTUKeychainStorageTest, AWriteWinsOverASlowerReadThatBeganBeforeIt) {
  await(store->setObject("old", "k", std::nullopt));
  store->resetInMemoryCache();
  // The keychain holds the read's lookup until the test lets it go.
  std::mutex mutex;
  std::condition_variable changed;
  bool reading = false;
  bool released = false;
  platform::Keychain::shared().setCallHookForTesting([&](const platform::KeychainCall& call) {
    if (call.function != "SecItemCopyMatching") return;
    std::unique_lock lock(mutex);
    if (reading) return;  // only the first lookup is held
    reading = true;
    changed.notify_all();
    changed.wait(lock, [&] { return released; });
  });
  auto read = store->getObjectForKey("k", "NSString", std::nullopt);
  ASSERT_TRUE(pumpUntil([&] {
    std::lock_guard lock(mutex);
    return reading;
  }));
  auto write = store->setObject("new", "k", std::nullopt);
  // The write's cache step runs while the read is still in the keychain.
  ASSERT_TRUE(pumpUntil([&] { return store->inMemoryCache()->objectForKey("k") == Value("new"); }));
  {
    std::lock_guard lock(mutex);
    released = true;
  }
  changed.notify_all();
  EXPECT_EQ(await(read)->value().description(), "old");  // it asked before the write
  EXPECT_TRUE(await(write)->isFulfilled());
  platform::Keychain::shared().setCallHookForTesting(nullptr);
  // Later reads see the newer write, from the cache and from the keychain.
  EXPECT_EQ(await(store->getObjectForKey("k", "NSString", std::nullopt))->value().description(),
            "new");
  auto fresh = VTUKeychainStorage::initWithService("svc");
  EXPECT_EQ(await(fresh->getObjectForKey("k", "NSString", std::nullopt))->value().description(),
            "new");
}

TEST_F(VTUKeychainStorageTest, SetItemStopsAtAFailedLookupEvenWithoutAnErrorParameter) {
  const auto query = store->keychainQueryWithKey("k", std::nullopt);
  const platform::Bytes data{1, 2, 3};
  for (bool withErrorParameter : {true, false}) {
    SCOPED_TRACE(withErrorParameter);
    platform::Keychain::shared().clearRecordedCalls();
    platform::Keychain::shared().injectStatusForNextCall(platform::errSecInteractionNotAllowed);
    platform::ErrorPtr error;
    EXPECT_FALSE(VTUKeychainUtils::setItem(data, query, withErrorParameter ? &error : nullptr));
    EXPECT_EQ(keychainFunctions(), std::vector<std::string>{"SecItemCopyMatching"});
    if (withErrorParameter) {
      ASSERT_TRUE(error);
      EXPECT_EQ(error->userInfo().at("NSLocalizedFailureReason"),
                Value("SecItemCopyMatching (-25308)"));
    }
  }
  EXPECT_FALSE(VTUKeychainUtils::getItemWithQuery(query, nullptr));
  // Without a failure it writes, with or without the parameter.
  EXPECT_TRUE(VTUKeychainUtils::setItem(data, query, nullptr));
  EXPECT_EQ(VTUKeychainUtils::getItemWithQuery(query, nullptr), data);
}

TEST_F(VTUKeychainStorageTest, GetItemWithoutAnErrorParameterAnswersNilForFailureAndAbsence) {
  const auto query = store->keychainQueryWithKey("k", std::nullopt);
  EXPECT_FALSE(VTUKeychainUtils::getItemWithQuery(query, nullptr));
  platform::Keychain::shared().injectStatusForNextCall(platform::errSecIO);
  EXPECT_FALSE(VTUKeychainUtils::getItemWithQuery(query, nullptr));
  EXPECT_EQ(query.size(), 3u);  // class, service, account: nothing else
}

}  // namespace
