// The key-value store face shared by the engine's configuration stores (MSRPersistentDictionary,
// MSRUserDefaults). Keys are non-empty strings; values are property-list values (string, number,
// array, dictionary, date, data). Implementations may be called from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/base/Error.h"
#include "platform/base/Value.h"

class MSRConfigStore {
 public:
  virtual ~MSRConfigStore() = default;

  // Nil when absent; nil with *error set when the value is not known because the store's file
  // cannot be read now (not "absent"), and the next read tries the file again. A read that decides
  // a write, a removal or a consent asks for the error.
  virtual platform::Value objectForKey(const std::string& key,
                                       platform::ErrorPtr* error = nullptr) = 0;
  virtual platform::Value arrayForKey(const std::string& key) = 0;       // nil unless an array
  virtual platform::Value dictionaryForKey(const std::string& key) = 0;  // nil unless a dictionary
  virtual std::optional<std::string> stringForKey(const std::string& key) = 0;
  virtual std::int64_t integerForKey(const std::string& key) = 0;
  virtual float floatForKey(const std::string& key) = 0;
  virtual double doubleForKey(const std::string& key) = 0;
  virtual bool boolForKey(const std::string& key) = 0;
  // Nil removes. A value that is not a property-list value is refused (logged, nothing stored).
  virtual void setObject(const platform::Value& value, const std::string& key) = 0;
  virtual void setFloat(float value, const std::string& key) = 0;
  virtual void setDouble(double value, const std::string& key) = 0;
  virtual void setInteger(std::int64_t value, const std::string& key) = 0;
  virtual void setBool(bool value, const std::string& key) = 0;
  virtual void removeObjectForKey(const std::string& key) = 0;
  virtual void clearAllData() = 0;
  virtual void synchronize() = 0;
};

// The typed getters of both stores: a class check on objectForKey.
class MSRTypedConfigStore : public MSRConfigStore {
 public:
  platform::Value arrayForKey(const std::string& key) override;
  platform::Value dictionaryForKey(const std::string& key) override;
  std::optional<std::string> stringForKey(const std::string& key) override;
  std::int64_t integerForKey(const std::string& key) override;
  float floatForKey(const std::string& key) override;
  double doubleForKey(const std::string& key) override;
  bool boolForKey(const std::string& key) override;
  void setFloat(float value, const std::string& key) override;
  void setDouble(double value, const std::string& key) override;
  void setInteger(std::int64_t value, const std::string& key) override;
  void setBool(bool value, const std::string& key) override;
};

// True for the values a configuration store keeps: property-list values all the way down that
// its file can hold under a key of its top-level dictionary.
bool MSRIsConfigValue(const platform::Value& value);
