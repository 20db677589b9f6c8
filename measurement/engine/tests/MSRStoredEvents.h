// Reads back what the engine stored: the raw events of the measurement database under the sandbox
// home, through a connection of their own, decoded as the engine would decode them. Shared by the
// tests of the engine, the analytics front end and the app. Call it while the engine is idle.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "measurement/foundation/MSREvent.h"
#include "measurement/foundation/MSRRawEventData.h"
#include "measurement/messages/MSRPBAccessors.h"
#include "measurement/messages/MSRPBMeasurementBundle.h"
#include "measurement/messages/MSRPBSchema.h"
#include "measurement/storage/MSRDatabase.h"
#include "measurement/storage/MSRPersistedConfig.h"
#include "measurement/storage/MSRStorageConstants.h"

namespace msr_testing {

struct StoredEvent {
  std::string name;
  std::string origin;
  double timestamp = 0;
  platform::Value::Dictionary parameters;  // plain values
  std::string metadataAppID;               // the app ID of the event's metadata row
};

inline std::vector<StoredEvent> storedRawEvents() {
  platform::ErrorPtr error;
  auto database = MSRDatabase::initWithDatabaseName(
      kMSRDatabaseName, MSRPersistedConfig::initWithSuiteName("stored-events-reader"), &error);
  EXPECT_TRUE(database) << (error ? error->localizedDescription() : "");
  if (!database) return {};
  std::vector<StoredEvent> events;
  auto rows = database->allDataTypesFromTableWithName(
      "raw_events", -1, &error, [](const MSRDatabase::Record& row, platform::ErrorPtr*) {
        return platform::Value(row);
      });
  EXPECT_TRUE(rows) << (error ? error->localizedDescription() : "");
  if (!rows) return {};
  const MSRPBMessageType* bundleType = MSRPBMessageTypeNamed("MeasurementBundle");
  std::int32_t appIDSlot = -1;
  for (std::uint32_t slot = 0; slot < bundleType->fieldCount; ++slot) {
    if (bundleType->fields[slot].tag == 14) appIDSlot = static_cast<std::int32_t>(slot);
  }
  for (const auto& row : *rows) {
    auto data = database->rawEventDataFromDictionary(*row.dictionary(), &error);
    EXPECT_TRUE(data) << "a stored row does not decode";
    if (!data) continue;
    const auto& event = data->rawEvent();
    StoredEvent stored{event->name(), event->origin(), event->timestamp(),
                       MSRPlainParametersFromValues(event->parameters(), false), ""};
    if (auto metadata =
            database->queryRawEventsMetadataWithFingerprint(data->metadataFingerprint(), &error)) {
      const platform::Value appID = MSRPBGetString(metadata, appIDSlot);
      if (const auto* id = appID.string()) stored.metadataAppID = *id;
    }
    events.push_back(std::move(stored));
  }
  return events;
}

inline std::vector<std::string> storedEventNames() {
  std::vector<std::string> names;
  for (const auto& event : storedRawEvents()) names.push_back(event.name);
  return names;
}

}  // namespace msr_testing
