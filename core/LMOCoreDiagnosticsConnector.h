// Hands the core telemetry to the diagnostics sender, found once by its runtime class name
// "LMOCoreDiagnostics"; without that class telemetry is silently off. Thread-safe.
#pragma once

#include <memory>

#include "core/LMOOptions.h"
#include "platform/runtime/Runtime.h"

class LMOCoreDiagnosticsConnector {
 public:
  // Fills a LMODiagnosticsData with the app's values and calls the sender's
  // "sendDiagnosticsData:" class method with it.
  static void logCoreTelemetryWithOptions(const std::shared_ptr<LMOOptions>& options);
  // The sender class found on first use, or null. A found class that does not declare
  // "LMOCoreDiagnosticsInterop" or answer "sendDiagnosticsData:" fails an assertion.
  static platform::runtime::Class* diagnosticsClass();
};
