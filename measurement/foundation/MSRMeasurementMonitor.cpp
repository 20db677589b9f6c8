// The engine's shared-monitor accessor lives beside the monitor, so that every room below the
// engine (messages, storage) can log without linking the engine.
#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRIdentity.h"
#include "measurement/foundation/MSRMonitor.h"

std::shared_ptr<MSRMonitor> MSRMeasurement::monitor() {
  // Leaked on purpose: the monitor serves every component until the process ends.
  static auto* shared = new std::shared_ptr<MSRMonitor>(
      MSRMonitor::initWithLibraryVersion(MSRIdentity::lumoMeasurementLibraryVersion()));
  return *shared;
}
