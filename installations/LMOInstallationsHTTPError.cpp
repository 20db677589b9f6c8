#include "installations/LMOInstallationsHTTPError.h"

#include "installations/LMOInstallationsConstants.h"
#include "installations/LMOInstallationsLoggable.h"
#include "platform/base/Format.h"
#include "platform/runtime/Runtime.h"

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

constexpr const char* kKeyHTTPResponse = "HTTPResponse";
constexpr const char* kKeyData = "data";
constexpr const char* kKeyURL = "URL";
constexpr const char* kKeyStatusCode = "statusCode";
constexpr const char* kKeyHeaderFields = "headerFields";

const platform::runtime::ClassRegistrar kClass(lmoinst::kHTTPErrorClassName,
                                               platform::runtime::kRootClassName,
                                               sizeof(LMOInstallationsHTTPError), nullptr);
const platform::ArchiveDecoderRegistrar kDecoder(lmoinst::kHTTPErrorClassName,
                                                 &LMOInstallationsHTTPError::decode);

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

std::string LMOInstallationsHTTPError::loggableFailureReason() const {
  constexpr std::size_t kLoggedBodyBytes = 1024;
  return platform::format(
      lmoinst::kHTTPErrorFormat,
      HTTPResponse_ ? platform::Value(HTTPResponse_->URL()) : platform::Value(),
      HTTPResponse_ ? HTTPResponse_->statusCode() : 0L,
      data_ ? LMOInstallationsLoggableBody(*data_, kLoggedBodyBytes) : platform::Value());
}

std::string LMOInstallationsHTTPError::className() const { return lmoinst::kHTTPErrorClassName; }

void LMOInstallationsHTTPError::encodeWithCoder(platform::KeyedArchiver& coder) const {
  if (HTTPResponse_) {
    platform::Value::Dictionary headers;
    for (const auto& [name, value] : HTTPResponse_->allHeaderFields()) {
      headers[name] = platform::Value(value);
    }
    coder.encodeObject(platform::Value(platform::Value::Dictionary{
                           {kKeyURL, platform::Value(HTTPResponse_->URL())},
                           {kKeyStatusCode, platform::Value(HTTPResponse_->statusCode())},
                           {kKeyHeaderFields, platform::Value(std::move(headers))}}),
                       kKeyHTTPResponse);
  }
  if (data_) coder.encodeData(*data_, kKeyData);
}

platform::ObjectPtr LMOInstallationsHTTPError::decode(platform::KeyedUnarchiver& coder) {
  const platform::Value stored = coder.decodeObjectOfClasses(
      {platform::kDictionaryClassName, platform::kStringClassName, platform::kNumberClassName},
      kKeyHTTPResponse);
  const auto* fields = stored.dictionary();
  if (!fields || !stored[kKeyURL].string() || !stored[kKeyStatusCode].isNumber()) return nullptr;
  platform::HTTPHeaderFields headers;
  if (const auto* dict = stored[kKeyHeaderFields].dictionary()) {
    for (const auto& [name, value] : *dict) {
      if (value.string()) headers[name] = *value.string();
    }
  }
  auto response = std::make_shared<const platform::HTTPURLResponse>(
      *stored[kKeyURL].string(), static_cast<long>(stored[kKeyStatusCode].int64Value()),
      std::move(headers));
  return std::const_pointer_cast<LMOInstallationsHTTPError>(
      std::make_shared<const LMOInstallationsHTTPError>(std::move(response),
                                                        coder.decodeData(kKeyData)));
}
