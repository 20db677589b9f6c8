#include "measurement/frontend/LMOAnalytics.h"

#include <mutex>

#include "core/LMOApp.h"
#include "core/LMOOptions.h"
#include "installations/LMOInstallations.h"
#include "measurement/engine/MSRDeferredSwitch.h"
#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRIdentity.h"
#include "measurement/foundation/MSRMonitor.h"
#include "measurement/frontend/LMOAnalyticsConstants.h"
#include "measurement/frontend/MSRAnalytics.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/runtime/Runtime.h"

namespace rt = platform::runtime;
using platform::Value;

namespace {

std::optional<Value::Dictionary> dictionaryOf(const Value& value) {
  if (const auto* d = value.dictionary()) return *d;
  return std::nullopt;
}

const rt::ClassRegistrar kClass(
    lmo_analytics::kAnalyticsClassName, rt::kRootClassName, sizeof(rt::RootObject),
    [](rt::Class& c) {
      c.addClassMethod(lmo_analytics::kLogEventWithNameSelector,
                       [](platform::Object&, std::string name, Value parameters) {
                         LMOAnalytics::logEventWithName(name, dictionaryOf(parameters));
                       });
      c.addClassMethod(lmo_analytics::kLogEventWithOriginSelector,
                       [](platform::Object&, std::string origin, std::string name,
                          Value parameters) {
                         LMOAnalytics::logEventWithOrigin(origin, name, dictionaryOf(parameters));
                       });
      c.addClassMethod(lmo_analytics::kStartWithConfigurationSelector,
                       [](platform::Object&, platform::ObjectPtr configuration,
                          platform::ObjectPtr options) {
                         LMOAnalytics::startWithConfiguration(
                             configuration, std::dynamic_pointer_cast<LMOOptions>(options));
                       });
    });

// A value has a plain form when it is one of the value kinds, all the way down; an arbitrary
// object has none.
bool hasPlainForm(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::Object:
      return false;
    case Value::Kind::Array:
    case Value::Kind::Set:
      for (const Value& element : *value.array()) {
        if (!hasPlainForm(element)) return false;
      }
      return true;
    case Value::Kind::Dictionary:
      for (const auto& [key, element] : *value.dictionary()) {
        if (!hasPlainForm(element)) return false;
      }
      return true;
    default:
      return true;
  }
}

// Asks the default app's installations for the identifier and hands it to the engine's identity.
void requestInstallationID() {
  if (!LMOApp::isDefaultAppConfigured()) return;
  auto installations = LMOInstallations::installations();
  if (!installations) return;
  installations->installationIDWithCompletion(
      [](const std::optional<std::string>& identifier, const platform::ErrorPtr&) {
        if (identifier && !identifier->empty()) MSRIdentity::setInstallationID(*identifier);
      });
}

// Kept for the life of the process.
platform::ObservationToken& installationIDObservation() {
  static auto* token = new platform::ObservationToken;
  return *token;
}

void observeInstallationIDChanges() {
  static std::once_flag once;
  std::call_once(once, [] {
    installationIDObservation() = platform::NotificationCenter::defaultCenter().addObserver(
        lmo_analytics::kInstallationIDDidChangeNotification, Value(), nullptr,
        [](const platform::Notification&) { requestInstallationID(); });
  });
}

}  // namespace

bool LMOAnalytics::isDefaultAppConfigured() { return LMOApp::isDefaultAppConfigured(); }

void LMOAnalytics::logEventWithName(const std::string& name,
                                    const std::optional<Value::Dictionary>& parameters) {
  logEventWithOrigin(lmo_analytics::kOriginApp, name, parameters);
}

void LMOAnalytics::logEventWithOrigin(const std::string& origin, const std::string& name,
                                      const std::optional<Value::Dictionary>& parameters) {
  if (parameters && !hasPlainForm(Value(*parameters))) {
    MSRMeasurement::monitor()->logWithLevel(lmo_analytics::kUnbridgeableValueLevel,
                                            lmo_analytics::kUnbridgeableValueCode,
                                            lmo_analytics::kUnbridgeableValueMessage);
  }
  if (!isDefaultAppConfigured()) {
    MSRMeasurement::monitor()->logWithLevel(lmo_analytics::kEventNotLoggedLevel,
                                            lmo_analytics::kEventNotLoggedCode,
                                            lmo_analytics::kEventNotLoggedMessage, Value(name));
    return;
  }
  MSRAnalytics::logEventWithOrigin(origin, true, name, parameters);
}

Value::Dictionary LMOAnalytics::startDictionary(const platform::ObjectPtr& configuration,
                                                const LMOOptions& options) {
  Value::Dictionary start;
  if (configuration) start[lmo_analytics::kStartConfigurationKey] = Value(configuration);
  start[lmo_analytics::kStartCollectionDeactivatedKey] =
      Value(options.isAnalyticsCollectionDeactivated());
  if (auto enabled = options.analyticsCollectionEnabledIfKnown(nullptr)) {
    start[lmo_analytics::kStartCollectionEnabledKey] = Value(*enabled);
  } else {
    // The app's setting could not be read now and may be the user's refusal: no value stands in
    // for it; the engine asks again when an event needs it, without the caller waiting.
    start[lmo_analytics::kStartCollectionEnabledKey] =
        Value(std::make_shared<MSRDeferredSwitch>([options = options.copy()] {
          return options->analyticsCollectionEnabledIfKnown(nullptr);
        }));
  }
  start[lmo_analytics::kStartLogTagKey] = Value(lmo_analytics::kStartLogTag);
  if (auto defaults = LMOOptions::defaultOptionsDictionary()) {
    auto it = defaults->find(lmo_analytics::kSafelistedEventsOptionKey);
    if (it != defaults->end()) start[lmo_analytics::kStartSafelistedEventsKey] = it->second;
  }
  return start;
}

void LMOAnalytics::startWithConfiguration(const platform::ObjectPtr& configuration,
                                          const std::shared_ptr<LMOOptions>& options) {
  if (!options) return;
  MSRAnalytics::startWithAppID(options->veltroAppID().value_or(""), lmo_analytics::kOriginFA,
                               startDictionary(configuration, *options));
  requestInstallationID();
  observeInstallationIDChanges();
}
