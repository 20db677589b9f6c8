#include "core/LMOCoreDiagnosticsConnector.h"

#include <mutex>

#include "core/LMOApp.h"
#include "core/LMOConstants.h"
#include "core/LMODiagnosticsData.h"
#include "platform/base/Error.h"

namespace rt = platform::runtime;
using platform::Value;

rt::Class* LMOCoreDiagnosticsConnector::diagnosticsClass() {
  static rt::Class* found = [] {
    rt::Class* cls = rt::classNamed(lmo::kDiagnosticsClassName);
    if (cls && !rt::classConformsToProtocol(cls, lmo::kDiagnosticsInteropProtocolName)) {
      platform::AssertionHandler::handleFailure(__func__, __FILE__, __LINE__,
                                                lmo::kDiagnosticsNotInteropMessage);
    }
    if (cls && !rt::respondsToSelector(cls, lmo::kSendDiagnosticsDataSelector)) {
      platform::AssertionHandler::handleFailure(__func__, __FILE__, __LINE__,
                                                lmo::kDiagnosticsNoSendMessage);
      // A sender that cannot be called is no sender.
      return static_cast<rt::Class*>(nullptr);
    }
    return cls;
  }();
  return found;
}

void LMOCoreDiagnosticsConnector::logCoreTelemetryWithOptions(
    const std::shared_ptr<LMOOptions>& options) {
  rt::Class* sender = diagnosticsClass();
  if (!sender || !options) return;
  auto data = std::make_shared<LMODiagnosticsData>();
  auto optional = [](const std::optional<std::string>& s) { return s ? Value(*s) : Value(); };
  data->insertValue(Value(true), lmo::kCDIsDataCollectionDefaultEnabledKey);
  data->insertValue(Value(LMOApp::lumoUserAgent()), lmo::kCDLumoUserAgentKey);
  data->insertValue(Value(1L), lmo::kCDConfigurationTypeKey);
  data->insertValue(optional(options->veltroAppID()), lmo::kCDVeltroAppIDKey);
  data->insertValue(optional(options->bundleID()), lmo::kCDBundleIDKey);
  data->insertValue(Value(options->usingOptionsFromDefaultPlist()),
                    lmo::kCDUsingOptionsFromDefaultPlistKey);
  data->insertValue(Value(LMOOptions::libraryVersionID()), lmo::kCDLibraryVersionIDKey);
  rt::msgSend<void>(sender, lmo::kSendDiagnosticsDataSelector, data);
}
