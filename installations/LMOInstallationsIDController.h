// Runs the life of one app's installation: read the stored record or create one (taking over
// the legacy instance ID for the default app), register it, keep a valid auth token, recover
// from a revoked installation, and delete it. Each of the four operations runs at most once at a
// time through its promise cache; all work is promise chains on the promises' default queue.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "installations/LMOInstallationsAPIService.h"
#include "installations/LMOInstallationsBackoffController.h"
#include "installations/LMOInstallationsIIDStore.h"
#include "installations/LMOInstallationsIIDTokenStore.h"
#include "installations/LMOInstallationsItem.h"
#include "installations/LMOInstallationsSingleOperationPromiseCache.h"
#include "installations/LMOInstallationsStore.h"
#include "promises/PRMPromise.h"

class LMOInstallationsIDController
    : public std::enable_shared_from_this<LMOInstallationsIDController> {
 public:
  static std::shared_ptr<LMOInstallationsIDController> initWithVeltroAppID(
      const std::string& appID, const std::string& appName, const std::string& APIKey,
      const std::string& projectID, const std::optional<std::string>& VCMSenderID,
      const std::optional<std::string>& accessGroup);
  static std::shared_ptr<LMOInstallationsIDController> initWithVeltroAppID(
      const std::string& appID, const std::string& appName,
      std::shared_ptr<LMOInstallationsStore> installationsStore,
      std::shared_ptr<LMOInstallationsAPIService> APIService,
      std::shared_ptr<LMOInstallationsIIDStore> IIDStore,
      std::shared_ptr<LMOInstallationsIIDTokenStore> IIDTokenStore,
      std::shared_ptr<LMOInstallationsBackoffController> backoffController);
  static std::string keychainServiceWithAppID(const std::string& appID);

  // Fulfils with a LMOInstallationsItem.
  PRMPromisePtr getInstallationItem();
  // Fulfils with a LMOInstallationsItem whose auth token is valid for at least an hour.
  PRMPromisePtr getAuthTokenForcingRefresh(bool forceRefresh);
  // Fulfils with the null marker once the installation is deleted.
  PRMPromisePtr deleteInstallation();

  bool isDefaultApp() const;
  const std::string& appID() const { return appID_; }
  const std::string& appName() const { return appName_; }
  const std::shared_ptr<LMOInstallationsStore>& installationsStore() const { return store_; }
  const std::shared_ptr<LMOInstallationsBackoffController>& backoffController() const {
    return backoff_;
  }

  LMOInstallationsIDController(std::string appID, std::string appName,
                               std::shared_ptr<LMOInstallationsStore> installationsStore,
                               std::shared_ptr<LMOInstallationsAPIService> APIService,
                               std::shared_ptr<LMOInstallationsIIDStore> IIDStore,
                               std::shared_ptr<LMOInstallationsIIDTokenStore> IIDTokenStore,
                               std::shared_ptr<LMOInstallationsBackoffController> backoff);

 private:
  using ItemPtr = std::shared_ptr<LMOInstallationsItem>;
  void makeCaches();
  PRMPromisePtr createGetInstallationItemPromise();
  PRMPromisePtr getStoredInstallation();
  // Whether a failed getStoredInstallation() found no record worth keeping (none, undecodable or
  // invalid), as opposed to a keychain that could not be read now.
  bool isNoStoredInstallationError(const platform::ErrorPtr& error) const;
  PRMPromisePtr createAndSaveFID();
  PRMPromisePtr migrateOrGenerateInstallation();
  ItemPtr createInstallationWithFID(const std::string& FID,
                                    const std::optional<std::string>& IIDDefaultToken) const;
  PRMPromisePtr saveInstallation(const ItemPtr& installation);
  PRMPromisePtr registerInstallationIfNeeded(const ItemPtr& installation);
  // `mayRegenerate`: whether a refresh-token error (401, 404) may replace the installation with
  // a new one. The replacement's own attempt may not, so that one call regenerates at most once.
  PRMPromisePtr installationWithValidAuthTokenForcingRefresh(bool forceRefresh,
                                                             bool mayRegenerate = true);
  PRMPromisePtr refreshAuthTokenForInstallation(const ItemPtr& installation);
  PRMPromisePtr regenerateFIDOnRefreshTokenErrorIfNeeded(const platform::ErrorPtr& error);
  PRMPromisePtr createDeleteInstallationPromise();
  PRMPromisePtr mostRecentInstallationOperation();
  PRMPromisePtr sendDeleteInstallationRequestIfNeeded(const ItemPtr& installation);
  PRMPromisePtr deleteInstallationLocally(const ItemPtr& installation);
  void postFIDDidChangeNotification();
  void updateBackoffWithError(const platform::ErrorPtr& error);

  std::string appID_;
  std::string appName_;
  std::shared_ptr<LMOInstallationsStore> store_;
  std::shared_ptr<LMOInstallationsAPIService> APIService_;
  std::shared_ptr<LMOInstallationsIIDStore> IIDStore_;
  std::shared_ptr<LMOInstallationsIIDTokenStore> IIDTokenStore_;
  std::shared_ptr<LMOInstallationsBackoffController> backoff_;
  std::shared_ptr<LMOInstallationsSingleOperationPromiseCache> getInstallationPromiseCache_;
  std::shared_ptr<LMOInstallationsSingleOperationPromiseCache> authTokenPromiseCache_;
  std::shared_ptr<LMOInstallationsSingleOperationPromiseCache> authTokenForcingRefreshPromiseCache_;
  std::shared_ptr<LMOInstallationsSingleOperationPromiseCache> deleteInstallationPromiseCache_;
};
