// Drives uploads: a timer on the serial "com.veltro.VDTCORUploadCoordinator" queue (first
// firing 0.5 s after start, then every 30 s with 5 s leeway) asks every registered uploader to
// upload its target under the current network conditions while the app is in the foreground;
// storages force an upload of one target. Every timer and upload step runs on that queue.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "VDTCORLibrary/VDTCORLifecycle.h"
#include "VDTCORLibrary/VDTCORRegistrar.h"
#include "platform/dispatch/DispatchQueue.h"

class VDTCORUploadCoordinator : public VDTCORLifecycleProtocol,
                                public std::enable_shared_from_this<VDTCORUploadCoordinator> {
 public:
  // Made on first use, and its timer started at once.
  static std::shared_ptr<VDTCORUploadCoordinator> sharedInstance();
  explicit VDTCORUploadCoordinator(std::shared_ptr<VDTCORRegistrar> registrar);

  void startTimer();
  void stopTimer();
  void forceUploadForTarget(long target);
  void uploadTargets(std::vector<long> targets, long conditions);
  // Exactly one of 1 (no network), 2 (cellular) and 4 (other).
  long uploadConditions() const;
  // Each distinct registered storage checks its expired events once.
  void signalToStoragesToCheckExpirations();
  // Null (after an assertion report) when no storage serves the target.
  VDTCORStoragePtr storageForTarget(long target) const;

  void appWillForeground(const VDTCORApplicationPtr& application) override;
  void appWillBackground(const VDTCORApplicationPtr& application) override;
  void appWillTerminate(const VDTCORApplicationPtr& application) override;

  const platform::DispatchQueuePtr& coordinationQueue() const { return coordinationQueue_; }
  // The running timer or null; read on coordinationQueue.
  const platform::DispatchTimerPtr& timer() const { return timer_; }
  static constexpr std::uint64_t timerInterval = 30000000000ull;
  static constexpr std::uint64_t timerLeeway = 5000000000ull;
  const std::shared_ptr<VDTCORRegistrar>& registrar() const { return registrar_; }

 private:
  void stopTimerOnQueue();

  platform::DispatchQueuePtr coordinationQueue_;
  platform::DispatchTimerPtr timer_;
  std::shared_ptr<VDTCORRegistrar> registrar_;
};
