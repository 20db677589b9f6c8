// A configuration store that keeps one dictionary in memory and writes it as a property-list file
// "Veltro/Measurement/<name>.plist" under Application Support by itself, one second after the
// first change since its last write (one write carries every change of that second), and at once
// when it is released with a write pending. A file that cannot be read now (no descriptor free, no
// permission) is kept and never written over: the store reads it again at the next access or
// write and puts the changes made meanwhile over it. A file that reads but does not decode is
// moved aside as ".corrupt" (logged) and the store starts empty. Thread-safe: a recursive lock
// guards the content; writes run on the store's serial queue "MSRPersistentDictionary" from a
// snapshot.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "measurement/storage/MSRConfigStore.h"
#include "platform/dispatch/DispatchQueue.h"

class MSRPersistentDictionary : public MSRTypedConfigStore,
                                public std::enable_shared_from_this<MSRPersistentDictionary> {
 public:
  // Null for an empty name or when the file's folder cannot be created (logged).
  static std::shared_ptr<MSRPersistentDictionary> initWithFileName(const std::string& fileName);
  ~MSRPersistentDictionary() override;

  // While the file cannot be read, a key this store changed since is known; any other gives nil
  // with *error set.
  platform::Value objectForKey(const std::string& key,
                               platform::ErrorPtr* error = nullptr) override;
  void setObject(const platform::Value& value, const std::string& key) override;
  void removeObjectForKey(const std::string& key) override;
  void clearAllData() override;
  // Does nothing: the store writes by itself.
  void synchronize() override {}

  void schedulePersistToDisk();
  void persistToDisk();

  const std::filesystem::path& fileURL() const { return fileURL_; }
  bool hasPendingPersistence() const;
  // Where scheduled writes run (tests wait on it).
  const platform::DispatchQueuePtr& serialQueue() const { return serialQueue_; }

 private:
  MSRPersistentDictionary() = default;
  // Reads the file and puts the changes made before over it. False, with *error set, while it
  // cannot be read. Caller holds the lock.
  bool loadLocked(platform::ErrorPtr* error = nullptr);

  std::filesystem::path fileURL_;
  platform::Value::Dictionary content_;
  bool hasPendingPersistence_ = false;
  // Until the file has been read, content_ holds only the changes made here; these say what they
  // removed from the file's content.
  bool loaded_ = false;
  bool clearedBeforeLoad_ = false;
  std::set<std::string> removedBeforeLoad_;
  platform::DispatchQueuePtr serialQueue_;
  mutable std::recursive_mutex mutex_;
};
