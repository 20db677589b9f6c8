#include "core/LMOApp.h"

#include <unicode/uchar.h>

#include <mutex>

#include "core/LMOAnalyticsConfiguration.h"
#include "core/LMOBundleUtil.h"
#include "core/LMOConfiguration.h"
#include "core/LMOConstants.h"
#include "core/LMOCoreDiagnosticsConnector.h"
#include "core/LMOLibrary.h"
#include "core/LMOLogger.h"
#include "core/LMOLumoUserAgent.h"
#include "platform/app/AppConstants.h"
#include "platform/base/Bundle.h"
#include "platform/base/Format.h"
#include "platform/base/Strings.h"
#include "platform/base/UserDefaults.h"
#include "platform/dispatch/DispatchQueue.h"
#include "utilities/VTUAppEnvironmentUtil.h"

namespace rt = platform::runtime;
using platform::Exception;
using platform::Value;

namespace {

// Class-level state. The re-entrant lock guards the registry, configuration and deletion; the
// default app pointer has a lock of its own so that `defaultApp` reads it without the class lock.
struct Registry {
  std::recursive_mutex classLock;
  std::optional<LMOApp::AppMap> apps;
  std::vector<rt::Class*> librariesToConfigure;
  std::mutex defaultAppMutex;
  std::shared_ptr<LMOApp> defaultApp;
};
Registry& registry() {
  static auto* state = new Registry;
  return *state;
}

void setDefaultApp(std::shared_ptr<LMOApp> app) {
  auto& r = registry();
  std::lock_guard lock(r.defaultAppMutex);
  r.defaultApp = std::move(app);
}

std::shared_ptr<LMOApp> currentDefaultApp() {
  auto& r = registry();
  std::lock_guard lock(r.defaultAppMutex);
  return r.defaultApp;
}

// The platform's alphanumeric set: letters, marks and numbers.
bool isAlphanumericCharacter(char32_t c) {
  return (U_GET_GC_MASK(static_cast<UChar32>(c)) & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0;
}

bool onlyAllowedCharacters(const std::string& text, std::u32string_view extra) {
  for (char32_t c : platform::toUtf32(text)) {
    if (!isAlphanumericCharacter(c) && extra.find(c) == std::u32string_view::npos) return false;
  }
  return true;
}

Value classValue(rt::Class* cls) { return cls ? Value(cls->shared_from_this()) : Value(); }

// A scanner over an app identifier that skips nothing, as the checks read it.
struct Scanner {
  const std::string& s;
  std::size_t at = 0;
  bool atEnd() const { return at >= s.size(); }
  bool scanString(std::string_view literal) {
    if (s.compare(at, literal.size(), literal) != 0) return false;
    at += literal.size();
    return true;
  }
  bool scanDigits(std::string* out = nullptr) {
    std::size_t start = at;
    while (at < s.size() && s[at] >= '0' && s[at] <= '9') ++at;
    if (out) *out = s.substr(start, at - start);
    return at > start;
  }
  bool scanInteger() {
    std::size_t start = at;
    if (at < s.size() && (s[at] == '+' || s[at] == '-')) ++at;
    if (scanDigits()) return true;
    at = start;
    return false;
  }
  bool scanUpTo(char stop, std::string* out) {
    std::size_t start = at;
    while (at < s.size() && s[at] != stop) ++at;
    *out = s.substr(start, at - start);
    return at > start;
  }
  bool scanHex() {
    std::size_t start = at;
    if (s.compare(at, 2, "0x") == 0 || s.compare(at, 2, "0X") == 0) at += 2;
    std::size_t digits = at;
    while (at < s.size() && std::isxdigit(static_cast<unsigned char>(s[at]))) ++at;
    if (at > digits) return true;
    // "0x" alone still reads the zero.
    if (digits > start) {
      at = start + 1;
      return true;
    }
    at = start;
    return false;
  }
};

const rt::ClassRegistrar kAppClass(
    lmo::kAppClassName, rt::kRootClassName, sizeof(LMOApp), [](rt::Class& c) {
      c.addClassMethod(lmo::kIsDefaultAppConfiguredSelector,
                       [](platform::Object&) -> bool { return LMOApp::isDefaultAppConfigured(); });
      c.addClassMethod("configure", [](platform::Object&) { LMOApp::configure(); });
      c.addClassMethod("defaultApp", [](platform::Object&) -> std::shared_ptr<LMOApp> {
        return LMOApp::defaultApp();
      });
    });

}  // namespace

LMOApp::LMOApp(Token, std::string name, const std::shared_ptr<LMOOptions>& options)
    : isDefaultApp_(name == lmo::kDefaultAppName),
      options_(options->copy()),
      name_(std::move(name)) {
  options_->setEditingLocked(true);
}

LMOApp::~LMOApp() {
  if (activationObservation_) {
    platform::NotificationCenter::defaultCenter().removeObservation(activationObservation_);
  }
  platform::NotificationCenter::defaultCenter().removeObserver(this);
}

// ---- Configuration ------------------------------------------------------------------------

void LMOApp::configure() {
  auto options = LMOOptions::defaultOptions();
  if (!options) {
    throw Exception(lmo::kErrorDomain,
                    platform::format(lmo::kNoPlistReason, lmo::kDeveloperConsoleURL));
  }
  configureWithOptions(options);
}

void LMOApp::configureWithOptions(const std::shared_ptr<LMOOptions>& options) {
  if (!options) throw Exception(lmo::kErrorDomain, lmo::kNilOptionsReason);
  configureWithName(lmo::kDefaultAppName, options);
}

void LMOApp::configureWithName(const std::string& name,
                               const std::shared_ptr<LMOOptions>& options) {
  if (!options) throw Exception(lmo::kErrorDomain, lmo::kNilNameOrOptionsReason);
  if (name.empty()) throw Exception(lmo::kErrorDomain, lmo::kEmptyNameReason);

  if (name != lmo::kDefaultAppName && !onlyAllowedCharacters(name, U"-_")) {
    throw Exception(lmo::kErrorDomain, lmo::kBadAppNameReason);
  }
  // One hold of the class lock from the "already configured" check to the announcement, so that
  // of two threads configuring one app, the second finds the first's app and raises.
  auto& r = registry();
  std::lock_guard lock(r.classLock);
  if (name == lmo::kDefaultAppName) {
    if (auto existing = currentDefaultApp()) {
      appWasConfiguredTwice(existing, options);
      return;
    }
    LMOLoggerLogDebug(lmo::kCoreService, lmo::kCodeConfiguringDefaultApp,
                      lmo::kConfiguringDefaultAppMessage);
  } else {
    if (r.apps) {
      if (auto it = r.apps->find(name); it != r.apps->end()) {
        appWasConfiguredTwice(it->second, options);
        return;
      }
    }
    LMOLoggerLogDebug(lmo::kCoreService, lmo::kCodeConfiguringApp, lmo::kConfiguringAppMessage,
                      name);
  }

  auto app = std::make_shared<LMOApp>(Token{}, name, options);
  app->container_ = LMOComponentContainer::initWithApp(app);
  if (app->isDefaultApp()) setDefaultApp(app);
  try {
    registerApp(app);
    app->container_->instantiateEagerComponents();
  } catch (...) {
    // A configuration that raised leaves no app behind: neither a default app that was never
    // registered nor a registered one without its components, so that fixed options can be
    // configured in a later call.
    if (currentDefaultApp() == app) setDefaultApp(nullptr);
    if (r.apps) {
      if (auto it = r.apps->find(name); it != r.apps->end() && it->second == app) {
        r.apps->erase(it);
      }
    }
    throw;
  }
  sendNotificationsToSDKs(app);
}

void LMOApp::registerApp(const std::shared_ptr<LMOApp>& app) {
  auto& r = registry();
  std::lock_guard lock(r.classLock);
  if (!r.apps) r.apps.emplace();
  if (!app->configureCore()) throw Exception(lmo::kErrorDomain, lmo::kConfigurationFailsReason);
  (*r.apps)[app->name()] = app;
}

bool LMOApp::configureCore() {
  const auto expectedBundleID = options_->bundleID();
  const std::string expected = expectedBundleID.value_or("");
  if (expectedBundleID && !LMOBundleUtil::hasBundleIdentifierPrefix(
                              *expectedBundleID, LMOBundleUtil::relevantBundles())) {
    LMOLoggerLogError(lmo::kCoreService, lmo::kCodeBundleIDMismatch, lmo::kBundleIDMismatchMessage,
                      lmo::kOptionsPlistName, lmo::kPlistType, expected, lmo::kDeveloperConsoleURL);
  }
  if (!validateAppID(options_->veltroAppID().value_or(""))) {
    LMOLoggerLogError(lmo::kCoreService, lmo::kCodeInvalidAppID, lmo::kInvalidAppIDMessage,
                      lmo::kOptionsPlistName, lmo::kPlistType, expected, lmo::kDeveloperConsoleURL);
    return false;
  }
  if (isDefaultApp_) {
    rt::Class* analytics = rt::classNamed(lmo::kAnalyticsClassName);
    if (analytics && rt::respondsToSelector(analytics, lmo::kStartWithConfigurationSelector)) {
      platform::ObjectPtr configuration =
          LMOConfiguration::sharedInstance()->analyticsConfiguration();
      platform::ObjectPtr appOptions = options();
      rt::msgSend<void>(analytics, lmo::kStartWithConfigurationSelector, configuration, appOptions);
    }
  }
  subscribeForAppDidBecomeActiveNotifications();
  return true;
}

void LMOApp::subscribeForAppDidBecomeActiveNotifications() {
  std::weak_ptr<LMOApp> weak = std::static_pointer_cast<LMOApp>(shared_from_this());
  activationObservation_ = platform::NotificationCenter::defaultCenter().addObserver(
      platform::app::kDidBecomeActiveNotification, Value(), nullptr,
      [weak](const platform::Notification&) {
        if (auto app = weak.lock()) app->appDidBecomeActive();
      },
      this);
}

void LMOApp::appWasConfiguredTwice(const std::shared_ptr<LMOApp>& app,
                                   const std::shared_ptr<LMOOptions>& options) {
  if (!VTUAppEnvironmentUtil::isAppExtension()) {
    if (app->isDefaultApp())
      throw Exception(lmo::kErrorDomain, lmo::kDefaultAppConfiguredTwiceReason);
    throw Exception(lmo::kErrorDomain,
                    platform::format(lmo::kAppConfiguredTwiceReason, app->name()));
  }
  if (options && options->isEqual(*app->options_)) {
    LMOLoggerLogDebug(lmo::kCoreService, lmo::kCodeIgnoringSecondConfigure,
                      lmo::kIgnoringSecondConfigureMessage);
    return;
  }
  throw Exception(lmo::kErrorDomain, platform::format(lmo::kAppConfiguredTwiceReason, app->name()));
}

void LMOApp::sendNotificationsToSDKs(const std::shared_ptr<LMOApp>& app) {
  Value::Dictionary userInfo{
      {lmo::kAppNameKey, Value(app->name())},
      {lmo::kAppIsDefaultAppKey, Value(app->isDefaultApp())},
  };
  if (auto appID = app->options_->veltroAppID()) {
    userInfo[lmo::kVeltroAppIDNotificationKey] = Value(*appID);
  }
  platform::NotificationCenter::defaultCenter().post(lmo::kAppReadyToConfigureSDKNotification,
                                                     classValue(rt::classNamed(lmo::kAppClassName)),
                                                     userInfo);
  auto& r = registry();
  std::lock_guard lock(r.classLock);
  const auto libraries = r.librariesToConfigure;
  for (rt::Class* library : libraries) {
    rt::msgSend<void>(library, lmo::kConfigureWithAppSelector, app);
  }
}

// ---- Registry -----------------------------------------------------------------------------

std::shared_ptr<LMOApp> LMOApp::defaultApp() {
  auto app = currentDefaultApp();
  if (!app) {
    LMOLoggerLogError(lmo::kCoreService, lmo::kCodeNoDefaultApp, lmo::kNoDefaultAppMessage,
                      lmo::kDocumentationURL);
  }
  return app;
}

std::shared_ptr<LMOApp> LMOApp::appNamed(const std::string& name) {
  auto& r = registry();
  std::lock_guard lock(r.classLock);
  if (r.apps) {
    if (auto it = r.apps->find(name); it != r.apps->end()) return it->second;
  }
  LMOLoggerLogError(lmo::kCoreService, lmo::kCodeNoAppNamed, lmo::kNoAppNamedMessage, name);
  return nullptr;
}

std::optional<LMOApp::AppMap> LMOApp::allApps() {
  auto& r = registry();
  std::lock_guard lock(r.classLock);
  if (!r.apps) {
    LMOLoggerLogError(lmo::kCoreService, lmo::kCodeNoAppConfigured, lmo::kNoAppConfiguredMessage);
    return std::nullopt;
  }
  return *r.apps;
}

void LMOApp::resetApps() {
  auto& r = registry();
  std::lock_guard lock(r.classLock);
  setDefaultApp(nullptr);
  r.apps.reset();
  userAgent()->reset();
}

bool LMOApp::isDefaultAppConfigured() { return currentDefaultApp() != nullptr; }

void LMOApp::deleteApp(const std::function<void(bool)>& completion) {
  auto& r = registry();
  std::lock_guard lock(r.classLock);
  auto self = std::static_pointer_cast<LMOApp>(shared_from_this());
  if (r.apps && r.apps->count(name_)) {
    LMOLoggerLogDebug(lmo::kCoreService, lmo::kCodeDeletingApp, lmo::kDeletingAppMessage, name_);
    container_->removeAllComponents();
    container_->removeAllCachedInstances();
    r.apps->erase(name_);
    if (auto defaults = platform::UserDefaults::standardUserDefaults()) {
      defaults->removeObjectForKey(dataCollectionUserDefaultsKey());
    }
    if (name_ == lmo::kDefaultAppName) setDefaultApp(nullptr);
    platform::NotificationCenter::defaultCenter().post(
        lmo::kAppDeleteNotification, classValue(rt::classNamed(lmo::kAppClassName)),
        {{lmo::kAppNameKey, Value(name_)}});
    if (completion) completion(true);
  } else {
    LMOLoggerLogError(lmo::kCoreService, lmo::kCodeAppDoesNotExist, lmo::kAppDoesNotExistMessage);
    if (completion) completion(false);
  }
}

// ---- Libraries ----------------------------------------------------------------------------

void LMOApp::registerLibrary(const std::string& name, const std::string& version) {
  if (onlyAllowedCharacters(name, U"-_.") && onlyAllowedCharacters(version, U"-_.")) {
    userAgent()->setValue(version, name);
  } else {
    LMOLoggerLogError(lmo::kCoreService, lmo::kCodeInvalidLibrary, lmo::kInvalidLibraryMessage,
                      name, version);
  }
}

void LMOApp::registerInternalLibrary(rt::Class* library, const std::string& name) {
  registerInternalLibrary(library, name, lmo::kCoreSDKVersion);
}

void LMOApp::registerInternalLibrary(rt::Class* library, const std::string& name,
                                     const std::string& version) {
  if (!library || !rt::classConformsToProtocol(library, lmo::kLibraryProtocolName) ||
      !rt::respondsToSelector(library, lmo::kComponentsToRegisterSelector)) {
    throw Exception(platform::kInvalidArgumentException,
                    platform::format(lmo::kLibraryRegistrationReason, classValue(library)));
  }
  LMOComponentContainer::registerAsComponentRegistrant(library);
  if (rt::respondsToSelector(library, lmo::kConfigureWithAppSelector)) {
    auto& r = registry();
    std::lock_guard lock(r.classLock);
    r.librariesToConfigure.push_back(library);
  }
  registerLibrary(name, version);
}

std::shared_ptr<LMOLumoUserAgent> LMOApp::userAgent() {
  static auto* agent = new std::shared_ptr<LMOLumoUserAgent>([] {
    auto made = std::make_shared<LMOLumoUserAgent>();
    made->setValue(std::string(lmo::kCoreSDKVersion), lmo::kCoreLibraryName);
    return made;
  }());
  return *agent;
}

std::string LMOApp::lumoUserAgent() { return userAgent()->lumoUserAgent(); }

// ---- App identifier -----------------------------------------------------------------------

bool LMOApp::validateAppID(const std::string& appID) {
  if (appID.empty()) return false;
  Scanner scanner{appID};
  std::string version;
  if (!scanner.scanDigits(&version)) return false;
  if (!scanner.scanString(":")) return false;
  if (version != "1") {
    LMOLoggerLogInfo(lmo::kCoreService, lmo::kCodeUnknownAppIDVersion,
                     lmo::kUnknownAppIDVersionMessage, version);
    return true;
  }
  return validateAppIDFormat(appID, version) && validateAppIDFingerprint(appID, version);
}

bool LMOApp::validateAppIDFormat(const std::string& appID, const std::string& version) {
  if (appID.empty() || version.empty()) return false;
  Scanner scanner{appID};
  if (!scanner.scanString(version) || !scanner.scanString(":")) return false;
  if (!scanner.scanInteger() || !scanner.scanString(":")) return false;
  std::string platformName;
  if (!scanner.scanUpTo(':', &platformName) || platformName != "ios") return false;
  if (!scanner.scanString(":")) return false;
  if (!scanner.scanHex()) return false;
  return scanner.atEnd();
}

bool LMOApp::validateAppIDFingerprint(const std::string& appID, const std::string& version) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    auto colon = appID.find(':', start);
    parts.push_back(appID.substr(start, colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  if (parts.size() != 4 || parts[3].empty()) return false;
  Scanner scanner{parts[3]};
  if (!scanner.scanHex()) return false;
  return version == "1";
}

std::string LMOApp::actualBundleID() {
  auto bundle = platform::Bundle::mainBundle();
  return bundle ? bundle->bundleIdentifier() : std::string();
}

platform::ErrorPtr LMOApp::errorForMissingOptions() {
  return platform::Error::make(
      lmo::kErrorDomain, lmo::kErrorCodeMissingOptions,
      {{platform::kLocalizedDescriptionKey, Value(lmo::kMissingOptionsDescription)},
       {lmo::kLocalizedRecoverySuggestionKey, Value(lmo::kMissingOptionsRecovery)}});
}

platform::ErrorPtr LMOApp::errorForInvalidAppID() {
  return platform::Error::make(
      lmo::kErrorDomain, lmo::kErrorCodeInvalidAppID,
      {{platform::kLocalizedDescriptionKey, Value(lmo::kInvalidAppIDDescription)},
       {lmo::kLocalizedRecoverySuggestionKey, Value(lmo::kInvalidAppIDRecovery)}});
}

// ---- Options and data collection ----------------------------------------------------------

std::shared_ptr<LMOOptions> LMOApp::options() const {
  auto copy = options_->copy();
  copy->setEditingLocked(true);
  return copy;
}

std::string LMOApp::dataCollectionUserDefaultsKey() const {
  return platform::format(lmo::kDataCollectionUserDefaultsKeyFormat, name_);
}

Value LMOApp::readDataCollectionSwitchFromUserDefaultsForApp(const LMOApp& app,
                                                             platform::ErrorPtr* error) {
  auto defaults = platform::UserDefaults::standardUserDefaults();
  if (!defaults) return Value();
  Value value = defaults->objectForKey(app.dataCollectionUserDefaultsKey(), error);
  return value.isNumber() ? value : Value();
}

Value LMOApp::readDataCollectionSwitchFromPlist() {
  static const Value* value = [] {
    auto bundle = platform::Bundle::mainBundle();
    Value found =
        bundle ? bundle->objectForInfoDictionaryKey(lmo::kDataCollectionPlistKey) : Value();
    return new Value(found.isNumber() ? found : Value());
  }();
  return *value;
}

std::optional<bool> LMOApp::dataCollectionDefaultEnabledIfKnown(platform::ErrorPtr* error) const {
  platform::ErrorPtr readError;
  Value stored = readDataCollectionSwitchFromUserDefaultsForApp(*this, &readError);
  if (readError) {
    // Neither the Info.plist value nor "on" may stand in for a stored refusal.
    if (error) *error = readError;
    return std::nullopt;
  }
  if (stored.isNumber()) return stored.boolValue();
  Value fromPlist = readDataCollectionSwitchFromPlist();
  if (fromPlist.isNumber()) return fromPlist.boolValue();
  return true;
}

bool LMOApp::isDataCollectionDefaultEnabled() const {
  return dataCollectionDefaultEnabledIfKnown(nullptr).value_or(false);
}

void LMOApp::setDataCollectionDefaultEnabled(bool enabled) {
  if (auto defaults = platform::UserDefaults::standardUserDefaults()) {
    defaults->setObject(Value(enabled), dataCollectionUserDefaultsKey());
  }
  if (isDefaultApp_ && !options_->isAnalyticsCollectionExplicitlySet()) {
    LMOAnalyticsConfiguration::sharedInstance()->setAnalyticsCollectionEnabled(enabled, false);
  }
}

// ---- Activation ---------------------------------------------------------------------------

void LMOApp::appDidBecomeActive() { logCoreTelemetryIfEnabled(); }

void LMOApp::logCoreTelemetryIfEnabled() {
  // A switch that cannot be read now may be a refusal: nothing goes out on it this time.
  if (!isDataCollectionDefaultEnabled()) return;
  auto options = options_;
  platform::DispatchQueue::global(platform::QualityOfService::Utility)->async([options] {
    LMOCoreDiagnosticsConnector::logCoreTelemetryWithOptions(options);
  });
}
