#include "utilities/storage/VTUUserDefaults.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <set>

#include "platform/dispatch/DispatchQueue.h"
#include "utilities/VTUConstants.h"
#include "utilities/logger/VTULogger.h"

namespace {

constexpr double kSynchronizeDelay = 1.0;

std::string code(long number) { return platform::format(vtu::kUserDefaultsCodeFormat, number); }

// Never destroyed: other threads may still change defaults, and so schedule here, while the
// process exits.
const platform::DispatchQueuePtr& synchronizeQueue() {
  static auto* q = new platform::DispatchQueuePtr(
      platform::DispatchQueue::create("com.vtu.UserDefaults.synchronize"));
  return *q;
}

}  // namespace

// The scheduled synchronisation of one object. `generation` cancels earlier requests: only the
// request made by the last change runs. It outlives its object so that a request still queued
// when the object goes finds nothing to do.
struct VTUUserDefaults::Pending {
  std::mutex mutex;
  std::uint64_t generation = 0;
  bool scheduled = false;
  bool alive = true;
  std::shared_ptr<platform::UserDefaults> defaults;
  std::atomic<std::uint64_t> synchronizeCount{0};
};

namespace {

// Pending synchronisations run at exit, so a change made less than a second before the
// process ends still reaches the disk.
std::mutex& registryMutex() {
  static std::mutex* m = new std::mutex();
  return *m;
}
std::set<std::shared_ptr<VTUUserDefaults::Pending>>& registry() {
  static auto* r = new std::set<std::shared_ptr<VTUUserDefaults::Pending>>();
  return *r;
}
void flushAtExit() {
  std::set<std::shared_ptr<VTUUserDefaults::Pending>> pending;
  {
    std::lock_guard<std::mutex> lock(registryMutex());
    pending.swap(registry());
  }
  for (const auto& p : pending) {
    std::lock_guard<std::mutex> lock(p->mutex);
    if (p->scheduled) p->defaults->synchronize();
  }
}

}  // namespace

std::shared_ptr<VTUUserDefaults> VTUUserDefaults::standardUserDefaults() {
  // Never destroyed, for the same reason as the queue.
  static auto* shared = new std::shared_ptr<VTUUserDefaults>(init());
  return *shared;
}

std::shared_ptr<VTUUserDefaults> VTUUserDefaults::init() { return initWithSuiteName(""); }

std::shared_ptr<VTUUserDefaults> VTUUserDefaults::initWithSuiteName(const std::string& suiteName) {
  return std::make_shared<VTUUserDefaults>(suiteName);
}

VTUUserDefaults::VTUUserDefaults(std::string suiteName)
    : suiteName_(std::move(suiteName)), pending_(std::make_shared<Pending>()) {
  defaults_ = suiteName_.empty() ? platform::UserDefaults::standardUserDefaults()
                                 : platform::UserDefaults::initWithSuiteName(suiteName_);
  // A suite name the platform refuses (a path separator, "..") leaves no storage at all rather
  // than falling back to another domain: reads give nil and writes are dropped.
  pending_->defaults = defaults_;
  static std::once_flag atExit;
  std::call_once(atExit, [] { std::atexit(flushAtExit); });
}

VTUUserDefaults::~VTUUserDefaults() {
  // Cancels the pending synchronisation, the one at exit included; the platform store already
  // holds every change.
  {
    std::lock_guard<std::mutex> lock(pending_->mutex);
    pending_->alive = false;
    pending_->scheduled = false;
    ++pending_->generation;
  }
  std::lock_guard<std::mutex> lock(registryMutex());
  registry().erase(pending_);
}

platform::Value VTUUserDefaults::objectForKey(const std::string& key,
                                              platform::ErrorPtr* error) const {
  if (key.empty()) {
    VTULoggerLogWarning(vtu::kUserDefaultsReadService, false, code(1), vtu::kInvalidGetKeyMessage);
    return {};
  }
  return defaults_ ? defaults_->objectForKey(key, error) : platform::Value();
}

void VTUUserDefaults::setObject(const platform::Value& value, const std::string& key) {
  if (key.empty()) {
    VTULoggerLogWarning(vtu::kUserDefaultsService, false, code(2), vtu::kInvalidSetKeyMessage);
    return;
  }
  if (value.isNil()) {
    if (defaults_) defaults_->removeObjectForKey(key);
    scheduleSynchronize();
    return;
  }
  using Kind = platform::Value::Kind;
  switch (value.kind()) {
    case Kind::String:
    case Kind::Number:
    case Kind::Array:
    case Kind::Dictionary:
    case Kind::Date:
    case Kind::Data:
      if (defaults_ && !defaults_->setObject(value, key)) {
        // The platform refuses a collection holding something a property list cannot keep.
        VTULoggerLogWarning(vtu::kUserDefaultsService, false, code(3), vtu::kInvalidValueMessage,
                            value);
        return;
      }
      scheduleSynchronize();
      return;
    default:
      VTULoggerLogWarning(vtu::kUserDefaultsService, false, code(3), vtu::kInvalidValueMessage,
                          value);
      return;
  }
}

void VTUUserDefaults::removeObjectForKey(const std::string& key) { setObject({}, key); }

long VTUUserDefaults::integerForKey(const std::string& key) const {
  return static_cast<long>(objectForKey(key).int64Value());
}
float VTUUserDefaults::floatForKey(const std::string& key) const {
  return static_cast<float>(objectForKey(key).doubleValue());
}
double VTUUserDefaults::doubleForKey(const std::string& key) const {
  return objectForKey(key).doubleValue();
}
bool VTUUserDefaults::boolForKey(const std::string& key) const {
  return objectForKey(key).boolValue();
}
platform::Value VTUUserDefaults::stringForKey(const std::string& key) const {
  return objectForKey(key);
}
platform::Value VTUUserDefaults::arrayForKey(const std::string& key) const {
  return objectForKey(key);
}
platform::Value VTUUserDefaults::dictionaryForKey(const std::string& key) const {
  return objectForKey(key);
}

void VTUUserDefaults::setInteger(long value, const std::string& key) { setObject(value, key); }
void VTUUserDefaults::setFloat(float value, const std::string& key) { setObject(value, key); }
void VTUUserDefaults::setDouble(double value, const std::string& key) { setObject(value, key); }
void VTUUserDefaults::setBool(bool value, const std::string& key) { setObject(value, key); }

void VTUUserDefaults::synchronize() {
  pending_->synchronizeCount.fetch_add(1);
  if (defaults_ && !defaults_->synchronize()) {
    VTULoggerLogError(vtu::kUserDefaultsService, false, code(4), vtu::kSynchronizeFailedMessage);
  }
}

std::uint64_t VTUUserDefaults::synchronizeCountForTesting() const {
  return pending_->synchronizeCount.load();
}

platform::DispatchQueuePtr VTUUserDefaults::synchronizeQueueForTesting() {
  return synchronizeQueue();
}

void VTUUserDefaults::scheduleSynchronize() {
  std::uint64_t generation;
  {
    std::lock_guard<std::mutex> lock(pending_->mutex);
    generation = ++pending_->generation;
    pending_->scheduled = true;
  }
  {
    std::lock_guard<std::mutex> lock(registryMutex());
    registry().insert(pending_);
  }
  std::weak_ptr<VTUUserDefaults> weakSelf = weak_from_this();
  std::shared_ptr<Pending> pending = pending_;
  synchronizeQueue()->after(kSynchronizeDelay, [weakSelf, pending, generation] {
    {
      std::lock_guard<std::mutex> lock(pending->mutex);
      if (!pending->alive || pending->generation != generation) return;
      pending->scheduled = false;
    }
    {
      std::lock_guard<std::mutex> lock(registryMutex());
      registry().erase(pending);
    }
    if (auto self = weakSelf.lock()) self->synchronize();
  });
}
