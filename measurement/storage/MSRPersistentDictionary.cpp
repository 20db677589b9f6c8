#include "measurement/storage/MSRPersistentDictionary.h"

#include "measurement/foundation/MSRConstants.h"
#include "measurement/storage/MSRFileLocations.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "platform/base/Files.h"
#include "platform/base/PropertyList.h"
#include "platform/base/StoreFile.h"
#include "utilities/logger/VTULogger.h"

using platform::Value;

namespace {

std::string code(long number) { return platform::format(kMSRMessageCodeFormat, number); }

}  // namespace

std::shared_ptr<MSRPersistentDictionary> MSRPersistentDictionary::initWithFileName(
    const std::string& fileName) {
  if (fileName.empty()) return nullptr;
  const std::string path = MSRApplicationSupportPlistPath(fileName);
  if (path.empty()) return nullptr;
  const std::filesystem::path fileURL(path);
  if (!platform::files::createDirectory(fileURL.parent_path(), true)) {
    VTULoggerLogError(kMSRStorageLogService, false, code(43004), kMSRConfigCannotCreateDirectories);
    return nullptr;
  }
  std::shared_ptr<MSRPersistentDictionary> store(new MSRPersistentDictionary());
  store->fileURL_ = fileURL;
  // What interrupted writes left in the folder goes before the store reads its file.
  platform::files::removeStaleTemporaryFilesOnce(fileURL.parent_path(), false);
  {
    std::lock_guard<std::recursive_mutex> lock(store->mutex_);
    store->loadLocked();
  }
  store->hasPendingPersistence_ = false;
  store->serialQueue_ = platform::DispatchQueue::create(kMSRPersistentDictionaryQueueLabel);
  return store;
}

bool MSRPersistentDictionary::loadLocked(platform::ErrorPtr* error) {
  Value::Dictionary base;
  const auto status = platform::StoreFile::read(
      fileURL_,
      [&base](std::string_view bytes) {
        if (bytes.empty()) return true;
        const Value loaded = platform::parsePropertyList(bytes);
        if (!loaded.dictionary()) return false;
        base = *loaded.dictionary();
        return true;
      },
      "MSRPersistentDictionary", error);
  // Unreadable, or damaged and still in the way: try again later.
  if (status == platform::StoreFile::Status::Unreadable ||
      (status == platform::StoreFile::Status::Undecodable && platform::files::exists(fileURL_))) {
    return false;
  }
  if (clearedBeforeLoad_) base.clear();
  for (const auto& key : removedBeforeLoad_) base.erase(key);
  for (auto& [key, value] : content_) base.insert_or_assign(key, std::move(value));
  content_ = std::move(base);
  loaded_ = true;
  clearedBeforeLoad_ = false;
  removedBeforeLoad_.clear();
  return true;
}

MSRPersistentDictionary::~MSRPersistentDictionary() {
  if (hasPendingPersistence_) persistToDisk();
}

Value MSRPersistentDictionary::objectForKey(const std::string& key, platform::ErrorPtr* error) {
  if (key.empty()) {
    VTULoggerLogWarning(kMSRStorageLogService, false, code(43001), kMSRConfigInvalidGetKey);
    return Value();
  }
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  platform::ErrorPtr loadError;
  const bool known = loaded_ || loadLocked(&loadError) || content_.count(key) ||
                     clearedBeforeLoad_ || removedBeforeLoad_.count(key);
  if (!known) {
    if (error) *error = loadError;
    return Value();
  }
  const auto it = content_.find(key);
  return it == content_.end() ? Value() : it->second;
}

void MSRPersistentDictionary::setObject(const Value& value, const std::string& key) {
  // A key holding a NUL cannot be written: every later write of the file would fail.
  if (key.empty() || key.find('\0') != std::string::npos) {
    VTULoggerLogWarning(kMSRStorageLogService, false, code(43002), kMSRConfigInvalidSetKey);
    return;
  }
  if (value.isNil()) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (!loaded_ && !loadLocked()) {
      // The unread file may hold the key.
      content_.erase(key);
      removedBeforeLoad_.insert(key);
      schedulePersistToDisk();
      return;
    }
    if (content_.erase(key)) schedulePersistToDisk();
    return;
  }
  if (!MSRIsConfigValue(value)) {
    VTULoggerLogWarning(kMSRStorageLogService, false, code(43003), kMSRConfigInvalidObject, value);
    return;
  }
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!loaded_) loadLocked();
  const auto it = content_.find(key);
  if (it != content_.end() && it->second == value) return;
  content_[key] = value;
  schedulePersistToDisk();
}

void MSRPersistentDictionary::removeObjectForKey(const std::string& key) {
  setObject(Value(), key);
}

void MSRPersistentDictionary::clearAllData() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!loaded_ && !loadLocked()) {
    clearedBeforeLoad_ = true;
    removedBeforeLoad_.clear();
    content_.clear();
    schedulePersistToDisk();
    return;
  }
  if (content_.empty()) return;
  content_.clear();
  schedulePersistToDisk();
}

bool MSRPersistentDictionary::hasPendingPersistence() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return hasPendingPersistence_;
}

void MSRPersistentDictionary::schedulePersistToDisk() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (hasPendingPersistence_) return;
  std::weak_ptr<MSRPersistentDictionary> weakSelf = weak_from_this();
  serialQueue_->after(1.0, [weakSelf] {
    if (auto self = weakSelf.lock()) self->persistToDisk();
  });
  hasPendingPersistence_ = true;
}

void MSRPersistentDictionary::persistToDisk() {
  Value::Dictionary snapshot;
  std::filesystem::path fileURL;
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    // Written over a file not yet read, the changes would replace every key it holds.
    if (!loaded_ && !loadLocked()) {
      hasPendingPersistence_ = false;
      VTULoggerLogError(kMSRStorageLogService, false, code(43000), kMSRConfigCannotPersist);
      schedulePersistToDisk();
      return;
    }
    snapshot = content_;
    fileURL = fileURL_;
    hasPendingPersistence_ = false;
  }
  const auto bytes = platform::serializePropertyList(Value(std::move(snapshot)),
                                                     platform::PropertyListFormat::Xml);
  if (!bytes || !platform::files::writeAtomically(fileURL, *bytes)) {
    VTULoggerLogError(kMSRStorageLogService, false, code(43000), kMSRConfigCannotPersist);
    // The values are still only in memory: stay pending and try again, rather than waiting for
    // a change that may never come.
    schedulePersistToDisk();
  }
}
