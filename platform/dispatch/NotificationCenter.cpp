#include "platform/dispatch/NotificationCenter.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

namespace platform {

namespace {

struct Observer {
  std::string name;
  bool anyObject = true;
  Value object;                  // a non-object sender to match by equality
  std::weak_ptr<Object> sender;  // an object sender, matched by identity and not kept alive
  bool senderIsObject = false;
  DispatchQueuePtr queue;
  std::function<void(const Notification&)> block;
  const void* owner = nullptr;
  std::atomic<bool> removed{false};

  bool matches(const std::string& postedName, const Value& postedObject) const {
    if (!name.empty() && name != postedName) return false;
    if (anyObject) return true;
    if (senderIsObject) {
      ObjectPtr posted = postedObject.object();
      if (!posted) return false;
      // Owner comparison: an object that died cannot be confused with one at the same address.
      return !sender.owner_before(posted) && !posted.owner_before(sender);
    }
    return object == postedObject;
  }
};

struct CenterState {
  std::mutex mutex;
  std::vector<std::shared_ptr<Observer>> observers;

  void remove(const std::shared_ptr<Observer>& observer) {
    observer->removed.store(true);
    std::shared_ptr<Observer> keep;  // the block is released outside the lock
    std::lock_guard lock(mutex);
    auto found = std::find(observers.begin(), observers.end(), observer);
    if (found != observers.end()) {
      keep = std::move(*found);
      observers.erase(found);
    }
  }
};

CenterState& stateOf(NotificationCenter* center) {
  // One center exists; its state lives for the whole process.
  (void)center;
  static auto* state = new CenterState;
  return *state;
}

}  // namespace

class NotificationObservation {
 public:
  explicit NotificationObservation(std::shared_ptr<Observer> observer)
      : observer_(std::move(observer)) {}
  ~NotificationObservation() { stateOf(nullptr).remove(observer_); }
  const std::shared_ptr<Observer>& observer() const { return observer_; }

 private:
  std::shared_ptr<Observer> observer_;
};

NotificationCenter& NotificationCenter::defaultCenter() {
  static auto* center = new NotificationCenter;
  return *center;
}

void NotificationCenter::post(const std::string& name, const Value& object,
                              const Value::Dictionary& userInfo) {
  std::vector<std::shared_ptr<Observer>> matching;
  {
    auto& state = stateOf(this);
    std::lock_guard lock(state.mutex);
    for (const auto& observer : state.observers) {
      if (observer->matches(name, object)) matching.push_back(observer);
    }
  }
  if (matching.empty()) return;
  auto notification = std::make_shared<const Notification>(Notification{name, object, userInfo});
  for (const auto& observer : matching) {
    // An observer removed while this post runs (by an earlier observer's block, say) is not
    // called: its owner may already be gone.
    if (observer->removed.load()) continue;
    if (observer->queue) {
      observer->queue->async([observer, notification] {
        if (!observer->removed.load()) observer->block(*notification);
      });
    } else {
      observer->block(*notification);
    }
  }
}

ObservationToken NotificationCenter::addObserver(const std::string& name, const Value& object,
                                                 DispatchQueuePtr queue,
                                                 std::function<void(const Notification&)> block,
                                                 const void* owner) {
  auto observer = std::make_shared<Observer>();
  observer->name = name;
  observer->anyObject = object.isNil();
  if (object.isObject()) {
    observer->senderIsObject = true;
    observer->sender = object.object();
  } else {
    observer->object = object;
  }
  observer->queue = std::move(queue);
  observer->block = std::move(block);
  observer->owner = owner;
  {
    auto& state = stateOf(this);
    std::lock_guard lock(state.mutex);
    state.observers.push_back(observer);
  }
  return std::make_shared<NotificationObservation>(std::move(observer));
}

void NotificationCenter::removeObservation(const ObservationToken& token) {
  if (token) stateOf(this).remove(token->observer());
}

void NotificationCenter::removeObserver(const void* owner) {
  if (owner == nullptr) return;
  std::vector<std::shared_ptr<Observer>> removed;
  {
    auto& state = stateOf(this);
    std::lock_guard lock(state.mutex);
    auto split = std::stable_partition(state.observers.begin(), state.observers.end(),
                                       [&](const auto& o) { return o->owner != owner; });
    removed.assign(std::make_move_iterator(split), std::make_move_iterator(state.observers.end()));
    state.observers.erase(split, state.observers.end());
  }
  for (const auto& observer : removed) observer->removed.store(true);
}

}  // namespace platform
