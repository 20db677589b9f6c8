// The measurement engine's entry points that the foundation, messages and storage rooms call:
// the shared monitor, the worker scheduler and the remote configuration. Deliberately minimal: the
// engine is not built yet; these are defined in measurement_foundation. Thread-safe (created once
// on first use).
#pragma once

#include <memory>

class MSRMonitor;
class MSRScheduler;
class MSRRemoteConfig;

class MSRMeasurement {
 public:
  // The shared monitor, created on first use with the library version number. Never null.
  static std::shared_ptr<MSRMonitor> monitor();
  // The engine's worker scheduler ("com.veltro.lma.worker"), created on first use.
  static std::shared_ptr<MSRScheduler> scheduler();
  // The engine's remote configuration; the defaults while the engine holds none.
  static std::shared_ptr<MSRRemoteConfig> remoteConfig();
};
