#include "installations/LMOInstallationsStore.h"

#include "installations/LMOInstallationsConstants.h"
#include "installations/LMOInstallationsErrorUtil.h"

using platform::Value;

LMOInstallationsStore::LMOInstallationsStore(std::shared_ptr<VTUKeychainStorage> secureStorage,
                                             std::optional<std::string> accessGroup)
    : secureStorage_(std::move(secureStorage)),
      accessGroup_(std::move(accessGroup)),
      queue_(platform::DispatchQueue::create(lmoinst::kStoreQueueLabel)),
      userDefaults_(VTUUserDefaults::initWithSuiteName(
          accessGroup_ ? *accessGroup_ : std::string(lmoinst::kDefaultUserDefaultsSuite))) {}

std::shared_ptr<LMOInstallationsStore> LMOInstallationsStore::initWithSecureStorage(
    std::shared_ptr<VTUKeychainStorage> secureStorage, std::optional<std::string> accessGroup) {
  return std::make_shared<LMOInstallationsStore>(std::move(secureStorage), std::move(accessGroup));
}

PRMPromisePtr LMOInstallationsStore::installationForAppID(const std::string& appID,
                                                          const std::string& appName) {
  const std::string key = LMOInstallationsItem::identifierWithAppID(appID, appName);
  auto storage = secureStorage_;
  auto accessGroup = accessGroup_;
  return installationExistsForAppID(appID, appName)
      ->then([storage, key, accessGroup](const Value&) -> Value {
        return Value(storage->getObjectForKey(key, lmoinst::kStoredItemClassName, accessGroup));
      })
      ->then([appID, appName](const Value& object) -> Value {
        auto stored = object.objectAs<LMOInstallationsStoredItem>();
        if (!stored) {
          return Value(LMOInstallationsErrorUtil::installationItemNotFoundForAppID(appID, appName));
        }
        auto item = LMOInstallationsItem::initWithAppID(appID, appName);
        item->updateWithStoredItem(*stored);
        return Value(item);
      });
}

PRMPromisePtr LMOInstallationsStore::saveInstallation(
    const std::shared_ptr<LMOInstallationsItem>& installation) {
  auto stored = installation->storedItem();
  const std::string key = installation->identifier();
  auto defaults = userDefaults_;
  auto queue = queue_;
  return secureStorage_->setObject(Value(stored), key, accessGroup_)
      ->then([defaults, queue, key](const Value&) -> Value {
        return Value(PRMPromise::onQueueDo(queue, [defaults, key]() -> Value {
          defaults->setBool(true, key);
          return Value::null();
        }));
      });
}

PRMPromisePtr LMOInstallationsStore::removeInstallationForAppID(const std::string& appID,
                                                                const std::string& appName) {
  const std::string key = LMOInstallationsItem::identifierWithAppID(appID, appName);
  auto defaults = userDefaults_;
  auto queue = queue_;
  return secureStorage_->removeObjectForKey(key, accessGroup_)
      ->then([defaults, queue, key](const Value&) -> Value {
        return Value(PRMPromise::onQueueDo(queue, [defaults, key]() -> Value {
          defaults->removeObjectForKey(key);
          return Value::null();
        }));
      });
}

PRMPromisePtr LMOInstallationsStore::installationExistsForAppID(const std::string& appID,
                                                                const std::string& appName) {
  const std::string key = LMOInstallationsItem::identifierWithAppID(appID, appName);
  auto defaults = userDefaults_;
  return PRMPromise::onQueueDo(queue_, [defaults, key, appID, appName]() -> Value {
    platform::ErrorPtr error;
    const Value marker = defaults->objectForKey(key, &error);
    // A marker that cannot be read now may well be there: the caller must not take it for none
    // (and make a new installation over the stored one). The next call reads again.
    if (error) return Value(error);
    if (marker.isNil()) {
      return Value(LMOInstallationsErrorUtil::installationItemNotFoundForAppID(appID, appName));
    }
    return Value::null();
  });
}

PRMPromisePtr LMOInstallationsStore::setInstallationExists(bool exists,
                                                           const std::string& identifier) {
  auto defaults = userDefaults_;
  return PRMPromise::onQueueDo(queue_, [defaults, exists, identifier]() -> Value {
    if (exists) {
      defaults->setBool(true, identifier);
    } else {
      defaults->removeObjectForKey(identifier);
    }
    return Value::null();
  });
}
