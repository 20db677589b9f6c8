// Helpers shared by the storage tests.
#pragma once

#include <memory>
#include <string>

#include "measurement/storage/MSRDatabase.h"
#include "measurement/storage/MSRPersistedConfig.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "platform/base/Error.h"

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
