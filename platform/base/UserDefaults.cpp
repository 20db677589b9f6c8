#include "platform/base/UserDefaults.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "platform/base/Bundle.h"
#include "platform/base/FileLock.h"
#include "platform/base/Files.h"
#include "platform/base/ProcessInfo.h"
#include "platform/base/PropertyList.h"
#include "platform/base/StoreFile.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

void logProblem(const std::string& message) {
  std::fprintf(stderr, "UserDefaults: %s\n", message.c_str());
}

bool isSafeDomainName(const std::string& name) {
  return !name.empty() && name.find('/') == std::string::npos &&
         name.find("..") == std::string::npos && name.find('\0') == std::string::npos;
}

// What identifies one version of a file, to notice that another process replaced it.
struct FileStamp {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  long long mtimeNanoseconds = 0;
  bool operator==(const FileStamp&) const = default;
};

FileStamp stampOf(const struct stat& st) {
  FileStamp s;
  s.exists = true;
  s.device = st.st_dev;
  s.inode = st.st_ino;
  s.size = st.st_size;
  s.mtimeNanoseconds =
      static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  return s;
}

FileStamp stampOf(const fs::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return stampOf(st);
}

// A value read from the command line: a property list when it is written as one, else the
// text itself.
Value argumentValue(const std::string& text) {
  if (text.starts_with("<")) {
    Value parsed = parsePropertyList(text);
    if (!parsed.isNil()) return parsed;
  }
  return Value(text);
}

}  // namespace

namespace {

using SteadyClock = std::chrono::steady_clock;

// A domain's write comes this long after its last change.
constexpr std::chrono::milliseconds kWriteDelay{1000};
// A write that failed is tried again after this, then after twice the wait of the time before, up
// to kLongestRetryDelay, until one succeeds.
constexpr std::chrono::milliseconds kFirstRetryDelay{1000};
constexpr std::chrono::milliseconds kLongestRetryDelay{5 * 60 * 1000};

// Writes domains when they fall due, on a thread of its own; once the process exits, the exit
// flush waits for every write under way, whichever thread started it (synchronize, a removed
// domain, this writer), and then writes every change still pending; later changes are written at
// once. Never destroyed: changes may still come in while the process exits. Lock order: a
// domain's mutex, then the writer's; the writer never holds its own mutex while it writes.
class DelayedWriter {
 public:
  static DelayedWriter& shared() {
    static auto* writer = new DelayedWriter;
    return *writer;
  }

  // Writes the domain at `due` (a later call moves the time). False when the process is exiting:
  // the caller writes now.
  bool schedule(const std::shared_ptr<UserDefaults::Domain>& domain, SteadyClock::time_point due) {
    std::lock_guard lock(mutex_);
    if (exiting_) return false;
    if (!started_) {
      started_ = true;
      std::atexit([] { DelayedWriter::shared().flushAtExit(); });
      std::thread([this] { run(); }).detach();
    }
    due_[domain] = due;
    wake_.notify_all();
    return true;
  }

  void cancel(const std::shared_ptr<UserDefaults::Domain>& domain) {
    std::lock_guard lock(mutex_);
    due_.erase(domain);
  }

  // A write of the domain begins on the calling thread: off the schedule, and waited for at exit.
  // One step, so that the exit flush never sees the domain in neither place.
  void beginWrite(const std::shared_ptr<UserDefaults::Domain>& domain) {
    std::lock_guard lock(mutex_);
    due_.erase(domain);
    underWay_.insert(domain);
  }
  void endWrite(const std::shared_ptr<UserDefaults::Domain>& domain) {
    std::lock_guard lock(mutex_);
    underWay_.erase(domain);
  }

  // Takes every domain off the schedule, with those being written now; their owners write them
  // (a domain's write waits for one under way).
  std::vector<std::shared_ptr<UserDefaults::Domain>> takeAll() {
    std::lock_guard lock(mutex_);
    return takeAllLocked();
  }

 private:
  std::vector<std::shared_ptr<UserDefaults::Domain>> takeAllLocked() {
    std::set<std::shared_ptr<UserDefaults::Domain>> all(writing_.begin(), writing_.end());
    all.insert(underWay_.begin(), underWay_.end());
    for (auto& [domain, due] : due_) all.insert(domain);
    due_.clear();
    return {all.begin(), all.end()};
  }

  void run();
  void flushAtExit();

  std::mutex mutex_;
  std::condition_variable wake_;
  bool started_ = false;
  bool exiting_ = false;
  std::map<std::shared_ptr<UserDefaults::Domain>, SteadyClock::time_point> due_;
  // Taken off the schedule by the writer thread and not yet written.
  std::set<std::shared_ptr<UserDefaults::Domain>> writing_;
  // Being written now, by any thread.
  std::set<std::shared_ptr<UserDefaults::Domain>> underWay_;
};

using Changes = std::map<std::string, std::optional<Value>>;

void applyChanges(const Changes& changes, Value::Dictionary* base) {
  for (const auto& [key, value] : changes) {
    if (value) {
      base->insert_or_assign(key, *value);
    } else {
      base->erase(key);
    }
  }
}

// The file's dictionary: Read and Missing give one (empty when missing); Undecodable gives an
// empty one. `info` receives the status of the descriptor read.
StoreFile::Status readFile(const fs::path& path, Value::Dictionary* out, ErrorPtr* error,
                           StoreFile::Damaged damaged, struct stat* info = nullptr) {
  out->clear();
  return StoreFile::read(
      path,
      [out](std::string_view bytes) {
        if (bytes.empty()) return true;
        Value parsed = parsePropertyList(bytes);
        if (!parsed.isDictionary()) return false;
        *out = *parsed.dictionary();
        return true;
      },
      "UserDefaults", error, damaged, info);
}

}  // namespace

// Reads and changes are served from memory under `mutex`, which is never held across file work
// or the inter-process lock. File work (writes, reloads) is serialised in the process by
// `fileMutex`, taken before the inter-process lock and never while `mutex` is held. A write takes
// the pending changes under `mutex`, works on the file outside it, and then, under `mutex` again,
// shows readers the file as written with the changes made meanwhile over it, or puts back what
// did not get written.
struct UserDefaults::Domain : std::enable_shared_from_this<UserDefaults::Domain> {
  explicit Domain(std::string n) : name(std::move(n)) {}

  const std::string name;
  std::mutex mutex;
  std::mutex fileMutex;
  // The file has been read (or found missing, or cleared) at least once. Until then the domain
  // holds only the changes made here.
  bool loaded = false;
  // What readers see: the file as last read with this process's changes over it.
  Value::Dictionary values;
  // Changes not yet written: a clear first (every key the file holds then goes), then key by key;
  // nullopt removes. A write re-reads the file under the inter-process lock and applies these over
  // it, so another process's keys survive.
  bool clearPending = false;
  Changes changes;
  // The changes a write under way took; a load meanwhile applies them too.
  bool writingClear = false;
  Changes writing;
  FileStamp stamp;
  // Why the file could not be read the last time it was tried; null once it reads.
  ErrorPtr readError;
  bool unreadableLogged = false;
  // Logged once until a write succeeds again.
  bool writeFailureLogged = false;
  // The back-off of failed writes: no scheduled write before retryAt.
  std::chrono::milliseconds retryDelay = kFirstRetryDelay;
  SteadyClock::time_point retryAt{};

  fs::path file() const { return SandboxHome::preferences() / (name + ".plist"); }

  // What is pending over the file's content. Caller holds the mutex.
  void applyPending(Value::Dictionary* base) const {
    if (writingClear) base->clear();
    applyChanges(writing, base);
    if (clearPending) base->clear();
    applyChanges(changes, base);
  }

  // Reads the file for readers, holding neither mutex. One that does not decode is read again
  // under the inter-process lock, and only there moved aside: a writer in another process may
  // just have replaced it with a good one.
  // The stamp is that of the file whose bytes were read, taken from its descriptor: a file renamed
  // over the path meanwhile is another one, and synchronize must see it as a change.
  StoreFile::Status readForLoad(Value::Dictionary* out, ErrorPtr* error, FileStamp* readStamp) {
    fs::path path = file();
    files::removeStaleTemporaryFilesOnce(path.parent_path(), false);
    struct stat read {};
    auto status = readFile(path, out, error, StoreFile::Damaged::Keep, &read);
    *readStamp = status == StoreFile::Status::Missing ? FileStamp{} : stampOf(read);
    if (status == StoreFile::Status::Undecodable) {
      if (auto lock = FileLock::acquire(FileLock::lockFileFor(path), error)) {
        read = {};
        status = readFile(path, out, error, StoreFile::Damaged::MoveAside, &read);
        // Writers hold the lock: a file moved aside, or one that stays, is what the path shows.
        *readStamp = status == StoreFile::Status::Read ? stampOf(read) : stampOf(path);
      }
    }
    return status;
  }

  // Caller holds the mutex.
  void noteRead(StoreFile::Status status, const ErrorPtr& error) {
    if (status != StoreFile::Status::Unreadable) {
      unreadableLogged = false;
      readError.reset();
      return;
    }
    readError = error ? error
                      : Error::withDescription(kFileErrorDomain, kFileReadCorruptFileError,
                                               "\"" + file().string() + "\" could not be read");
    if (!unreadableLogged) {
      logProblem("cannot read the preferences file " + file().string() + " (" +
                 (error ? error->localizedDescription() : std::string("unknown error")) +
                 "); it is kept and read again later");
    }
    unreadableLogged = true;
  }

  // Readers see the file's content with what is pending over it. Caller holds the mutex.
  void adopt(Value::Dictionary base, const FileStamp& readStamp) {
    applyPending(&base);
    values = std::move(base);
    stamp = readStamp;
    loaded = true;
  }

  // Reads the file on first use, with `lock` let go meanwhile. Stays unloaded while the file
  // cannot be read (readError tells why).
  void ensureLoaded(std::unique_lock<std::mutex>& lock) {
    if (loaded) return;
    lock.unlock();
    Value::Dictionary base;
    ErrorPtr error;
    FileStamp readStamp;
    auto status = readForLoad(&base, &error, &readStamp);
    lock.lock();
    noteRead(status, error);
    // A write or another load that finished meanwhile knows better.
    if (loaded || status == StoreFile::Status::Unreadable) return;
    adopt(std::move(base), readStamp);
  }

  // Reads the file again. False while it cannot be read. Caller holds fileMutex.
  bool reload() {
    Value::Dictionary base;
    ErrorPtr error;
    FileStamp readStamp;
    auto status = readForLoad(&base, &error, &readStamp);
    std::lock_guard lock(mutex);
    noteRead(status, error);
    if (status == StoreFile::Status::Unreadable) return false;
    adopt(std::move(base), readStamp);
    return true;
  }

  // Schedules the write of what is pending: a second after the last change, and not before a
  // failed write's back-off ends. False when it must be written now. Caller holds the mutex.
  bool scheduleWrite() {
    return DelayedWriter::shared().schedule(shared_from_this(),
                                            std::max(SteadyClock::now() + kWriteDelay, retryAt));
  }

  // Records a change; false when it must be written now. Caller holds the mutex.
  bool change(const std::string& key, std::optional<Value> value) {
    if (value) {
      values.insert_or_assign(key, *value);
    } else {
      values.erase(key);
    }
    changes.insert_or_assign(key, std::move(value));
    return scheduleWrite();
  }

  // Records a change from any thread and schedules its write; written at once while the process
  // exits.
  void record(const std::string& key, std::optional<Value> value) {
    bool scheduled;
    {
      std::unique_lock<std::mutex> lock(mutex);
      ensureLoaded(lock);
      scheduled = change(key, std::move(value));
    }
    if (!scheduled) persist();
  }

  // Records a clear of the whole domain: the keys the file holds when it is written go too.
  // False when it must be written now. Caller holds the mutex.
  bool clear() {
    values.clear();
    changes.clear();
    clearPending = true;
    loaded = true;
    return scheduleWrite();
  }

  bool persist() {
    std::lock_guard fileLock(fileMutex);
    return persistLocked();
  }

  // Writes the pending changes over what the file holds now, under the inter-process lock. On
  // failure they stay pending (a change made meanwhile wins over one put back) and the write is
  // tried again later, after a longer wait each time. Caller holds fileMutex, not the mutex.
  bool persistLocked() {
    {
      std::lock_guard lock(mutex);
      if (changes.empty() && !clearPending) {
        DelayedWriter::shared().cancel(shared_from_this());
        return true;
      }
      DelayedWriter::shared().beginWrite(shared_from_this());
      writing = std::move(changes);
      changes.clear();
      writingClear = std::exchange(clearPending, false);
    }
    fs::path path = file();
    ErrorPtr error;
    bool ok = false;
    bool read = false;
    auto status = StoreFile::Status::Missing;
    Value::Dictionary merged;
    FileStamp written;
    if (files::createDirectory(path.parent_path(), true, &error)) {
      if (auto lock = FileLock::acquire(FileLock::lockFileFor(path), &error)) {
        status = readFile(path, &merged, &error, StoreFile::Damaged::MoveAside);
        read = true;
        // An unreadable file, or a damaged one that could not be moved aside, is never written
        // over.
        bool writable = status == StoreFile::Status::Read || status == StoreFile::Status::Missing ||
                        (status == StoreFile::Status::Undecodable && !files::exists(path));
        if (writable) {
          // `writing` is only read here, and only changed under fileMutex.
          if (writingClear) merged.clear();
          applyChanges(writing, &merged);
          if (merged.empty()) {
            ok =
                files::removeItem(path, &error) || (error && error->code() == kFileNoSuchFileError);
          } else if (auto bytes =
                         serializePropertyList(Value(merged), PropertyListFormat::Binary, &error)) {
            ok = files::writeAtomically(path, *bytes, &error, 0600);
          }
          // Taken under the lock: another process may replace the file as soon as it is let go.
          if (ok) written = stampOf(path);
        }
      }
    }
    std::lock_guard lock(mutex);
    DelayedWriter::shared().endWrite(shared_from_this());
    if (read) noteRead(status, error);
    if (ok) {
      writing.clear();
      writingClear = false;
      adopt(std::move(merged), written);
      writeFailureLogged = false;
      retryDelay = kFirstRetryDelay;
      retryAt = {};
      return true;
    }
    // What was taken came before what changed since; a clear made since drops it.
    if (!clearPending) {
      for (auto& [key, value] : writing) changes.try_emplace(key, std::move(value));
      clearPending = writingClear;
    }
    writing.clear();
    writingClear = false;
    if (error && !unreadableLogged && !writeFailureLogged) {
      logProblem("could not write " + path.string() + ": " + error->localizedDescription() +
                 "; the changes are kept and written later");
      writeFailureLogged = true;
    }
    retryAt = SteadyClock::now() + retryDelay;
    retryDelay = std::min(retryDelay * 2, kLongestRetryDelay);
    DelayedWriter::shared().schedule(shared_from_this(), retryAt);
    return false;
  }
};

namespace {

void DelayedWriter::run() {
  std::unique_lock lock(mutex_);
  while (true) {
    if (due_.empty()) {
      wake_.wait(lock);
      continue;
    }
    auto now = SteadyClock::now();
    auto next = SteadyClock::time_point::max();
    std::vector<std::shared_ptr<UserDefaults::Domain>> ready;
    for (auto it = due_.begin(); it != due_.end();) {
      if (it->second <= now && !writing_.count(it->first)) {
        ready.push_back(it->first);
        writing_.insert(it->first);
        it = due_.erase(it);
      } else {
        next = std::min(next, it->second);
        ++it;
      }
    }
    if (ready.empty()) {
      wake_.wait_until(lock, next);
      continue;
    }
    lock.unlock();
    for (const auto& domain : ready) {
      domain->persist();
      std::lock_guard writerLock(mutex_);
      writing_.erase(domain);
    }
    lock.lock();
  }
}

void DelayedWriter::flushAtExit() {
  std::vector<std::shared_ptr<UserDefaults::Domain>> all;
  {
    std::lock_guard lock(mutex_);
    exiting_ = true;
    all = takeAllLocked();
  }
  for (const auto& domain : all) domain->persist();
}

}  // namespace

namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<UserDefaults::Domain>> domains;
  std::shared_ptr<UserDefaults> standard;
  bool argumentsParsed = false;
  unsigned long argumentsGeneration = 0;
  Value::Dictionary arguments;
};

Registry& registry() {
  static auto* r = new Registry();
  return *r;
}

std::shared_ptr<UserDefaults::Domain> domainNamed(const std::string& name) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto& slot = r.domains[name];
  if (!slot) slot = std::make_shared<UserDefaults::Domain>(name);
  return slot;
}

// "-key value" pairs of the launch arguments; a dash followed by another option is a bare flag
// and sets nothing.
Value argumentDomainValue(const std::string& key) {
  auto& info = ProcessInfo::processInfo();
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  unsigned long generation = info.argumentsGeneration();
  if (!r.argumentsParsed || generation != r.argumentsGeneration) {
    r.arguments.clear();
    auto args = info.arguments();
    for (std::size_t i = 1; i < args.size(); ++i) {
      const std::string& a = args[i];
      if (a.size() < 2 || a[0] != '-') continue;
      if (i + 1 < args.size() && !ProcessInfo::isOption(args[i + 1])) {
        r.arguments.insert_or_assign(a.substr(1), argumentValue(args[i + 1]));
        ++i;
      }
    }
    r.argumentsParsed = true;
    r.argumentsGeneration = generation;
  }
  if (key.empty()) return Value(r.arguments);
  auto it = r.arguments.find(key);
  return it == r.arguments.end() ? Value() : it->second;
}

}  // namespace

UserDefaults::UserDefaults(std::shared_ptr<Domain> domain) : domain_(std::move(domain)) {}

std::shared_ptr<UserDefaults> UserDefaults::standardUserDefaults() {
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (r.standard) return r.standard;
  }
  std::string name = Bundle::mainBundle()->bundleIdentifier();
  if (!isSafeDomainName(name)) name = ProcessInfo::processInfo().processName();
  if (!isSafeDomainName(name)) name = "tavo-vastrow-soundboard";
  auto made = std::make_shared<UserDefaults>(domainNamed(name));
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  if (!r.standard) r.standard = made;
  return r.standard;
}

std::shared_ptr<UserDefaults> UserDefaults::initWithSuiteName(const std::string& suiteName) {
  if (!isSafeDomainName(suiteName)) return nullptr;
  return std::make_shared<UserDefaults>(domainNamed(suiteName));
}

void UserDefaults::resetForTesting() {
  // Like a relaunch: what the process changed reaches the disk first.
  for (const auto& domain : DelayedWriter::shared().takeAll()) domain->persist();
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.domains.clear();
  r.standard.reset();
  r.argumentsParsed = false;
  r.arguments.clear();
}

const std::string& UserDefaults::domainName() const { return domain_->name; }

Value UserDefaults::objectForKey(const std::string& key, ErrorPtr* error) const {
  Value fromArguments = argumentDomainValue(key);
  if (!key.empty() && !fromArguments.isNil()) return fromArguments;
  std::unique_lock<std::mutex> lock(domain_->mutex);
  domain_->ensureLoaded(lock);
  // While the file cannot be read, only a key this process changed has a known value.
  if (!domain_->loaded && !domain_->changes.count(key) && !domain_->writing.count(key)) {
    setError(error, domain_->readError);
    return Value();
  }
  auto it = domain_->values.find(key);
  return it == domain_->values.end() ? Value() : it->second;
}

bool UserDefaults::setObject(const Value& value, const std::string& key) {
  if (value.isNil()) {
    removeObjectForKey(key);
    return true;
  }
  // Checked as it will sit in the file, under a key of its top-level dictionary: a value the file
  // cannot hold would make every later write of the domain fail, other keys' changes with it.
  if (!isPropertyListValue(value, 1)) {
    logProblem("refused to store a " + value.className() + " for the key \"" + key + "\": " +
               (isPropertyListValue(value) ? "nested too deeply for the preferences file"
                                           : "not a property-list value"));
    return false;
  }
  if (key.find('\0') != std::string::npos) {
    // The file could not hold it: taking it would make every later write of the domain fail.
    logProblem("refused to store a value for a key holding a NUL character");
    return false;
  }
  domain_->record(key, value);
  return true;
}

void UserDefaults::removeObjectForKey(const std::string& key) {
  // Recorded whether or not this process has seen the key: another process may have written it.
  domain_->record(key, std::nullopt);
}

bool UserDefaults::boolForKey(const std::string& key) const {
  return objectForKey(key).boolValue();
}

long UserDefaults::integerForKey(const std::string& key) const {
  return static_cast<long>(objectForKey(key).int64Value());
}

double UserDefaults::doubleForKey(const std::string& key) const {
  return objectForKey(key).doubleValue();
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const {
  Value v = objectForKey(key);
  if (v.isString()) return *v.string();
  if (v.isNumber()) return v.description();
  return std::nullopt;
}

Value UserDefaults::arrayForKey(const std::string& key) const {
  Value v = objectForKey(key);
  return v.isArray() ? v : Value();
}

Value UserDefaults::dictionaryForKey(const std::string& key) const {
  Value v = objectForKey(key);
  return v.isDictionary() ? v : Value();
}

Value UserDefaults::dictionaryRepresentation() const {
  Value::Dictionary merged;
  {
    std::unique_lock<std::mutex> lock(domain_->mutex);
    domain_->ensureLoaded(lock);
    merged = domain_->values;
  }
  Value arguments = argumentDomainValue("");
  for (const auto& [key, value] : *arguments.dictionary()) merged.insert_or_assign(key, value);
  return Value(std::move(merged));
}

bool UserDefaults::synchronize() {
  // Waits for a write under way; readers meanwhile are answered from memory.
  std::lock_guard<std::mutex> fileLock(domain_->fileMutex);
  bool pending;
  std::optional<FileStamp> loadedStamp;
  {
    std::lock_guard<std::mutex> lock(domain_->mutex);
    pending = !domain_->changes.empty() || domain_->clearPending;
    if (domain_->loaded) loadedStamp = domain_->stamp;
  }
  if (pending) return domain_->persistLocked();
  // Without changes, the file is read again when another process replaced it.
  if (loadedStamp && stampOf(domain_->file()) == *loadedStamp) return true;
  return domain_->reload();
}

void UserDefaults::removePersistentDomainForName(const std::string& domainName) {
  if (!isSafeDomainName(domainName)) return;
  auto domain = domainNamed(domainName);
  {
    std::lock_guard<std::mutex> lock(domain->mutex);
    domain->clear();
  }
  // Written now: the file goes, with whatever another process put in it.
  domain->persist();
}

}  // namespace platform
