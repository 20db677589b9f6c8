#include "measurement/foundation/MSRRawEventData.h"

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRMonitor.h"

std::shared_ptr<MSRRawEventData> MSRRawEventData::initWithRawEvent(
    MSREventPtr rawEvent, std::int64_t rowID, std::int64_t metadataFingerprint) {
  if (!rawEvent) {
    MSRMeasurement::monitor()->logWithLevel(
        4, 28000, "Failed to create raw event data. Received invalid raw event.");
    return nullptr;
  }
  if (rowID < 0) {
    MSRMeasurement::monitor()->logWithLevel(
        4, 28001, "Failed to create raw event data. Received invalid row ID. Row ID",
        platform::Value(static_cast<long long>(rowID)));
    return nullptr;
  }
  auto d = std::make_shared<MSRRawEventData>(ConstructionKey());
  d->rawEvent_ = std::move(rawEvent);
  d->rowID_ = rowID;
  d->metadataFingerprint_ = metadataFingerprint;
  return d;
}
