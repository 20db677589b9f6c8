#include "utilities/VTUMutableDictionary.h"

#include "utilities/VTUConstants.h"

using platform::Value;

VTUMutableDictionary::VTUMutableDictionary()
    : queue_(platform::DispatchQueue::create(vtu::kMutableDictionaryQueueLabel)) {}

VTUMutableDictionary::~VTUMutableDictionary() {
  queue_->sync([] {});
}

Value VTUMutableDictionary::objectForKey(const std::string& key) const {
  Value result;
  queue_->sync([&] {
    auto it = objects_.find(key);
    if (it != objects_.end()) result = it->second;
  });
  return result;
}

void VTUMutableDictionary::setObject(const Value& value, const std::string& key) {
  queue_->async([this, value, key] {
    if (value.isNil()) {
      objects_.erase(key);
    } else {
      objects_[key] = value;
    }
  });
}

void VTUMutableDictionary::removeObjectForKey(const std::string& key) {
  queue_->async([this, key] { objects_.erase(key); });
}

void VTUMutableDictionary::removeAllObjects() {
  queue_->async([this] { objects_.clear(); });
}

std::size_t VTUMutableDictionary::count() const {
  std::size_t n = 0;
  queue_->sync([&] { n = objects_.size(); });
  return n;
}

Value::Dictionary VTUMutableDictionary::dictionary() const {
  Value::Dictionary copy;
  queue_->sync([&] { copy = objects_; });
  return copy;
}

std::string VTUMutableDictionary::description() const { return Value(dictionary()).description(); }
