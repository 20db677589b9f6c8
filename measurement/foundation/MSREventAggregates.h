// Per-event-name counters and sampling state that the events table persists and the engine
// updates on every logged event. Belongs to the engine's worker queue; no lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/base/Value.h"

class MSREventAggregates {
 public:
  // Null for an invalid internal event name or a negative count (logged 17000).
  static std::shared_ptr<MSREventAggregates> initWithName(const std::string& name,
                                                          std::int32_t lifetimeCount,
                                                          std::int32_t currentBundleCount,
                                                          std::int32_t currentSessionCount,
                                                          double lastFireTimestamp);

  // Each adds one; at the 32-bit maximum the count restarts at 0 (logged 17001..17003).
  void incrementLifetimeCount();
  void incrementCurrentBundleCount();
  void incrementCurrentSessionCount();

  bool lastExemptFromSampling() const { return lastExemptFromSampling_; }
  void setLastExemptFromSampling(bool v) { lastExemptFromSampling_ = v; }
  std::int32_t lifetimeCount() const { return lifetimeCount_; }
  std::int32_t currentBundleCount() const { return currentBundleCount_; }
  std::int32_t currentSessionCount() const { return currentSessionCount_; }
  std::int32_t lastSamplingRate() const { return lastSamplingRate_; }
  void setLastSamplingRate(std::int32_t v) { lastSamplingRate_ = v; }
  std::int32_t lastBundledDay() const { return lastBundledDay_; }
  void setLastBundledDay(std::int32_t v) { lastBundledDay_ = v; }
  const std::string& name() const { return name_; }
  double lastFireTimestamp() const { return lastFireTimestamp_; }
  void setLastFireTimestamp(double v) { lastFireTimestamp_ = v; }
  double lastBundledTimestamp() const { return lastBundledTimestamp_; }
  void setLastBundledTimestamp(double v) { lastBundledTimestamp_ = v; }
  // A number, or nil.
  const platform::Value& lastSampledComplexEventID() const { return lastSampledComplexEventID_; }
  void setLastSampledComplexEventID(platform::Value v) { lastSampledComplexEventID_ = std::move(v); }

 private:
  MSREventAggregates() = default;
  bool lastExemptFromSampling_ = false;
  std::int32_t lifetimeCount_ = 0;
  std::int32_t currentBundleCount_ = 0;
  std::int32_t currentSessionCount_ = 0;
  std::int32_t lastSamplingRate_ = 1;
  std::int32_t lastBundledDay_ = 0;
  std::string name_;
  double lastFireTimestamp_ = 0;
  double lastBundledTimestamp_ = 0;
  platform::Value lastSampledComplexEventID_;
};
