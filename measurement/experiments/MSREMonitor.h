// The experiments component's monitor: forwards every log call unchanged to the engine monitor.
// Deliberately minimal. Thread-safe like the engine monitor.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/base/Value.h"

class MSRMonitor;

class MSREMonitor {
 public:
  explicit MSREMonitor(std::shared_ptr<MSRMonitor> monitor) : monitor_(std::move(monitor)) {}
  void logWithLevel(std::int64_t level, std::int64_t messageCode,
                    const std::optional<std::string>& message);
  void logWithLevel(std::int64_t level, std::int64_t messageCode,
                    const std::optional<std::string>& message, const platform::Value& context);

 private:
  std::shared_ptr<MSRMonitor> monitor_;
};

class MSREManager {
 public:
  // Created once per process around MSRMeasurement::monitor().
  static std::shared_ptr<MSREMonitor> monitor();
};
