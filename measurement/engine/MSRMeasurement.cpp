#include "measurement/engine/MSRMeasurement.h"

// monitor() is defined beside the monitor (measurement/foundation/MSRMeasurementMonitor.cpp):
// every room below the engine logs through it and must not need the engine to link.

#include "measurement/engine/MSRRemoteConfig.h"
#include "measurement/foundation/MSRConstants.h"
#include "measurement/foundation/MSRScheduler.h"

std::shared_ptr<MSRScheduler> MSRMeasurement::scheduler() {
  static auto* shared = new std::shared_ptr<MSRScheduler>(
      MSRScheduler::initWithWorkerQueueLabel(kMSRWorkerQueueLabel));
  return *shared;
}

std::shared_ptr<MSRRemoteConfig> MSRMeasurement::remoteConfig() {
  return MSRRemoteConfig::defaultInstance();
}
