#include "measurement/storage/MSRPersistentDictionary.h"

#include "measurement/foundation/MSRConstants.h"
#include "measurement/storage/MSRFileLocations.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "platform/base/Files.h"
#include "platform/base/PropertyList.h"
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
  if (auto bytes = platform::files::readFile(fileURL)) {
    const Value loaded = platform::parsePropertyList(
        std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    if (const auto* dictionary = loaded.dictionary()) store->content_ = *dictionary;
  }
  store->hasPendingPersistence_ = false;
  store->serialQueue_ = platform::DispatchQueue::create(kMSRPersistentDictionaryQueueLabel);
  return store;
}

MSRPersistentDictionary::~MSRPersistentDictionary() {
  if (hasPendingPersistence_) persistToDisk();
}

Value MSRPersistentDictionary::objectForKey(const std::string& key) {
  if (key.empty()) {
    VTULoggerLogWarning(kMSRStorageLogService, false, code(43001), kMSRConfigInvalidGetKey);
    return Value();
  }
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const auto it = content_.find(key);
  return it == content_.end() ? Value() : it->second;
}

void MSRPersistentDictionary::setObject(const Value& value, const std::string& key) {
  if (key.empty()) {
    VTULoggerLogWarning(kMSRStorageLogService, false, code(43002), kMSRConfigInvalidSetKey);
    return;
  }
  if (value.isNil()) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (content_.erase(key)) schedulePersistToDisk();
    return;
  }
  if (!MSRIsConfigValue(value)) {
    VTULoggerLogWarning(kMSRStorageLogService, false, code(43003), kMSRConfigInvalidObject, value);
    return;
  }
  std::lock_guard<std::recursive_mutex> lock(mutex_);
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
