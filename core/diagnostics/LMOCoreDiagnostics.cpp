#include "core/diagnostics/LMOCoreDiagnostics.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "VDTCORLibrary/VDTCORConsoleLogger.h"
#include "VDTCORLibrary/VDTCORTransport.h"
#include "core/LMOConstants.h"
#include "platform/base/Bundle.h"
#include "platform/base/Format.h"
#include "platform/dispatch/Clock.h"
#include "platform/runtime/Runtime.h"
#include "utilities/VTUAppEnvironmentUtil.h"
#include "utilities/storage/VTUHeartbeatDateStorage.h"

namespace rt = platform::runtime;
using platform::Value;

namespace {

const std::map<std::string, long>& serviceCodes() {
  static const auto* codes = new std::map<std::string, long>{
      {"AdVista", 2},       {"SignIn", 5},          {"Analytics", 9},
      {"Messaging", 17},    {"Measurement", 18},    {"RemoteConfig", 19},
      {"DynamicLinks", 20}, {"InAppMessaging", 31}, {"Auth", 14},
      {"Database", 15},     {"Storage", 16},        {"AuthUI", 22},
      {"Lumostore", 23},    {"Performance", 24},    {"MLModelInterpreter", 30},
      {"Functions", 32},
  };
  return *codes;
}

long serviceCode(const std::string& name) {
  auto it = serviceCodes().find(name);
  return it == serviceCodes().end() ? 0 : it->second;
}

struct Probe {
  std::vector<const char*> classes;
  const char* service;
};
const std::vector<Probe>& probes() {
  static const auto* table = new std::vector<Probe>{
      {{"VADBannerView"}, "AdVista"},
      {{"LMOMessaging"}, "Messaging"},
      {{"LMORemoteConfig"}, "RemoteConfig"},
      {{"LMOAnalytics"}, "Measurement"},
      {{"LMOCustomModelInterpreter"}, "MLModelInterpreter"},
      {{"LMODatabase"}, "Database"},
      {{"LMODynamicLinks"}, "DynamicLinks"},
      {{"LMOAuth"}, "Auth"},
      {{"LUIAuth"}, "AuthUI"},
      {{"LMOLumostore"}, "Lumostore"},
      {{"LMOFunctions"}, "Functions"},
      {{"LMOPerformance"}, "Performance"},
      {{"LMOStorage"}, "Storage"},
      {{"VIDSignIn", "VGLContext"}, "SignIn"},
      {{"VAI", "VGLContext"}, "Analytics"},
      {{"LMOInAppMessaging"}, "InAppMessaging"},
  };
  return *table;
}

// An owned copy of the text; null (the field stays unset) when allocation fails.
pb_bytes_array_t* copyText(const std::string& text) {
  if (text.size() > PB_SIZE_MAX) return nullptr;
  auto* array =
      static_cast<pb_bytes_array_t*>(std::malloc(PB_BYTES_ARRAY_T_ALLOCSIZE(text.size())));
  if (!array) return nullptr;
  array->size = static_cast<pb_size_t>(text.size());
  if (!text.empty()) std::memcpy(array->bytes, text.data(), text.size());
  return array;
}

const std::string* stringOf(const Value::Dictionary& objects, const char* key) {
  auto it = objects.find(key);
  return it == objects.end() ? nullptr : it->second.string();
}

void setTextIfNonEmpty(pb_bytes_array_t** field, const std::string* text) {
  if (text && !text->empty()) *field = copyText(*text);
}

void setTextIfPresent(pb_bytes_array_t** field, const std::string* text) {
  if (text) *field = copyText(*text);
}

const Value& infoValue(const char* key) {
  static const auto* nothing = new Value();  // never destroyed
  auto bundle = platform::Bundle::mainBundle();
  return bundle ? bundle->objectForInfoDictionaryKey(key) : *nothing;
}

void sendFromRuntime(platform::Object&, platform::ObjectPtr data) {
  LMOCoreDiagnostics::sendDiagnosticsDataToShared(data);
}

const rt::ProtocolRegistrar kInteropProtocol(lmo::kDiagnosticsInteropProtocolName,
                                             {{lmo::kSendDiagnosticsDataSelector, "v@:@", true,
                                               false}});
const rt::ClassRegistrar kDiagnosticsClass(lmo::kDiagnosticsClassName, rt::kRootClassName,
                                           sizeof(rt::RootObject), [](rt::Class& c) {
                                             c.addProtocol(lmo::kDiagnosticsInteropProtocolName);
                                             c.addClassMethod(lmo::kSendDiagnosticsDataSelector,
                                                              &sendFromRuntime);
                                           });

}  // namespace

LMOCoreDiagnostics::LMOCoreDiagnostics()
    : queue_(platform::DispatchQueue::create(lmo::kDiagnosticsQueueLabel)),
      transport_(VDTCORTransport::initWithMappingID(std::string(lmo::kDiagnosticsMappingID),
                                                    std::nullopt, lmo::kDiagnosticsTarget)),
      heartbeatDateStorage_(std::make_shared<VTUHeartbeatDateStorage>(
          std::string(lmo::kDiagnosticsHeartbeatFileName))) {}

std::shared_ptr<LMOCoreDiagnostics> LMOCoreDiagnostics::sharedInstance() {
  static auto* shared =
      new std::shared_ptr<LMOCoreDiagnostics>(std::make_shared<LMOCoreDiagnostics>());
  return *shared;
}

void LMOCoreDiagnostics::sendDiagnosticsDataToShared(const platform::ObjectPtr& data) {
  sharedInstance()->sendDiagnosticsData(data);
}

void LMOCoreDiagnostics::sendDiagnosticsData(const platform::ObjectPtr& data) {
  auto self = shared_from_this();
  queue_->async([self, data] {
    if (!data || !rt::respondsToSelector(data, "diagnosticObjects")) return;
    const auto objects = rt::msgSend<Value::Dictionary>(data, "diagnosticObjects");
    LMOCoreConfiguration config;
    if (!buildConfig(objects, &config)) return;
    self->setHeartbeatFlagIfNeededToConfig(&config);
    auto log = std::make_shared<LMOCoreDiagnosticsLog>(config);
    if (!self->transport_) return;
    auto event = self->transport_->eventForTransport();
    if (!event) return;
    event->setDataObject(log);
    self->transport_->sendTelemetryEvent(event);
  });
}

std::unique_ptr<LMOCoreDiagnosticsLog> LMOCoreDiagnostics::buildLog(
    const Value::Dictionary& objects) {
  LMOCoreConfiguration config;
  if (!buildConfig(objects, &config)) return nullptr;
  return std::make_unique<LMOCoreDiagnosticsLog>(config);
}

bool LMOCoreDiagnostics::buildConfig(const Value::Dictionary& objects, LMOCoreConfiguration* out) {
  if (auto it = objects.find(lmo::kCDIsDataCollectionDefaultEnabledKey);
      it != objects.end() && !it->second.boolValue()) {
    return false;
  }
  LMOCoreConfiguration& config = *out;
  config = logs_proto_mobilesdk_ios_ICoreConfiguration_init_zero;
  config.has_using_gdt = true;
  config.using_gdt = true;

  // SDK information.
  if (auto it = objects.find(lmo::kCDConfigurationTypeKey); it != objects.end()) {
    const long type = it->second.int64Value();
    if (type == 1 || type == 2) {
      config.has_configuration_type = true;
      config.configuration_type =
          static_cast<logs_proto_mobilesdk_ios_ICoreConfiguration_ConfigurationType>(type);
    }
  }
  if (const auto* name = stringOf(objects, lmo::kCDSdkNameKey)) {
    config.has_sdk_name = true;
    config.sdk_name =
        static_cast<logs_proto_mobilesdk_ios_ICoreConfiguration_ServiceType>(serviceCode(*name));
  }
  setTextIfPresent(&config.sdk_version, stringOf(objects, lmo::kCDSdkVersionKey));

  // App information.
  config.has_pod_name = true;
  config.pod_name = static_cast<logs_proto_mobilesdk_ios_ICoreConfiguration_PodName>(2);
  config.has_app_count = true;
  if (auto it = objects.find(lmo::kCDAppsCountKey); it != objects.end() && it->second.isNumber()) {
    config.app_count = static_cast<int32_t>(it->second.int64Value());
  } else {
    VDTCORLogToConsole(lmo::kTransportCodeMissingAppCount, lmo::kTransportLogLevel,
                       lmo::kMissingAppCountMessage);
    config.app_count = 0;
  }
  setTextIfNonEmpty(&config.app_id, stringOf(objects, lmo::kCDVeltroAppIDKey));
  setTextIfNonEmpty(&config.bundle_id, stringOf(objects, lmo::kCDBundleIDKey));
  setTextIfNonEmpty(&config.platform_info, stringOf(objects, lmo::kCDLumoUserAgentKey));
  if (auto it = objects.find(lmo::kCDUsingOptionsFromDefaultPlistKey); it != objects.end()) {
    config.has_use_default_app = true;
    config.use_default_app = it->second.boolValue();
  }
  setTextIfPresent(&config.icore_version, stringOf(objects, lmo::kCDLibraryVersionIDKey));
  const std::string deviceModel = VTUAppEnvironmentUtil::deviceModel();
  setTextIfNonEmpty(&config.device_model, &deviceModel);
  const std::string osVersion = VTUAppEnvironmentUtil::systemVersion();
  setTextIfNonEmpty(&config.os_version, &osVersion);
  config.has_using_zip_file = true;
  config.using_zip_file = false;
  config.has_deployment_type = true;
  config.deployment_type =
      static_cast<logs_proto_mobilesdk_ios_ICoreConfiguration_DeploymentType>(4);
  config.has_deployed_in_app_store = true;
  config.deployed_in_app_store = VTUAppEnvironmentUtil::isFromAppStore();

  // Installed services.
  std::vector<long> installed;
  for (const auto& probe : probes()) {
    bool all = true;
    for (const char* cls : probe.classes) all = all && rt::classNamed(cls) != nullptr;
    if (all) installed.push_back(serviceCode(probe.service));
  }
  if (!installed.empty()) {
    auto* list = static_cast<logs_proto_mobilesdk_ios_ICoreConfiguration_ServiceType*>(std::malloc(
        sizeof(logs_proto_mobilesdk_ios_ICoreConfiguration_ServiceType) * installed.size()));
    if (list) {
      for (std::size_t i = 0; i < installed.size(); ++i) {
        list[i] =
            static_cast<logs_proto_mobilesdk_ios_ICoreConfiguration_ServiceType>(installed[i]);
      }
      config.sdk_service_installed = list;
      config.sdk_service_installed_count = static_cast<pb_size_t>(installed.size());
    }
  }

  // Build information.
  const auto* xcode = infoValue(lmo::kXcodeBuildInfoKey).string();
  const auto* sdk = infoValue(lmo::kSDKBuildInfoKey).string();
  const std::string framework = platform::format(
      lmo::kFrameworkVersionFormat, xcode ? *xcode : std::string(), sdk ? *sdk : std::string());
  config.apple_framework_version = copyText(framework);
  setTextIfPresent(&config.min_supported_ios_version,
                   infoValue(lmo::kMinimumOSVersionKey).string());
  const Value& proxy = infoValue(lmo::kAppDelegateProxyEnabledKey);
  config.has_swizzling_enabled = true;
  config.swizzling_enabled = proxy.isNumber() ? proxy.boolValue() : true;
  return true;
}

void LMOCoreDiagnostics::setHeartbeatFlagIfNeededToConfig(LMOCoreConfiguration* config) {
  const double now = platform::Clock::current().now();
  platform::ErrorPtr readError;
  const auto stored =
      heartbeatDateStorage_->heartbeatDateForTag(lmo::kDiagnosticsHeartbeatTag, &readError)
          .dateValue();
  // A date that cannot be read may be today's: no mark until it reads, or the day gets two.
  if (readError) return;
  if (stored && isDateInSameDayOrBeforeThan(now, *stored)) return;
  if (!heartbeatDateStorage_->setHearbeatDate(Value::date(now), lmo::kDiagnosticsHeartbeatTag)) {
    return;
  }
  config->has_sdk_name = true;
  config->sdk_name = static_cast<logs_proto_mobilesdk_ios_ICoreConfiguration_ServiceType>(1);
}

bool LMOCoreDiagnostics::isDateInSameDayOrBeforeThan(double a, double b) {
  const auto& clock = platform::Clock::current();
  auto day = [&clock](double t) {
    return std::floor((t + static_cast<double>(clock.timeZoneOffsetAt(t))) / 86400.0);
  };
  return day(a) == day(b) || a < b;
}
