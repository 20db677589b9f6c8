// The heartbeat map kept as a keyed archive in a file under Application Support in
// "Veltro/LMOApp". Never cached: every operation reads the file again, so stores on the same
// file see each other's writes. A file that cannot be read now (other than a missing one) is not an
// empty map: nothing is written over it. Every operation of every instance runs under one
// class-wide lock.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/base/UserDefaults.h"
#include "utilities/storage/VTUHeartbeatDateStorable.h"

class VTUHeartbeatDateStorage : public VTUHeartbeatDateStorable {
 public:
  // Null for a missing (nullopt) file name.
  static std::shared_ptr<VTUHeartbeatDateStorage> initWithFileName(
      const std::optional<std::string>& fileName);

  platform::Value heartbeatDateForTag(const std::string& tag,
                                      platform::ErrorPtr* error = nullptr) override;
  bool setHearbeatDate(const platform::Value& date, const std::string& tag) override;

  const std::string& fileName() const { return fileName_; }
  // Computed on first use (creating the directory when missing), then kept.
  const std::filesystem::path& fileURL();

  explicit VTUHeartbeatDateStorage(std::string fileName) : fileName_(std::move(fileName)) {}

 private:
  std::string fileName_;
  std::optional<std::filesystem::path> fileURL_;
};

// The heartbeat map kept as one dictionary value in a user-defaults object. Operations of stores
// sharing one user-defaults object serialise on a lock owned by that object.
class VTUHeartbeatDateStorageUserDefaults : public VTUHeartbeatDateStorable {
 public:
  VTUHeartbeatDateStorageUserDefaults(std::shared_ptr<platform::UserDefaults> defaults,
                                      std::string key)
      : userDefaults_(std::move(defaults)), key_(std::move(key)) {}

  // The value as stored, whatever its kind.
  platform::Value heartbeatDateForTag(const std::string& tag,
                                      platform::ErrorPtr* error = nullptr) override;
  bool setHearbeatDate(const platform::Value& date, const std::string& tag) override;

  const std::shared_ptr<platform::UserDefaults>& userDefaults() const { return userDefaults_; }
  const std::string& key() const { return key_; }

 private:
  std::shared_ptr<platform::UserDefaults> userDefaults_;
  std::string key_;
};
