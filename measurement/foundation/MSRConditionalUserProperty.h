// The analytics front end's conditional user property: a user property that takes effect when its
// trigger event is logged within a timeout and expires after a time to live. It lives here, below
// the front end, because the measurement database stores it. A plain value record: the setters
// check nothing. Not thread-safe: used on the engine's worker queue.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "measurement/foundation/MSREvent.h"
#include "measurement/foundation/MSRValue.h"
#include "platform/base/Value.h"

class MSRConditionalUserProperty : public platform::Object {
 public:
  MSRConditionalUserProperty() = default;
  static std::shared_ptr<MSRConditionalUserProperty> init() {
    return std::make_shared<MSRConditionalUserProperty>();
  }

  const std::string& name() const { return name_; }
  void setName(std::string name) { name_ = std::move(name); }
  const std::string& origin() const { return origin_; }
  void setOrigin(std::string origin) { origin_ = std::move(origin); }
  const MSRValuePtr& value() const { return value_; }
  void setValue(MSRValuePtr value) { value_ = std::move(value); }
  // Nil when the property waits for no event.
  const std::optional<std::string>& triggerEventName() const { return triggerEventName_; }
  void setTriggerEventName(std::optional<std::string> name) { triggerEventName_ = std::move(name); }
  double triggerTimeout() const { return triggerTimeout_; }  // seconds
  void setTriggerTimeout(double seconds) { triggerTimeout_ = seconds; }
  double timeToLive() const { return timeToLive_; }  // seconds
  void setTimeToLive(double seconds) { timeToLive_ = seconds; }
  const MSREventPtr& triggeredEvent() const { return triggeredEvent_; }
  void setTriggeredEvent(MSREventPtr event) { triggeredEvent_ = std::move(event); }
  const MSREventPtr& timedOutEvent() const { return timedOutEvent_; }
  void setTimedOutEvent(MSREventPtr event) { timedOutEvent_ = std::move(event); }
  const MSREventPtr& expiredEvent() const { return expiredEvent_; }
  void setExpiredEvent(MSREventPtr event) { expiredEvent_ = std::move(event); }
  double creationTimestamp() const { return creationTimestamp_; }  // seconds since 1970
  void setCreationTimestamp(double timestamp) { creationTimestamp_ = timestamp; }
  double triggeredTimestamp() const { return triggeredTimestamp_; }  // seconds since 1970
  void setTriggeredTimestamp(double timestamp) { triggeredTimestamp_ = timestamp; }
  bool isActive() const { return active_; }
  void setActive(bool active) { active_ = active; }

  std::string className() const override { return "MSRConditionalUserProperty"; }

 private:
  std::string name_;
  std::string origin_;
  MSRValuePtr value_;
  std::optional<std::string> triggerEventName_;
  double triggerTimeout_ = 0;
  double timeToLive_ = 0;
  MSREventPtr triggeredEvent_;
  MSREventPtr timedOutEvent_;
  MSREventPtr expiredEvent_;
  double creationTimestamp_ = 0;
  double triggeredTimestamp_ = 0;
  bool active_ = false;
};
