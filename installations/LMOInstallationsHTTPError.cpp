#include "installations/LMOInstallationsHTTPError.h"

#include "installations/LMOInstallationsConstants.h"
#include "platform/base/Format.h"

namespace {

platform::Value bodyText(const std::optional<platform::Bytes>& data) {
  if (!data) return platform::Value();
  std::string text(data->begin(), data->end());
  platform::Value value(text);
  // Undecodable bytes print as a missing object, as the platform's UTF-8 decoding would give.
  if (!value.string() || *value.string() != text) return platform::Value();
  return value;
}

platform::Value::Dictionary userInfoFor(const platform::HTTPURLResponse* response,
                                        const std::optional<platform::Bytes>& data) {
  std::string reason = platform::format(
      lmoinst::kHTTPErrorFormat, response ? platform::Value(response->URL()) : platform::Value(),
      response ? response->statusCode() : 0L, bodyText(data));
  return {{platform::kLocalizedFailureReasonKey, platform::Value(reason)}};
}

}  // namespace

LMOInstallationsHTTPError::LMOInstallationsHTTPError(
    std::shared_ptr<const platform::HTTPURLResponse> response, std::optional<platform::Bytes> data)
    : platform::Error(lmoinst::kErrorDomain,
                      errorCodeWithHTTPCode(response ? response->statusCode() : 0),
                      userInfoFor(response.get(), data)),
      HTTPResponse_(std::move(response)),
      data_(std::move(data)) {}

std::shared_ptr<const LMOInstallationsHTTPError> LMOInstallationsHTTPError::initWithHTTPResponse(
    std::shared_ptr<const platform::HTTPURLResponse> response,
    std::optional<platform::Bytes> data) {
  if (!response) return nullptr;
  return std::make_shared<const LMOInstallationsHTTPError>(std::move(response), std::move(data));
}

long LMOInstallationsHTTPError::errorCodeWithHTTPCode(long) { return lmoinst::kErrorCodeUnknown; }

std::shared_ptr<const LMOInstallationsHTTPError> LMOInstallationsHTTPError::copy() const {
  return std::make_shared<const LMOInstallationsHTTPError>(HTTPResponse_, data_);
}

std::string LMOInstallationsHTTPError::className() const { return lmoinst::kHTTPErrorClassName; }
