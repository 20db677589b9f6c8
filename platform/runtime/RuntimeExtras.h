// Observation of an object-valued property of a runtime object ("delegate" / "setDelegate:"):
// the first observer of a property on a class wraps that class's setter so that every change made
// through message send tells the observers of that object (old value, new value), after the
// change. The wrapper stays in place; objects nobody observes pay one lookup per set.
// Thread-safe; observers are called on the setting thread, outside every lock.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/runtime/Runtime.h"

namespace platform::runtime {

using PropertyObserver = std::function<void(ObjectPtr oldValue, ObjectPtr newValue)>;

// Observes `key` of the object: its getter is the selector `key` (ObjectPtr(Object&)), its setter
// "set<Key>:" (void(Object&, ObjectPtr)). Null (and nothing observed) when the object is null or
// its class has no such setter. The observation ends when the returned token is released.
std::shared_ptr<void> observeObjectProperty(const ObjectPtr& object, const std::string& key,
                                            PropertyObserver observer);

}  // namespace platform::runtime
