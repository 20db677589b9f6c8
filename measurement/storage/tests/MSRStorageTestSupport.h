// Helpers shared by the storage tests.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "measurement/engine/MSRRemoteConfig.h"
#include "measurement/storage/MSRDatabase.h"
#include "measurement/storage/MSRFileLocations.h"
#include "measurement/storage/MSRPersistedConfig.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "platform/base/Error.h"
#include "platform/base/UserDefaults.h"

// The description an engine error carries, or "" when it has none.
inline std::string description(const platform::ErrorPtr& error) {
  if (!error || !error->userInfo().count("NSLocalizedDescription")) return "";
  return *error->userInfo().at("NSLocalizedDescription").string();
}

// The engine's database in the test's sandbox home, with a settings suite of its own.
inline std::shared_ptr<MSRDatabase> openTestDatabase(platform::ErrorPtr* error) {
  return MSRDatabase::initWithDatabaseName(kMSRDatabaseName,
                                           MSRPersistedConfig::initWithSuiteName("suite"), error);
}

// The two stores a persisted configuration keeps its settings in, as the remote setting picks.
struct ConfigStoreKind {
  const char* name;
  bool applicationSupport;
};
inline constexpr ConfigStoreKind kConfigStoreKinds[] = {{"user defaults suite", false},
                                                        {"dictionary file", true}};

// Makes the configuration `name` in that store (which later ones of the test then use too), lets
// `store` set what it keeps, writes it and forgets every in-memory domain, as a relaunch does.
// The file that holds it.
inline std::filesystem::path storeConfigAndRelaunch(
    const ConfigStoreKind& kind, const std::string& name,
    const std::function<void(MSRPersistedConfig&)>& store) {
  MSRRemoteConfig::defaultInstance()->setPersistentConfigInApplicationSupportEnabledOverride(
      kind.applicationSupport);
  auto config = MSRPersistedConfig::initWithSuiteName(name);
  store(*config);
  config->synchronizeToDisk();
  config.reset();
  platform::UserDefaults::resetForTesting();
  return kind.applicationSupport ? MSRApplicationSupportPlistPath(name)
                                 : MSRPreferencesPlistPath(name);
}
