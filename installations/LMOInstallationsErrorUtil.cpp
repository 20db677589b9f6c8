#include "installations/LMOInstallationsErrorUtil.h"

#include "installations/LMOInstallationsConstants.h"
#include "installations/LMOInstallationsHTTPError.h"
#include "platform/base/Format.h"

using platform::ErrorPtr;
using platform::Value;

ErrorPtr LMOInstallationsErrorUtil::installationsErrorWithCode(
    long code, const std::optional<std::string>& failureReason, const ErrorPtr& underlyingError) {
  std::string reason;
  if (failureReason) {
    reason = *failureReason;
  } else {
    reason = platform::format(
        lmoinst::kUnderlyingErrorFormat,
        underlyingError ? Value(underlyingError->localizedDescription()) : Value());
  }
  Value::Dictionary userInfo{{platform::kLocalizedFailureReasonKey, Value(reason)}};
  if (underlyingError) userInfo[platform::kUnderlyingErrorKey] = Value(underlyingError);
  return platform::Error::make(lmoinst::kErrorDomain, code, std::move(userInfo));
}

ErrorPtr LMOInstallationsErrorUtil::keychainErrorWithFunction(const std::string& function,
                                                              long status) {
  return installationsErrorWithCode(
      lmoinst::kErrorCodeKeychain,
      platform::format(lmoinst::kKeychainErrorFormat, function, status), nullptr);
}

ErrorPtr LMOInstallationsErrorUtil::installationItemNotFoundForAppID(const std::string& appID,
                                                                     const std::string& appName) {
  return installationsErrorWithCode(lmoinst::kErrorCodeUnknown,
                                    platform::format(lmoinst::kNotFoundFormat, appID, appName),
                                    nullptr);
}

ErrorPtr LMOInstallationsErrorUtil::corruptedIIDTokenData() {
  return installationsErrorWithCode(lmoinst::kErrorCodeUnknown,
                                    std::string(lmoinst::kCorruptedIIDTokenData), nullptr);
}

ErrorPtr LMOInstallationsErrorUtil::JSONSerializationError(const ErrorPtr&) {
  return installationsErrorWithCode(lmoinst::kErrorCodeUnknown,
                                    std::string(lmoinst::kJSONSerializationFailed), nullptr);
}

ErrorPtr LMOInstallationsErrorUtil::FIDRegistrationErrorWithResponseMissingField(
    const std::string& field) {
  return installationsErrorWithCode(lmoinst::kErrorCodeUnknown,
                                    platform::format(lmoinst::kMissingFieldFormat, field), nullptr);
}

ErrorPtr LMOInstallationsErrorUtil::backoffIntervalWaitError() {
  return installationsErrorWithCode(lmoinst::kErrorCodeServerUnreachable,
                                    std::string(lmoinst::kTooManyRequests), nullptr);
}

ErrorPtr LMOInstallationsErrorUtil::publicDomainErrorWithError(const ErrorPtr& error) {
  if (error && error->domain() == lmoinst::kErrorDomain) return error;
  return installationsErrorWithCode(lmoinst::kErrorCodeUnknown, std::nullopt, error);
}

ErrorPtr LMOInstallationsErrorUtil::APIErrorWithHTTPResponse(
    std::shared_ptr<const platform::HTTPURLResponse> response,
    const std::optional<platform::Bytes>& data) {
  return LMOInstallationsHTTPError::initWithHTTPResponse(std::move(response), data);
}

bool LMOInstallationsErrorUtil::isAPIError(const ErrorPtr& error, long HTTPCode) {
  auto http = std::dynamic_pointer_cast<const LMOInstallationsHTTPError>(error);
  return http && http->HTTPResponse() && http->HTTPResponse()->statusCode() == HTTPCode;
}

PRMPromisePtr LMOInstallationsErrorUtil::rejectedPromiseWithError(const ErrorPtr& error) {
  auto promise = PRMPromise::pendingPromise();
  promise->reject(error);
  return promise;
}

void LMOInstallationsAssignErrorPointer(const ErrorPtr& error, ErrorPtr* out) {
  if (out) *out = error;
}
