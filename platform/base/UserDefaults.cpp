#include "platform/base/UserDefaults.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>
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

FileStamp stampOf(const fs::path& path) {
  struct stat st {};
  FileStamp s;
  if (::stat(path.c_str(), &st) != 0) return s;
  s.exists = true;
  s.device = st.st_dev;
  s.inode = st.st_ino;
  s.size = st.st_size;
  s.mtimeNanoseconds =
      static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  return s;
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

bool looksLikeNumber(const std::string& s) {
  return s.size() > 1 && s[0] == '-' &&
         (std::isdigit(static_cast<unsigned char>(s[1])) || s[1] == '.');
}

}  // namespace

namespace {

// Writes domains one second after their last change, on a thread of its own; once the process
// exits, every change is written at once instead. Never destroyed: changes may still come in
// while the process exits. Lock order: a domain's mutex, then the writer's.
class DelayedWriter {
 public:
  static DelayedWriter& shared() {
    static auto* writer = new DelayedWriter;
    return *writer;
  }

  // Caller holds the domain's mutex. False when the process is exiting: write now.
  bool schedule(const std::shared_ptr<UserDefaults::Domain>& domain) {
    std::lock_guard lock(mutex_);
    if (exiting_) return false;
    if (!started_) {
      started_ = true;
      std::atexit([] { DelayedWriter::shared().flushAtExit(); });
      std::thread([this] { run(); }).detach();
    }
    due_[domain] = std::chrono::steady_clock::now() + kDelay;
    wake_.notify_all();
    return true;
  }

  // Caller holds the domain's mutex.
  void cancel(const std::shared_ptr<UserDefaults::Domain>& domain) {
    std::lock_guard lock(mutex_);
    due_.erase(domain);
  }

  // Takes every pending domain off the schedule (their owners write them).
  std::vector<std::shared_ptr<UserDefaults::Domain>> takeAll() {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<UserDefaults::Domain>> all;
    for (auto& [domain, due] : due_) all.push_back(domain);
    due_.clear();
    return all;
  }

 private:
  static constexpr std::chrono::milliseconds kDelay{1000};

  void run();
  void flushAtExit();

  std::mutex mutex_;
  std::condition_variable wake_;
  bool started_ = false;
  bool exiting_ = false;
  std::map<std::shared_ptr<UserDefaults::Domain>, std::chrono::steady_clock::time_point> due_;
};

}  // namespace

struct UserDefaults::Domain : std::enable_shared_from_this<UserDefaults::Domain> {
  explicit Domain(std::string n) : name(std::move(n)) {}

  const std::string name;
  std::mutex mutex;
  // The file has been read (or found missing) at least once. Until then the domain holds only
  // the changes made here, and nothing is written: the file may hold values it cannot see.
  bool loaded = false;
  // What readers see: the file as last read with this process's changes over it.
  Value::Dictionary values;
  // Changes not yet written, key by key; nullopt removes. A write re-reads the file under the
  // inter-process lock and applies these over it, so another process's keys survive.
  std::map<std::string, std::optional<Value>> changes;
  FileStamp stamp;
  bool unreadableLogged = false;

  fs::path file() const { return SandboxHome::preferences() / (name + ".plist"); }

  // The file's dictionary: Read and Missing give one (empty when missing); Undecodable gives an
  // empty one once the damaged file is out of the way. Caller holds the mutex.
  StoreFile::Status readFile(Value::Dictionary* out, ErrorPtr* error) {
    fs::path path = file();
    out->clear();
    auto status = StoreFile::read(
        path,
        [out](std::string_view bytes) {
          if (bytes.empty()) return true;
          Value parsed = parsePropertyList(bytes);
          if (!parsed.isDictionary()) return false;
          *out = *parsed.dictionary();
          return true;
        },
        "UserDefaults", error);
    if (status == StoreFile::Status::Unreadable) {
      if (!unreadableLogged) {
        logProblem("cannot read the preferences file " + path.string() + " (" +
                   (*error ? (*error)->localizedDescription() : std::string("unknown error")) +
                   "); it is kept and read again later");
      }
      unreadableLogged = true;
    } else {
      unreadableLogged = false;
    }
    return status;
  }

  void applyChanges(Value::Dictionary* base) const {
    for (const auto& [key, value] : changes) {
      if (value) {
        base->insert_or_assign(key, *value);
      } else {
        base->erase(key);
      }
    }
  }

  // Reads the file again; values become its content with the pending changes over it. False
  // while the file cannot be read. Caller holds the mutex.
  bool load() {
    files::removeStaleTemporaryFilesOnce(file().parent_path(), false);
    Value::Dictionary base;
    ErrorPtr error;
    auto status = readFile(&base, &error);
    stamp = stampOf(file());
    if (status == StoreFile::Status::Unreadable) return false;
    applyChanges(&base);
    values = std::move(base);
    loaded = true;
    return true;
  }

  void ensureLoaded() {
    if (!loaded) load();
  }

  // Records a change and schedules its write. Caller holds the mutex.
  void change(const std::string& key, std::optional<Value> value) {
    if (value) {
      values.insert_or_assign(key, *value);
    } else {
      values.erase(key);
    }
    changes.insert_or_assign(key, std::move(value));
    if (!DelayedWriter::shared().schedule(shared_from_this())) persist();
  }

  // Writes the pending changes over what the file holds now, under the inter-process lock.
  // On failure the changes stay pending and another write is scheduled. Caller holds the mutex.
  bool persist() {
    DelayedWriter::shared().cancel(shared_from_this());
    if (changes.empty()) return true;
    fs::path path = file();
    ErrorPtr error;
    bool ok = false;
    if (files::createDirectory(path.parent_path(), true, &error)) {
      if (auto lock = FileLock::acquire(FileLock::lockFileFor(path), &error)) {
        Value::Dictionary merged;
        auto status = readFile(&merged, &error);
        // An unreadable file, or a damaged one that could not be moved aside, is never written
        // over.
        bool writable = status == StoreFile::Status::Read || status == StoreFile::Status::Missing ||
                        (status == StoreFile::Status::Undecodable && !files::exists(path));
        if (writable) {
          applyChanges(&merged);
          if (merged.empty()) {
            ok =
                files::removeItem(path, &error) || (error && error->code() == kFileNoSuchFileError);
          } else if (auto bytes =
                         serializePropertyList(Value(merged), PropertyListFormat::Binary, &error)) {
            ok = files::writeAtomically(path, *bytes, &error, 0600);
          }
          if (ok) {
            values = std::move(merged);
            changes.clear();
            loaded = true;
          }
        }
      }
    }
    stamp = stampOf(path);
    if (!ok) {
      if (error && !unreadableLogged) {
        logProblem("could not write " + path.string() + ": " + error->localizedDescription());
      }
      DelayedWriter::shared().schedule(shared_from_this());
    }
    return ok;
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
    auto now = std::chrono::steady_clock::now();
    auto next = std::chrono::steady_clock::time_point::max();
    std::vector<std::shared_ptr<UserDefaults::Domain>> ready;
    for (const auto& [domain, due] : due_) {
      if (due <= now) {
        ready.push_back(domain);
      } else {
        next = std::min(next, due);
      }
    }
    if (ready.empty()) {
      wake_.wait_until(lock, next);
      continue;
    }
    lock.unlock();
    for (const auto& domain : ready) {
      std::lock_guard domainLock(domain->mutex);
      // A change since may have moved its time on; only a domain still due is written.
      bool stillDue = false;
      {
        std::lock_guard writerLock(mutex_);
        auto it = due_.find(domain);
        stillDue = it != due_.end() && it->second <= std::chrono::steady_clock::now();
      }
      if (stillDue) domain->persist();
    }
    lock.lock();
  }
}

void DelayedWriter::flushAtExit() {
  {
    std::lock_guard lock(mutex_);
    exiting_ = true;
  }
  for (const auto& domain : takeAll()) {
    std::lock_guard domainLock(domain->mutex);
    domain->persist();
  }
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
      if (i + 1 < args.size() && (!args[i + 1].starts_with("-") || looksLikeNumber(args[i + 1]))) {
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
  for (const auto& domain : DelayedWriter::shared().takeAll()) {
    std::lock_guard lock(domain->mutex);
    domain->persist();
  }
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.domains.clear();
  r.standard.reset();
  r.argumentsParsed = false;
  r.arguments.clear();
}

const std::string& UserDefaults::domainName() const { return domain_->name; }

Value UserDefaults::objectForKey(const std::string& key) const {
  Value fromArguments = argumentDomainValue(key);
  if (!key.empty() && !fromArguments.isNil()) return fromArguments;
  std::lock_guard<std::mutex> lock(domain_->mutex);
  domain_->ensureLoaded();
  auto it = domain_->values.find(key);
  return it == domain_->values.end() ? Value() : it->second;
}

bool UserDefaults::setObject(const Value& value, const std::string& key) {
  if (value.isNil()) {
    removeObjectForKey(key);
    return true;
  }
  if (!isPropertyListValue(value)) {
    logProblem("refused to store a " + value.className() + " for the key \"" + key +
               "\": not a property-list value");
    return false;
  }
  std::lock_guard<std::mutex> lock(domain_->mutex);
  domain_->ensureLoaded();
  domain_->change(key, value);
  return true;
}

void UserDefaults::removeObjectForKey(const std::string& key) {
  std::lock_guard<std::mutex> lock(domain_->mutex);
  domain_->ensureLoaded();
  // Unread, the file may hold the key.
  if (domain_->values.count(key) > 0 || !domain_->loaded) domain_->change(key, std::nullopt);
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
    std::lock_guard<std::mutex> lock(domain_->mutex);
    domain_->ensureLoaded();
    merged = domain_->values;
  }
  Value arguments = argumentDomainValue("");
  for (const auto& [key, value] : *arguments.dictionary()) merged.insert_or_assign(key, value);
  return Value(std::move(merged));
}

bool UserDefaults::synchronize() {
  std::lock_guard<std::mutex> lock(domain_->mutex);
  if (!domain_->changes.empty()) return domain_->persist();
  if (!domain_->loaded) return domain_->load();
  if (!(stampOf(domain_->file()) == domain_->stamp)) return domain_->load();
  return true;
}

void UserDefaults::removePersistentDomainForName(const std::string& domainName) {
  if (!isSafeDomainName(domainName)) return;
  auto domain = domainNamed(domainName);
  std::lock_guard<std::mutex> lock(domain->mutex);
  DelayedWriter::shared().cancel(domain);
  domain->changes.clear();
  domain->values.clear();
  domain->loaded = true;
  fs::path path = domain->file();
  ErrorPtr error;
  bool ok = !files::exists(path);
  if (!ok) {
    if (auto fileLock = FileLock::acquire(FileLock::lockFileFor(path), &error)) {
      ok = files::removeItem(path, &error) || (error && error->code() == kFileNoSuchFileError);
    }
  }
  if (!ok) {
    logProblem("could not remove " + path.string() + ": " +
               (error ? error->localizedDescription() : std::string("unknown error")));
  }
  domain->stamp = stampOf(path);
}

}  // namespace platform
