// Keeps one installation record per configured app in the keychain, guarded by an existence
// marker in the user defaults (a keychain item without its marker counts as absent, e.g. one
// left behind by an earlier install). Every operation returns a promise at once; the marker is
// touched only on the serial queue "com.lumo.LMOInstallationsStore", the keychain on the keychain
// storage's own queues.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "installations/LMOInstallationsItem.h"
#include "platform/dispatch/DispatchQueue.h"
#include "promises/PRMPromise.h"
#include "utilities/storage/VTUKeychainStorage.h"
#include "utilities/storage/VTUUserDefaults.h"

class LMOInstallationsStore {
 public:
  LMOInstallationsStore(std::shared_ptr<VTUKeychainStorage> secureStorage,
                        std::optional<std::string> accessGroup);
  static std::shared_ptr<LMOInstallationsStore> initWithSecureStorage(
      std::shared_ptr<VTUKeychainStorage> secureStorage, std::optional<std::string> accessGroup);

  // Fulfils with a LMOInstallationsItem; rejects with the not-found error, a keychain error or
  // the marker's read error.
  PRMPromisePtr installationForAppID(const std::string& appID, const std::string& appName);
  // Fulfil with the null marker.
  PRMPromisePtr saveInstallation(const std::shared_ptr<LMOInstallationsItem>& installation);
  PRMPromisePtr removeInstallationForAppID(const std::string& appID, const std::string& appName);
  // Rejects with the not-found error when there is no marker, and with the read error when the
  // marker's file cannot be read now.
  PRMPromisePtr installationExistsForAppID(const std::string& appID, const std::string& appName);
  PRMPromisePtr setInstallationExists(bool exists, const std::string& identifier);

  const std::shared_ptr<VTUKeychainStorage>& secureStorage() const { return secureStorage_; }
  const std::optional<std::string>& accessGroup() const { return accessGroup_; }
  const platform::DispatchQueuePtr& queue() const { return queue_; }
  const std::shared_ptr<VTUUserDefaults>& userDefaults() const { return userDefaults_; }

 private:
  std::shared_ptr<VTUKeychainStorage> secureStorage_;
  std::optional<std::string> accessGroup_;
  platform::DispatchQueuePtr queue_;
  std::shared_ptr<VTUUserDefaults> userDefaults_;
};
