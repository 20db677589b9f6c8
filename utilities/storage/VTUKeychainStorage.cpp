#include "utilities/storage/VTUKeychainStorage.h"

#include "platform/runtime/Keychain.h"
#include "platform/runtime/Runtime.h"
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

namespace {

// Whether a cached object answers a read for `objectClass`: its class, or a class it descends
// from, as the unarchiver would allow it.
bool isKindOfClass(const Value& object, const std::string& objectClass) {
  const std::string name = object.className();
  if (name == objectClass || objectClass == platform::runtime::kRootClassName) return true;
  for (const platform::runtime::Class* cls = platform::runtime::classNamed(name); cls;
       cls = cls->superclass()) {
    if (cls->name() == objectClass) return true;
  }
  return false;
}

}  // namespace

std::uint64_t VTUKeychainStorage::generationForKey(const std::string& key) {
  std::lock_guard lock(generationsMutex_);
  auto it = generations_.find(key);
  return it == generations_.end() ? 0 : it->second;
}

std::uint64_t VTUKeychainStorage::advanceGenerationForKey(const std::string& key) {
  std::lock_guard lock(generationsMutex_);
  return ++generations_[key];
}

PRMPromisePtr VTUKeychainStorage::getObjectForKey(const std::string& key,
                                                  const std::string& objectClass,
                                                  const std::optional<std::string>& accessGroup) {
  auto self = shared_from_this();
  auto generation = std::make_shared<std::uint64_t>(0);
  return PRMPromise::onQueueDo(inMemoryCacheQueue_,
                               [self, key, objectClass, generation]() -> Value {
                                 auto hit = self->inMemoryCache_->objectForKey(key);
                                 if (hit && isKindOfClass(*hit, objectClass)) return *hit;
                                 *generation = self->generationForKey(key);
                                 // Only marks the miss for the recovery below.
                                 return Value(platform::Error::make(
                                     kPRMPromiseErrorDomain, kPRMPromiseErrorCodeValidationFailure));
                               })
      ->recover(
          [self, key, objectClass, accessGroup, generation](const platform::ErrorPtr&) -> Value {
            return Value(self->readKeychainForKey(key, objectClass, accessGroup, *generation));
          });
}

PRMPromisePtr VTUKeychainStorage::getObjectFromKeychainForKey(
    const std::string& key, const std::string& objectClass,
    const std::optional<std::string>& accessGroup) {
  return readKeychainForKey(key, objectClass, accessGroup, generationForKey(key));
}

PRMPromisePtr VTUKeychainStorage::readKeychainForKey(const std::string& key,
                                                     const std::string& objectClass,
                                                     const std::optional<std::string>& accessGroup,
                                                     std::uint64_t generation) {
  const Value::Dictionary query = keychainQueryWithKey(key, accessGroup);
  auto self = shared_from_this();
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
      ->onQueueThen(inMemoryCacheQueue_, [self, key, generation](const Value& object) -> Value {
        // A write or removal since the miss has the newer value; this answer is only handed on.
        if (!object.isNil() && self->generationForKey(key) == generation) {
          self->inMemoryCache_->setObject(object, key);
        }
        return object;
      });
}

PRMPromisePtr VTUKeychainStorage::setObject(const Value& object, const std::string& key,
                                            const std::optional<std::string>& accessGroup) {
  const Value::Dictionary query = keychainQueryWithKey(key, accessGroup);
  auto self = shared_from_this();
  auto generation = std::make_shared<std::uint64_t>(0);
  // The cache takes the new object first, so that reads see it at once; should the keychain
  // refuse it, it is evicted again before the caller hears of the failure.
  return PRMPromise::onQueueDo(inMemoryCacheQueue_,
                               [self, key, object, generation]() -> Value {
                                 *generation = self->advanceGenerationForKey(key);
                                 self->inMemoryCache_->setObject(object, key);
                                 return Value::null();
                               })
      ->onQueueThen(keychainQueue_,
                    [query, object](const Value&) -> Value {
                      platform::ErrorPtr error;
                      auto archive = VTUSecureCoding::archivedDataWithRootObject(object, &error);
                      if (!archive) return Value(error);
                      if (!VTUKeychainUtils::setItem(*archive, query, &error)) return Value(error);
                      return Value::null();
                    })
      ->onQueueRecover(inMemoryCacheQueue_,
                       [self, key, generation](const platform::ErrorPtr& error) -> Value {
                         // Unless a later write or removal has taken the key over since.
                         if (self->generationForKey(key) == *generation) {
                           self->advanceGenerationForKey(key);
                           self->inMemoryCache_->removeObjectForKey(key);
                         }
                         return Value(error);
                       });
}

PRMPromisePtr VTUKeychainStorage::removeObjectForKey(const std::string& key,
                                                     const std::optional<std::string>& accessGroup) {
  const Value::Dictionary query = keychainQueryWithKey(key, accessGroup);
  auto cache = inMemoryCache_;
  auto self = shared_from_this();
  return PRMPromise::onQueueDo(inMemoryCacheQueue_,
                               [self, cache, key]() -> Value {
                                 self->advanceGenerationForKey(key);
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
