#include "utilities/network/VTUReachabilityChecker.h"

#include "platform/base/Format.h"
#include "utilities/VTUConstants.h"
#include "utilities/logger/VTULogger.h"

namespace {

std::string reachabilityCode(long number) {
  return platform::format(vtu::kReachabilityCodeFormat, number);
}

const char* statusName(VTUReachabilityStatus status) {
  switch (status) {
    case VTUReachabilityStatus::Unknown:
      return vtu::kReachabilityStatusUnknown;
    case VTUReachabilityStatus::Disconnected:
      return vtu::kReachabilityStatusDisconnected;
    case VTUReachabilityStatus::WiFi:
    case VTUReachabilityStatus::Cellular:
      return vtu::kReachabilityStatusConnected;
  }
  return vtu::kReachabilityStatusUnknown;
}

void reachabilityCallback(platform::ReachabilityRef, platform::ReachabilityFlags flags,
                          void* info) {
  static_cast<VTUReachabilityChecker*>(info)->reachabilityFlagsChanged(flags);
}

}  // namespace

const VTUReachabilityApi* VTUReachabilityDefaultApi() {
  static const VTUReachabilityApi api = {
      platform::reachabilityCreateWithName, platform::reachabilitySetCallback,
      platform::reachabilityScheduleWithMainRunLoop, platform::reachabilityUnscheduleFromMainRunLoop,
      platform::reachabilityRelease};
  return &api;
}

std::unique_ptr<VTUReachabilityChecker> VTUReachabilityChecker::initWithReachabilityDelegate(
    const std::shared_ptr<platform::Object>& delegate, const std::string& host) {
  if (host.empty()) {
    VTULoggerLogError(vtu::kReachabilityService, false, reachabilityCode(902001),
                      vtu::kReachabilityInvalidHostMessage);
    return nullptr;
  }
  auto checker = std::make_unique<VTUReachabilityChecker>(host);
  checker->setReachabilityDelegate(delegate);
  return checker;
}

VTUReachabilityChecker::VTUReachabilityChecker(std::string host)
    : reachabilityApi_(VTUReachabilityDefaultApi()), host_(std::move(host)) {}

VTUReachabilityChecker::~VTUReachabilityChecker() {
  reachabilityDelegate_.reset();
  stop();
}

bool VTUReachabilityChecker::start() {
  if (!reachability_) {
    reachability_ = reachabilityApi_->createWithNameFn(host_.c_str());
    if (!reachability_) return false;
    const platform::ReachabilityContext context{this};
    const bool started = reachabilityApi_->setCallbackFn(reachability_, reachabilityCallback,
                                                         &context) &&
                         reachabilityApi_->scheduleWithRunLoopFn(reachability_);
    if (!started) {
      reachabilityApi_->releaseFn(reachability_);
      reachability_ = nullptr;
      VTULoggerLogError(vtu::kReachabilityService, false, reachabilityCode(902002),
                        vtu::kReachabilityStartFailedMessage);
      return false;
    }
  }
  VTULoggerLogDebug(vtu::kReachabilityService, false, reachabilityCode(902003),
                    vtu::kReachabilityMonitoringMessage);
  return true;
}

void VTUReachabilityChecker::stop() {
  if (!reachability_) return;
  reachabilityStatus_ = VTUReachabilityStatus::Unknown;
  reachabilityApi_->unscheduleFromRunLoopFn(reachability_);
  reachabilityApi_->releaseFn(reachability_);
  reachability_ = nullptr;
}

void VTUReachabilityChecker::setReachabilityApi(const VTUReachabilityApi* api) {
  if (reachability_) {
    VTULoggerLogError(vtu::kReachabilityService, false, reachabilityCode(902000),
                      vtu::kReachabilityApiChangeMessage);
    return;
  }
  reachabilityApi_ = api;
}

void VTUReachabilityChecker::setReachabilityDelegate(
    const std::shared_ptr<platform::Object>& delegate) {
  if (delegate && !std::dynamic_pointer_cast<VTUReachabilityDelegate>(delegate)) {
    VTULoggerLogError(vtu::kReachabilityService, false,
                      platform::format(vtu::kNetworkCodeFormat, 902005L),
                      vtu::kReachabilityDelegateMessage);
    return;
  }
  reachabilityDelegate_ = delegate;
}

VTUReachabilityStatus VTUReachabilityChecker::statusForFlags(platform::ReachabilityFlags flags) {
  if (!(flags & platform::kReachabilityFlagsReachable)) return VTUReachabilityStatus::Disconnected;
  const VTUReachabilityStatus candidate = (flags & platform::kReachabilityFlagsIsWWAN)
                                              ? VTUReachabilityStatus::Cellular
                                              : VTUReachabilityStatus::WiFi;
  if (!(flags & platform::kReachabilityFlagsConnectionRequired)) return candidate;
  if (!(flags & (platform::kReachabilityFlagsConnectionOnTraffic |
                 platform::kReachabilityFlagsConnectionOnDemand))) {
    return VTUReachabilityStatus::Disconnected;
  }
  return (flags & platform::kReachabilityFlagsInterventionRequired)
             ? VTUReachabilityStatus::Disconnected
             : candidate;
}

void VTUReachabilityChecker::reachabilityFlagsChanged(platform::ReachabilityFlags flags) {
  const VTUReachabilityStatus status = statusForFlags(flags);
  if (status == reachabilityStatus_) return;
  VTULoggerLogDebug(vtu::kReachabilityService, false, reachabilityCode(902004),
                    vtu::kReachabilityChangedMessage, static_cast<long>(status),
                    statusName(status));
  reachabilityStatus_ = status;
  auto delegate = std::dynamic_pointer_cast<VTUReachabilityDelegate>(reachabilityDelegate_.lock());
  if (delegate) delegate->reachabilityStatusChanged(this, status);
}
