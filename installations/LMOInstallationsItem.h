// The in-memory installation record of one configured app: its installation identifier (FID),
// tokens and registration status, with FID generation, validation and the parsing of the
// service's answers. A record is a value handed between promise steps: copy it before changing
// one that others hold.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "installations/LMOInstallationsStoredAuthToken.h"
#include "installations/LMOInstallationsStoredItem.h"
#include "platform/base/Error.h"
#include "platform/base/Value.h"

enum class LMOInstallationsRegistrationStatus : long {
  Unknown = 0,
  Unregistered = 1,
  Registered = 2,
};

class LMOInstallationsItem : public platform::Object {
 public:
  LMOInstallationsItem(std::string appID, std::string lumoAppName);
  static std::shared_ptr<LMOInstallationsItem> initWithAppID(const std::string& appID,
                                                             const std::string& lumoAppName);

  const std::string& appID() const { return appID_; }
  const std::string& lumoAppName() const { return lumoAppName_; }
  std::optional<std::string> lumoInstallationID;
  std::optional<std::string> refreshToken;
  std::shared_ptr<LMOInstallationsStoredAuthToken> authToken;
  LMOInstallationsRegistrationStatus registrationStatus =
      LMOInstallationsRegistrationStatus::Unknown;
  std::optional<std::string> IIDDefaultToken;

  std::shared_ptr<LMOInstallationsItem> copy() const;
  void updateWithStoredItem(const LMOInstallationsStoredItem& item);
  std::shared_ptr<LMOInstallationsStoredItem> storedItem() const;

  std::string identifier() const;
  static std::string identifierWithAppID(const std::string& appID, const std::string& appName);

  bool isValid(platform::ErrorPtr* error) const;

  static std::string generateFID();
  static std::string base64URLEncodedStringWithData(const platform::Bytes& data);

  // Parsing of the service's answers; `date` is the parse time (seconds since 1970).
  std::shared_ptr<LMOInstallationsItem> registeredInstallationWithJSONData(
      const platform::Bytes& data, double date, platform::ErrorPtr* error) const;
  static std::shared_ptr<LMOInstallationsStoredAuthToken> authTokenWithGenerateTokenAPIJSONData(
      const platform::Bytes& data, double date, platform::ErrorPtr* error);
  static std::shared_ptr<LMOInstallationsStoredAuthToken> authTokenWithJSONDict(
      const platform::Value::Dictionary& dict, double date, platform::ErrorPtr* error);
  static std::optional<platform::Value::Dictionary> dictionaryFromJSONData(
      const platform::Bytes& data, platform::ErrorPtr* error);
  static std::optional<std::string> validStringOrNilForKey(const std::string& key,
                                                           const platform::Value::Dictionary& dict);

  std::string className() const override { return "LMOInstallationsItem"; }

 private:
  std::string appID_;
  std::string lumoAppName_;
};
