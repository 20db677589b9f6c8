// One user property as the engine stores it: origin, internal name, typed value and when it was
// last set. Immutable; safe to hand between queues.
#pragma once

#include <memory>
#include <string>

#include "measurement/foundation/MSRValue.h"

class MSRPBUserAttribute;

class MSRUserAttribute {
 public:
  // Null when the name or the value fails the internal user-property rules (the validator logs).
  static std::shared_ptr<MSRUserAttribute> initWithOrigin(const std::string& origin,
                                                          const std::string& name,
                                                          MSRValuePtr value,
                                                          double lastSetTimestamp);

  const std::string& origin() const { return origin_; }
  const std::string& name() const { return name_; }
  const MSRValuePtr& value() const { return value_; }
  double lastSetTimestamp() const { return lastSetTimestamp_; }
  // A non-empty name that does not start with "_".
  bool isPublic() const { return !name_.empty() && name_[0] != '_'; }
  // The upload form: name, the value by kind (arrays carry none) and the time in milliseconds;
  // the origin is not carried.
  std::shared_ptr<MSRPBUserAttribute> protoUserAttribute() const;

 private:
  MSRUserAttribute() = default;
  std::string origin_;
  std::string name_;
  MSRValuePtr value_;
  double lastSetTimestamp_ = 0;
};
