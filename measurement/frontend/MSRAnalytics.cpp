#include "measurement/frontend/MSRAnalytics.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRDataTypeValidator.h"
#include "measurement/foundation/MSRMonitor.h"
#include "measurement/foundation/MSRScheduler.h"
#include "measurement/frontend/LMOAnalyticsConstants.h"
#include "platform/app/AppConstants.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/runtime/Runtime.h"

namespace rt = platform::runtime;
using platform::Value;

namespace {

// The facade's queues, created on first use and never destroyed.
struct Facade {
  platform::DispatchQueuePtr analyticsQueue =
      platform::DispatchQueue::create(lmo_analytics::kAnalyticsQueueLabel);
  platform::DispatchQueuePtr timestampQueue =
      platform::DispatchQueue::create(lmo_analytics::kTimestampQueueLabel);
  platform::OperationQueuePtr operationQueue =
      platform::OperationQueue::create(lmo_analytics::kOperationQueueName, analyticsQueue);
  std::once_flag started;
  // Written once, before isStarted turns true.
  Value::Dictionary startOptions;
  std::atomic<bool> isStarted{false};
  // Events accepted, whose collection switch lets them be stored, not yet handled on the worker
  // queue: those the app's end waits for, and counts as lost when they do not make it.
  std::atomic<long> pendingEvents{0};
  // Rises with every step of the facade's work (the engine made, an event handled), so that a
  // wait can tell slow work from none.
  std::atomic<long> progress{0};

  Facade() { operationQueue->setSuspended(true); }
};

Facade& facade() {
  static auto* shared = new Facade;
  return *shared;
}

const rt::ClassRegistrar kClass(
    lmo_analytics::kMSRAnalyticsClassName, rt::kRootClassName, sizeof(rt::RootObject),
    [](rt::Class& c) {
      c.addClassMethod(lmo_analytics::kLogInternalEventSelector,
                       [](platform::Object&, std::string origin, std::string name,
                          Value parameters) {
                         std::optional<Value::Dictionary> dictionary;
                         if (const auto* d = parameters.dictionary()) dictionary = *d;
                         MSRAnalytics::logInternalEventWithOrigin(origin, name, dictionary);
                       });
    });

// Every collection switch of the app core, persisted or not, is announced by this notification.
// It is observed from before main, so a switch made before analytics starts is not missed; the
// observation lasts as long as the process.
const bool kObservesCollectionSwitches = [] {
  static auto* token =
      new platform::ObservationToken(platform::NotificationCenter::defaultCenter().addObserver(
          lmo_analytics::kConfigurationSetEnabledNotification, Value(), nullptr,
          [](const platform::Notification& notification) {
            auto it =
                notification.userInfo.find(lmo_analytics::kConfigurationSetEnabledNotification);
            if (it != notification.userInfo.end() && it->second.isNumber()) {
              MSRMeasurement::setCollectionSwitch(it->second.boolValue());
            }
          }));
  return token != nullptr;
}();

// The app's end (its terminate notification, also posted when the run loop returns) waits a
// short while for the events still on their way and counts those that did not make it.
const bool kObservesTermination = [] {
  static auto* token =
      new platform::ObservationToken(platform::NotificationCenter::defaultCenter().addObserver(
          platform::app::kWillTerminateNotification, Value(), nullptr,
          [](const platform::Notification&) { MSRAnalytics::drainBeforeTermination(); }));
  return token != nullptr;
}();

void eventHandled(bool counted) {
  Facade& f = facade();
  if (counted) --f.pendingEvents;
  ++f.progress;
}

void setLogTag(const Value::Dictionary& options) {
  auto it = options.find(lmo_analytics::kStartLogTagKey);
  const std::string* tag = it == options.end() ? nullptr : it->second.string();
  if (tag && !tag->empty()) {
    MSRMeasurement::monitor()->setLogTag(*tag);
  } else {
    MSRMeasurement::monitor()->logWithLevel(lmo_analytics::kInvalidLogTagLevel,
                                            lmo_analytics::kInvalidLogTagCode,
                                            lmo_analytics::kInvalidLogTagMessage);
  }
}

}  // namespace

void MSRAnalytics::startWithAppID(const std::string& appID, const std::string& /*origin*/,
                                  const Value::Dictionary& options) {
  Facade& f = facade();
  std::call_once(f.started, [&] {
    if (!options.empty()) setLogTag(options);
    // Logging an event must not wait for the defaults: the persisted switch is read now, once.
    MSRMeasurement::loadPersistedCollectionSwitch();
    f.startOptions = options;
    f.analyticsQueue->async([appID, options] {
      MSRMeasurement::sharedInstanceWithAppID(appID, options);
      ++facade().progress;
      // Events held while start-up ran now follow the engine's creation.
      facade().operationQueue->setSuspended(false);
    });
    f.isStarted = true;
  });
}

bool MSRAnalytics::isStarted() { return facade().isStarted; }

void MSRAnalytics::logEventWithOrigin(const std::string& origin, bool isPublicEvent,
                                      const std::string& name,
                                      const std::optional<Value::Dictionary>& parameters) {
  const Value nameValue(name);
  const bool validName = isPublicEvent
                             ? MSRDataTypeValidator::isValidPublicEventName(nameValue, nullptr)
                             : MSRDataTypeValidator::isValidInternalEventName(nameValue, nullptr);
  if (!validName) return;

  Facade& f = facade();
  // Stamping and queueing happen together, so the operations keep the order they were stamped in.
  // The block only reads the clock and queues; it never waits for the engine.
  // The user's collection switch travels with the event as it stood at this call (kept in
  // memory: the call never reads the defaults).
  const MSRCollectionSwitch collectionSwitch = MSRMeasurement::collectionSwitch();
  // An event that collection keeps out of storage (by its switch or the start options) is
  // neither waited for at the app's end nor counted as lost. One whose switch (or start options'
  // switch) is not known yet is counted unless the start options rule it out.
  static const auto* kNoStartOptions = new Value::Dictionary;  // outlives every caller
  const Value::Dictionary& startOptions = f.isStarted ? f.startOptions : *kNoStartOptions;
  const bool counted =
      MSRMeasurement::measurementEnabledWithOptions(startOptions, collectionSwitch.value)
          .value_or(true);
  if (counted) ++f.pendingEvents;
  f.timestampQueue->sync([&] {
    const double timestamp = platform::Clock::current().now();
    f.operationQueue->addOperation([origin, isPublicEvent, name, timestamp, collectionSwitch,
                                    counted,
                                    parameters = parameters.value_or(Value::Dictionary())] {
      auto engine = MSRMeasurement::sharedInstance();
      if (!engine) {
        eventHandled(counted);
        return;
      }
      engine->scheduler()->scheduleOnWorkerQueueBlockID(
          lmo_analytics::kLogEventBlockID,
          [engine, origin, isPublicEvent, name, timestamp, collectionSwitch, counted, parameters] {
            // Handled even when the engine throws: the queue logs that, and nothing waits for it.
            struct HandledOnExit {
              bool counted;
              ~HandledOnExit() { eventHandled(counted); }
            } handled{counted};
            engine->logEventOnWorkerQueue(origin, isPublicEvent, name, timestamp,
                                          parameters.empty() ? nullptr : &parameters,
                                          collectionSwitch);
          });
    });
  });
}

void MSRAnalytics::logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                              const std::optional<Value::Dictionary>& parameters) {
  logEventWithOrigin(origin, false, name, parameters);
}

bool MSRAnalytics::waitUntilEventsAreHandled(double stallSeconds, double limitSeconds) {
  Facade& f = facade();
  if (!f.isStarted) return false;
  // A marker follows the events logged so far: through the operation queue (released once the
  // engine exists) to the end of the worker queue.
  auto group = platform::DispatchGroup::create();
  group->enter();
  f.timestampQueue->sync([&] {
    f.operationQueue->addOperation([group] {
      auto engine = MSRMeasurement::sharedInstance();
      if (!engine) {
        group->leave();
        return;
      }
      engine->scheduler()->scheduleOnWorkerQueueBlockID(lmo_analytics::kLogEventBlockID,
                                                        [group] { group->leave(); });
    });
  });
  // Real time: a test's fake clock does not move while the work runs.
  using RealClock = std::chrono::steady_clock;
  const auto seconds = [](RealClock::duration d) {
    return std::chrono::duration<double>(d).count();
  };
  const auto start = RealClock::now();
  auto lastProgressAt = start;
  long lastProgress = f.progress.load();
  constexpr double kSlice = 0.05;
  for (;;) {
    const auto now = RealClock::now();
    const double left =
        std::min(stallSeconds - seconds(now - lastProgressAt), limitSeconds - seconds(now - start));
    if (group->wait(std::max(0.0, std::min(kSlice, left)))) return true;
    const long seen = f.progress.load();
    if (seen != lastProgress) {
      lastProgress = seen;
      lastProgressAt = RealClock::now();
    } else if (left <= 0) {
      return false;
    }
    if (seconds(RealClock::now() - start) >= limitSeconds) return false;
  }
}

long MSRAnalytics::pendingEventCount() { return facade().pendingEvents.load(); }

void MSRAnalytics::drainBeforeTermination() {
  Facade& f = facade();
  if (f.pendingEvents.load() > 0 && f.isStarted) {
    waitUntilEventsAreHandled(lmo_analytics::kTerminationDrainSeconds,
                              lmo_analytics::kTerminationDrainSeconds);
  }
  const long lost = f.pendingEvents.load();
  if (lost > 0) {
    MSRMeasurement::monitor()->logWithLevel(
        lmo_analytics::kEventsLostAtTerminationLevel, lmo_analytics::kEventsLostAtTerminationCode,
        lmo_analytics::kEventsLostAtTermination, Value(static_cast<long long>(lost)));
  }
  // The process ends right after: the monitor's lines reach the log first.
  MSRMeasurement::monitor()->flush();
}

const platform::DispatchQueuePtr& MSRAnalytics::analyticsQueue() { return facade().analyticsQueue; }

const platform::OperationQueuePtr& MSRAnalytics::operationQueue() {
  return facade().operationQueue;
}
