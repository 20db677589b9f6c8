#include "measurement/foundation/MSRScheduler.h"

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRConstants.h"
#include "measurement/foundation/MSRException.h"
#include "measurement/foundation/MSRMonitor.h"
#include "platform/app/AppConstants.h"
#include "platform/base/Error.h"
#include "platform/base/Format.h"
#include "platform/dispatch/RunLoop.h"

MSRScheduler::MSRScheduler(const std::string& workerQueueLabel)
    : workerQueue_(platform::DispatchQueue::create(workerQueueLabel)) {
  workerQueue_->setTargetQueue(
      platform::DispatchQueue::global(platform::QualityOfService::Background));
}

std::shared_ptr<MSRScheduler> MSRScheduler::initWithWorkerQueueLabel(const std::string& label) {
  return std::make_shared<MSRScheduler>(label);
}

void MSRScheduler::scheduleOnWorkerQueueBlockID(const std::string& blockID, Block block) {
  if (!block) {
    MSRMeasurement::monitor()->logWithLevel(
        1, 30005,
        platform::format("Nil block dispatched asynchronously on worker queue. Block ID=%@.",
                         blockID));
    return;
  }
  workerQueue_->async([blockID, block = std::move(block)] {
    // Whatever a block throws is logged and sampled here, like a synchronous block's failure,
    // rather than left to the queue's last-resort handler, which the health monitor never sees.
    try {
      block();
    } catch (...) {
      MSRMeasurement::monitor()->logWithLevel(
          1, 30000, platform::format("Exception on worker queue. Block ID=%@. Exception", blockID),
          platform::Value(MSRException::fromCurrentException()));
    }
  });
}

void MSRScheduler::dispatchSyncOnWorkerQueueBlockID(const std::string& blockID, Block block) {
  if (!block) {
    MSRMeasurement::monitor()->logWithLevel(
        1, 30002,
        platform::format("Nil block dispatched synchronously on worker queue. Block ID=%@.",
                         blockID));
    return;
  }
  bool completed = false;
  workerQueue_->sync([&] {
    try {
      block();
      completed = true;
    } catch (...) {
      MSRMeasurement::monitor()->logWithLevel(
          1, 30003,
          platform::format(
              "Exception on worker queue when processing sync block. Block ID=%@. Exception",
              blockID),
          platform::Value(MSRException::fromCurrentException()));
    }
  });
  if (!completed) {
    MSRMeasurement::monitor()->logWithLevel(
        4, 30004, platform::format("Synchronous task failed. Block ID=%@", blockID));
  }
}

bool MSRScheduler::checkOnBackgroundThreadWithMethodName(const std::string& methodName) {
  if (!platform::isMainThread()) return true;
  const std::string name = methodName.empty() ? kMSREmptyMethodName : methodName;
  MSRMeasurement::monitor()->logWithLevel(
      1, 30001, platform::format("Method %@ should execute on background thread", name));
  return false;
}

std::string MSRAppDidBecomeActiveNotificationName() {
  return platform::app::kDidBecomeActiveNotification;
}
std::string MSRAppDidFinishLaunchingNotificationName() {
  return platform::app::kDidFinishLaunchingNotification;
}
std::string MSRAppWillResignActiveNotificationName() {
  return platform::app::kWillResignActiveNotification;
}
std::string MSRWindowDidResignKeyNotificationName() {
  return "UIWindowDidResignKeyNotification";
}
std::string MSRAppWillEnterForegroundNotificationName() {
  return platform::app::kWillEnterForegroundNotification;
}
std::string MSRAppDidEnterBackgroundNotificationName() {
  return platform::app::kDidEnterBackgroundNotification;
}
