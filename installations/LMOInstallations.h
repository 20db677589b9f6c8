// The public face of installations: one object per configured app, created by the app core's
// component container (library "lumo-install", protocol "LMOInstallationsInstanceProvider"),
// that hands out the app's installation identifier (FID), auth tokens for it, and deletes the
// installation. Completions run on the promises' default queue (the main queue unless replaced);
// every error they get is of the domain "com.lumo.installations". Thread-safe.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/LMOComponent.h"
#include "core/LMOOptions.h"
#include "installations/LMOInstallationsAuthTokenResult.h"
#include "installations/LMOInstallationsIDController.h"
#include "platform/base/Error.h"
#include "platform/runtime/Runtime.h"

class LMOApp;

class LMOInstallations : public platform::runtime::RootObject {
 public:
  using IDCompletion =
      std::function<void(const std::optional<std::string>& identifier, const platform::ErrorPtr&)>;
  using TokenCompletion = std::function<void(
      const std::shared_ptr<LMOInstallationsAuthTokenResult>& result, const platform::ErrorPtr&)>;
  using DeleteCompletion = std::function<void(const platform::ErrorPtr&)>;

  // The default app's object; raises "com.lumo.installations" when no default app is configured.
  static std::shared_ptr<LMOInstallations> installations();
  static std::shared_ptr<LMOInstallations> installationsWithApp(const std::shared_ptr<LMOApp>& app);
  static LMOProtocol instanceProviderProtocol();
  static LMOComponentList componentsToRegister();

  // Raise "com.lumo.installations" for missing or malformed options, or an incompatible legacy
  // instance-ID library in the process.
  static std::shared_ptr<LMOInstallations> initWithApp(const std::shared_ptr<LMOApp>& app);
  static std::shared_ptr<LMOInstallations> initWithAppOptions(
      const std::shared_ptr<LMOOptions>& appOptions, const std::string& appName);
  static std::shared_ptr<LMOInstallations> initWithAppOptions(
      const std::shared_ptr<LMOOptions>& appOptions, const std::string& appName,
      std::shared_ptr<LMOInstallationsIDController> controller, bool prefetchAuthToken);
  static void validateAppOptions(const std::shared_ptr<LMOOptions>& appOptions,
                                 const std::string& appName);
  static void assertCompatibleIIDVersion();

  void installationIDWithCompletion(IDCompletion completion);
  void authTokenWithCompletion(TokenCompletion completion);
  void authTokenForcingRefresh(bool forceRefresh, TokenCompletion completion);
  void deleteWithCompletion(DeleteCompletion completion);

  const std::shared_ptr<LMOOptions>& appOptions() const { return appOptions_; }
  const std::string& appName() const { return appName_; }
  const std::shared_ptr<LMOInstallationsIDController>& installationsIDController() const {
    return controller_;
  }
  std::string className() const override;

  LMOInstallations(std::shared_ptr<LMOOptions> appOptions, std::string appName,
                   std::shared_ptr<LMOInstallationsIDController> controller);

 private:
  std::shared_ptr<LMOOptions> appOptions_;
  std::string appName_;
  std::shared_ptr<LMOInstallationsIDController> controller_;
};
