#include "installations/LMOInstallationsIDController.h"

#include "core/LMOLogger.h"
#include "installations/LMOInstallationsConstants.h"
#include "installations/LMOInstallationsErrorUtil.h"
#include "installations/LMOInstallationsHTTPError.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/runtime/KeyedArchiver.h"
#include "promises/PRMPromiseConstants.h"
#include "utilities/VTUConstants.h"
#include "utilities/storage/VTUKeychainStorage.h"

using platform::ErrorPtr;
using platform::Value;

namespace {

std::shared_ptr<LMOInstallationsItem> itemOf(const Value& value) {
  return value.objectAs<LMOInstallationsItem>();
}

// A read that failed for the moment (a keychain I/O error, a locked keychain, a read that threw,
// a legacy marker file that cannot be read now): what it was looking for may well be there, and
// the next call reads again. A legacy record that does not decode (a coder's error) is no such
// failure.
bool isReadFailure(const ErrorPtr& error) {
  if (!error) return false;
  if (error->domain() == vtu::kKeychainErrorDomain) return true;
  if (error->domain() == kPRMPromiseErrorDomain &&
      error->code() == kPRMPromiseErrorCodeThrownException) {
    return true;
  }
  if (error->domain() == platform::kFileErrorDomain) {
    return error->code() == platform::kFileReadCorruptFileError;
  }
  return error->domain() == lmoinst::kErrorDomain && error->code() == lmoinst::kErrorCodeKeychain;
}

}  // namespace

LMOInstallationsIDController::LMOInstallationsIDController(
    std::string appID, std::string appName,
    std::shared_ptr<LMOInstallationsStore> installationsStore,
    std::shared_ptr<LMOInstallationsAPIService> APIService,
    std::shared_ptr<LMOInstallationsIIDStore> IIDStore,
    std::shared_ptr<LMOInstallationsIIDTokenStore> IIDTokenStore,
    std::shared_ptr<LMOInstallationsBackoffController> backoff)
    : appID_(std::move(appID)),
      appName_(std::move(appName)),
      store_(std::move(installationsStore)),
      APIService_(std::move(APIService)),
      IIDStore_(std::move(IIDStore)),
      IIDTokenStore_(std::move(IIDTokenStore)),
      backoff_(std::move(backoff)) {}

std::shared_ptr<LMOInstallationsIDController> LMOInstallationsIDController::initWithVeltroAppID(
    const std::string& appID, const std::string& appName, const std::string& APIKey,
    const std::string& projectID, const std::optional<std::string>& VCMSenderID,
    const std::optional<std::string>& accessGroup) {
  auto storage = VTUKeychainStorage::initWithService(keychainServiceWithAppID(appID));
  return initWithVeltroAppID(appID, appName,
                             LMOInstallationsStore::initWithSecureStorage(storage, accessGroup),
                             LMOInstallationsAPIService::initWithAPIKey(APIKey, projectID),
                             std::make_shared<LMOInstallationsIIDStore>(),
                             std::make_shared<LMOInstallationsIIDTokenStore>(VCMSenderID),
                             std::make_shared<LMOInstallationsBackoffController>());
}

std::shared_ptr<LMOInstallationsIDController> LMOInstallationsIDController::initWithVeltroAppID(
    const std::string& appID, const std::string& appName,
    std::shared_ptr<LMOInstallationsStore> installationsStore,
    std::shared_ptr<LMOInstallationsAPIService> APIService,
    std::shared_ptr<LMOInstallationsIIDStore> IIDStore,
    std::shared_ptr<LMOInstallationsIIDTokenStore> IIDTokenStore,
    std::shared_ptr<LMOInstallationsBackoffController> backoffController) {
  auto controller = std::make_shared<LMOInstallationsIDController>(
      appID, appName, std::move(installationsStore), std::move(APIService), std::move(IIDStore),
      std::move(IIDTokenStore), std::move(backoffController));
  controller->makeCaches();
  return controller;
}

std::string LMOInstallationsIDController::keychainServiceWithAppID(const std::string&) {
  // One service for every app of the process; records are told apart by their key.
  return lmoinst::kKeychainService;
}

void LMOInstallationsIDController::makeCaches() {
  std::weak_ptr<LMOInstallationsIDController> weak = shared_from_this();
  auto handler = [weak](auto operation) {
    return [weak, operation]() -> PRMPromisePtr {
      auto self = weak.lock();
      if (!self) {
        return LMOInstallationsErrorUtil::rejectedPromiseWithError(
            LMOInstallationsErrorUtil::installationsErrorWithCode(lmoinst::kErrorCodeUnknown,
                                                                  std::nullopt, nullptr));
      }
      return operation(*self);
    };
  };
  getInstallationPromiseCache_ =
      LMOInstallationsSingleOperationPromiseCache::initWithNewOperationHandler(handler(
          [](LMOInstallationsIDController& c) { return c.createGetInstallationItemPromise(); }));
  authTokenPromiseCache_ = LMOInstallationsSingleOperationPromiseCache::initWithNewOperationHandler(
      handler([](LMOInstallationsIDController& c) {
        return c.installationWithValidAuthTokenForcingRefresh(false);
      }));
  authTokenForcingRefreshPromiseCache_ =
      LMOInstallationsSingleOperationPromiseCache::initWithNewOperationHandler(
          handler([](LMOInstallationsIDController& c) {
            return c.installationWithValidAuthTokenForcingRefresh(true);
          }));
  deleteInstallationPromiseCache_ =
      LMOInstallationsSingleOperationPromiseCache::initWithNewOperationHandler(handler(
          [](LMOInstallationsIDController& c) { return c.createDeleteInstallationPromise(); }));
}

bool LMOInstallationsIDController::isDefaultApp() const {
  return appName_ == lmoinst::kDefaultAppName;
}

PRMPromisePtr LMOInstallationsIDController::getInstallationItem() {
  return getInstallationPromiseCache_->getExistingPendingOrCreateNewPromise();
}

PRMPromisePtr LMOInstallationsIDController::getAuthTokenForcingRefresh(bool forceRefresh) {
  if (forceRefresh || authTokenForcingRefreshPromiseCache_->getExistingPendingPromise()) {
    return authTokenForcingRefreshPromiseCache_->getExistingPendingOrCreateNewPromise();
  }
  return authTokenPromiseCache_->getExistingPendingOrCreateNewPromise();
}

PRMPromisePtr LMOInstallationsIDController::deleteInstallation() {
  return deleteInstallationPromiseCache_->getExistingPendingOrCreateNewPromise();
}

PRMPromisePtr LMOInstallationsIDController::createGetInstallationItemPromise() {
  LMOLoggerLogDebug(lmoinst::kService, lmoinst::kCodeGetInstallation,
                    lmoinst::kGetInstallationFormat, lmoinst::kGetInstallationFunction, appName_);
  auto self = shared_from_this();
  auto promise = getStoredInstallation()->recover([self](const ErrorPtr& error) -> Value {
    // An identifier once handed out stays: only when there is no record to keep is a new one
    // made. A record that could not be read now fails this call, and the next call reads again.
    if (!self->isNoStoredInstallationError(error)) return Value(error);
    return Value(self->createAndSaveFID());
  });
  std::weak_ptr<LMOInstallationsIDController> weak = self;
  promise->then([weak](const Value& value) -> Value {
    // The FID is handed out at once; registration and the first token follow behind it.
    if (auto controller = weak.lock()) controller->getAuthTokenForcingRefresh(false);
    return value;
  });
  return promise;
}

PRMPromisePtr LMOInstallationsIDController::getStoredInstallation() {
  return store_->installationForAppID(appID_, appName_)->validate([](const Value& value) {
    auto item = itemOf(value);
    ErrorPtr error;
    if (item && item->isValid(&error)) return true;
    LMOLoggerLogWarning(lmoinst::kService, lmoinst::kCodeStoredValidation,
                        lmoinst::kStoredValidation,
                        error ? Value(error->localizedDescription()) : Value());
    return false;
  });
}

bool LMOInstallationsIDController::isNoStoredInstallationError(const ErrorPtr& error) const {
  if (!error) return false;
  // None stored, or its marker gone (a damaged keychain file, once set aside, holds none either).
  if (error->isEqual(
          *LMOInstallationsErrorUtil::installationItemNotFoundForAppID(appID_, appName_))) {
    return true;
  }
  // A record that fails validation.
  if (error->domain() == kPRMPromiseErrorDomain &&
      error->code() == kPRMPromiseErrorCodeValidationFailure) {
    return true;
  }
  // A record whose bytes do not decode as one: no later read makes it readable.
  return error->domain() == platform::kFileErrorDomain &&
         (error->code() == platform::kCoderReadCorruptError ||
          error->code() == platform::kCoderValueNotFoundError);
}

PRMPromisePtr LMOInstallationsIDController::createAndSaveFID() {
  auto self = shared_from_this();
  return migrateOrGenerateInstallation()
      ->then([self](const Value& value) -> Value {
        return Value(self->saveInstallation(itemOf(value)));
      })
      ->then([self](const Value& value) -> Value {
        self->postFIDDidChangeNotification();
        return value;
      });
}

PRMPromisePtr LMOInstallationsIDController::migrateOrGenerateInstallation() {
  auto self = shared_from_this();
  if (!isDefaultApp()) {
    return PRMPromise::resolvedWith(
        Value(createInstallationWithFID(LMOInstallationsItem::generateFID(), std::nullopt)));
  }
  auto iid = IIDStore_->existingIID();
  auto token = IIDTokenStore_->existingIIDDefaultToken();
  // Decided once both reads have answered, so that the outcome does not depend on which of
  // them answered first.
  auto decide = [self, iid, token](const Value&) -> Value {
    if (iid->isFulfilled() && token->isFulfilled()) {
      return Value(
          self->createInstallationWithFID(*iid->value().string(), *token->value().string()));
    }
    // No legacy identity, or one that cannot be taken over: a new installation.
    for (const auto& read : {iid, token}) {
      if (read->isRejected() && !isReadFailure(read->error())) {
        return Value(
            self->createInstallationWithFID(LMOInstallationsItem::generateFID(), std::nullopt));
      }
    }
    // The legacy identity may be there behind a keychain or a marker file that cannot be read
    // now; a new FID would replace it for good. The call fails, and the next one looks again.
    return Value(iid->isRejected() ? iid->error() : token->error());
  };
  return PRMPromise::any({Value(iid), Value(token)})
      ->recover([](const ErrorPtr&) -> Value { return Value::null(); })
      ->then(decide);
}

std::shared_ptr<LMOInstallationsItem> LMOInstallationsIDController::createInstallationWithFID(
    const std::string& FID, const std::optional<std::string>& IIDDefaultToken) const {
  auto item = LMOInstallationsItem::initWithAppID(appID_, appName_);
  item->lumoInstallationID = FID;
  item->IIDDefaultToken = IIDDefaultToken;
  item->registrationStatus = LMOInstallationsRegistrationStatus::Unregistered;
  return item;
}

PRMPromisePtr LMOInstallationsIDController::saveInstallation(const ItemPtr& installation) {
  return store_->saveInstallation(installation)->then([installation](const Value&) -> Value {
    return Value(installation);
  });
}

PRMPromisePtr LMOInstallationsIDController::registerInstallationIfNeeded(
    const ItemPtr& installation) {
  if (installation->registrationStatus == LMOInstallationsRegistrationStatus::Registered) {
    return PRMPromise::resolvedWith(Value(installation));
  }
  if (!backoff_->isNextRequestAllowed()) {
    return LMOInstallationsErrorUtil::rejectedPromiseWithError(
        LMOInstallationsErrorUtil::backoffIntervalWaitError());
  }
  auto self = shared_from_this();
  return APIService_->registerInstallation(installation)
      ->catchError([self](const ErrorPtr& error) {
        self->updateBackoffWithError(error);
        if (LMOInstallationsErrorUtil::isAPIError(error, 400) ||
            LMOInstallationsErrorUtil::isAPIError(error, 403) ||
            LMOInstallationsErrorUtil::isAPIError(error, 404)) {
          // The service's answer goes into this always-written line cut and redacted.
          auto http = std::dynamic_pointer_cast<const LMOInstallationsHTTPError>(error);
          LMOLoggerLogError(lmoinst::kService, lmoinst::kCodeRegistrationFailed,
                            lmoinst::kRegistrationFailed, self->appName_,
                            http ? Value(http->loggableFailureReason())
                            : error->userInfo().count(platform::kLocalizedFailureReasonKey)
                                ? error->userInfo().at(platform::kLocalizedFailureReasonKey)
                                : Value());
        }
      })
      ->then([self, installation](const Value& value) -> Value {
        self->backoff_->registerEvent(LMOInstallationsBackoffEvent::Success);
        auto registered = itemOf(value);
        return Value(self->saveInstallation(registered)
                         ->then([self, installation, registered](const Value&) -> Value {
                           if (registered->lumoInstallationID != installation->lumoInstallationID) {
                             self->postFIDDidChangeNotification();
                           }
                           return Value(registered);
                         }));
      });
}

PRMPromisePtr LMOInstallationsIDController::installationWithValidAuthTokenForcingRefresh(
    bool forceRefresh, bool mayRegenerate) {
  LMOLoggerLogDebug(lmoinst::kService, lmoinst::kCodeValidToken, lmoinst::kValidTokenFormat,
                    Value(forceRefresh), appName_);
  auto self = shared_from_this();
  return getInstallationItem()
      ->then([self](const Value& value) -> Value {
        return Value(self->registerInstallationIfNeeded(itemOf(value)));
      })
      ->then([self, forceRefresh](const Value& value) -> Value {
        auto item = itemOf(value);
        auto date = item->authToken ? item->authToken->expirationDate() : std::nullopt;
        const bool expiresSoon =
            !item->authToken || !item->authToken->token() || !date ||
            *date - platform::Clock::current().now() < lmoinst::kTokenExpirationThreshold;
        if (forceRefresh || expiresSoon) return Value(self->refreshAuthTokenForInstallation(item));
        return value;
      })
      ->recover([self, mayRegenerate](const ErrorPtr& error) -> Value {
        if (!mayRegenerate) return Value(error);
        return Value(self->regenerateFIDOnRefreshTokenErrorIfNeeded(error));
      });
}

PRMPromisePtr LMOInstallationsIDController::refreshAuthTokenForInstallation(
    const ItemPtr& installation) {
  if (!backoff_->isNextRequestAllowed()) {
    return LMOInstallationsErrorUtil::rejectedPromiseWithError(
        LMOInstallationsErrorUtil::backoffIntervalWaitError());
  }
  auto self = shared_from_this();
  return APIService_->refreshAuthTokenForInstallation(installation)
      ->catchError([self](const ErrorPtr& error) { self->updateBackoffWithError(error); })
      ->then([self](const Value& value) -> Value {
        self->backoff_->registerEvent(LMOInstallationsBackoffEvent::Success);
        return Value(self->saveInstallation(itemOf(value)));
      });
}

PRMPromisePtr LMOInstallationsIDController::regenerateFIDOnRefreshTokenErrorIfNeeded(
    const ErrorPtr& error) {
  if (!LMOInstallationsErrorUtil::isAPIError(error, 401) &&
      !LMOInstallationsErrorUtil::isAPIError(error, 404)) {
    return LMOInstallationsErrorUtil::rejectedPromiseWithError(error);
  }
  // The service no longer knows the installation: start over with a new one, once. Should the
  // service not know the new one either, the caller hears its error (a service that answers so
  // to everything would otherwise have every call register without end).
  auto self = shared_from_this();
  return getInstallationItem()
      ->then([self](const Value& value) -> Value {
        return Value(self->deleteInstallationLocally(itemOf(value)));
      })
      ->then([self](const Value&) -> Value {
        return Value(self->installationWithValidAuthTokenForcingRefresh(false, false));
      });
}

PRMPromisePtr LMOInstallationsIDController::createDeleteInstallationPromise() {
  LMOLoggerLogDebug(lmoinst::kService, lmoinst::kCodeDeleteInstallation,
                    lmoinst::kGetInstallationFormat, lmoinst::kDeleteInstallationFunction,
                    appName_);
  auto self = shared_from_this();
  auto source = mostRecentInstallationOperation();
  if (!source) source = getStoredInstallation();
  return source
      ->then([self](const Value& value) -> Value {
        return Value(self->sendDeleteInstallationRequestIfNeeded(itemOf(value)));
      })
      ->then([self](const Value& value) -> Value {
        return Value(self->deleteInstallationLocally(itemOf(value)));
      });
}

PRMPromisePtr LMOInstallationsIDController::mostRecentInstallationOperation() {
  if (auto p = authTokenForcingRefreshPromiseCache_->getExistingPendingPromise()) return p;
  if (auto p = authTokenPromiseCache_->getExistingPendingPromise()) return p;
  return getInstallationPromiseCache_->getExistingPendingPromise();
}

PRMPromisePtr LMOInstallationsIDController::sendDeleteInstallationRequestIfNeeded(
    const ItemPtr& installation) {
  if (installation->registrationStatus != LMOInstallationsRegistrationStatus::Registered) {
    return PRMPromise::resolvedWith(Value(installation));
  }
  return APIService_->deleteInstallation(installation)
      ->recover([installation](const ErrorPtr& error) -> Value {
        // Already gone at the service: that is what was asked.
        if (LMOInstallationsErrorUtil::isAPIError(error, 404)) return Value(installation);
        return Value(error);
      });
}

PRMPromisePtr LMOInstallationsIDController::deleteInstallationLocally(const ItemPtr& installation) {
  auto self = shared_from_this();
  auto removed =
      store_->removeInstallationForAppID(installation->appID(), installation->lumoAppName());
  if (!isDefaultApp()) {
    return removed->then([self](const Value&) -> Value {
      self->postFIDDidChangeNotification();
      return Value::null();
    });
  }
  // The default app's legacy identifier goes too; only a deletion that removed both is
  // announced, a failure there rejects it with that error and posts nothing.
  auto iid = IIDStore_;
  return removed->then([self, iid](const Value&) -> Value {
    return Value(iid->deleteExistingIID()->then([self](const Value&) -> Value {
      self->postFIDDidChangeNotification();
      return Value::null();
    }));
  });
}

void LMOInstallationsIDController::postFIDDidChangeNotification() {
  platform::NotificationCenter::defaultCenter().post(
      lmoinst::kIDDidChangeNotification, Value(),
      Value::Dictionary{{lmoinst::kAppNameKey, Value(appName_)}});
}

void LMOInstallationsIDController::updateBackoffWithError(const ErrorPtr& error) {
  auto http = std::dynamic_pointer_cast<const LMOInstallationsHTTPError>(error);
  if (!http || !http->HTTPResponse()) return;
  const long status = http->HTTPResponse()->statusCode();
  if (status == 400 || status == 403) {
    backoff_->registerEvent(LMOInstallationsBackoffEvent::UnrecoverableFailure);
  } else if (status == 401 || status == 404) {
    // A refresh-token error: the installation is started over, the back-off stays as it is.
  } else {
    backoff_->registerEvent(LMOInstallationsBackoffEvent::RecoverableFailure);
  }
}
