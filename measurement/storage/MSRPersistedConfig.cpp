#include "measurement/storage/MSRPersistedConfig.h"

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/engine/MSRRemoteConfig.h"
#include "measurement/foundation/MSRMonitor.h"
#include "measurement/foundation/MSRUtilities.h"
#include "measurement/storage/MSRPersistentDictionary.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "measurement/storage/MSRUserDefaults.h"
#include "platform/runtime/Crypto.h"

using platform::Value;

std::shared_ptr<MSRPersistedConfig> MSRPersistedConfig::sharedInstance() {
  // Never destroyed, like every shared instance: late queue work may still ask for it at exit.
  static const auto* shared =
      new std::shared_ptr<MSRPersistedConfig>(initWithSuiteName(kMSRPersistedConfigSuiteName));
  if (!*shared) {
    MSRMeasurement::monitor()->logWithLevel(1, 27001, kMSRPersistedConfigSharedInstanceNil);
  }
  return *shared;
}

std::shared_ptr<MSRPersistedConfig> MSRPersistedConfig::initWithSuiteName(const std::string& name) {
  if (name.empty()) return nullptr;
  std::shared_ptr<MSRPersistedConfig> config(new MSRPersistedConfig());
  config->name_ = name;
  if (MSRMeasurement::remoteConfig()->persistentConfigInApplicationSupportEnabled()) {
    MSRRemoveUserDefaultsDomain(name);
    config->userDefaults_ = MSRPersistentDictionary::initWithFileName(name);
  } else {
    MSRMigrateUserDefaults(name);
    config->userDefaults_ = MSRUserDefaults::initWithSuiteName(name);
  }
  config->serialQueue_ = platform::DispatchQueue::create(kMSRPersistedConfigQueueLabel);
  return config;
}

MSRPersistedConfig::~MSRPersistedConfig() {
  if (synchronizeBlock_) synchronizeBlock_->store(true);
}

template <class F>
auto MSRPersistedConfig::onQueue(F&& work) -> decltype(work()) {
  if constexpr (std::is_void_v<decltype(work())>) {
    serialQueue_->sync([&] { work(); });
  } else {
    decltype(work()) result{};
    serialQueue_->sync([&] { result = work(); });
    return result;
  }
}

bool MSRPersistedConfig::boolForKey(const std::string& key) {
  if (key.empty()) return false;
  return onQueue([&] { return userDefaults_ && userDefaults_->boolForKey(key); });
}

double MSRPersistedConfig::doubleForKey(const std::string& key, platform::ErrorPtr* error) {
  if (key.empty()) return 0.0;
  return onQueue([&] {
    if (!userDefaults_) return 0.0;
    const Value value = userDefaults_->objectForKey(key, error);
    return value.isNumber() ? value.doubleValue() : 0.0;
  });
}

std::optional<std::string> MSRPersistedConfig::stringForKey(const std::string& key) {
  if (key.empty()) return std::nullopt;
  return onQueue([&]() -> std::optional<std::string> {
    return userDefaults_ ? userDefaults_->stringForKey(key) : std::nullopt;
  });
}

Value MSRPersistedConfig::dictionaryForKey(const std::string& key) {
  if (key.empty()) return Value();
  return onQueue([&] { return userDefaults_ ? userDefaults_->dictionaryForKey(key) : Value(); });
}

std::int64_t MSRPersistedConfig::int64ForKey(const std::string& key) {
  return int64ForKey(key, userDefaults_);
}

std::int64_t MSRPersistedConfig::int64ForKey(const std::string& key,
                                             const std::shared_ptr<MSRConfigStore>& store) {
  if (key.empty()) return 0;
  return onQueue([&]() -> std::int64_t {
    if (!store) return 0;
    const Value value = store->objectForKey(key);
    return value.isNumber() ? value.int64Value() : 0;
  });
}

void MSRPersistedConfig::setBool(bool value, const std::string& key) {
  if (key.empty()) return;
  onQueue([&] {
    if (!userDefaults_) return;
    userDefaults_->setBool(value, key);
    scheduleSynchronizeToDisk();
  });
}

void MSRPersistedConfig::setInt64(std::int64_t value, const std::string& key) {
  if (key.empty()) return;
  onQueue([&] {
    if (!userDefaults_) return;
    userDefaults_->setObject(Value(static_cast<long long>(value)), key);
    scheduleSynchronizeToDisk();
  });
}

void MSRPersistedConfig::setDouble(double value, const std::string& key) {
  if (key.empty()) return;
  onQueue([&] {
    if (!userDefaults_) return;
    userDefaults_->setDouble(value, key);
    scheduleSynchronizeToDisk();
  });
}

void MSRPersistedConfig::setString(const std::optional<std::string>& value,
                                   const std::string& key) {
  if (key.empty()) return;
  onQueue([&] {
    if (!userDefaults_) return;
    userDefaults_->setObject(value ? Value(*value) : Value(), key);
    scheduleSynchronizeToDisk();
  });
}

void MSRPersistedConfig::setDictionary(const Value& value, const std::string& key) {
  if (key.empty()) return;
  onQueue([&] {
    if (!userDefaults_) return;
    try {
      userDefaults_->setObject(value.isDictionary() ? value : Value(), key);
    } catch (...) {
      MSRMeasurement::monitor()->logWithLevel(1, 27002, kMSRPersistedConfigUnsupportedValue);
      return;
    }
    scheduleSynchronizeToDisk();
  });
}

Value MSRPersistedConfig::objectForKey(const std::string& key, platform::ErrorPtr* error) {
  if (key.empty()) return Value();
  return onQueue([&] { return userDefaults_ ? userDefaults_->objectForKey(key, error) : Value(); });
}

void MSRPersistedConfig::setObject(const Value& value, const std::string& key) {
  if (key.empty()) return;
  onQueue([&] {
    if (userDefaults_) userDefaults_->setObject(value, key);
  });
}

void MSRPersistedConfig::clearValues() {
  onQueue([&] {
    if (userDefaults_) userDefaults_->clearAllData();
  });
}

void MSRPersistedConfig::scheduleSynchronizeToDisk() {
  cancelScheduledSynchronize();
  auto cancelled = std::make_shared<std::atomic<bool>>(false);
  synchronizeBlock_ = cancelled;
  std::weak_ptr<MSRPersistedConfig> weakSelf = weak_from_this();
  serialQueue_->after(1.0, [weakSelf, cancelled] {
    if (cancelled->load()) return;
    if (auto self = weakSelf.lock()) self->synchronizeToDisk();
  });
}

void MSRPersistedConfig::cancelScheduledSynchronize() {
  if (synchronizeBlock_) synchronizeBlock_->store(true);
  synchronizeBlock_.reset();
}

void MSRPersistedConfig::synchronizeToDisk() {
  if (userDefaults_) userDefaults_->synchronize();
}

Value MSRPersistedConfig::searchAdCampaignValue() {
  return userDefaults_ ? userDefaults_->objectForKey(kMSRConfigKeySearchAdCampaignValue) : Value();
}

void MSRPersistedConfig::setSearchAdCampaignValue(const Value& value) {
  if (userDefaults_ && value.isNumber()) {
    userDefaults_->setObject(value, kMSRConfigKeySearchAdCampaignValue);
  }
}

std::int64_t MSRPersistedConfig::measurementEnabledState() {
  return int64ForKey(kMSRConfigKeyMeasurementEnabledState, MSRUserDefaults::standardUserDefaults());
}

void MSRPersistedConfig::setMeasurementEnabledState(std::int64_t value) {
  onQueue([&] {
    const auto standard = MSRUserDefaults::standardUserDefaults();
    standard->setObject(Value(static_cast<long long>(value)), kMSRConfigKeyMeasurementEnabledState);
    standard->synchronize();
  });
}

double MSRPersistedConfig::midnightOffset(platform::ErrorPtr* error) {
  // Read, draw and store in one turn of the queue: two first readers on different threads get
  // the same offset.
  return onQueue([&]() -> double {
    if (!userDefaults_) return 0.0;
    platform::ErrorPtr readError;
    const Value stored = userDefaults_->objectForKey(kMSRConfigKeyMidnightOffset, &readError);
    if (readError) {
      // An offset that cannot be read now may well be stored: one drawn here would replace it.
      if (error) *error = readError;
      return 0.0;
    }
    if (stored.isNumber()) return stored.doubleValue();
    const double offset = static_cast<double>(platform::crypto::randomUniform(86400000)) / 1000.0;
    userDefaults_->setDouble(offset, kMSRConfigKeyMidnightOffset);
    scheduleSynchronizeToDisk();
    return offset;
  });
}

double MSRPersistedConfig::lastDeleteStaleBundlesTimestamp(platform::ErrorPtr* error) {
  return doubleForKey(kMSRConfigKeyLastDeleteStaleBundlesTimestamp, error);
}
void MSRPersistedConfig::setLastDeleteStaleBundlesTimestamp(double value) {
  setDouble(value, kMSRConfigKeyLastDeleteStaleBundlesTimestamp);
}
double MSRPersistedConfig::lastSearchAdLookUpTimestamp() {
  return doubleForKey(kMSRConfigKeyLastSearchAdLookUpTimestamp);
}
void MSRPersistedConfig::setLastSearchAdLookUpTimestamp(double value) {
  setDouble(value, kMSRConfigKeyLastSearchAdLookUpTimestamp);
}
std::int64_t MSRPersistedConfig::searchAdRetryCount() {
  return int64ForKey(kMSRConfigKeySearchAdRetryCount);
}
void MSRPersistedConfig::setSearchAdRetryCount(std::int64_t value) {
  setInt64(value, kMSRConfigKeySearchAdRetryCount);
}
std::optional<std::string> MSRPersistedConfig::appInstanceID() {
  return stringForKey(kMSRConfigKeyAppInstanceID);
}
void MSRPersistedConfig::setAppInstanceID(const std::optional<std::string>& value) {
  setString(value, kMSRConfigKeyAppInstanceID);
}
std::optional<std::string> MSRPersistedConfig::appIDFromVMP() {
  return stringForKey(kMSRConfigKeyAppIDFromVMP);
}
void MSRPersistedConfig::setAppIDFromVMP(const std::optional<std::string>& value) {
  setString(value, kMSRConfigKeyAppIDFromVMP);
}
std::optional<std::string> MSRPersistedConfig::appIDFromAdVista() {
  return stringForKey(kMSRConfigKeyAppIDFromAdVista);
}
void MSRPersistedConfig::setAppIDFromAdVista(const std::optional<std::string>& value) {
  setString(value, kMSRConfigKeyAppIDFromAdVista);
}
std::optional<std::string> MSRPersistedConfig::hashedResettableDeviceID() {
  return stringForKey(kMSRConfigKeyHashedResettableDeviceID);
}
void MSRPersistedConfig::setHashedResettableDeviceID(const std::optional<std::string>& value) {
  setString(value, kMSRConfigKeyHashedResettableDeviceID);
}
double MSRPersistedConfig::lastBackoffTimestamp() {
  return doubleForKey(kMSRConfigKeyLastBackoffTimestamp);
}
void MSRPersistedConfig::setLastBackoffTimestamp(double value) {
  setDouble(value, kMSRConfigKeyLastBackoffTimestamp);
}
double MSRPersistedConfig::lastSuccessfulUploadTimestamp() {
  return doubleForKey(kMSRConfigKeyLastSuccessfulUploadTimestamp);
}
void MSRPersistedConfig::setLastSuccessfulUploadTimestamp(double value) {
  setDouble(value, kMSRConfigKeyLastSuccessfulUploadTimestamp);
}
double MSRPersistedConfig::lastFailedUploadTimestamp() {
  return doubleForKey(kMSRConfigKeyLastFailedUploadTimestamp);
}
void MSRPersistedConfig::setLastFailedUploadTimestamp(double value) {
  setDouble(value, kMSRConfigKeyLastFailedUploadTimestamp);
}
std::optional<std::string> MSRPersistedConfig::appVersion() {
  return stringForKey(kMSRConfigKeyAppVersion);
}
void MSRPersistedConfig::setAppVersion(const std::optional<std::string>& value) {
  setString(value, kMSRConfigKeyAppVersion);
}
std::optional<std::string> MSRPersistedConfig::osVersion() {
  return stringForKey(kMSRConfigKeyOsVersion);
}
void MSRPersistedConfig::setOSVersion(const std::optional<std::string>& value) {
  setString(value, kMSRConfigKeyOsVersion);
}
double MSRPersistedConfig::lastMonitorDataSampledTimestamp() {
  return doubleForKey(kMSRConfigKeyLastMonitorDataSampledTimestamp);
}
void MSRPersistedConfig::setLastMonitorDataSampledTimestamp(double value) {
  setDouble(value, kMSRConfigKeyLastMonitorDataSampledTimestamp);
}
std::int64_t MSRPersistedConfig::firstOpenTimestampMilliseconds() {
  return int64ForKey(kMSRConfigKeyFirstOpenTimestampMilliseconds);
}
void MSRPersistedConfig::setFirstOpenTimestampMilliseconds(std::int64_t value) {
  setInt64(value, kMSRConfigKeyFirstOpenTimestampMilliseconds);
}
platform::Value MSRPersistedConfig::configServerLastModifiedString() {
  return objectForKey(kMSRConfigKeyConfigServerLastModifiedString);
}
void MSRPersistedConfig::setConfigServerLastModifiedString(
    const std::optional<std::string>& value) {
  setString(value, kMSRConfigKeyConfigServerLastModifiedString);
}
platform::Value MSRPersistedConfig::loadTimestampValue() {
  return objectForKey(kMSRConfigKeyLoadTimestampValue);
}
void MSRPersistedConfig::setLoadTimestampValue(const platform::Value& value) {
  setObject(value, kMSRConfigKeyLoadTimestampValue);
}
platform::Value MSRPersistedConfig::allowPersonalizedAds() {
  return objectForKey(kMSRConfigKeyAllowPersonalizedAds);
}
void MSRPersistedConfig::setAllowPersonalizedAds(const platform::Value& value) {
  setObject(value, kMSRConfigKeyAllowPersonalizedAds);
}
std::optional<std::string> MSRPersistedConfig::lumoFeatureRollouts() {
  return stringForKey(kMSRConfigKeyLumoFeatureRollouts);
}
void MSRPersistedConfig::setLumoFeatureRollouts(const std::optional<std::string>& value) {
  setString(value, kMSRConfigKeyLumoFeatureRollouts);
}
platform::Value MSRPersistedConfig::deferredDeepLinkRetrievalComplete() {
  return objectForKey(kMSRConfigKeyDeferredDeepLinkRetrievalComplete);
}
void MSRPersistedConfig::setDeferredDeepLinkRetrievalComplete(const platform::Value& value) {
  setObject(value, kMSRConfigKeyDeferredDeepLinkRetrievalComplete);
}
std::int64_t MSRPersistedConfig::deferredDeepLinkRetryCount() {
  return int64ForKey(kMSRConfigKeyDeferredDeepLinkRetryCount);
}
void MSRPersistedConfig::setDeferredDeepLinkRetryCount(std::int64_t value) {
  setInt64(value, kMSRConfigKeyDeferredDeepLinkRetryCount);
}
bool MSRPersistedConfig::shouldSetLastAdvertisingIDResetUserProperty() {
  return int64ForKey(kMSRConfigKeyShouldSetLastAdvertisingIDResetUserProperty) != 0;
}
void MSRPersistedConfig::setShouldSetLastAdvertisingIDResetUserProperty(bool value) {
  setInt64(value ? 1 : 0, kMSRConfigKeyShouldSetLastAdvertisingIDResetUserProperty);
}
bool MSRPersistedConfig::unmatchedFirstOpenWithoutIDFA() {
  return int64ForKey(kMSRConfigKeyUnmatchedFirstOpenWithoutIDFA) != 0;
}
void MSRPersistedConfig::setUnmatchedFirstOpenWithoutIDFA(bool value) {
  setInt64(value ? 1 : 0, kMSRConfigKeyUnmatchedFirstOpenWithoutIDFA);
}
double MSRPersistedConfig::lastSessionActivityClockTime() {
  return doubleForKey(kMSRConfigKeyLastSessionActivityClockTime);
}
void MSRPersistedConfig::setLastSessionActivityClockTime(double value) {
  setDouble(value, kMSRConfigKeyLastSessionActivityClockTime);
}
std::int64_t MSRPersistedConfig::sessionNumber() { return int64ForKey(kMSRConfigKeySessionNumber); }
void MSRPersistedConfig::setSessionNumber(std::int64_t value) {
  setInt64(value, kMSRConfigKeySessionNumber);
}
platform::Value MSRPersistedConfig::defaultEventParameters() {
  return dictionaryForKey(kMSRConfigKeyDefaultEventParameters);
}
void MSRPersistedConfig::setDefaultEventParameters(const platform::Value& value) {
  setDictionary(value, kMSRConfigKeyDefaultEventParameters);
}
