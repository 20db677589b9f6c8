// A purging cache: a key-value store with a count limit that evicts the least recently used
// entries when full, and that its owner may empty at any time. It only ever holds copies of
// what lives elsewhere. Thread-safe.
#pragma once

#include <cstddef>
#include <list>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

namespace platform {

template <class Key, class V>
class Cache {
 public:
  explicit Cache(std::size_t countLimit = 0) : countLimit_(countLimit) {}  // 0: no limit

  std::optional<V> objectForKey(const Key& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = index_.find(key);
    if (it == index_.end()) return std::nullopt;
    order_.splice(order_.begin(), order_, it->second);
    return it->second->second;
  }
  void setObject(V value, const Key& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = index_.find(key);
    if (it != index_.end()) {
      it->second->second = std::move(value);
      order_.splice(order_.begin(), order_, it->second);
      return;
    }
    order_.emplace_front(key, std::move(value));
    index_[key] = order_.begin();
    while (countLimit_ > 0 && order_.size() > countLimit_) {
      index_.erase(order_.back().first);
      order_.pop_back();
    }
  }
  void removeObjectForKey(const Key& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = index_.find(key);
    if (it == index_.end()) return;
    order_.erase(it->second);
    index_.erase(it);
  }
  void removeAllObjects() {
    std::lock_guard<std::mutex> lock(mutex_);
    order_.clear();
    index_.clear();
  }
  std::size_t countLimit() const { return countLimit_; }
  std::size_t count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return order_.size();
  }

 private:
  using Entry = std::pair<Key, V>;
  mutable std::mutex mutex_;
  std::size_t countLimit_;
  std::list<Entry> order_;
  std::unordered_map<Key, typename std::list<Entry>::iterator> index_;
};

}  // namespace platform
