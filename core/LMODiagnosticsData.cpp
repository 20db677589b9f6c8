#include "core/LMODiagnosticsData.h"

#include "core/LMOApp.h"
#include "core/LMOConstants.h"
#include "platform/base/Error.h"

namespace {

// The sender reads the bag through the runtime: it lives above the core and knows only this.
const platform::runtime::ProtocolRegistrar kDataProtocol(
    lmo::kDiagnosticsDataProtocolName,
    {{"diagnosticObjects", "@@:", true, true}, {"setDiagnosticObjects:", "v@:@", true, true}});
const platform::runtime::ClassRegistrar kDataClass(
    "LMODiagnosticsData", platform::runtime::kRootClassName, sizeof(LMODiagnosticsData),
    [](platform::runtime::Class& c) {
      c.addProtocol(lmo::kDiagnosticsDataProtocolName);
      c.addInstanceMethod("diagnosticObjects",
                          [](LMODiagnosticsData& self) -> platform::Value::Dictionary {
                            return self.diagnosticObjects();
                          });
      c.addInstanceMethod("setDiagnosticObjects:",
                          [](LMODiagnosticsData& self, platform::Value::Dictionary objects) {
                            self.setDiagnosticObjects(objects);
                          });
    });

}  // namespace

void LMODiagnosticsData::insertValue(const platform::Value& value, const std::string& key) {
  if (key.empty()) return;
  if (value.isNil()) {
    objects_.erase(key);
  } else {
    objects_[key] = value;
  }
}

const platform::Value::Dictionary& LMODiagnosticsData::diagnosticObjects() {
  if (!objects_.count(lmo::kCDAppsCountKey)) {
    auto apps = LMOApp::allApps();
    objects_[lmo::kCDAppsCountKey] = platform::Value(static_cast<long>(apps ? apps->size() : 0));
  }
  if (!objects_.count(lmo::kCDIsDataCollectionDefaultEnabledKey)) {
    auto app = LMOApp::defaultApp();
    objects_[lmo::kCDIsDataCollectionDefaultEnabledKey] =
        platform::Value(app && app->isDataCollectionDefaultEnabled());
  }
  if (!objects_.count(lmo::kCDLumoUserAgentKey)) {
    objects_[lmo::kCDLumoUserAgentKey] = platform::Value(LMOApp::lumoUserAgent());
  }
  return objects_;
}

void LMODiagnosticsData::setDiagnosticObjects(const platform::Value::Dictionary&) {
  platform::AssertionHandler::handleFailure(__func__, __FILE__, __LINE__,
                                            lmo::kSetDiagnosticObjectsMessage);
}
