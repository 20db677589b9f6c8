// The sender of the core telemetry: builds the configuration message from the connector's value
// bag on its serial queue "com.veltro.LMOCoreDiagnostics", adds the heartbeat mark at most once
// per calendar day, and hands the message to the event transport (mapping "137", target 1001).
// Registers the runtime class "LMOCoreDiagnostics" (protocol "LMOCoreDiagnosticsInterop", class
// method "sendDiagnosticsData:") before main, which is how the app core finds it. Thread-safe.
#pragma once

#include <memory>

#include "core/diagnostics/LMOCoreDiagnosticsLog.h"
#include "platform/base/Value.h"
#include "platform/dispatch/DispatchQueue.h"

class VDTCORTransport;
class VTUHeartbeatDateStorage;

class LMOCoreDiagnostics : public std::enable_shared_from_this<LMOCoreDiagnostics> {
 public:
  static std::shared_ptr<LMOCoreDiagnostics> sharedInstance();
  // The shared object's sendDiagnosticsData.
  static void sendDiagnosticsDataToShared(const platform::ObjectPtr& data);

  // Queues the building and sending of one message from the bag (an object answering
  // "diagnosticObjects", such as LMODiagnosticsData) and returns.
  void sendDiagnosticsData(const platform::ObjectPtr& data);

  // The message for a bag's values, heartbeat mark excluded (steps that read the bag, the
  // environment and the Info.plist). Null when data collection is switched off in the bag.
  static std::unique_ptr<LMOCoreDiagnosticsLog> buildLog(
      const platform::Value::Dictionary& objects);
  // The same into a message the caller then owns; false (nothing allocated) when switched off.
  static bool buildConfig(const platform::Value::Dictionary& objects, LMOCoreConfiguration* config);
  // Sets sdk_name to 1 and stores now, unless a mark was stored on this calendar day or later.
  void setHeartbeatFlagIfNeededToConfig(LMOCoreConfiguration* config);
  // Same calendar day (local time), or `a` earlier than `b`.
  static bool isDateInSameDayOrBeforeThan(double a, double b);

  const platform::DispatchQueuePtr& queue() const { return queue_; }
  const std::shared_ptr<VDTCORTransport>& transport() const { return transport_; }

  LMOCoreDiagnostics();

 private:
  platform::DispatchQueuePtr queue_;
  std::shared_ptr<VDTCORTransport> transport_;
  std::shared_ptr<VTUHeartbeatDateStorage> heartbeatDateStorage_;
};
