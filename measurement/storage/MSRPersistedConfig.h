// The engine's typed register of settings that survive relaunch (identifiers, upload and back-off
// times, session number, first-open time, deep-link state, default event parameters), over one
// configuration store chosen at creation by the remote setting for Application Support. Every
// typed read and write runs synchronously on the serial queue "MSRPersistedConfig" (never call in
// from that queue); the store is asked to synchronize one second after the last write of a run.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "measurement/storage/MSRConfigStore.h"
#include "platform/base/Error.h"
#include "platform/base/Value.h"
#include "platform/dispatch/DispatchQueue.h"

class MSRPersistedConfig : public std::enable_shared_from_this<MSRPersistedConfig> {
 public:
  // Made once with the suite "com.veltro.vmp.measurement"; logs 27001 when that failed.
  static std::shared_ptr<MSRPersistedConfig> sharedInstance();
  // Null for an empty name. Without a store (its folder could not be made) every read gives the
  // absent value and every write is dropped.
  static std::shared_ptr<MSRPersistedConfig> initWithSuiteName(const std::string& name);
  ~MSRPersistedConfig();

  const std::string& name() const { return name_; }
  const std::shared_ptr<MSRConfigStore>& userDefaults() const { return userDefaults_; }
  const platform::DispatchQueuePtr& serialQueue() const { return serialQueue_; }

  // Typed access; an empty key gives the absent value (0, no, nil) and writes nothing. Where an
  // error slot is taken, a value that is not known because the store's file cannot be read now
  // gives the absent value with *error set; the next read tries again.
  bool boolForKey(const std::string& key);
  double doubleForKey(const std::string& key, platform::ErrorPtr* error = nullptr);
  std::optional<std::string> stringForKey(const std::string& key);
  platform::Value dictionaryForKey(const std::string& key);
  std::int64_t int64ForKey(const std::string& key);
  std::int64_t int64ForKey(const std::string& key, const std::shared_ptr<MSRConfigStore>& store);
  void setBool(bool value, const std::string& key);
  void setInt64(std::int64_t value, const std::string& key);
  void setDouble(double value, const std::string& key);
  void setString(const std::optional<std::string>& value, const std::string& key);  // nil removes
  void setDictionary(const platform::Value& value, const std::string& key);         // nil removes
  // Any class, on the queue; no synchronize is scheduled.
  platform::Value objectForKey(const std::string& key, platform::ErrorPtr* error = nullptr);
  void setObject(const platform::Value& value, const std::string& key);

  void clearValues();
  void scheduleSynchronizeToDisk();
  void cancelScheduledSynchronize();
  void synchronizeToDisk();

  // The settings.
  double lastDeleteStaleBundlesTimestamp(platform::ErrorPtr* error = nullptr);
  void setLastDeleteStaleBundlesTimestamp(double value);
  // Straight to the store from the caller's thread; only numbers are stored.
  platform::Value searchAdCampaignValue();
  void setSearchAdCampaignValue(const platform::Value& value);
  double lastSearchAdLookUpTimestamp();
  void setLastSearchAdLookUpTimestamp(double value);
  std::int64_t searchAdRetryCount();
  void setSearchAdRetryCount(std::int64_t value);
  std::optional<std::string> appInstanceID();
  void setAppInstanceID(const std::optional<std::string>& value);
  std::optional<std::string> appIDFromVMP();
  void setAppIDFromVMP(const std::optional<std::string>& value);
  std::optional<std::string> appIDFromAdVista();
  void setAppIDFromAdVista(const std::optional<std::string>& value);
  std::optional<std::string> hashedResettableDeviceID();
  void setHashedResettableDeviceID(const std::optional<std::string>& value);
  // Lives in the application's standard domain, so clearValues leaves it.
  std::int64_t measurementEnabledState();
  void setMeasurementEnabledState(std::int64_t value);
  double lastBackoffTimestamp();
  void setLastBackoffTimestamp(double value);
  double lastSuccessfulUploadTimestamp();
  void setLastSuccessfulUploadTimestamp(double value);
  double lastFailedUploadTimestamp();
  void setLastFailedUploadTimestamp(double value);
  std::optional<std::string> appVersion();
  void setAppVersion(const std::optional<std::string>& value);
  std::optional<std::string> osVersion();
  void setOSVersion(const std::optional<std::string>& value);
  // Drawn once per installation: seconds in [0, 86400) with millisecond steps. A stored offset is
  // never replaced: while the store's file cannot be read, nothing is drawn or stored and this
  // gives 0 with *error set (the day numbers hang on the stored one).
  double midnightOffset(platform::ErrorPtr* error = nullptr);
  double lastMonitorDataSampledTimestamp();
  void setLastMonitorDataSampledTimestamp(double value);
  std::int64_t firstOpenTimestampMilliseconds();
  void setFirstOpenTimestampMilliseconds(std::int64_t value);
  platform::Value configServerLastModifiedString();
  void setConfigServerLastModifiedString(const std::optional<std::string>& value);
  platform::Value loadTimestampValue();
  void setLoadTimestampValue(const platform::Value& value);
  platform::Value allowPersonalizedAds();
  void setAllowPersonalizedAds(const platform::Value& value);
  std::optional<std::string> lumoFeatureRollouts();
  void setLumoFeatureRollouts(const std::optional<std::string>& value);
  platform::Value deferredDeepLinkRetrievalComplete();
  void setDeferredDeepLinkRetrievalComplete(const platform::Value& value);
  std::int64_t deferredDeepLinkRetryCount();
  void setDeferredDeepLinkRetryCount(std::int64_t value);
  bool shouldSetLastAdvertisingIDResetUserProperty();
  void setShouldSetLastAdvertisingIDResetUserProperty(bool value);
  bool unmatchedFirstOpenWithoutIDFA();
  void setUnmatchedFirstOpenWithoutIDFA(bool value);
  double lastSessionActivityClockTime();
  void setLastSessionActivityClockTime(double value);
  std::int64_t sessionNumber();
  void setSessionNumber(std::int64_t value);
  platform::Value defaultEventParameters();
  void setDefaultEventParameters(const platform::Value& value);

 private:
  MSRPersistedConfig() = default;
  template <class F>
  auto onQueue(F&& work) -> decltype(work());

  std::string name_;
  std::shared_ptr<MSRConfigStore> userDefaults_;
  platform::DispatchQueuePtr serialQueue_;
  // The pending synchronize's cancel flag (queue only).
  std::shared_ptr<std::atomic<bool>> synchronizeBlock_;
};
