// The transport's life cycle: the application protocol (background tasks), the optional
// life-cycle operations of transformer, coordinator, storages and uploaders, and the relay that
// turns the transport's three notifications into those calls. The relay's handlers run on the
// posting thread (the main thread).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/dispatch/NotificationCenter.h"

using VDTCORBackgroundIdentifier = std::uint64_t;
inline constexpr VDTCORBackgroundIdentifier VDTCORBackgroundIdentifierInvalid = 0;

// Grants and ends background tasks.
class VDTCORApplicationProtocol {
 public:
  virtual ~VDTCORApplicationProtocol() = default;
  virtual VDTCORBackgroundIdentifier beginBackgroundTaskWithName(
      const std::string& name, std::function<void()> expirationHandler) = 0;
  virtual void endBackgroundTask(VDTCORBackgroundIdentifier identifier) = 0;
};
using VDTCORApplicationPtr = std::shared_ptr<VDTCORApplicationProtocol>;

// Optional reactions to the application's state changes; the defaults do nothing. Receivers are
// called once per registration, so they must tolerate repeated calls.
class VDTCORLifecycleProtocol {
 public:
  virtual ~VDTCORLifecycleProtocol() = default;
  virtual void appWillTerminate(const VDTCORApplicationPtr&) {}
  virtual void appWillBackground(const VDTCORApplicationPtr&) {}
  virtual void appWillForeground(const VDTCORApplicationPtr&) {}
};

class VDTCORLifecycle {
 public:
  // Made at load time; observes the transport's notifications for the life of the process.
  static VDTCORLifecycle& sharedInstance();
  VDTCORLifecycle();
  ~VDTCORLifecycle();

  void applicationDidEnterBackground();
  void applicationWillEnterForeground();
  void applicationWillTerminate();

 private:
  std::vector<platform::ObservationToken> observations_;
};
