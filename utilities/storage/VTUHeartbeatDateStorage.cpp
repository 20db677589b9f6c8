#include "utilities/storage/VTUHeartbeatDateStorage.h"

#include <mutex>
#include <optional>
#include <string_view>

#include "platform/base/Files.h"
#include "platform/base/StoreFile.h"
#include "utilities/VTUConstants.h"
#include "utilities/storage/VTUSecureCoding.h"

namespace {

// Held for every operation of every file-backed store.
std::recursive_mutex& classLock() {
  static auto* m = new std::recursive_mutex();
  return *m;
}

// Missing, empty or undecodable files are an empty map (a new one replaces them); one that
// cannot be read now, or a folder in its place, is no map.
std::optional<platform::Value::Dictionary> readMap(const std::filesystem::path& file,
                                                   platform::ErrorPtr* error) {
  platform::Value::Dictionary map;
  const auto status = platform::StoreFile::read(
      file,
      [&map](std::string_view bytes) {
        const platform::Value stored = VTUSecureCoding::unarchivedObjectOfClasses(
            {"NSDictionary", "NSDate", "NSString"}, platform::Bytes(bytes.begin(), bytes.end()),
            nullptr);
        if (const auto* dictionary = stored.dictionary()) map = *dictionary;
        return true;
      },
      "VTUHeartbeatDateStorage", error, platform::StoreFile::Damaged::Keep);
  if (status == platform::StoreFile::Status::Unreadable ||
      status == platform::StoreFile::Status::Undecodable) {
    return std::nullopt;
  }
  return map;
}

bool writeMap(const platform::Value::Dictionary& map, const std::filesystem::path& file) {
  auto archive = VTUSecureCoding::archivedDataWithRootObject(platform::Value(map), nullptr);
  if (!archive || archive->empty()) return false;
  return platform::files::writeAtomically(file, *archive);
}

}  // namespace

std::shared_ptr<VTUHeartbeatDateStorage> VTUHeartbeatDateStorage::initWithFileName(
    const std::optional<std::string>& fileName) {
  if (!fileName) return nullptr;
  return std::make_shared<VTUHeartbeatDateStorage>(*fileName);
}

const std::filesystem::path& VTUHeartbeatDateStorage::fileURL() {
  std::lock_guard<std::recursive_mutex> lock(classLock());
  if (!fileURL_) {
    const auto directory = platform::SandboxHome::applicationSupport() / vtu::kHeartbeatDirectory;
    if (!platform::files::exists(directory)) {
      platform::files::createDirectory(directory, true);  // a failure shows at the first write
    }
    fileURL_ = directory / fileName_;
  }
  return *fileURL_;
}

platform::Value VTUHeartbeatDateStorage::heartbeatDateForTag(const std::string& tag,
                                                             platform::ErrorPtr* error) {
  std::lock_guard<std::recursive_mutex> lock(classLock());
  const auto map = readMap(fileURL(), error);
  if (!map) return {};
  auto it = map->find(tag);
  if (it == map->end() || !it->second.isDate()) return {};
  return it->second;
}

bool VTUHeartbeatDateStorage::setHearbeatDate(const platform::Value& date,
                                              const std::string& tag) {
  std::lock_guard<std::recursive_mutex> lock(classLock());
  auto map = readMap(fileURL(), nullptr);
  if (!map) return false;
  if (date.isNil()) {
    map->erase(tag);
  } else {
    (*map)[tag] = date;
  }
  return writeMap(*map, fileURL());
}

platform::Value VTUHeartbeatDateStorageUserDefaults::heartbeatDateForTag(
    const std::string& tag, platform::ErrorPtr* error) {
  std::lock_guard<std::recursive_mutex> lock(userDefaults_->lock());
  return userDefaults_->objectForKey(key_, error)[tag];
}

bool VTUHeartbeatDateStorageUserDefaults::setHearbeatDate(const platform::Value& date,
                                                          const std::string& tag) {
  std::lock_guard<std::recursive_mutex> lock(userDefaults_->lock());
  platform::ErrorPtr readError;
  const platform::Value stored = userDefaults_->objectForKey(key_, &readError);
  if (readError) return false;
  platform::Value::Dictionary map = stored.isDictionary() ? *stored.dictionary()
                                                          : platform::Value::Dictionary();
  if (date.isNil()) {
    map.erase(tag);
  } else {
    map[tag] = date;
  }
  // A date the preferences file cannot hold is refused there: not stored, so not "true".
  return userDefaults_->setObject(platform::Value(map), key_);
}
