// A configured app of the SDK (a name, a locked copy of its options and a component container),
// and the process-wide registry of configured apps with the default app "__LMOAPP_DEFAULT", the
// registered libraries and the user agent. `configure()` is the app's one start-up call.
// One re-entrant class-wide lock guards the registry, configuration and deletion; observers of
// "LMOAppReadyToConfigureSDKNotification" run on the configuring thread inside it. The runtime
// class "LMOApp" answers the class method "isDefaultAppConfigured" for code above the core.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "core/LMOComponentContainer.h"
#include "core/LMOOptions.h"
#include "platform/base/Error.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/runtime/Runtime.h"

class LMOLumoUserAgent;

class LMOApp : public platform::runtime::RootObject {
  struct Token {};

 public:
  using AppMap = std::map<std::string, std::shared_ptr<LMOApp>>;

  // Configures the default app from "VeltroService-Info.plist"; raises "com.lumo.core" without
  // one, for an invalid app identifier, or when the default app exists already.
  static void configure();
  static void configureWithOptions(const std::shared_ptr<LMOOptions>& options);
  // Names may hold letters, marks, numbers, "-" and "_".
  static void configureWithName(const std::string& name,
                                const std::shared_ptr<LMOOptions>& options);

  static std::shared_ptr<LMOApp> defaultApp();                       // null (logged) when none
  static std::shared_ptr<LMOApp> appNamed(const std::string& name);  // null (logged) when none
  static std::optional<AppMap> allApps();  // nullopt (logged) before any registration
  static void resetApps();
  static bool isDefaultAppConfigured();

  // Library versions feed the user agent. Names and versions may hold letters, marks, numbers,
  // "-", "_" and "."; others are refused (logged).
  static void registerLibrary(const std::string& name, const std::string& version);
  // `library` must be a runtime class declaring "LMOLibrary" and answering
  // "componentsToRegister" (see core/LMOLibrary.h); else raises an invalid-argument exception.
  static void registerInternalLibrary(platform::runtime::Class* library, const std::string& name);
  static void registerInternalLibrary(platform::runtime::Class* library, const std::string& name,
                                      const std::string& version);

  static std::shared_ptr<LMOLumoUserAgent> userAgent();
  static std::string lumoUserAgent();

  static bool validateAppID(const std::string& appID);
  static bool validateAppIDFormat(const std::string& appID, const std::string& version);
  static bool validateAppIDFingerprint(const std::string& appID, const std::string& version);
  static std::string actualBundleID();
  static platform::ErrorPtr errorForMissingOptions();
  static platform::ErrorPtr errorForInvalidAppID();
  // The stored per-app switch if it is a number, else nil. Nil with *error set when the defaults'
  // file could not be read now: the switch is then not known, which is not "none stored".
  static platform::Value readDataCollectionSwitchFromUserDefaultsForApp(
      const LMOApp& app, platform::ErrorPtr* error = nullptr);
  // Info.plist's "LumoDataCollectionDefaultEnabled" if a number, else nil; read once.
  static platform::Value readDataCollectionSwitchFromPlist();

  const std::string& name() const { return name_; }
  bool isDefaultApp() const { return isDefaultApp_; }
  // A further locked copy of the app's options.
  std::shared_ptr<LMOOptions> options() const;
  const std::shared_ptr<LMOComponentContainer>& container() const { return container_; }

  // Removes the app from the registry; the completion runs on the calling thread under the class
  // lock with whether the app was registered.
  void deleteApp(const std::function<void(bool)>& completion);

  // The stored switch, else the Info.plist value, else on; nullopt with *error set while the
  // stored switch cannot be read (it may be the user's refusal). Reads the defaults at each call.
  std::optional<bool> dataCollectionDefaultEnabledIfKnown(platform::ErrorPtr* error) const;
  // As above, with a switch that cannot be read now taken as off: nothing is collected or sent on
  // the strength of a setting that is not known.
  bool isDataCollectionDefaultEnabled() const;
  void setDataCollectionDefaultEnabled(bool enabled);

  // The activation handler: sends the core telemetry while data collection is enabled; while the
  // stored switch cannot be read nothing is sent, and the next activation reads it again.
  void appDidBecomeActive();
  void logCoreTelemetryIfEnabled();

  std::string className() const override { return "LMOApp"; }

  LMOApp(Token, std::string name, const std::shared_ptr<LMOOptions>& options);
  ~LMOApp() override;

 private:
  static void appWasConfiguredTwice(const std::shared_ptr<LMOApp>& app,
                                    const std::shared_ptr<LMOOptions>& options);
  static void registerApp(const std::shared_ptr<LMOApp>& app);
  static void sendNotificationsToSDKs(const std::shared_ptr<LMOApp>& app);
  bool configureCore();
  void subscribeForAppDidBecomeActiveNotifications();
  std::string dataCollectionUserDefaultsKey() const;

  bool isDefaultApp_;
  std::shared_ptr<LMOOptions> options_;
  std::string name_;
  std::shared_ptr<LMOComponentContainer> container_;
  platform::ObservationToken activationObservation_;
};
