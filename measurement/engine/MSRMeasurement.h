// The measurement engine. Deliberately minimal: it owns the worker scheduler
// ("com.veltro.lma.worker") with its "Measurement timer" alarm and the measurement database, and
// stores each logged event as a raw event while collection is enabled; it bundles, uploads,
// keeps sessions and reports automatic events not at all. The class accessors monitor() and
// remoteConfig() are defined in measurement_foundation, so the rooms below the engine link
// without it. The shared engine is created once and never destroyed; its database and start
// options are touched only on the worker queue.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/base/Value.h"

class MSRAlarm;
class MSRDatabase;
class MSRMonitor;
class MSRPBMeasurementBundle;
class MSRPersistedConfig;
class MSRRemoteConfig;
class MSRScheduler;

// The user's collection switch as it stood at one moment: its value (none when neither made nor
// persisted), or not known, while the persisted state could not be read. An event logged while it
// was not known has the switch read on the worker queue when the event is handled.
struct MSRCollectionSwitch {
  std::optional<bool> value;
  bool known = true;
};

class MSRMeasurement : public std::enable_shared_from_this<MSRMeasurement> {
 public:
  // The shared monitor, created on first use with the library version number. Never null.
  static std::shared_ptr<MSRMonitor> monitor();
  // The engine's remote configuration; no configuration is fetched yet, so this is the default
  // instance whether or not the engine exists.
  static std::shared_ptr<MSRRemoteConfig> remoteConfig();

  // The engine, once the analytics front end has created it; null before.
  static std::shared_ptr<MSRMeasurement> sharedInstance();
  // Creates the shared engine on the first call and starts its components on the worker queue;
  // later calls return it unchanged. `options` are the front end's start options (collection
  // switches).
  static std::shared_ptr<MSRMeasurement> sharedInstanceWithAppID(
      const std::string& appID, const platform::Value::Dictionary& options);

  const std::shared_ptr<MSRScheduler>& scheduler() const { return scheduler_; }
  const std::shared_ptr<MSRAlarm>& alarm() const { return alarm_; }
  const std::string& appID() const { return appID_; }

  // The user's collection switch as it stands now (any thread): the last switch made in this
  // process (setCollectionSwitch), else the persisted enabled state; nullopt when neither exists.
  // Events carry the value of the moment they were logged, so a switch takes effect for the
  // events logged after it and for none logged before, however long they wait for the worker.
  // Answered from memory: only a call made before anything tried to load the persisted state
  // reads it. After a read that could not reach the file the switch is not known, and the next
  // need on the worker queue reads again (a caller's thread never waits for the file).
  static MSRCollectionSwitch collectionSwitch();
  // Any thread: what "LMOAnalyticsConfigurationSetEnabledNotification" told the process.
  static void setCollectionSwitch(bool enabled);
  // Any thread: reads the persisted enabled state from the standard defaults and keeps it for
  // collectionSwitch(); false, keeping nothing, when the defaults' file could not be read. The
  // facade calls it as it starts, an engine as its components start.
  static bool loadPersistedCollectionSwitch();

  // Worker queue only. Null until the components have started or while the file cannot be
  // opened; an event tries again a few seconds after a failure that may pass.
  const std::shared_ptr<MSRDatabase>& database() const { return database_; }
  // The start options' deactivation wins, then the switch, then the start options' enabled
  // switch (on when absent). That one may be an MSRDeferredSwitch: nullopt while it is not known;
  // `askAgain` asks it (which may wait for a file) instead of taking only a kept answer.
  static std::optional<bool> measurementEnabledWithOptions(
      const platform::Value::Dictionary& options, std::optional<bool> collectionSwitch,
      bool askAgain = false);
  // With the switch as it stands now.
  // Worker queue only (a switch not known yet is read here); false while it cannot be read.
  bool isMeasurementEnabled() const;

  // Worker queue only. Sanitises the parameters, builds the event and stores it as a raw event
  // with its metadata when collection was enabled by `collectionSwitch`, the switch as it stood
  // when the event was logged. A switch that was not known then is read now, and so is a start
  // option's switch that is not known yet; while either still cannot be read the event is not
  // stored (it may be the user's refusal). False when nothing was stored.
  bool logEventOnWorkerQueue(const std::string& origin, bool isPublic, const std::string& name,
                             double timestamp, const platform::Value::Dictionary* parameters,
                             MSRCollectionSwitch collectionSwitch);
  // For an event logged on the worker queue itself: the switch as it stands now.
  bool logEventOnWorkerQueue(const std::string& origin, bool isPublic, const std::string& name,
                             double timestamp, const platform::Value::Dictionary* parameters) {
    return logEventOnWorkerQueue(origin, isPublic, name, timestamp, parameters, collectionSwitch());
  }

  // An engine of its own (the shared one is made by sharedInstanceWithAppID); its components
  // start when startComponents() is called.
  MSRMeasurement(std::string appID, platform::Value::Dictionary options);
  // Queues the start of the components on the worker queue: the monitor's context encoding (on
  // for an App Store build), the persisted configuration and the database.
  void startComponents();

 private:
  void startComponentsOnWorkerQueue();
  // Opens the database (a second attempt at once when the first fails); after a failure, sets
  // when the next event may try again.
  void openDatabase();
  // The switch an event is decided by; none when it is still not known.
  static std::optional<std::optional<bool>> knownCollectionSwitch(MSRCollectionSwitch logged);

  const std::string appID_;
  const platform::Value::Dictionary options_;
  std::shared_ptr<MSRScheduler> scheduler_;
  std::shared_ptr<MSRAlarm> alarm_;
  // Worker queue only.
  std::shared_ptr<MSRPersistedConfig> persistedConfig_;
  std::shared_ptr<MSRDatabase> database_;
  std::shared_ptr<MSRPBMeasurementBundle> metadata_;
  std::int64_t metadataFingerprint_ = 0;
  std::int64_t storedRawEvents_ = 0;
  // Uptime from which an event tries again to open a database that failed to open.
  double nextDatabaseOpenUptime_ = 0;
};
