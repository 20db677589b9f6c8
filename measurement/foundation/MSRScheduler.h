// The engine's serial worker queue: blocks run asynchronously or synchronously under a block ID
// (for diagnostics), each inside an exception catch so that one failing block is logged instead
// of ending the process. Thread-safe; never sync onto the worker queue from the worker queue.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/dispatch/DispatchQueue.h"

class MSRScheduler {
 public:
  using Block = std::function<void()>;

  explicit MSRScheduler(const std::string& workerQueueLabel);
  static std::shared_ptr<MSRScheduler> initWithWorkerQueueLabel(const std::string& label);

  // An empty block is logged (30005) and dropped.
  void scheduleOnWorkerQueueBlockID(const std::string& blockID, Block block);
  // Returns once the block has run; failures are logged (30002, 30003, 30004).
  void dispatchSyncOnWorkerQueueBlockID(const std::string& blockID, Block block);
  const platform::DispatchQueuePtr& workerQueue() const { return workerQueue_; }

  // False (and logs 30001) on the main thread.
  static bool checkOnBackgroundThreadWithMethodName(const std::string& methodName);

 private:
  platform::DispatchQueuePtr workerQueue_;
};

// Platform application-state notification names.
std::string MSRAppDidBecomeActiveNotificationName();
std::string MSRAppDidFinishLaunchingNotificationName();
std::string MSRAppWillResignActiveNotificationName();
std::string MSRWindowDidResignKeyNotificationName();
std::string MSRAppWillEnterForegroundNotificationName();
std::string MSRAppDidEnterBackgroundNotificationName();
