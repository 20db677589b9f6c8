// The engine's instance side. Its class accessors (monitor, remoteConfig) live in
// measurement_foundation; see MSRMeasurement.h.
#include "measurement/engine/MSRMeasurement.h"

#include <limits>
#include <mutex>

#include "measurement/engine/MSRDeferredSwitch.h"
#include "measurement/engine/MSRMeasurementConstants.h"
#include "measurement/engine/MSRRemoteConfig.h"
#include "measurement/foundation/MSRAlarm.h"
#include "measurement/foundation/MSRConstants.h"
#include "measurement/foundation/MSREvent.h"
#include "measurement/foundation/MSRMonitor.h"
#include "measurement/foundation/MSRScheduler.h"
#include "measurement/foundation/MSRUtilities.h"
#include "measurement/messages/MSRPBAccessors.h"
#include "measurement/messages/MSRPBMeasurementBundle.h"
#include "measurement/messages/MSRPBSchema.h"
#include "measurement/storage/MSRDatabase.h"
#include "measurement/storage/MSRPersistedConfig.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "measurement/storage/MSRUserDefaults.h"
#include "platform/dispatch/Clock.h"
#include "utilities/VTUAppEnvironmentUtil.h"

using platform::Value;

namespace {

std::mutex& sharedMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}
// Leaked on purpose: the engine serves until the process ends.
std::shared_ptr<MSRMeasurement>& sharedEngine() {
  static auto* engine = new std::shared_ptr<MSRMeasurement>;
  return *engine;
}

// The user's collection switch as this process knows it. Logging an event reads it on the
// caller's thread, so it is kept in memory: the persisted state is read from the defaults only
// when the facade or an engine starts (or at the first need before that, or on the worker queue
// after a read that could not reach the file), and every later switch of this process arrives
// through setCollectionSwitch.
struct CollectionSwitch {
  std::mutex mutex;
  // The switch made in this process, if any.
  std::optional<bool> made;
  bool persistedRead = false;
  // A read was tried; until one succeeds the persisted state is not known.
  bool persistedTried = false;
  std::optional<bool> persisted;
};
CollectionSwitch& collectionSwitchState() {
  static auto* state = new CollectionSwitch;
  return *state;
}

// The persisted enabled state (none when none, or an unknown one, is stored); false when the
// defaults' file could not be read.
bool readPersistedCollectionSwitch(std::optional<bool>* persisted) {
  platform::ErrorPtr error;
  const Value state = MSRUserDefaults::standardUserDefaults()->objectForKey(
      kMSRConfigKeyMeasurementEnabledState, &error);
  persisted->reset();
  if (error) return false;
  if (!state.isNumber()) return true;
  if (state.int64Value() == msr_engine::kMeasurementEnabledStateEnabled) *persisted = true;
  if (state.int64Value() == msr_engine::kMeasurementEnabledStateDisabled) *persisted = false;
  return true;
}

// The slot of a MeasurementBundle field by its wire tag.
std::int32_t bundleSlotOfTag(std::uint32_t tag) {
  const MSRPBMessageType* type = MSRPBMessageTypeNamed("MeasurementBundle");
  for (std::uint32_t slot = 0; type && slot < type->fieldCount; ++slot) {
    if (type->fields[slot].tag == tag) return static_cast<std::int32_t>(slot);
  }
  return -1;
}
constexpr std::uint32_t kBundleAppIDTag = 14;

}  // namespace

std::shared_ptr<MSRMeasurement> MSRMeasurement::sharedInstance() {
  std::lock_guard lock(sharedMutex());
  return sharedEngine();
}

std::shared_ptr<MSRMeasurement> MSRMeasurement::sharedInstanceWithAppID(
    const std::string& appID, const Value::Dictionary& options) {
  std::shared_ptr<MSRMeasurement> engine;
  {
    std::lock_guard lock(sharedMutex());
    if (sharedEngine()) return sharedEngine();
    sharedEngine() = std::make_shared<MSRMeasurement>(appID, options);
    engine = sharedEngine();
  }
  engine->startComponents();
  return engine;
}

void MSRMeasurement::startComponents() {
  auto self = shared_from_this();
  scheduler_->scheduleOnWorkerQueueBlockID(msr_engine::kStartBlockID,
                                           [self] { self->startComponentsOnWorkerQueue(); });
}

MSRMeasurement::MSRMeasurement(std::string appID, Value::Dictionary options)
    : appID_(std::move(appID)), options_(std::move(options)) {
  monitor();  // the engine logs through it from its first block on
  scheduler_ = MSRScheduler::initWithWorkerQueueLabel(kMSRWorkerQueueLabel);
  alarm_ = MSRAlarm::initWithDispatchQueue(scheduler_->workerQueue(), msr_engine::kAlarmName);
}

void MSRMeasurement::startComponentsOnWorkerQueue() {
  monitor()->setEncodeContexts(VTUAppEnvironmentUtil::isFromAppStore());
  loadPersistedCollectionSwitch();
  persistedConfig_ = MSRPersistedConfig::sharedInstance();
  // Every event of this run shares one metadata row: the bundle-level context is the app ID.
  metadata_ = MSRPBMeasurementBundle::message();
  MSRPBSetStringField(metadata_, bundleSlotOfTag(kBundleAppIDTag), Value(appID_));
  metadataFingerprint_ = msr_64LSBMD5(metadata_->protoBuffer().value_or(platform::Bytes()));
  openDatabase();
}

void MSRMeasurement::openDatabase() {
  platform::ErrorPtr error;
  // A failed opening is tried a second time at once before the engine gives up for now.
  for (int attempt = 0; attempt < 2 && !database_; ++attempt) {
    error.reset();
    database_ = MSRDatabase::initWithDatabaseName(kMSRDatabaseName, persistedConfig_, &error);
  }
  if (!database_) {
    monitor()->logWithLevel(1, msr_engine::kDatabaseOpenFailedCode, msr_engine::kDatabaseOpenFailed,
                            error ? Value(error) : Value());
    // What failed may pass (a lock held elsewhere, a folder in the way, a full disk): a later
    // event tries again once the back-off has passed. A refused argument (no path for the file)
    // stays refused for the life of the process.
    const bool permanent = error && error->code() == msr_engine::kInvalidArgumentErrorCode;
    nextDatabaseOpenUptime_ =
        permanent ? std::numeric_limits<double>::infinity()
                  : platform::Clock::current().uptime() + msr_engine::kDatabaseOpenRetrySeconds;
    return;
  }
  const Value count =
      database_->sqliteStore()->numberForQuery("SELECT COUNT(*) FROM raw_events", {}, &error);
  storedRawEvents_ = count.isNumber() ? count.int64Value() : remoteConfig()->maxEventsStored();
}

bool MSRMeasurement::loadPersistedCollectionSwitch() {
  // Read without the state's mutex: the defaults may be slow, and callers of collectionSwitch()
  // must never wait for them.
  std::optional<bool> persisted;
  const bool read = readPersistedCollectionSwitch(&persisted);
  CollectionSwitch& state = collectionSwitchState();
  std::lock_guard lock(state.mutex);
  state.persistedTried = true;
  // A read that could not reach the file is no read: the state stays unknown, never "none".
  if (!read) return false;
  state.persisted = persisted;
  state.persistedRead = true;
  return true;
}

MSRCollectionSwitch MSRMeasurement::collectionSwitch() {
  CollectionSwitch& state = collectionSwitchState();
  {
    std::lock_guard lock(state.mutex);
    if (state.made) return {state.made};
    if (state.persistedRead) return {state.persisted};
    // Read again on the worker queue, not on this caller's thread.
    if (state.persistedTried) return {std::nullopt, false};
  }
  // Nothing has started yet: the first need reads the persisted state.
  loadPersistedCollectionSwitch();
  std::lock_guard lock(state.mutex);
  if (state.made) return {state.made};
  if (state.persistedRead) return {state.persisted};
  return {std::nullopt, false};
}

std::optional<std::optional<bool>> MSRMeasurement::knownCollectionSwitch(
    MSRCollectionSwitch logged) {
  if (logged.known) return logged.value;
  if (!loadPersistedCollectionSwitch()) return std::nullopt;
  CollectionSwitch& state = collectionSwitchState();
  std::lock_guard lock(state.mutex);
  return state.persisted;
}

bool MSRMeasurement::isMeasurementEnabled() const {
  const auto known = knownCollectionSwitch(collectionSwitch());
  return known && measurementEnabledWithOptions(options_, *known, true).value_or(false);
}

void MSRMeasurement::setCollectionSwitch(bool enabled) {
  CollectionSwitch& state = collectionSwitchState();
  std::lock_guard lock(state.mutex);
  state.made = enabled;
}

std::optional<bool> MSRMeasurement::measurementEnabledWithOptions(
    const Value::Dictionary& options, std::optional<bool> collectionSwitch, bool askAgain) {
  const auto option = [&options](const char* key) -> const Value& {
    auto it = options.find(key);
    return it == options.end() ? platform::nilValue() : it->second;
  };
  if (option(msr_engine::kOptionCollectionDeactivated).boolValue()) return false;
  if (collectionSwitch) return *collectionSwitch;
  const Value& enabled = option(msr_engine::kOptionCollectionEnabled);
  if (auto deferred = enabled.objectAs<MSRDeferredSwitch>()) {
    return askAgain ? deferred->read() : deferred->answer();
  }
  return enabled.isNil() || enabled.boolValue();
}

bool MSRMeasurement::logEventOnWorkerQueue(const std::string& origin, bool isPublic,
                                           const std::string& name, double timestamp,
                                           const Value::Dictionary* parameters,
                                           MSRCollectionSwitch collectionSwitch) {
  const auto known = knownCollectionSwitch(collectionSwitch);
  const auto enabled = known ? measurementEnabledWithOptions(options_, *known, true) : std::nullopt;
  if (!enabled) {
    // The user's choice cannot be read now and may be a refusal: the event is not stored.
    monitor()->logWithLevel(1, msr_engine::kEventDroppedSwitchUnknownCode,
                            msr_engine::kEventDroppedSwitchUnknown, Value(name));
    return false;
  }
  // Collection switched off is the user's choice, not a fault: the event goes quietly.
  if (!*enabled) return false;
  if (!database_ && platform::Clock::current().uptime() >= nextDatabaseOpenUptime_) {
    openDatabase();
  }
  if (!database_) {
    monitor()->logWithLevel(1, msr_engine::kEventDroppedNoDatabaseCode,
                            msr_engine::kEventDroppedNoDatabase, Value(name));
    return false;
  }
  // The designated initializer checks origin and name again and sanitises the parameters.
  auto event = MSREvent::initWithOrigin(origin, isPublic, name, timestamp, 0, parameters);
  if (!event) {
    monitor()->logWithLevel(1, msr_engine::kEventInvalidCode, msr_engine::kEventInvalid,
                            Value(name));
    return false;
  }
  platform::ErrorPtr error;
  // Nothing bundles or uploads the raw events yet, so the table is kept under its limit here; the
  // count is tracked in memory (only this queue writes the table) so that the trim runs only when
  // the table is full.
  const bool full = storedRawEvents_ >= remoteConfig()->maxEventsStored();
  std::int64_t deleted = 0;
  const bool stored = database_->performTransaction([&] {
    if (full) {
      const Value count = database_->deleteRawEventsOverAbsoluteLimit(&error);
      if (count.isNil()) return false;
      deleted = count.int64Value();
    }
    return database_->insertIfNotExistsRawEventMetadata(metadata_, &error) &&
           database_->insertRawEvent(event, metadataFingerprint_, event->isRealtime(), &error);
  });
  if (stored) {
    storedRawEvents_ = full ? remoteConfig()->maxEventsStored() : storedRawEvents_ + 1;
    // Events pushed out by the limit are data lost; a rolled-back transaction deleted nothing.
    if (deleted > 0) {
      monitor()->logWithLevel(4, msr_engine::kRawEventsOverLimitDeletedCode,
                              msr_engine::kRawEventsOverLimitDeleted,
                              Value(static_cast<long long>(deleted)));
    }
  }
  if (!stored) {
    monitor()->logWithLevel(1, msr_engine::kEventStoreFailedCode, msr_engine::kEventStoreFailed,
                            Value(name), error ? Value(error) : Value());
  }
  return stored;
}
