// A dictionary that several threads may use at once: every access runs on its own serial queue
// "VTUMutableDictionary". Reads wait for every write queued before them; writes return at once.
// A read must not be made from a block already running on the same dictionary's queue.
#pragma once

#include <string>

#include "platform/base/Value.h"
#include "platform/dispatch/DispatchQueue.h"

class VTUMutableDictionary {
 public:
  VTUMutableDictionary();
  // Waits for the writes still queued, which refer to this object.
  ~VTUMutableDictionary();
  VTUMutableDictionary(const VTUMutableDictionary&) = delete;
  VTUMutableDictionary& operator=(const VTUMutableDictionary&) = delete;

  platform::Value objectForKey(const std::string& key) const;
  platform::Value operator[](const std::string& key) const { return objectForKey(key); }
  // A nil value removes the key.
  void setObject(const platform::Value& value, const std::string& key);
  void removeObjectForKey(const std::string& key);
  void removeAllObjects();
  std::size_t count() const;
  platform::Value::Dictionary dictionary() const;
  std::string description() const;

 private:
  platform::Value::Dictionary objects_;
  platform::DispatchQueuePtr queue_;
};
