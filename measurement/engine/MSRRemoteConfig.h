// The engine's remote configuration limits that storage and the foundation read. Deliberately
// minimal: no configuration cache is kept yet, so every setting answers its default (kept within
// its range), and local overrides can be set. Thread-safe (a lock guards the overrides).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

class MSRRemoteConfig {
 public:
  static std::shared_ptr<MSRRemoteConfig> defaultInstance();

  bool configurableLimitsEnabled() const { return false; }
  std::int32_t maxPublicEventParams() const;              // 25
  bool persistentConfigInApplicationSupportEnabled() const;  // the override, else false
  int maxEventsStored() const;                            // 100000
  double maxQueueTime() const;                            // 2419200 s
  double databaseDeleteStaleBundlesInterval() const;      // 86400 s

  void setPersistentConfigInApplicationSupportEnabledOverride(std::optional<bool> value);

 private:
  mutable std::mutex mutex_;
  std::optional<bool> persistentConfigOverride_;
};
