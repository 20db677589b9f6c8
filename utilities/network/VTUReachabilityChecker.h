// Watches whether one host can be reached and tells a delegate when the four-valued status
// changes. The platform's reachability functions come from a replaceable table, so the checker
// can run against substitutes. Used from the main thread; the platform callback and the
// delegate call run on the main run loop.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/base/Value.h"
#include "platform/network/Reachability.h"

enum class VTUReachabilityStatus : std::int32_t {
  Unknown = 0,
  Disconnected = 1,
  WiFi = 2,
  Cellular = 3,
};

class VTUReachabilityChecker;

class VTUReachabilityDelegate {
 public:
  virtual ~VTUReachabilityDelegate() = default;
  virtual void reachabilityStatusChanged(VTUReachabilityChecker* reachability,
                                         VTUReachabilityStatus status) = 0;
};

// The platform functions the checker calls, in this order.
struct VTUReachabilityApi {
  platform::ReachabilityRef (*createWithNameFn)(const char* hostName);
  bool (*setCallbackFn)(platform::ReachabilityRef, platform::ReachabilityCallback,
                        const platform::ReachabilityContext*);
  bool (*scheduleWithRunLoopFn)(platform::ReachabilityRef);
  bool (*unscheduleFromRunLoopFn)(platform::ReachabilityRef);
  void (*releaseFn)(platform::ReachabilityRef);
};

// The table of the platform's own functions.
const VTUReachabilityApi* VTUReachabilityDefaultApi();

class VTUReachabilityChecker {
 public:
  // Null (and an error line) for an empty host. The delegate must adopt VTUReachabilityDelegate.
  static std::unique_ptr<VTUReachabilityChecker> initWithReachabilityDelegate(
      const std::shared_ptr<platform::Object>& delegate, const std::string& host);
  ~VTUReachabilityChecker();

  bool start();
  void stop();
  bool isActive() const { return reachability_ != nullptr; }
  VTUReachabilityStatus reachabilityStatus() const { return reachabilityStatus_; }

  const VTUReachabilityApi* reachabilityApi() const { return reachabilityApi_; }
  // Refused (error line) while a handle exists.
  void setReachabilityApi(const VTUReachabilityApi* api);

  std::shared_ptr<platform::Object> reachabilityDelegate() const { return reachabilityDelegate_.lock(); }
  // Null clears; an object that does not adopt the delegate interface is refused (error line).
  void setReachabilityDelegate(const std::shared_ptr<platform::Object>& delegate);

  static VTUReachabilityStatus statusForFlags(platform::ReachabilityFlags flags);
  void reachabilityFlagsChanged(platform::ReachabilityFlags flags);

  explicit VTUReachabilityChecker(std::string host);

 private:
  VTUReachabilityStatus reachabilityStatus_ = VTUReachabilityStatus::Unknown;
  const VTUReachabilityApi* reachabilityApi_;
  platform::ReachabilityRef reachability_ = nullptr;
  std::string host_;
  std::weak_ptr<platform::Object> reachabilityDelegate_;
};
