// The engine's accessors live with the foundation: every room below the engine (foundation,
// messages, storage) logs through the shared monitor and reads the remote-configuration limits,
// and must not need the engine to link.
#include "measurement/engine/MSRMeasurement.h"

#include "measurement/engine/MSRRemoteConfig.h"
#include "measurement/foundation/MSRIdentity.h"
#include "measurement/foundation/MSRMonitor.h"

std::shared_ptr<MSRMonitor> MSRMeasurement::monitor() {
  // Leaked on purpose: the monitor serves every component until the process ends.
  static auto* shared = new std::shared_ptr<MSRMonitor>(
      MSRMonitor::initWithLibraryVersion(MSRIdentity::lumoMeasurementLibraryVersion()));
  return *shared;
}

std::shared_ptr<MSRRemoteConfig> MSRMeasurement::remoteConfig() {
  return MSRRemoteConfig::defaultInstance();
}
