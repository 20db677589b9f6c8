#include "platform/network/Reachability.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/base/Strings.h"
#include "platform/dispatch/DispatchQueue.h"

namespace platform {
namespace {

bool isLoopbackHost(const std::string& host) {
  const std::string h = lowercase(host);
  return h == "localhost" || h == "::1" || h == "[::1]" || hasPrefix(h, "127.") ||
         hasSuffix(h, ".localhost");
}

ReachabilityFlags currentFlags(const std::string& host) {
  if (isLoopbackHost(host)) {
    return kReachabilityFlagsReachable | kReachabilityFlagsIsLocalAddress |
           kReachabilityFlagsIsDirect;
  }
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return 0;
  ReachabilityFlags flags = 0;
  bool wifi = false;
  bool cellular = false;
  for (ifaddrs* a = list; a; a = a->ifa_next) {
    if (!a->ifa_addr || (a->ifa_flags & IFF_LOOPBACK)) continue;
    if (!(a->ifa_flags & IFF_UP) || !(a->ifa_flags & IFF_RUNNING)) continue;
    const int family = a->ifa_addr->sa_family;
    if (family != AF_INET && family != AF_INET6) continue;
    if (hasPrefix(a->ifa_name, "wwan")) {
      cellular = true;
    } else {
      wifi = true;
    }
  }
  freeifaddrs(list);
  if (wifi || cellular) flags |= kReachabilityFlagsReachable;
  if (!wifi && cellular) flags |= kReachabilityFlagsIsWWAN;
  return flags;
}

}  // namespace

// State shared with the polling timer, which may outlive the handle by one firing.
struct ReachabilityState {
  std::mutex mutex;
  ReachabilityCallback callback = nullptr;
  void* info = nullptr;
  bool reported = false;
  ReachabilityFlags last = 0;
};

struct ReachabilityHandle {
  std::string host;
  std::shared_ptr<ReachabilityState> state = std::make_shared<ReachabilityState>();
  DispatchTimerPtr timer;
};

ReachabilityRef reachabilityCreateWithName(const char* hostName) {
  if (!hostName || !*hostName) return nullptr;
  auto* handle = new ReachabilityHandle();
  handle->host = hostName;
  return handle;
}

bool reachabilitySetCallback(ReachabilityRef target, ReachabilityCallback callback,
                             const ReachabilityContext* context) {
  if (!target) return false;
  std::lock_guard<std::mutex> lock(target->state->mutex);
  target->state->callback = callback;
  target->state->info = context ? context->info : nullptr;
  return true;
}

bool reachabilityScheduleWithMainRunLoop(ReachabilityRef target) {
  if (!target || target->timer) return false;
  std::weak_ptr<ReachabilityState> weak = target->state;
  const std::string host = target->host;
  target->timer = DispatchTimer::create(DispatchQueue::main());
  target->timer->setEventHandler([weak, host, target] {
    auto state = weak.lock();
    if (!state) return;
    const ReachabilityFlags flags = currentFlags(host);
    ReachabilityCallback callback;
    void* info;
    {
      std::lock_guard<std::mutex> lock(state->mutex);
      if (state->reported && state->last == flags) return;
      state->reported = true;
      state->last = flags;
      callback = state->callback;
      info = state->info;
    }
    if (callback) callback(target, flags, info);
  });
  target->timer->schedule(0, kReachabilityPollInterval, 0.5);
  target->timer->resume();
  return true;
}

bool reachabilityUnscheduleFromMainRunLoop(ReachabilityRef target) {
  if (!target || !target->timer) return false;
  target->timer->cancel();
  target->timer.reset();
  std::lock_guard<std::mutex> lock(target->state->mutex);
  target->state->reported = false;
  return true;
}

void reachabilityRelease(ReachabilityRef target) {
  if (!target) return;
  if (target->timer) target->timer->cancel();
  {
    // A firing already queued finds no callback and the state gone with the last reference.
    std::lock_guard<std::mutex> lock(target->state->mutex);
    target->state->callback = nullptr;
  }
  delete target;
}

bool reachabilityGetFlags(ReachabilityRef target, ReachabilityFlags* flags) {
  if (!target || !flags) return false;
  *flags = currentFlags(target->host);
  return true;
}

}  // namespace platform
