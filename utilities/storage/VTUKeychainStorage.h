// Objects kept in the keychain as generic-password items of one service, one item per key, each
// holding the object as a secure-coded keyed archive. Every operation returns a promise at once;
// keychain calls and archiving run on the queue "com.vtu.KeychainStorage.Keychain", cache
// accesses on "com.vtu.KeychainStorage.InMemoryCache", so no caller blocks on the keychain. The
// cache only ever holds what the keychain holds or is about to: a failed write is evicted, and a
// read never caches an answer older than a write of the same key.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/base/Cache.h"
#include "platform/base/Value.h"
#include "platform/dispatch/DispatchQueue.h"
#include "promises/PRMPromise.h"

class VTUKeychainStorage : public std::enable_shared_from_this<VTUKeychainStorage> {
 public:
  using ObjectCache = platform::Cache<std::string, platform::Value>;

  // A store whose cache keeps the five objects most recently used.
  static std::shared_ptr<VTUKeychainStorage> initWithService(const std::string& service);
  static std::shared_ptr<VTUKeychainStorage> initWithServiceCache(
      const std::string& service, std::shared_ptr<ObjectCache> cache);

  // Fulfils with the object (nil when there is no item); rejects with a keychain or unarchiving
  // error. `objectClass` is the class name the stored object must have.
  PRMPromisePtr getObjectForKey(const std::string& key, const std::string& objectClass,
                                const std::optional<std::string>& accessGroup);
  // Fulfils with the null marker once the item is written.
  PRMPromisePtr setObject(const platform::Value& object, const std::string& key,
                          const std::optional<std::string>& accessGroup);
  // Fulfils with the null marker once the item is gone (also when there was none).
  PRMPromisePtr removeObjectForKey(const std::string& key,
                                   const std::optional<std::string>& accessGroup);
  // The keychain half of a read, without the cache look-up.
  PRMPromisePtr getObjectFromKeychainForKey(const std::string& key, const std::string& objectClass,
                                            const std::optional<std::string>& accessGroup);
  void resetInMemoryCache();
  platform::Value::Dictionary keychainQueryWithKey(const std::string& key,
                                                   const std::optional<std::string>& accessGroup) const;

  const platform::DispatchQueuePtr& keychainQueue() const { return keychainQueue_; }
  const platform::DispatchQueuePtr& inMemoryCacheQueue() const { return inMemoryCacheQueue_; }
  const std::string& service() const { return service_; }
  const std::shared_ptr<ObjectCache>& inMemoryCache() const { return inMemoryCache_; }

  VTUKeychainStorage(std::string service, std::shared_ptr<ObjectCache> cache);

 private:
  // Every write and removal of a key moves its generation on; a read fills the cache only when
  // the key's generation is still the one it saw when it missed, so an older keychain answer
  // never replaces a newer write.
  std::uint64_t generationForKey(const std::string& key);
  std::uint64_t advanceGenerationForKey(const std::string& key);
  PRMPromisePtr readKeychainForKey(const std::string& key, const std::string& objectClass,
                                   const std::optional<std::string>& accessGroup,
                                   std::uint64_t generation);

  std::mutex generationsMutex_;
  std::unordered_map<std::string, std::uint64_t> generations_;
  platform::DispatchQueuePtr keychainQueue_;
  platform::DispatchQueuePtr inMemoryCacheQueue_;
  std::string service_;
  std::shared_ptr<ObjectCache> inMemoryCache_;
};
