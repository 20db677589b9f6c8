#include "utilities/storage/VTUKeychainStorage.h"

#include <gtest/gtest.h>

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

  // A failed write keeps the new object in the cache.
  platform::Keychain::shared().injectStatusForNextCall(platform::errSecItemNotFound);
  platform::Keychain::shared().injectStatusForNextCall(platform::errSecIO);
  auto write = await(store->setObject("new", "k", std::nullopt));
  ASSERT_TRUE(write->isRejected());
  EXPECT_EQ(write->error()->userInfo().at("NSLocalizedFailureReason"), Value("SecItemAdd (-36)"));
  EXPECT_EQ(await(store->getObjectForKey("k", "NSString", std::nullopt))->value(), Value("new"));

  platform::Keychain::shared().injectStatusForNextCall(platform::errSecIO);
  auto remove = await(store->removeObjectForKey("k", std::nullopt));
  ASSERT_TRUE(remove->isRejected());
  EXPECT_EQ(remove->error()->userInfo().at("NSLocalizedFailureReason"),
            Value("SecItemDelete (-36)"));
}

TEST_F(VTUKeychainStorageTest, StoredObjectOfAnotherClassRejectsAndIsNotCached) {
  await(store->setObject(42, "k", std::nullopt));
  store->resetInMemoryCache();
  auto read = await(store->getObjectForKey("k", "NSString", std::nullopt));
  EXPECT_TRUE(read->isRejected());
  EXPECT_FALSE(store->inMemoryCache()->objectForKey("k"));
}

TEST_F(VTUKeychainStorageTest, GetItemWithoutAnErrorParameterAnswersNilForFailureAndAbsence) {
  const auto query = store->keychainQueryWithKey("k", std::nullopt);
  EXPECT_FALSE(VTUKeychainUtils::getItemWithQuery(query, nullptr));
  platform::Keychain::shared().injectStatusForNextCall(platform::errSecIO);
  EXPECT_FALSE(VTUKeychainUtils::getItemWithQuery(query, nullptr));
  EXPECT_EQ(query.size(), 3u);  // class, service, account: nothing else
}

}  // namespace
