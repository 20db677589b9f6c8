// The bundle bookkeeping of the app metadata row: the index of the last bundle and the time span
// it covered. A plain mutable object of the engine's worker queue; no lock.
#pragma once

#include <cstdint>
#include <string>

#include "platform/base/Value.h"
#include <memory>

class MSRAppMetadata : public platform::Object {
 public:
  // Null (logged 4000) for a negative index.
  static std::shared_ptr<MSRAppMetadata> initWithLastBundleIndex(std::int32_t lastBundleIndex,
                                                                 double lastBundleStartTimestamp,
                                                                 double lastBundleEndTimestamp);
  // After 2147483647 the index starts again at 0 (logged 4001).
  void incrementLastBundleIndex();

  std::int32_t lastBundleIndex() const { return lastBundleIndex_; }
  double lastBundleStartTimestamp() const { return lastBundleStartTimestamp_; }
  void setLastBundleStartTimestamp(double v) { lastBundleStartTimestamp_ = v; }
  double lastBundleEndTimestamp() const { return lastBundleEndTimestamp_; }
  void setLastBundleEndTimestamp(double v) { lastBundleEndTimestamp_ = v; }

  std::string className() const override { return "MSRAppMetadata"; }

 private:
  MSRAppMetadata() = default;
  std::int32_t lastBundleIndex_ = 0;
  double lastBundleStartTimestamp_ = 0;
  double lastBundleEndTimestamp_ = 0;
};
