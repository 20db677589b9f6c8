// Named notifications: post delivers synchronously on the posting thread to every matching
// observer (or asynchronously onto the observer's queue when it gave one). Observation tokens
// remove themselves when the last reference goes. Thread-safe; an observer added during a post is
// first called by the next post, and one removed during a post is not called again.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/base/Value.h"
#include "platform/dispatch/DispatchQueue.h"

namespace platform {

struct Notification {
  std::string name;
  Value object;  // the sender, or nil
  Value::Dictionary userInfo;
};

class NotificationObservation;  // opaque; destroying the last reference removes the observer
using ObservationToken = std::shared_ptr<NotificationObservation>;

class NotificationCenter {
 public:
  static NotificationCenter& defaultCenter();

  void post(const std::string& name, const Value& object = Value(),
            const Value::Dictionary& userInfo = {});

  // `name` empty matches every name; `object` nil matches every sender (objects by identity,
  // other values by equality); `queue` null delivers on the posting thread. `owner` groups
  // observations for removeObserver(owner) and may be null.
  [[nodiscard]] ObservationToken addObserver(const std::string& name, const Value& object,
                                             DispatchQueuePtr queue,
                                             std::function<void(const Notification&)> block,
                                             const void* owner = nullptr);
  void removeObservation(const ObservationToken& token);
  // Removes every observation added with this owner.
  void removeObserver(const void* owner);
};

}  // namespace platform
