#include "installations/LMOInstallations.h"

#include <vector>

#include "core/LMOApp.h"
#include "core/LMOComponentContainer.h"
#include "core/LMOConstants.h"
#include "core/LMOLibrary.h"
#include "installations/LMOInstallationsConstants.h"
#include "installations/LMOInstallationsErrorUtil.h"
#include "platform/base/Format.h"

namespace rt = platform::runtime;
using platform::ErrorPtr;
using platform::Value;

namespace {

const rt::ClassRegistrar kClass(lmoinst::kInstallationsClassName, rt::kRootClassName,
                                sizeof(LMOInstallations), [](rt::Class& c) {
                                  c.addProtocol(lmo::kLibraryProtocolName);
                                  c.addClassMethod(
                                      lmo::kComponentsToRegisterSelector,
                                      [](platform::Object&) -> LMOComponentList {
                                        return LMOInstallations::componentsToRegister();
                                      });
                                });
const LMOLibraryRegistrar kLibrary(lmoinst::kInstallationsClassName, lmoinst::kLibraryName);

std::string joined(const std::vector<std::string>& parts) {
  std::string out;
  for (const auto& p : parts) out += (out.empty() ? "" : ", ") + p;
  return out;
}

bool isEmpty(const std::optional<std::string>& value) { return !value || value->empty(); }

bool isURLSafeCharacter(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_';
}

}  // namespace

LMOInstallations::LMOInstallations(std::shared_ptr<LMOOptions> appOptions, std::string appName,
                                   std::shared_ptr<LMOInstallationsIDController> controller)
    : appOptions_(std::move(appOptions)),
      appName_(std::move(appName)),
      controller_(std::move(controller)) {}

std::string LMOInstallations::className() const { return lmoinst::kInstallationsClassName; }

LMOProtocol LMOInstallations::instanceProviderProtocol() {
  return LMOProtocol::of<LMOInstallations>(lmoinst::kInstanceProviderProtocol);
}

LMOComponentList LMOInstallations::componentsToRegister() {
  return {LMOComponent::componentWithProtocol(
      instanceProviderProtocol(), LMOInstantiationTiming::AlwaysEager, {},
      [](LMOComponentContainer& container, bool* isCacheable) -> platform::ObjectPtr {
        *isCacheable = true;
        return initWithApp(container.app());
      })};
}

std::shared_ptr<LMOInstallations> LMOInstallations::installations() {
  auto app = LMOApp::isDefaultAppConfigured() ? LMOApp::defaultApp() : nullptr;
  if (!app) throw platform::Exception(lmoinst::kExceptionName, lmoinst::kNoDefaultAppReason);
  return installationsWithApp(app);
}

std::shared_ptr<LMOInstallations> LMOInstallations::installationsWithApp(
    const std::shared_ptr<LMOApp>& app) {
  if (!app || !app->container()) return nullptr;
  return LMOComponentType::instanceForProtocol<LMOInstallations>(instanceProviderProtocol(),
                                                                 *app->container());
}

std::shared_ptr<LMOInstallations> LMOInstallations::initWithApp(
    const std::shared_ptr<LMOApp>& app) {
  if (!app) return nullptr;
  return initWithAppOptions(app->options(), app->name());
}

std::shared_ptr<LMOInstallations> LMOInstallations::initWithAppOptions(
    const std::shared_ptr<LMOOptions>& appOptions, const std::string& appName) {
  validateAppOptions(appOptions, appName);
  assertCompatibleIIDVersion();
  auto controller = LMOInstallationsIDController::initWithVeltroAppID(
      appOptions->veltroAppID().value_or(""), appName, appOptions->APIKey().value_or(""),
      appOptions->projectID().value_or(""), appOptions->VCMSenderID(), appOptions->appGroupID());
  return initWithAppOptions(appOptions, appName, controller, false);
}

std::shared_ptr<LMOInstallations> LMOInstallations::initWithAppOptions(
    const std::shared_ptr<LMOOptions>& appOptions, const std::string& appName,
    std::shared_ptr<LMOInstallationsIDController> controller, bool prefetchAuthToken) {
  validateAppOptions(appOptions, appName);
  assertCompatibleIIDVersion();
  auto installations =
      std::make_shared<LMOInstallations>(appOptions->copy(), appName, std::move(controller));
  if (prefetchAuthToken) {
    installations->authTokenWithCompletion(
        [](const std::shared_ptr<LMOInstallationsAuthTokenResult>&, const ErrorPtr&) {});
  }
  return installations;
}

void LMOInstallations::validateAppOptions(const std::shared_ptr<LMOOptions>& options,
                                          const std::string& appName) {
  std::vector<std::string> missing;
  if (appName.empty()) missing.emplace_back(lmoinst::kOptionAppName);
  if (!options || isEmpty(options->APIKey())) missing.emplace_back(lmoinst::kOptionAPIKey);
  if (!options || isEmpty(options->veltroAppID())) missing.emplace_back(lmoinst::kOptionAppID);
  if (!options || isEmpty(options->projectID())) missing.emplace_back(lmoinst::kOptionProjectID);
  if (!missing.empty()) {
    throw platform::Exception(lmoinst::kExceptionName,
                              platform::format(lmoinst::kMissingOptionsReason, lmoinst::kService,
                                               lmoinst::kCodeInvalidOptions, joined(missing)));
  }
  const std::string key = *options->APIKey();
  std::vector<std::string> problems;
  if (key.size() != lmoinst::kAPIKeyLength) {
    problems.push_back(platform::format(lmoinst::kAPIKeyLengthFormat, lmoinst::kAPIKeyLength));
  }
  if (key.front() != 'A') problems.emplace_back(lmoinst::kAPIKeyFirstCharacter);
  for (unsigned char c : key) {
    if (!isURLSafeCharacter(c)) {
      problems.emplace_back(lmoinst::kAPIKeyCharacters);
      break;
    }
  }
  if (!problems.empty()) {
    throw platform::Exception(lmoinst::kExceptionName,
                              platform::format(lmoinst::kInvalidAPIKeyReason, lmoinst::kService,
                                               lmoinst::kCodeInvalidOptions, joined(problems)));
  }
}

void LMOInstallations::assertCompatibleIIDVersion() {
  rt::Class* legacy = rt::classNamed(lmoinst::kLegacyInstanceIDClassName);
  if (legacy && !rt::classGetClassMethod(legacy, lmoinst::kUsesFISSelector)) {
    throw platform::Exception(lmoinst::kExceptionName, lmoinst::kLegacyIncompatibleReason);
  }
}

void LMOInstallations::installationIDWithCompletion(IDCompletion completion) {
  controller_->getInstallationItem()
      ->then([completion](const Value& value) -> Value {
        auto item = value.objectAs<LMOInstallationsItem>();
        completion(item ? item->lumoInstallationID : std::nullopt, nullptr);
        return value;
      })
      ->catchError([completion](const ErrorPtr& error) {
        completion(std::nullopt, LMOInstallationsErrorUtil::publicDomainErrorWithError(error));
      });
}

void LMOInstallations::authTokenWithCompletion(TokenCompletion completion) {
  authTokenForcingRefresh(false, std::move(completion));
}

void LMOInstallations::authTokenForcingRefresh(bool forceRefresh, TokenCompletion completion) {
  controller_->getAuthTokenForcingRefresh(forceRefresh)
      ->then([completion](const Value& value) -> Value {
        auto item = value.objectAs<LMOInstallationsItem>();
        auto token = item ? item->authToken : nullptr;
        completion(LMOInstallationsAuthTokenResult::initWithToken(
                       token ? token->token().value_or("") : "",
                       token ? token->expirationDate().value_or(0) : 0),
                   nullptr);
        return value;
      })
      ->catchError([completion](const ErrorPtr& error) {
        completion(nullptr, LMOInstallationsErrorUtil::publicDomainErrorWithError(error));
      });
}

void LMOInstallations::deleteWithCompletion(DeleteCompletion completion) {
  controller_->deleteInstallation()
      ->then([completion](const Value& value) -> Value {
        completion(nullptr);
        return value;
      })
      ->catchError([completion](const ErrorPtr& error) {
        completion(LMOInstallationsErrorUtil::publicDomainErrorWithError(error));
      });
}
