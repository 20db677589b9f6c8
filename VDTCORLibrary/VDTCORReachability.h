// The device's network path as a reachability flag word: read once at start, then kept up to
// date by the platform's change callbacks. Both are serialised on the serial
// "com.veltro.VDTCORReachability" queue; currentFlags waits on it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/network/Reachability.h"

class VDTCORReachability {
 public:
  static VDTCORReachability& sharedInstance();
  // The last reported change (0, no network, included), else the flags read at start.
  static std::uint32_t currentFlags();

  void setCallbackFlags(std::uint32_t flags);
  // Test seam: while set, currentFlags answers this whatever the platform reports.
  void setFlagsForTesting(std::optional<std::uint32_t> flags);
  std::uint32_t callbackFlags() const { return callbackFlags_; }
  std::uint32_t flags() const { return flags_; }
  void setFlags(std::uint32_t flags) { flags_ = flags; }
  const platform::DispatchQueuePtr& reachabilityQueue() const { return reachabilityQueue_; }

  VDTCORReachability();
  VDTCORReachability(const VDTCORReachability&) = delete;
  VDTCORReachability& operator=(const VDTCORReachability&) = delete;

 private:
  platform::ReachabilityRef reachabilityRef_ = nullptr;
  platform::DispatchQueuePtr reachabilityQueue_;
  std::uint32_t callbackFlags_ = 0;           // reachabilityQueue_ only
  bool callbackReported_ = false;             // reachabilityQueue_ only; a reported 0 is no network
  std::uint32_t flags_ = 0;                   // reachabilityQueue_ only
  std::optional<std::uint32_t> pinnedFlags_;  // reachabilityQueue_ only
};
