#include "measurement/storage/MSRUserDefaults.h"

#include "measurement/foundation/MSRConstants.h"
#include "measurement/storage/MSRFileLocations.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "platform/base/Bundle.h"
#include "platform/base/Files.h"
#include "platform/dispatch/DispatchQueue.h"
#include "utilities/logger/VTULogger.h"

using platform::Value;

namespace {

std::string code(long number) { return platform::format(kMSRMessageCodeFormat, number); }

std::shared_ptr<platform::UserDefaults> domainNamed(const std::string& name) {
  if (name.empty()) return platform::UserDefaults::standardUserDefaults();
  auto defaults = platform::UserDefaults::initWithSuiteName(name);
  return defaults;
}

}  // namespace

bool MSRUserDefaults::userPreferenceEnabled() {
  static const bool enabled = [] {
    const auto bundle = platform::Bundle::mainBundle();
    if (!bundle) return true;
    const Value& value = bundle->objectForInfoDictionaryKey(kMSRUseCFPreferencesLibraryKey);
    return value.isNumber() ? value.boolValue() : true;
  }();
  return enabled;
}

std::shared_ptr<MSRUserDefaults> MSRUserDefaults::standardUserDefaults() {
  // Never destroyed: the worker queue may still read through it while the process exits.
  static auto* shared = new std::shared_ptr<MSRUserDefaults>([] {
    auto store = initWithSuiteName(std::nullopt);
    store->setIsPreferenceFileExcluded(true);
    return store;
  }());
  return *shared;
}

std::shared_ptr<MSRUserDefaults> MSRUserDefaults::init() { return initWithSuiteName(std::nullopt); }

std::shared_ptr<MSRUserDefaults> MSRUserDefaults::initWithSuiteName(
    const std::optional<std::string>& suiteName) {
  std::shared_ptr<MSRUserDefaults> store(new MSRUserDefaults());
  store->suiteName_ = suiteName;
  store->appNameRef_ = suiteName.value_or("");
  store->useCFPreferencesLibrary_ = userPreferenceEnabled();
  if (!store->useCFPreferencesLibrary_) store->userDefaults_ = domainNamed(store->appNameRef_);
  return store;
}

std::shared_ptr<platform::UserDefaults> MSRUserDefaults::preferences() const {
  return domainNamed(appNameRef_);
}

std::shared_ptr<platform::UserDefaults> MSRUserDefaults::userDefaults() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return useCFPreferencesLibrary_ ? preferences() : userDefaults_;
}

Value MSRUserDefaults::objectForKey(const std::string& key, platform::ErrorPtr* error) {
  if (key.empty()) {
    VTULoggerLogWarning(kMSRStorageLogService, false, code(41001), kMSRDefaultsInvalidGetKey);
    return Value();
  }
  const auto defaults = userDefaults();
  return defaults ? defaults->objectForKey(key, error) : Value();
}

void MSRUserDefaults::setObject(const Value& value, const std::string& key) {
  if (key.empty()) {
    VTULoggerLogWarning(kMSRStorageLogService, false, code(41002), kMSRDefaultsInvalidSetKey);
    return;
  }
  const auto defaults = userDefaults();
  if (!defaults) return;
  if (value.isNil()) {
    defaults->setObject(Value(), key);
    return;
  }
  if (!MSRIsConfigValue(value)) {
    VTULoggerLogWarning(kMSRStorageLogService, false, code(41003), kMSRDefaultsInvalidObject,
                        value);
    return;
  }
  defaults->setObject(value, key);
}

void MSRUserDefaults::removeObjectForKey(const std::string& key) {
  if (useCFPreferencesLibrary()) {
    setObject(Value(), key);
    return;
  }
  if (const auto defaults = userDefaults()) defaults->removeObjectForKey(key);
}

void MSRUserDefaults::clearAllData() {
  const auto defaults = userDefaults();
  if (!defaults) return;
  if (useCFPreferencesLibrary()) {
    // The domain as it stands on disk, under its lock: keys that another process wrote and this
    // one never read go too.
    defaults->removePersistentDomainForName(defaults->domainName());
    return;
  }
  std::string domain = appNameRef_;
  if (domain.empty()) {
    const auto bundle = platform::Bundle::mainBundle();
    domain = bundle ? bundle->bundleIdentifier() : "";
  }
  if (!domain.empty()) defaults->removePersistentDomainForName(domain);
}

void MSRUserDefaults::synchronize() {
  const auto defaults = userDefaults();
  const bool synchronized = defaults && defaults->synchronize();
  if (useCFPreferencesLibrary() && !synchronized) {
    VTULoggerLogError(kMSRStorageLogService, false, code(41004), kMSRDefaultsCannotSynchronize);
  }
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (isPreferenceFileExcluded_) return;
  const std::string path = MSRPreferencesPlistPath(suiteName_.value_or(""));
  if (path.empty() || !platform::files::exists(path)) return;
  platform::ErrorPtr error;
  if (MSRExcludePathFromBackup(path, &error)) {
    isPreferenceFileExcluded_ = true;
  } else {
    VTULoggerLogWarning(kMSRStorageLogService, false, code(41000), kMSRDefaultsExcludeFailed,
                        error ? Value(error) : Value());
  }
}

bool MSRUserDefaults::useCFPreferencesLibrary() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return useCFPreferencesLibrary_;
}

void MSRUserDefaults::setUseCFPreferencesLibrary(bool useCFPreferencesLibrary) {
  platform::DispatchQueue::global()->sync([&] {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (useCFPreferencesLibrary_ == useCFPreferencesLibrary) return;
    if (!useCFPreferencesLibrary && !userDefaults_) userDefaults_ = domainNamed(appNameRef_);
    if (useCFPreferencesLibrary) userDefaults_.reset();
    useCFPreferencesLibrary_ = useCFPreferencesLibrary;
  });
}

bool MSRUserDefaults::isPreferenceFileExcluded() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return isPreferenceFileExcluded_;
}

void MSRUserDefaults::setIsPreferenceFileExcluded(bool excluded) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  isPreferenceFileExcluded_ = excluded;
}
