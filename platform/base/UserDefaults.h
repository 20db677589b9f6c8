// Preference domains: the standard one (named by the main bundle's identifier) and named suites,
// one property-list file each in "Library/Preferences/<domain>.plist". Launch arguments of the
// form "-key value" form an argument domain read before the persistent one. Every change is
// visible at once in the process; the domain reaches the disk once, one second after its last
// change (at once on synchronize; at exit, after every write under way on any thread, every
// pending change). A write re-reads the file under an inter-process lock (flock on a hidden lock
// file beside it) and applies this process's changes key by key over it, so two processes keep
// each other's keys;
// the last change of one key wins, a removal too, whether or not this process had read the key. A
// write that fails is tried again later, after twice the wait of the time before (up to five
// minutes), and logged once until one succeeds. A file that cannot be read now (no descriptor
// free, no permission) is kept and never written over: the domain reads it again later. One that
// reads but does not decode is read again under the lock and only then moved aside to
// "<domain>.plist.corrupt" (".corrupt.N" when that exists) and logged. A "-key" followed by
// another option is a bare flag and sets nothing.
// Thread-safe: reads and changes are answered from memory under one lock per domain (instances of
// one domain share its storage), which file work and the inter-process lock never hold: only the
// writer thread, synchronize and removePersistentDomainForName wait for the file (and a domain's
// first read, which reads its file once, and a damaged one again under the lock). An object may
// be shared between threads as it is. A caller that makes one change of several calls (read,
// modify, write back) holds the object's own lock around them.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/base/Error.h"
#include "platform/base/Value.h"

namespace platform {

class UserDefaults {
 public:
  static std::shared_ptr<UserDefaults> standardUserDefaults();
  // Null for an empty suite name or one holding "/", ".." or NUL.
  static std::shared_ptr<UserDefaults> initWithSuiteName(const std::string& suiteName);
  // Writes pending changes, then drops every in-memory domain so the next access reads the files
  // again (a simulated relaunch); also re-reads the launch arguments.
  static void resetForTesting();

  const std::string& domainName() const;

  // Argument domain first, then the persistent domain; nil when absent. A key whose value is not
  // known because the domain's file cannot be read now (an I/O error, no descriptor free) gives
  // nil with *error set: not "absent". A key this process changed is known. The next call reads
  // the file again.
  Value objectForKey(const std::string& key, ErrorPtr* error = nullptr) const;
  // nil removes. Refuses (false, nothing written) a value that is not a property-list value,
  // or one nested too deeply to sit under a key of the domain's file.
  bool setObject(const Value& value, const std::string& key);
  void removeObjectForKey(const std::string& key);

  bool boolForKey(const std::string& key) const;
  long integerForKey(const std::string& key) const;
  double doubleForKey(const std::string& key) const;
  // Strings as they are; numbers by their description; nullopt otherwise.
  std::optional<std::string> stringForKey(const std::string& key) const;
  Value arrayForKey(const std::string& key) const;       // nil unless an array
  Value dictionaryForKey(const std::string& key) const;  // nil unless a dictionary
  Value dictionaryRepresentation() const;

  // Writes pending changes now; without any, re-reads the file if another process changed it.
  // False when the file cannot be read or written (the changes stay pending).
  bool synchronize();
  // Removes a whole persistent domain (standard or suite) and its file, with every key another
  // process wrote there; written at once.
  void removePersistentDomainForName(const std::string& domainName);

  // Owned by this object and recursive, for read-modify-write sequences of its callers; the
  // calls above never take it.
  std::recursive_mutex& lock() const { return lock_; }

  struct Domain;
  explicit UserDefaults(std::shared_ptr<Domain> domain);

 private:
  std::shared_ptr<Domain> domain_;
  mutable std::recursive_mutex lock_;
};

}  // namespace platform
