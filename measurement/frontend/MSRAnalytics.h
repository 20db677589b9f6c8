// The analytics facade between the public interface and the measurement engine. Deliberately
// minimal: start, event logging into the measurement storage and internal events; no consent,
// user properties, screen reporting or sessions.
//
// An event travels like this: on the caller's thread the name is checked and the time stamped,
// serialised by "MSRAnalyticsTimestampQueue" so that events keep the order of their stamps; an
// operation of "MSRAnalyticsOperationQueue" (held until start-up has created the engine) carries
// it to "MSRAnalyticsQueue", which posts it to the engine's worker queue. The caller never waits
// for the engine. The user's collection switch at the call travels with the event; at the app's
// end the events still on their way get a short while to be stored, and those that do not are
// counted in a log line. Class methods only; thread-safe.
#pragma once

#include <limits>
#include <optional>
#include <string>

#include "platform/base/Value.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/OperationQueue.h"

class MSRAnalytics {
 public:
  // Once per process (later calls do nothing): takes the monitor's log tag from the option
  // "lumo_measurement_log_tag", creates the engine on "MSRAnalyticsQueue" and then releases the
  // operation queue.
  static void startWithAppID(const std::string& appID, const std::string& origin,
                             const platform::Value::Dictionary& options);
  static bool isStarted();

  // Returns at once. An event whose name breaks the naming rules is logged by the validator and
  // dropped here; parameters are sanitised later, on the worker queue.
  static void logEventWithOrigin(const std::string& origin, bool isPublicEvent,
                                 const std::string& name,
                                 const std::optional<platform::Value::Dictionary>& parameters);
  // A non-public event; parameters are numbers or engine values.
  static void logInternalEventWithOrigin(
      const std::string& origin, const std::string& name,
      const std::optional<platform::Value::Dictionary>& parameters);

  // Waits until every event logged so far has been handed to the engine and handled on its worker
  // queue. The wait goes on while the work moves (the engine made, events handled) and gives up
  // when nothing moved for `stallSeconds` of real time, or after `limitSeconds` in all. False
  // when the facade has not started or the wait gave up.
  static bool waitUntilEventsAreHandled(
      double stallSeconds, double limitSeconds = std::numeric_limits<double>::infinity());
  // Events logged and not yet handled on the worker queue, of those that collection (the switch
  // stamped on them, the start options) lets be stored.
  static long pendingEventCount();
  // At the app's end: waits at most about 2 s for the events still on their way that may be
  // stored, logs how many did not make it (25050) and flushes the monitor; events the user opted
  // out of are neither waited for nor counted. Called on the terminate notification.
  static void drainBeforeTermination();

  static const platform::DispatchQueuePtr& analyticsQueue();
  static const platform::OperationQueuePtr& operationQueue();
};
