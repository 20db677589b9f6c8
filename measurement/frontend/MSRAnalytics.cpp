#include "measurement/frontend/MSRAnalytics.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRDataTypeValidator.h"
#include "measurement/foundation/MSRMonitor.h"
#include "measurement/foundation/MSRScheduler.h"
#include "measurement/frontend/LMOAnalyticsConstants.h"
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
  std::atomic<bool> isStarted{false};

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
  static auto* token = new platform::ObservationToken(
      platform::NotificationCenter::defaultCenter().addObserver(
          lmo_analytics::kConfigurationSetEnabledNotification, Value(), nullptr,
          [](const platform::Notification& notification) {
            auto it = notification.userInfo.find(lmo_analytics::kConfigurationSetEnabledNotification);
            if (it != notification.userInfo.end() && it->second.isNumber()) {
              MSRMeasurement::setCollectionSwitch(it->second.boolValue());
            }
          }));
  return token != nullptr;
}();

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
    f.analyticsQueue->async([appID, options] {
      MSRMeasurement::sharedInstanceWithAppID(appID, options);
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
  // The user's collection switch travels with the event as it stood at this call.
  const std::optional<bool> collectionSwitch = MSRMeasurement::collectionSwitch();
  f.timestampQueue->sync([&] {
    const double timestamp = platform::Clock::current().now();
    f.operationQueue->addOperation([origin, isPublicEvent, name, timestamp, collectionSwitch,
                                    parameters = parameters.value_or(Value::Dictionary())] {
      auto engine = MSRMeasurement::sharedInstance();
      if (!engine) return;
      engine->scheduler()->scheduleOnWorkerQueueBlockID(
          lmo_analytics::kLogEventBlockID,
          [engine, origin, isPublicEvent, name, timestamp, collectionSwitch, parameters] {
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

namespace {

// Waits until the blocks queued on `queue` so far have run.
bool drain(const platform::DispatchQueuePtr& queue, double timeoutSeconds) {
  auto group = platform::DispatchGroup::create();
  group->enter();
  queue->async([group] { group->leave(); });
  return group->wait(timeoutSeconds);
}

}  // namespace

bool MSRAnalytics::waitUntilEventsAreHandled(double timeoutSeconds) {
  Facade& f = facade();
  if (!f.isStarted) return false;
  // First the engine's creation (which releases the operation queue), then the operations, which
  // post their events to the worker queue, then the worker queue itself.
  if (!drain(f.analyticsQueue, timeoutSeconds)) return false;
  if (!f.operationQueue->waitUntilAllOperationsAreFinished(timeoutSeconds)) return false;
  auto engine = MSRMeasurement::sharedInstance();
  return engine && drain(engine->scheduler()->workerQueue(), timeoutSeconds);
}

const platform::DispatchQueuePtr& MSRAnalytics::analyticsQueue() { return facade().analyticsQueue; }

const platform::OperationQueuePtr& MSRAnalytics::operationQueue() {
  return facade().operationQueue;
}
