#include "measurement/storage/MSRAppMetadata.h"

#include <limits>

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRMonitor.h"

std::shared_ptr<MSRAppMetadata> MSRAppMetadata::initWithLastBundleIndex(
    std::int32_t lastBundleIndex, double lastBundleStartTimestamp,
    double lastBundleEndTimestamp) {
  if (lastBundleIndex < 0) {
    MSRMeasurement::monitor()->logWithLevel(
        2, 4000, "Failed to create app metadata object. Received negative last bundle index.");
    return nullptr;
  }
  std::shared_ptr<MSRAppMetadata> metadata(new MSRAppMetadata());
  metadata->lastBundleIndex_ = lastBundleIndex;
  metadata->lastBundleStartTimestamp_ = lastBundleStartTimestamp;
  metadata->lastBundleEndTimestamp_ = lastBundleEndTimestamp;
  return metadata;
}

void MSRAppMetadata::incrementLastBundleIndex() {
  lastBundleIndex_ =
      lastBundleIndex_ == std::numeric_limits<std::int32_t>::max() ? 0 : lastBundleIndex_ + 1;
  if (lastBundleIndex_ == 0) {
    MSRMeasurement::monitor()->logWithLevel(5, 4001,
                                            "Bundle index overflow. Bundle index reset to 0.");
  }
}
