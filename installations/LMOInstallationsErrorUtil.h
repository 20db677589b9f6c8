// Builders of the installations subsystem's errors (domain "com.lumo.installations"), and the
// wrapping every error gets before it reaches a caller of the public interface. Stateless.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/base/Error.h"
#include "platform/network/URLResponse.h"
#include "promises/PRMPromise.h"

class LMOInstallationsErrorUtil {
 public:
  // `failureReason` empty: "Underlying error: %@" with the underlying error's description.
  static platform::ErrorPtr installationsErrorWithCode(
      long code, const std::optional<std::string>& failureReason,
      const platform::ErrorPtr& underlyingError);
  static platform::ErrorPtr keychainErrorWithFunction(const std::string& function, long status);
  static platform::ErrorPtr installationItemNotFoundForAppID(const std::string& appID,
                                                             const std::string& appName);
  static platform::ErrorPtr corruptedIIDTokenData();
  static platform::ErrorPtr JSONSerializationError(const platform::ErrorPtr& error);
  static platform::ErrorPtr FIDRegistrationErrorWithResponseMissingField(const std::string& field);
  static platform::ErrorPtr backoffIntervalWaitError();
  // Errors of our domain pass unchanged; any other is wrapped as code 0.
  static platform::ErrorPtr publicDomainErrorWithError(const platform::ErrorPtr& error);
  static platform::ErrorPtr APIErrorWithHTTPResponse(
      std::shared_ptr<const platform::HTTPURLResponse> response,
      const std::optional<platform::Bytes>& data);
  static bool isAPIError(const platform::ErrorPtr& error, long HTTPCode);
  static PRMPromisePtr rejectedPromiseWithError(const platform::ErrorPtr& error);
};

void LMOInstallationsAssignErrorPointer(const platform::ErrorPtr& error, platform::ErrorPtr* out);
