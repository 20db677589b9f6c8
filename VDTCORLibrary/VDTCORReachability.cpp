#include "VDTCORLibrary/VDTCORReachability.h"

#include "VDTCORLibrary/VDTCORConsoleLogger.h"
#include "VDTCORLibrary/VDTCORConstants.h"

namespace {

void reachabilityChanged(platform::ReachabilityRef, platform::ReachabilityFlags flags, void*) {
  // The platform reports on the main run loop; the flags are kept on the transport's own queue.
  VDTCORReachability::sharedInstance().reachabilityQueue()->async([flags] {
    VDTCORLogDebug("Reachability changed, new flags: %d", static_cast<int>(flags));
    VDTCORReachability::sharedInstance().setCallbackFlags(flags);
  });
}

}  // namespace

VDTCORReachability& VDTCORReachability::sharedInstance() {
  static VDTCORReachability* shared = new VDTCORReachability();
  return *shared;
}

VDTCORReachability::VDTCORReachability()
    : reachabilityRef_(platform::reachabilityCreateWithName("0.0.0.0")),
      reachabilityQueue_(platform::DispatchQueue::create(kVDTCORReachabilityQueueLabel)) {
  if (!platform::reachabilityScheduleWithMainRunLoop(reachabilityRef_)) {
    VDTCORLogToConsole(VDTCORMCWReachabilityFailed, VDTCORLoggingLevelWarning,
                       "The reachability queue wasn't set.");
  }
  if (!platform::reachabilitySetCallback(reachabilityRef_, &reachabilityChanged, nullptr)) {
    VDTCORLogToConsole(VDTCORMCWReachabilityFailed, VDTCORLoggingLevelWarning,
                       "The reachability callback wasn't set.");
  }
  platform::ReachabilityRef ref = reachabilityRef_;
  reachabilityQueue_->async([this, ref] {
    platform::ReachabilityFlags flags = 0;
    if (!platform::reachabilityGetFlags(ref, &flags)) {
      VDTCORLogDebug("Determining reachability failed.");
      flags = 0;
    }
    flags_ = flags;
  });
}

std::uint32_t VDTCORReachability::currentFlags() {
  VDTCORReachability& shared = sharedInstance();
  std::uint32_t result = 0;
  shared.reachabilityQueue_->sync([&] {
    if (shared.pinnedFlags_) {
      result = *shared.pinnedFlags_;
    } else {
      result = shared.callbackReported_ ? shared.callbackFlags_ : shared.flags_;
    }
  });
  VDTCORLogDebug("Initial reachability flags determined: %d", static_cast<int>(result));
  return result;
}

void VDTCORReachability::setCallbackFlags(std::uint32_t flags) {
  callbackReported_ = true;
  if (callbackFlags_ != flags) callbackFlags_ = flags;
}

void VDTCORReachability::setFlagsForTesting(std::optional<std::uint32_t> flags) {
  reachabilityQueue_->sync([&] { pinnedFlags_ = flags; });
}
