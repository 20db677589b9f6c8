// The analytics facade between the public interface and the measurement engine. Deliberately
// minimal: start, event logging into the measurement storage and internal events; no consent,
// user properties, screen reporting or sessions.
//
// An event travels like this: on the caller's thread the name is checked and the time stamped,
// serialised by "MSRAnalyticsTimestampQueue" so that events keep the order of their stamps; an
// operation of "MSRAnalyticsOperationQueue" (held until start-up has created the engine) carries
// it to "MSRAnalyticsQueue", which posts it to the engine's worker queue. The caller never waits
// for the engine. Class methods only; thread-safe.
#pragma once

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

  // Waits, at most `timeoutSeconds` of real time, until every event logged so far has been handed
  // to the engine and handled on its worker queue. False when the facade has not started or time
  // ran out. For tests and benchmarks.
  static bool waitUntilEventsAreHandled(double timeoutSeconds);

  static const platform::DispatchQueuePtr& analyticsQueue();
  static const platform::OperationQueuePtr& operationQueue();
};
