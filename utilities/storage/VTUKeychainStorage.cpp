#include "utilities/storage/VTUKeychainStorage.h"

#include "platform/runtime/Keychain.h"
#include "utilities/VTUConstants.h"
#include "utilities/storage/VTUKeychainUtils.h"
#include "utilities/storage/VTUSecureCoding.h"

using platform::Value;

std::shared_ptr<VTUKeychainStorage> VTUKeychainStorage::initWithService(
    const std::string& service) {
  return initWithServiceCache(service,
                              std::make_shared<ObjectCache>(vtu::kKeychainCacheCountLimit));
}

std::shared_ptr<VTUKeychainStorage> VTUKeychainStorage::initWithServiceCache(
    const std::string& service, std::shared_ptr<ObjectCache> cache) {
  return std::make_shared<VTUKeychainStorage>(service, std::move(cache));
}

VTUKeychainStorage::VTUKeychainStorage(std::string service, std::shared_ptr<ObjectCache> cache)
    : keychainQueue_(platform::DispatchQueue::create(vtu::kKeychainQueueLabel)),
      inMemoryCacheQueue_(platform::DispatchQueue::create(vtu::kKeychainCacheQueueLabel)),
      service_(std::move(service)),
      inMemoryCache_(std::move(cache)) {}

PRMPromisePtr VTUKeychainStorage::getObjectForKey(const std::string& key,
                                                  const std::string& objectClass,
                                                  const std::optional<std::string>& accessGroup) {
  auto cache = inMemoryCache_;
  return PRMPromise::onQueueDo(inMemoryCacheQueue_,
                               [cache, key]() -> Value {
                                 if (auto hit = cache->objectForKey(key)) return *hit;
                                 // Only marks the miss for the recovery below.
                                 return Value(platform::Error::make(
                                     kPRMPromiseErrorDomain, kPRMPromiseErrorCodeValidationFailure));
                               })
      ->recover([self = shared_from_this(), key, objectClass,
                 accessGroup](const platform::ErrorPtr&) -> Value {
        return Value(self->getObjectFromKeychainForKey(key, objectClass, accessGroup));
      });
}

PRMPromisePtr VTUKeychainStorage::getObjectFromKeychainForKey(
    const std::string& key, const std::string& objectClass,
    const std::optional<std::string>& accessGroup) {
  const Value::Dictionary query = keychainQueryWithKey(key, accessGroup);
  auto cache = inMemoryCache_;
  return PRMPromise::onQueueDo(keychainQueue_,
                               [query, objectClass]() -> Value {
                                 platform::ErrorPtr error;
                                 auto data = VTUKeychainUtils::getItemWithQuery(query, &error);
                                 if (error) return Value(error);
                                 if (!data) return Value();
                                 Value object = VTUSecureCoding::unarchivedObjectOfClass(
                                     objectClass, *data, &error);
                                 if (error) return Value(error);
                                 return object;
                               })
      ->onQueueThen(inMemoryCacheQueue_, [cache, key](const Value& object) -> Value {
        if (!object.isNil()) cache->setObject(object, key);
        return object;
      });
}

PRMPromisePtr VTUKeychainStorage::setObject(const Value& object, const std::string& key,
                                            const std::optional<std::string>& accessGroup) {
  const Value::Dictionary query = keychainQueryWithKey(key, accessGroup);
  auto cache = inMemoryCache_;
  // The cache takes the new object first and keeps it even when the keychain write fails.
  return PRMPromise::onQueueDo(inMemoryCacheQueue_,
                               [cache, key, object]() -> Value {
                                 cache->setObject(object, key);
                                 return Value::null();
                               })
      ->onQueueThen(keychainQueue_, [query, object](const Value&) -> Value {
        platform::ErrorPtr error;
        auto archive = VTUSecureCoding::archivedDataWithRootObject(object, &error);
        if (!archive) return Value(error);
        if (!VTUKeychainUtils::setItem(*archive, query, &error)) return Value(error);
        return Value::null();
      });
}

PRMPromisePtr VTUKeychainStorage::removeObjectForKey(const std::string& key,
                                                     const std::optional<std::string>& accessGroup) {
  const Value::Dictionary query = keychainQueryWithKey(key, accessGroup);
  auto cache = inMemoryCache_;
  return PRMPromise::onQueueDo(inMemoryCacheQueue_,
                               [cache, key]() -> Value {
                                 cache->removeObjectForKey(key);
                                 return Value();
                               })
      ->onQueueThen(keychainQueue_, [query](const Value&) -> Value {
        platform::ErrorPtr error;
        if (!VTUKeychainUtils::removeItemWithQuery(query, &error)) return Value(error);
        return Value::null();
      });
}

void VTUKeychainStorage::resetInMemoryCache() { inMemoryCache_->removeAllObjects(); }

Value::Dictionary VTUKeychainStorage::keychainQueryWithKey(
    const std::string& key, const std::optional<std::string>& accessGroup) const {
  Value::Dictionary query{{platform::kSecClass, platform::kSecClassGenericPassword},
                          {platform::kSecAttrService, service_},
                          {platform::kSecAttrAccount, key}};
  if (accessGroup) query[platform::kSecAttrAccessGroup] = *accessGroup;
  return query;
}
