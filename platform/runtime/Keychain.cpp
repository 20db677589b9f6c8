#include "platform/runtime/Keychain.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <memory>

#include "platform/base/FileLock.h"
#include "platform/base/Files.h"
#include "platform/base/StoreFile.h"
#include "platform/runtime/KeyedArchiver.h"

namespace platform {
namespace {

// Serialises the read-modify-write of the items file across every Keychain in the process.
std::mutex& storageMutex() {
  static auto* m = new std::mutex;
  return *m;
}

using Item = Value::Dictionary;

bool isControlKey(std::string_view key) {
  return key == kSecReturnData || key == kSecReturnAttributes || key == kSecMatchLimit;
}

bool knownClass(const Value& cls) {
  const std::string* s = cls.string();
  return s && (*s == kSecClassGenericPassword || *s == kSecClassKey);
}

// The attributes that make an item unique within its class.
// Never destroyed: other threads may still save items while the process exits.
const std::vector<const char*>& primaryKey(const std::string& cls) {
  static const auto* kGeneric =
      new std::vector<const char*>{kSecAttrService, kSecAttrAccount, kSecAttrAccessGroup};
  static const auto* kKey =
      new std::vector<const char*>{kSecAttrApplicationLabel, kSecAttrApplicationTag,
                                   kSecAttrKeyType, kSecAttrKeyClass, kSecAttrAccessGroup};
  return cls == kSecClassKey ? *kKey : *kGeneric;
}

const Value& attribute(const Item& item, std::string_view key) {
  auto it = item.find(key);
  return it == item.end() ? nilValue() : it->second;
}

bool samePrimaryKey(const Item& a, const Item& b) {
  const Value& cls = attribute(a, kSecClass);
  if (!(cls == attribute(b, kSecClass)) || !cls.string()) return false;
  for (const char* key : primaryKey(*cls.string())) {
    if (!(attribute(a, key) == attribute(b, key))) return false;
  }
  return true;
}

bool matches(const Item& item, const Value::Dictionary& query) {
  for (const auto& [key, value] : query) {
    if (isControlKey(key) || key == kSecValueData) continue;
    auto it = item.find(key);
    if (it == item.end() || !(it->second == value)) return false;
  }
  return true;
}

struct Store {
  std::vector<Item> items;
};

bool decodeItems(std::string_view bytes, Store* store) {
  ErrorPtr error;
  Value root = KeyedUnarchiver::unarchivedObjectOfClasses(
      {kArrayClassName, kDictionaryClassName, kStringClassName, kDataClassName, kNumberClassName,
       kDateClassName},
      Bytes(bytes.begin(), bytes.end()), &error);
  if (error || !root.array()) return false;
  std::vector<Item> items;
  for (const Value& v : *root.array()) {
    if (!v.dictionary() || !knownClass(attribute(*v.dictionary(), kSecClass))) return false;
    items.push_back(*v.dictionary());
  }
  store->items = std::move(items);
  return true;
}

// Caller holds storageMutex(); `locked`: and the file lock (always when it will write what it
// loaded). A damaged file is moved aside only under the file lock: without it, errSecDecode asks
// the caller to take the lock and load again, since a writer in another process may just have
// replaced the damaged file with a good one.
OSStatus load(Store* store, bool locked) {
  std::filesystem::path path = Keychain::storagePath();
  // Each leftover of an interrupted write is a full copy of every secret.
  files::removeStaleTemporaryFilesOnce(path.parent_path(), false);
  store->items.clear();
  // A file that cannot be read now is left as it is and nothing is written over it: the call
  // fails and the next one tries again. A damaged one is moved aside (and logged) and the
  // keychain starts empty, so that its owners can set themselves up anew.
  switch (StoreFile::read(
      path, [store](std::string_view bytes) { return decodeItems(bytes, store); }, "Keychain",
      nullptr, locked ? StoreFile::Damaged::MoveAside : StoreFile::Damaged::Keep)) {
    case StoreFile::Status::Read:
    case StoreFile::Status::Missing:
      return errSecSuccess;
    case StoreFile::Status::Undecodable:
      store->items.clear();
      // Moved aside unless that failed; then the file is still in the way of every write.
      return locked && !files::exists(path) ? errSecSuccess : errSecDecode;
    case StoreFile::Status::Unreadable:
      break;
  }
  return errSecIO;
}

// The inter-process lock of the items file, held from the load to the save of a change so that
// a change of another process in between is not written over. Caller holds storageMutex().
OSStatus lockForChange(std::unique_ptr<FileLock>* lock) {
  std::filesystem::path path = Keychain::storagePath();
  if (!files::createDirectory(path.parent_path(), true)) return errSecIO;
  ::chmod(path.parent_path().c_str(), 0700);
  *lock = FileLock::acquire(FileLock::lockFileFor(path));
  return *lock ? errSecSuccess : errSecIO;
}

OSStatus save(const Store& store) {
  Value::Array array;
  array.reserve(store.items.size());
  for (const Item& item : store.items) array.emplace_back(item);
  auto bytes = KeyedArchiver::archivedDataWithRootObject(Value(std::move(array)));
  if (!bytes) return errSecAllocate;
  std::filesystem::path path = Keychain::storagePath();
  if (!files::createDirectory(path.parent_path(), true)) return errSecIO;
  ::chmod(path.parent_path().c_str(), 0700);
  if (!files::writeAtomically(path, *bytes, nullptr, 0600)) return errSecIO;
  return errSecSuccess;
}

// The answer of a search: data, attributes, or both, for one item or (match-all) every item.
Value resultFor(const std::vector<const Item*>& found, const Value::Dictionary& query) {
  bool returnData = attribute(query, kSecReturnData).boolValue();
  bool returnAttributes = attribute(query, kSecReturnAttributes).boolValue();
  if (!returnData && !returnAttributes) return Value();
  auto one = [&](const Item& item) -> Value {
    if (!returnAttributes) {
      const Value& data = attribute(item, kSecValueData);
      return data.isNil() ? Value::data(Bytes{}) : data;
    }
    Item out = item;
    if (!returnData) out.erase(std::string(kSecValueData));
    return Value(std::move(out));
  };
  const std::string* limit = attribute(query, kSecMatchLimit).string();
  if (limit && *limit == kSecMatchLimitAll) {
    Value::Array all;
    for (const Item* item : found) all.push_back(one(*item));
    return Value(std::move(all));
  }
  return one(*found.front());
}

OSStatus checkQuery(const Value::Dictionary& query) {
  const Value& cls = attribute(query, kSecClass);
  if (!knownClass(cls)) return errSecParam;
  const Value& limit = attribute(query, kSecMatchLimit);
  if (!limit.isNil()) {
    const std::string* s = limit.string();
    if (!s || (*s != kSecMatchLimitOne && *s != kSecMatchLimitAll)) return errSecParam;
  }
  return errSecSuccess;
}

}  // namespace

Keychain& Keychain::shared() {
  static auto* keychain = new Keychain;
  return *keychain;
}

std::filesystem::path Keychain::storagePath() {
  return SandboxHome::root() / kKeychainRelativePath;
}

std::optional<OSStatus> Keychain::begin(const char* function, const Value::Dictionary& query,
                                        const Value::Dictionary& attributes,
                                        std::size_t* callIndex) {
  CallHook hook;
  {
    std::lock_guard lock(mutex_);
    hook = hook_;
  }
  if (hook) hook(KeychainCall{function, query, attributes, errSecSuccess});
  std::lock_guard lock(mutex_);
  // Bounded, so that the process's keychain does not grow with every call it ever answered.
  if (calls_.size() == kMaxRecordedCalls) {
    calls_.pop_front();
    ++droppedCalls_;
  }
  calls_.push_back(KeychainCall{function, query, attributes, errSecSuccess});
  *callIndex = droppedCalls_ + calls_.size() - 1;
  if (injected_.empty()) return std::nullopt;
  OSStatus status = injected_.front();
  injected_.pop_front();
  calls_.back().status = status;
  return status;
}

void Keychain::finish(std::size_t callIndex, OSStatus status) {
  std::lock_guard lock(mutex_);
  if (callIndex >= droppedCalls_ && callIndex - droppedCalls_ < calls_.size()) {
    calls_[callIndex - droppedCalls_].status = status;
  }
}

OSStatus Keychain::copyMatching(const Value::Dictionary& query, Value* result) {
  if (result) *result = Value();
  std::size_t call;
  if (auto injected = begin("SecItemCopyMatching", query, {}, &call)) return *injected;
  OSStatus status = [&] {
    if (OSStatus s = checkQuery(query)) return s;
    std::lock_guard lock(storageMutex());
    Store store;
    OSStatus loaded = load(&store, false);
    std::unique_ptr<FileLock> fileLock;
    if (loaded == errSecDecode) {
      // Damaged as read without the lock: read again under it, and only then move it aside.
      if (OSStatus s = lockForChange(&fileLock)) return s;
      loaded = load(&store, true);
    }
    if (loaded) return loaded;
    std::vector<const Item*> found;
    for (const Item& item : store.items) {
      if (matches(item, query)) found.push_back(&item);
    }
    if (found.empty()) return errSecItemNotFound;
    if (result) *result = resultFor(found, query);
    return errSecSuccess;
  }();
  finish(call, status);
  return status;
}

OSStatus Keychain::add(const Value::Dictionary& attributes, Value* result) {
  if (result) *result = Value();
  std::size_t call;
  if (auto injected = begin("SecItemAdd", attributes, {}, &call)) return *injected;
  OSStatus status = [&] {
    if (!knownClass(attribute(attributes, kSecClass))) return errSecParam;
    const Value& data = attribute(attributes, kSecValueData);
    if (!data.isNil() && !data.isData()) return errSecParam;
    if (!attribute(attributes, kSecMatchLimit).isNil()) return errSecParam;
    Item item;
    for (const auto& [key, value] : attributes) {
      if (!isControlKey(key)) item.emplace(key, value);
    }
    if (!item.count(kSecAttrAccessible)) {
      item.emplace(kSecAttrAccessible, Value(kSecAttrAccessibleWhenUnlocked));
    }
    std::lock_guard lock(storageMutex());
    std::unique_ptr<FileLock> fileLock;
    if (OSStatus s = lockForChange(&fileLock)) return s;
    Store store;
    if (OSStatus s = load(&store, true)) return s;
    for (const Item& existing : store.items) {
      if (samePrimaryKey(existing, item)) return errSecDuplicateItem;
    }
    store.items.push_back(item);
    if (OSStatus s = save(store)) return s;
    if (result) *result = resultFor({&store.items.back()}, attributes);
    return errSecSuccess;
  }();
  finish(call, status);
  return status;
}

OSStatus Keychain::update(const Value::Dictionary& query,
                          const Value::Dictionary& attributesToUpdate) {
  std::size_t call;
  if (auto injected = begin("SecItemUpdate", query, attributesToUpdate, &call)) return *injected;
  OSStatus status = [&] {
    if (OSStatus s = checkQuery(query)) return s;
    for (const auto& [key, value] : attributesToUpdate) {
      if (key == kSecClass || isControlKey(key)) return errSecParam;
      if (key == kSecValueData && !value.isData()) return errSecParam;
    }
    std::lock_guard lock(storageMutex());
    std::unique_ptr<FileLock> fileLock;
    if (OSStatus s = lockForChange(&fileLock)) return s;
    Store store;
    if (OSStatus s = load(&store, true)) return s;
    std::vector<std::size_t> hits;
    for (std::size_t i = 0; i < store.items.size(); ++i) {
      if (matches(store.items[i], query)) hits.push_back(i);
    }
    if (hits.empty()) return errSecItemNotFound;
    for (std::size_t i : hits) {
      for (const auto& [key, value] : attributesToUpdate) {
        if (value.isNil()) {
          store.items[i].erase(key);
        } else {
          store.items[i][key] = value;
        }
      }
    }
    // An update must not make two items the same; then nothing changes.
    for (std::size_t i = 0; i < store.items.size(); ++i) {
      for (std::size_t j = i + 1; j < store.items.size(); ++j) {
        if (samePrimaryKey(store.items[i], store.items[j])) return errSecDuplicateItem;
      }
    }
    return save(store);
  }();
  finish(call, status);
  return status;
}

OSStatus Keychain::deleteItems(const Value::Dictionary& query) {
  std::size_t call;
  if (auto injected = begin("SecItemDelete", query, {}, &call)) return *injected;
  OSStatus status = [&] {
    if (OSStatus s = checkQuery(query)) return s;
    std::lock_guard lock(storageMutex());
    std::unique_ptr<FileLock> fileLock;
    if (OSStatus s = lockForChange(&fileLock)) return s;
    Store store;
    if (OSStatus s = load(&store, true)) return s;
    auto removed = std::remove_if(store.items.begin(), store.items.end(),
                                  [&](const Item& item) { return matches(item, query); });
    if (removed == store.items.end()) return errSecItemNotFound;
    store.items.erase(removed, store.items.end());
    return save(store);
  }();
  finish(call, status);
  return status;
}

void Keychain::injectStatusForNextCall(OSStatus status) {
  std::lock_guard lock(mutex_);
  injected_.push_back(status);
}

void Keychain::setCallHookForTesting(CallHook hook) {
  std::lock_guard lock(mutex_);
  hook_ = std::move(hook);
}

std::vector<KeychainCall> Keychain::recordedCalls() const {
  std::lock_guard lock(mutex_);
  return {calls_.begin(), calls_.end()};
}

void Keychain::clearRecordedCalls() {
  std::lock_guard lock(mutex_);
  droppedCalls_ += calls_.size();
  calls_.clear();
}

}  // namespace platform
