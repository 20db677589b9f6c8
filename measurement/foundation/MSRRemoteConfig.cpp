#include "measurement/engine/MSRRemoteConfig.h"

std::shared_ptr<MSRRemoteConfig> MSRRemoteConfig::defaultInstance() {
  static auto* shared = new std::shared_ptr<MSRRemoteConfig>(std::make_shared<MSRRemoteConfig>());
  return *shared;
}

std::int32_t MSRRemoteConfig::maxPublicEventParams() const { return 25; }

bool MSRRemoteConfig::persistentConfigInApplicationSupportEnabled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return persistentConfigOverride_.value_or(false);
}

int MSRRemoteConfig::maxEventsStored() const { return 100000; }

double MSRRemoteConfig::maxQueueTime() const { return 2419200; }

double MSRRemoteConfig::databaseDeleteStaleBundlesInterval() const { return 86400; }

void MSRRemoteConfig::setPersistentConfigInApplicationSupportEnabledOverride(
    std::optional<bool> value) {
  std::lock_guard<std::mutex> lock(mutex_);
  persistentConfigOverride_ = value;
}
