// The experiments component's monitor: forwards every log call unchanged to the engine monitor.
// Deliberately minimal. Thread-safe like the engine monitor.
//
// Lower rooms (the flag message) reach it by name through the object runtime: the class
// "MSREManager" answers "monitor" with the shared MSREMonitor, whose class "MSREMonitor" has the
// two log methods. Both classes are registered when the library loads.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/base/Value.h"

class MSRMonitor;

inline constexpr const char* kMSREManagerClassName = "MSREManager";
inline constexpr const char* kMSREMonitorClassName = "MSREMonitor";

class MSREMonitor : public platform::Object {
 public:
  explicit MSREMonitor(std::shared_ptr<MSRMonitor> monitor) : monitor_(std::move(monitor)) {}
  std::string className() const override { return kMSREMonitorClassName; }
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
