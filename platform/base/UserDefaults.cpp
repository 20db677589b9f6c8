#include "platform/base/UserDefaults.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <map>
#include <mutex>

#include "platform/base/Bundle.h"
#include "platform/base/Files.h"
#include "platform/base/ProcessInfo.h"
#include "platform/base/PropertyList.h"

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

struct UserDefaults::Domain {
  explicit Domain(std::string n) : name(std::move(n)) {}

  const std::string name;
  std::mutex mutex;
  bool loaded = false;
  // A write that did not reach the disk; synchronize retries it.
  bool dirty = false;
  Value::Dictionary values;
  FileStamp stamp;
  // Set while a corrupt or unreadable file could not be moved aside.
  std::optional<std::string> blockedBy;

  fs::path file() const { return SandboxHome::preferences() / (name + ".plist"); }

  // Caller holds the mutex.
  void load() {
    fs::path path = file();
    values.clear();
    loaded = true;
    dirty = false;
    ErrorPtr error;
    auto bytes = files::readTextFile(path, &error);
    stamp = stampOf(path);
    if (!bytes) {
      // Something we cannot read is set aside like a corrupt file, so that the next write does
      // not replace it unseen.
      if (error && error->code() != kFileReadNoSuchFileError) {
        moveAside(path, "unreadable (" + error->localizedDescription() + ")");
      }
      return;
    }
    Value parsed = bytes->empty() ? Value() : parsePropertyList(*bytes, &error);
    if (parsed.isDictionary()) {
      values = *parsed.dictionary();
      return;
    }
    moveAside(path, "corrupt");
  }

  // Keeps the damaged file for inspection rather than writing over it. Caller holds the mutex.
  void moveAside(const fs::path& path, const std::string& why) {
    fs::path aside = path;
    aside += ".corrupt";
    for (int n = 1; files::exists(aside); ++n) {
      aside = path;
      aside += ".corrupt." + std::to_string(n);
    }
    ErrorPtr moveError;
    if (files::moveItem(path, aside, &moveError)) {
      logProblem("the preferences file " + path.string() + " is " + why + "; moved it to " +
                 aside.string());
      blockedBy.reset();
    } else {
      logProblem("the preferences file " + path.string() + " is " + why +
                 " and could not be moved aside: " + moveError->localizedDescription());
      blockedBy = why;
    }
    stamp = stampOf(path);
  }

  void ensureLoaded() {
    if (!loaded) load();
  }

  // Caller holds the mutex.
  bool persist() {
    fs::path path = file();
    // The damaged file is still in the way; writing now would destroy it.
    if (blockedBy && files::exists(path)) moveAside(path, *blockedBy);
    if (blockedBy && files::exists(path)) {
      dirty = true;
      return false;
    }
    blockedBy.reset();
    ErrorPtr error;
    bool ok = false;
    if (values.empty()) {
      ok = files::removeItem(path, &error) || (error && error->code() == kFileNoSuchFileError);
    } else if (auto bytes =
                   serializePropertyList(Value(values), PropertyListFormat::Binary, &error)) {
      ok = files::createDirectory(path.parent_path(), true, &error) &&
           files::writeAtomically(path, *bytes, &error, 0600);
    }
    if (!ok) {
      logProblem("could not write " + path.string() + ": " +
                 (error ? error->localizedDescription() : std::string("unknown error")));
    }
    dirty = !ok;
    stamp = stampOf(path);
    return ok;
  }
};

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
  domain_->values.insert_or_assign(key, value);
  domain_->persist();
  return true;
}

void UserDefaults::removeObjectForKey(const std::string& key) {
  std::lock_guard<std::mutex> lock(domain_->mutex);
  domain_->ensureLoaded();
  if (domain_->values.erase(key) > 0) domain_->persist();
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
  if (!domain_->loaded) return true;
  if (domain_->dirty) return domain_->persist();
  if (!(stampOf(domain_->file()) == domain_->stamp)) domain_->load();
  return true;
}

void UserDefaults::removePersistentDomainForName(const std::string& domainName) {
  if (!isSafeDomainName(domainName)) return;
  auto domain = domainNamed(domainName);
  std::lock_guard<std::mutex> lock(domain->mutex);
  domain->values.clear();
  domain->loaded = true;
  domain->persist();
}

}  // namespace platform
