// A key-value store over one preference domain (the application's own, or a named suite), with
// key and value checks and a synchronisation to disk one second after the last change. Values
// are visible to every reader of the domain at once. The delayed synchronisation runs on a
// shared utility queue and pending ones run at exit, so no change waits for a run loop.
// Thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/base/UserDefaults.h"
#include "platform/base/Value.h"
#include "platform/dispatch/DispatchQueue.h"

class VTUUserDefaults : public std::enable_shared_from_this<VTUUserDefaults> {
 public:
  static std::shared_ptr<VTUUserDefaults> standardUserDefaults();
  static std::shared_ptr<VTUUserDefaults> init();
  // Empty selects the application's own domain.
  static std::shared_ptr<VTUUserDefaults> initWithSuiteName(const std::string& suiteName);
  ~VTUUserDefaults();

  // Nil with *error set when the value is not known because the domain's file cannot be read
  // now (not "absent"); the next call reads again.
  platform::Value objectForKey(const std::string& key, platform::ErrorPtr* error = nullptr) const;
  void setObject(const platform::Value& value, const std::string& key);
  void removeObjectForKey(const std::string& key);

  long integerForKey(const std::string& key) const;
  float floatForKey(const std::string& key) const;
  double doubleForKey(const std::string& key) const;
  bool boolForKey(const std::string& key) const;
  // The stored object whatever its kind.
  platform::Value stringForKey(const std::string& key) const;
  platform::Value arrayForKey(const std::string& key) const;
  platform::Value dictionaryForKey(const std::string& key) const;

  void setInteger(long value, const std::string& key);
  void setFloat(float value, const std::string& key);
  void setDouble(double value, const std::string& key);
  void setBool(bool value, const std::string& key);

  void synchronize();

  const std::string& appNameRef() const { return suiteName_; }
  // How many synchronisations have run on this object (tests of the debounce).
  std::uint64_t synchronizeCountForTesting() const;
  // The queue the delayed synchronisations of every object run on.
  static platform::DispatchQueuePtr synchronizeQueueForTesting();

  explicit VTUUserDefaults(std::string suiteName);
  struct Pending;  // the scheduled synchronisation; outlives the object

 private:
  void scheduleSynchronize();

  std::string suiteName_;
  std::shared_ptr<platform::UserDefaults> defaults_;
  std::shared_ptr<Pending> pending_;
};
