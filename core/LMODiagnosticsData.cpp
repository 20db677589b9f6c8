#include "core/LMODiagnosticsData.h"

#include "core/LMOApp.h"
#include "core/LMOConstants.h"
#include "platform/base/Error.h"

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
