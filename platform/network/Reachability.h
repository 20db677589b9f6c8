// Network reachability of one host name, from the kernel's interfaces: a handle reports its flags
// to a callback on the main run loop whenever they change (and once soon after scheduling).
// A host is reachable when it is a loopback name or address, or when an interface other than
// loopback is up, running and has an address; interfaces named "wwan*" count as cellular.
// Handles are used from the main thread; reachabilityGetFlags may be called from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

using ReachabilityFlags = std::uint32_t;
inline constexpr ReachabilityFlags kReachabilityFlagsTransientConnection = 1 << 0;
inline constexpr ReachabilityFlags kReachabilityFlagsReachable = 1 << 1;
inline constexpr ReachabilityFlags kReachabilityFlagsConnectionRequired = 1 << 2;
inline constexpr ReachabilityFlags kReachabilityFlagsConnectionOnTraffic = 1 << 3;
inline constexpr ReachabilityFlags kReachabilityFlagsInterventionRequired = 1 << 4;
inline constexpr ReachabilityFlags kReachabilityFlagsConnectionOnDemand = 1 << 5;
inline constexpr ReachabilityFlags kReachabilityFlagsIsLocalAddress = 1 << 16;
inline constexpr ReachabilityFlags kReachabilityFlagsIsDirect = 1 << 17;
inline constexpr ReachabilityFlags kReachabilityFlagsIsWWAN = 1 << 18;

struct ReachabilityHandle;
using ReachabilityRef = ReachabilityHandle*;
using ReachabilityCallback = void (*)(ReachabilityRef target, ReachabilityFlags flags, void* info);
struct ReachabilityContext {
  void* info = nullptr;
};

// Null for a null or empty host name.
ReachabilityRef reachabilityCreateWithName(const char* hostName);
// A null callback removes it. False for a null handle.
bool reachabilitySetCallback(ReachabilityRef target, ReachabilityCallback callback,
                             const ReachabilityContext* context);
bool reachabilityScheduleWithMainRunLoop(ReachabilityRef target);
bool reachabilityUnscheduleFromMainRunLoop(ReachabilityRef target);
void reachabilityRelease(ReachabilityRef target);
bool reachabilityGetFlags(ReachabilityRef target, ReachabilityFlags* flags);

// The seconds between two looks at the interfaces of a scheduled handle.
inline constexpr double kReachabilityPollInterval = 2.0;

}  // namespace platform
