// A configuration store over one preferences domain (a suite, or the application's standard
// domain when no name is given). It works either through the preferences library or through the
// user-defaults object (both are the platform's preference domains here), as the bundle's
// Info.plist entry "UseCFPreferencesLibrary" decides; it asks for a write only when told to
// synchronize (the preferences also save themselves a second after a change), and then keeps the
// domain's file out of backups, once. clearAllData clears the domain as it stands on disk, under
// its lock, in either mode. Thread-safe: the preferences are; the object's lock guards only the
// backup exclusion.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "measurement/storage/MSRConfigStore.h"
#include "platform/base/UserDefaults.h"

class MSRUserDefaults : public MSRTypedConfigStore {
 public:
  // Once per process from the Info.plist entry: a number gives its boolean value, else true.
  static bool userPreferenceEnabled();
  // The standard domain's store, shared; its file counts as already excluded.
  static std::shared_ptr<MSRUserDefaults> standardUserDefaults();

  static std::shared_ptr<MSRUserDefaults> init();
  // Nil or empty names the standard domain.
  static std::shared_ptr<MSRUserDefaults> initWithSuiteName(
      const std::optional<std::string>& suiteName);

  // Nil with *error set when the value is not known because the domain's file cannot be read
  // now (not "absent").
  platform::Value objectForKey(const std::string& key,
                               platform::ErrorPtr* error = nullptr) override;
  void setObject(const platform::Value& value, const std::string& key) override;
  void removeObjectForKey(const std::string& key) override;
  void clearAllData() override;
  void synchronize() override;

  bool useCFPreferencesLibrary() const;
  void setUseCFPreferencesLibrary(bool useCFPreferencesLibrary);
  bool isPreferenceFileExcluded() const;
  void setIsPreferenceFileExcluded(bool excluded);

  const std::optional<std::string>& suiteName() const { return suiteName_; }

 private:
  MSRUserDefaults() = default;
  // The preferences library's face of the application name.
  std::shared_ptr<platform::UserDefaults> preferences() const;
  std::shared_ptr<platform::UserDefaults> userDefaults() const;

  std::optional<std::string> suiteName_;
  std::string appNameRef_;  // empty: the current application (the standard domain)
  std::shared_ptr<platform::UserDefaults> userDefaults_;
  bool useCFPreferencesLibrary_ = true;
  bool isPreferenceFileExcluded_ = false;
  mutable std::recursive_mutex mutex_;
};
