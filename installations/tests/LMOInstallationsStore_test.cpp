#include "installations/LMOInstallationsStore.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>

#include "installations/LMOInstallationsConstants.h"
#include "installations/LMOInstallationsErrorUtil.h"
#include "installations/LMOInstallationsHTTPError.h"
#include "installations/LMOInstallationsItem.h"
#include "installations/tests/InstallationsTestSupport.h"
#include "platform/base/UserDefaults.h"
#include "platform/dispatch/SystemLog.h"
#include "platform/runtime/Crypto.h"
#include "platform/runtime/Keychain.h"
#include "platform/runtime/KeyedArchiver.h"
#include "utilities/storage/VTUUserDefaults.h"

namespace {

using platform::Value;

class LMOInstallationsStoreTest : public lmoinst::testing::InstallationsTest {
 protected:
  std::shared_ptr<LMOInstallationsItem> registeredItem(const std::string& appID,
                                                       const std::string& name) {
    auto item = LMOInstallationsItem::initWithAppID(appID, name);
    item->lumoInstallationID = "fid-" + appID;
    item->refreshToken = "refresh";
    item->authToken = std::make_shared<LMOInstallationsStoredAuthToken>();
    item->authToken->setStatus(LMOInstallationsAuthTokenStatus::TokenOK);
    item->authToken->setToken("token");
    item->authToken->setExpirationDate(1800000000.0);
    item->registrationStatus = LMOInstallationsRegistrationStatus::Registered;
    item->IIDDefaultToken = "legacy";
    return item;
  }
  std::shared_ptr<LMOInstallationsStore> makeStore(std::optional<std::string> group = {}) {
    return LMOInstallationsStore::initWithSecureStorage(
        VTUKeychainStorage::initWithService(lmoinst::kKeychainService), std::move(group));
  }
};

TEST_F(LMOInstallationsStoreTest, SaveReadAndRemoveRoundTripThroughTheKeychain) {
  auto store = makeStore();
  auto saved = registeredItem("1:2:ios:ab", "cd");
  auto save = store->saveInstallation(saved);
  ASSERT_TRUE(settle(save));
  ASSERT_TRUE(save->isFulfilled()) << save->error()->description();
  EXPECT_TRUE(save->value().isNull());

  // A fresh store (and fresh keychain cache) reads what the first one wrote.
  auto read = makeStore()->installationForAppID("1:2:ios:ab", "cd");
  ASSERT_TRUE(settle(read));
  ASSERT_TRUE(read->isFulfilled()) << read->error()->description();
  auto item = read->value().objectAs<LMOInstallationsItem>();
  ASSERT_TRUE(item);
  EXPECT_EQ(item->appID(), "1:2:ios:ab");
  EXPECT_EQ(item->lumoAppName(), "cd");
  EXPECT_EQ(item->lumoInstallationID, "fid-1:2:ios:ab");
  EXPECT_EQ(item->refreshToken, "refresh");
  ASSERT_TRUE(item->authToken);
  EXPECT_EQ(item->authToken->token(), "token");
  EXPECT_EQ(item->authToken->expirationDate(), 1800000000.0);
  EXPECT_EQ(item->authToken->status(), LMOInstallationsAuthTokenStatus::TokenOK);
  EXPECT_EQ(item->registrationStatus, LMOInstallationsRegistrationStatus::Registered);
  EXPECT_EQ(item->IIDDefaultToken, "legacy");

  // Keys are plain concatenations: another app with the same concatenated key sees the record.
  auto shared = store->installationForAppID("1:2:ios:abc", "d");
  ASSERT_TRUE(settle(shared));
  EXPECT_TRUE(shared->isFulfilled());

  auto remove = store->removeInstallationForAppID("1:2:ios:ab", "cd");
  ASSERT_TRUE(settle(remove));
  ASSERT_TRUE(remove->isFulfilled());
  auto gone = store->installationForAppID("1:2:ios:ab", "cd");
  ASSERT_TRUE(settle(gone));
  ASSERT_TRUE(gone->isRejected());
  EXPECT_EQ(gone->error()->domain(), lmoinst::kErrorDomain);
  EXPECT_EQ(gone->error()->code(), 0);
  EXPECT_EQ(gone->error()->userInfo().at(platform::kLocalizedFailureReasonKey),
            Value("Installation for appID 1:2:ios:ab appName cd not found"));
}

TEST_F(LMOInstallationsStoreTest, AKeychainItemWithoutItsMarkerCountsAsAbsent) {
  auto store = makeStore();
  ASSERT_TRUE(settle(store->saveInstallation(registeredItem("app", "name"))));
  ASSERT_TRUE(settle(store->setInstallationExists(false, "appname")));
  auto read = store->installationForAppID("app", "name");
  ASSERT_TRUE(settle(read));
  EXPECT_TRUE(read->isRejected());
  auto exists = store->installationExistsForAppID("app", "name");
  ASSERT_TRUE(settle(exists));
  EXPECT_TRUE(exists->isRejected());
}

TEST_F(LMOInstallationsStoreTest, TheMarkerGoesToTheSuiteOfTheAccessGroup) {
  struct Case {
    std::optional<std::string> group;
    std::string suite;
  };
  for (const Case& c :
       {Case{std::nullopt, "com.lumo.LMOInstallations"}, Case{"group.x", "group.x"}}) {
    SCOPED_TRACE(c.suite);
    auto store = makeStore(c.group);
    EXPECT_EQ(store->userDefaults()->appNameRef(), c.suite);
    ASSERT_TRUE(settle(store->saveInstallation(registeredItem("a", "b"))));
    EXPECT_TRUE(VTUUserDefaults::initWithSuiteName(c.suite)->boolForKey("ab"));
    // The item sits under the store's service, the record key and the access group.
    bool found = false;
    for (const auto& call : platform::Keychain::shared().recordedCalls()) {
      if (call.function != "SecItemAdd" && call.function != "SecItemUpdate") continue;
      EXPECT_EQ(call.query.at(platform::kSecAttrAccount), Value("ab"));
      EXPECT_EQ(call.query.at(platform::kSecAttrService), Value(lmoinst::kKeychainService));
      auto group = call.query.find(platform::kSecAttrAccessGroup);
      EXPECT_EQ(group != call.query.end(), c.group.has_value());
      if (c.group) {
        EXPECT_EQ(group->second, Value(*c.group));
      }
      found = true;
    }
    EXPECT_TRUE(found);
    platform::Keychain::shared().clearRecordedCalls();
    ASSERT_TRUE(settle(store->removeInstallationForAppID("a", "b")));
    EXPECT_TRUE(VTUUserDefaults::initWithSuiteName(c.suite)->objectForKey("ab").isNil());
  }
}

TEST_F(LMOInstallationsStoreTest, AFailedKeychainWriteLeavesTheMarkerAlone) {
  auto store = makeStore();
  platform::Keychain::shared().injectStatusForNextCall(platform::errSecInteractionNotAllowed);
  platform::Keychain::shared().injectStatusForNextCall(platform::errSecInteractionNotAllowed);
  auto save = store->saveInstallation(registeredItem("a", "b"));
  ASSERT_TRUE(settle(save));
  ASSERT_TRUE(save->isRejected());
  EXPECT_TRUE(store->userDefaults()->objectForKey("ab").isNil());
}

TEST_F(LMOInstallationsStoreTest, ValidationCollectsEveryMessageInOrder) {
  struct Case {
    std::string appID, name;
    std::optional<std::string> fid, refresh;
    bool token;
    LMOInstallationsRegistrationStatus status;
    std::string messages;  // empty: valid
  };
  using S = LMOInstallationsRegistrationStatus;
  const std::vector<Case> cases = {
      {"a", "n", "fid", std::nullopt, false, S::Unregistered, ""},
      {"a", "n", "fid", std::nullopt, false, S::Registered,
       "registered installation must have non-empty `refreshToken`, registered installation must "
       "have non-empty `authToken.token`, registered installation must have non-empty "
       "`authToken.expirationDate`"},
      {"a", "n", "fid", "", true, S::Registered, ""},
      {"", "", "", std::nullopt, false, S::Unknown,
       "`appID` must not be empty, `lumoAppName` must not be empty, `lumoInstallationID` must not "
       "be empty, invalid `registrationStatus`"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.messages);
    auto item = LMOInstallationsItem::initWithAppID(c.appID, c.name);
    item->lumoInstallationID = c.fid;
    item->refreshToken = c.refresh;
    if (c.token) {
      item->authToken = std::make_shared<LMOInstallationsStoredAuthToken>();
      item->authToken->setToken("t");
      item->authToken->setExpirationDate(5);
    }
    item->registrationStatus = c.status;
    platform::ErrorPtr error;
    EXPECT_EQ(item->isValid(&error), c.messages.empty());
    if (c.messages.empty()) {
      EXPECT_FALSE(error);
    } else {
      ASSERT_TRUE(error);
      EXPECT_EQ(error->userInfo().at(platform::kLocalizedFailureReasonKey),
                Value("LMOInstallationsItem validation errors: " + c.messages));
    }
  }
}

TEST_F(LMOInstallationsStoreTest, GeneratedFIDsAreUrlSafeAndStartWithTheMarkerBits) {
  std::set<std::string> seen;
  for (int i = 0; i < 300; ++i) {
    std::string fid = LMOInstallationsItem::generateFID();
    ASSERT_EQ(fid.size(), 22u);
    EXPECT_EQ(fid.find_first_of("=+/"), std::string::npos) << fid;
    EXPECT_NE(std::string("cdef").find(fid[0]), std::string::npos) << fid;
    for (char c : fid)
      EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_');
    seen.insert(fid);
  }
  EXPECT_EQ(seen.size(), 300u);

  // The prefix carries the UUID's last four bits, then the UUID's leading bits follow.
  platform::crypto::UUIDBytes pinned{};
  pinned[0] = 0xFF;
  pinned[15] = 0x0A;
  platform::crypto::queueUUIDForTesting(pinned);
  EXPECT_EQ(LMOInstallationsItem::generateFID(), "ev8AAAAAAAAAAAAAAAAAAA");
  EXPECT_EQ(LMOInstallationsItem::base64URLEncodedStringWithData({0xFB, 0xFF}), "-_8=");
}

TEST_F(LMOInstallationsStoreTest, ANewerStorageVersionDecodesAndKeepsTheFID) {
  class NewerItem : public platform::runtime::RootObject, public platform::SecureCoding {
   public:
    std::string className() const override { return lmoinst::kStoredItemClassName; }
    void encodeWithCoder(platform::KeyedArchiver& coder) const override {
      coder.encodeString("fid-newer", lmoinst::kKeyFID);
      coder.encodeInteger(1, lmoinst::kKeyRegistrationStatus);
      coder.encodeString("from the future", "futureField");
      coder.encodeInteger(2, lmoinst::kKeyStorageVersion);
    }
  };
  auto data =
      platform::KeyedArchiver::archivedDataWithRootObject(Value(std::make_shared<NewerItem>()));
  ASSERT_TRUE(data);
  platform::SystemLogCapture log;
  platform::ErrorPtr error;
  auto decoded = platform::KeyedUnarchiver::unarchivedObjectOfClass(lmoinst::kStoredItemClassName,
                                                                    *data, &error)
                     .objectAs<LMOInstallationsStoredItem>();
  ASSERT_TRUE(decoded) << (error ? error->description() : "");
  EXPECT_EQ(decoded->lumoInstallationID, "fid-newer");
  EXPECT_EQ(decoded->registrationStatus, 1);
  EXPECT_TRUE(pumpUntil([&] {
    return log.contains("I-LIS003000") &&
           log.contains(
               "LMOInstallationsStoredItem was encoded by a newer coder version 2. Current "
               "coder version is 1. Some installation data may be lost.");
  }));
}

TEST_F(LMOInstallationsStoreTest, PublicDomainWrappingKeepsOwnErrorsAndWrapsForeignOnes) {
  auto own = LMOInstallationsErrorUtil::backoffIntervalWaitError();
  EXPECT_EQ(LMOInstallationsErrorUtil::publicDomainErrorWithError(own), own);
  EXPECT_EQ(own->code(), 2);

  auto foreign = platform::Error::withDescription("NSURLErrorDomain", -1004, "no route");
  auto wrapped = LMOInstallationsErrorUtil::publicDomainErrorWithError(foreign);
  EXPECT_EQ(wrapped->domain(), lmoinst::kErrorDomain);
  EXPECT_EQ(wrapped->code(), 0);
  EXPECT_EQ(wrapped->userInfo().at(platform::kLocalizedFailureReasonKey),
            Value("Underlying error: no route"));
  EXPECT_EQ(wrapped->userInfo().at(platform::kUnderlyingErrorKey), Value(foreign));

  auto keychain = LMOInstallationsErrorUtil::keychainErrorWithFunction("SecItemDelete", -25300);
  EXPECT_EQ(keychain->code(), 1);
  EXPECT_EQ(keychain->userInfo().at(platform::kLocalizedFailureReasonKey),
            Value("SecItemDelete (-25300)"));
  EXPECT_EQ(keychain->userInfo().count(platform::kUnderlyingErrorKey), 0u);
}

TEST_F(LMOInstallationsStoreTest, HTTPErrorsDescribeTheAnswerAndSurviveArchiving) {
  auto response = std::make_shared<const platform::HTTPURLResponse>(
      "https://service.test/v1/x", 403, platform::HTTPHeaderFields{{"Content-Type", "text/plain"}});
  const std::string body = "forbidden";
  auto error = LMOInstallationsErrorUtil::APIErrorWithHTTPResponse(
      response, platform::Bytes(body.begin(), body.end()));
  EXPECT_EQ(error->domain(), lmoinst::kErrorDomain);
  EXPECT_EQ(error->code(), 0);
  EXPECT_EQ(error->userInfo().at(platform::kLocalizedFailureReasonKey),
            Value("The server responded with an error: \n - URL: https://service.test/v1/x \n - "
                  "HTTP status code: 403 \n - Response body: forbidden"));
  EXPECT_TRUE(LMOInstallationsErrorUtil::isAPIError(error, 403));
  EXPECT_FALSE(LMOInstallationsErrorUtil::isAPIError(error, 404));
  EXPECT_FALSE(
      LMOInstallationsErrorUtil::isAPIError(platform::Error::make(lmoinst::kErrorDomain, 0), 403));

  // Undecodable or absent bodies print as a missing object.
  auto binary =
      LMOInstallationsHTTPError::initWithHTTPResponse(response, platform::Bytes{0xFF, 0xFE});
  EXPECT_NE(binary->userInfo()
                .at(platform::kLocalizedFailureReasonKey)
                .string()
                ->find("Response body: (null)"),
            std::string::npos);

  auto data = platform::KeyedArchiver::archivedDataWithRootObject(Value(error));
  ASSERT_TRUE(data);
  platform::ErrorPtr decodeError;
  auto decoded = platform::KeyedUnarchiver::unarchivedObjectOfClass(lmoinst::kHTTPErrorClassName,
                                                                    *data, &decodeError)
                     .objectAs<LMOInstallationsHTTPError>();
  ASSERT_TRUE(decoded) << (decodeError ? decodeError->description() : "");
  EXPECT_EQ(decoded->HTTPResponse()->statusCode(), 403);
  EXPECT_EQ(decoded->HTTPResponse()->URL(), "https://service.test/v1/x");
  EXPECT_EQ(decoded->data(), platform::Bytes(body.begin(), body.end()));
  EXPECT_EQ(decoded->userInfo(), error->userInfo());
  EXPECT_TRUE(LMOInstallationsErrorUtil::isAPIError(decoded, 403));
}

}  // namespace
