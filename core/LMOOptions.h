// The configuration of one app: the dictionary of the options property list
// "VeltroService-Info.plist" with typed accessors, a lock that forbids changes once an app holds
// the options, the analytics collection switches (Info.plist first, options second) and value
// equality. Not synchronised: fill it before an app takes it; it is read-only (locked) afterwards.
// The class-level default options are built once and safe from any thread.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/base/Error.h"
#include "platform/base/Value.h"

class LMOOptions : public platform::Object {
  struct Token {};

 public:
  using Dictionary = platform::Value::Dictionary;

  // The options of the default property list, made once (until reset); null without one.
  static std::shared_ptr<LMOOptions> defaultOptions();
  // The dictionary read from "VeltroService-Info.plist", once (until reset); nullopt when the
  // file is missing or not a dictionary (both logged).
  static std::optional<Dictionary> defaultOptionsDictionary();
  // The path of "<name>.plist" in the relevant bundles; nullopt (logged) when none has it.
  static std::optional<std::string> plistFilePathWithName(const std::string& name);
  // Forgets both cached values, so the next call reads the file again. Not synchronised with
  // the two readers above.
  static void resetDefaultOptions();

  // A copy of the dictionary becomes the options; `usingOptionsFromDefaultPlist` is true.
  static std::shared_ptr<LMOOptions> initInternalWithOptionsDictionary(const Dictionary& options);
  // Null (logged) for a missing path or a file that is not a property-list dictionary.
  static std::shared_ptr<LMOOptions> initWithContentsOfFile(const std::optional<std::string>& path);
  // "VELTRO_APP_ID", "VCM_SENDER_ID" and "BUNDLE_ID" = the main bundle's identifier.
  static std::shared_ptr<LMOOptions> initWithVeltroAppID(const std::string& veltroAppID,
                                                         const std::string& VCMSenderID);

  // A copy carrying the deep-link scheme, app group, lock and default-plist flag.
  std::shared_ptr<LMOOptions> copy() const;

  // Getters give the stored string or nullopt; setters raise "com.lumo.core" when locked, and
  // nullopt removes the key.
  std::optional<std::string> APIKey() const;
  void setAPIKey(const std::optional<std::string>& value);
  std::optional<std::string> clientID() const;
  void setClientID(const std::optional<std::string>& value);
  std::optional<std::string> trackingID() const;
  void setTrackingID(const std::optional<std::string>& value);
  std::optional<std::string> VCMSenderID() const;
  void setVCMSenderID(const std::optional<std::string>& value);
  std::optional<std::string> projectID() const;
  void setProjectID(const std::optional<std::string>& value);
  std::optional<std::string> androidClientID() const;
  void setAndroidClientID(const std::optional<std::string>& value);
  std::optional<std::string> veltroAppID() const;
  void setVeltroAppID(const std::optional<std::string>& value);
  std::optional<std::string> databaseURL() const;
  void setDatabaseURL(const std::optional<std::string>& value);
  std::optional<std::string> storageBucket() const;
  void setStorageBucket(const std::optional<std::string>& value);
  std::optional<std::string> bundleID() const;
  void setBundleID(const std::optional<std::string>& value);
  bool isAnalyticsEnabled() const;
  bool isSignInEnabled() const;

  const std::optional<std::string>& deepLinkURLScheme() const { return deepLinkURLScheme_; }
  void setDeepLinkURLScheme(const std::optional<std::string>& value);
  const std::optional<std::string>& appGroupID() const { return appGroupID_; }
  void setAppGroupID(const std::optional<std::string>& value);

  bool usingOptionsFromDefaultPlist() const { return usingOptionsFromDefaultPlist_; }
  void setUsingOptionsFromDefaultPlist(bool value) { usingOptionsFromDefaultPlist_ = value; }
  bool isEditingLocked() const { return editingLocked_; }
  void setEditingLocked(bool value) { editingLocked_ = value; }
  // Raises "com.lumo.core" when the options are locked.
  void checkEditingLocked() const;

  const Dictionary& optionsDictionary() const { return optionsDictionary_; }

  // The three analytics switches as found, built on the first call from `info` (Info.plist
  // first, then the options) and kept whatever later calls pass.
  const Dictionary& analyticsOptionsDictionaryWithInfoDictionary(const platform::Value& info) const;
  const Dictionary& analyticsOptionsDictionary() const;
  bool isAnalyticsCollectionDeactivated() const;
  // Where no switch of the options decides, the default app's data-collection switch does; while
  // that cannot be read these say off, and the ...IfKnown forms nullopt with *error set.
  bool isMeasurementEnabled() const;
  bool isAnalyticsCollectionEnabled() const;
  std::optional<bool> measurementEnabledIfKnown(platform::ErrorPtr* error) const;
  std::optional<bool> analyticsCollectionEnabledIfKnown(platform::ErrorPtr* error) const;
  bool isAnalyticsCollectionExplicitlySet() const;

  // "8" "10" "00" "000" for "8.10.0"; computed once.
  static const std::string& libraryVersionID();

  bool isEqualToOptions(const LMOOptions& other) const;
  bool isEqual(const platform::Object& other) const override;
  std::size_t hash() const override;
  std::string className() const override { return "LMOOptions"; }
  std::string description() const override;

  LMOOptions(Token, Dictionary options);

 private:
  std::optional<std::string> stringForKey(const char* key) const;
  void setStringForKey(const std::optional<std::string>& value, const char* key);
  const platform::Value& analyticsOption(const char* key) const;

  mutable std::mutex analyticsMutex_;
  mutable std::optional<Dictionary> analyticsOptions_;
  bool usingOptionsFromDefaultPlist_ = false;
  bool editingLocked_ = false;
  std::optional<std::string> deepLinkURLScheme_;
  std::optional<std::string> appGroupID_;
  Dictionary optionsDictionary_;
};
