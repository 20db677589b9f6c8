#include "utilities/network/VTUURLSessionDataResponse.h"

#include "platform/base/Format.h"

VTUURLSessionDataResponse::VTUURLSessionDataResponse(
    std::shared_ptr<const platform::HTTPURLResponse> response, std::optional<platform::Bytes> body)
    : HTTPResponse_(std::move(response)), HTTPBody_(std::move(body)) {}

std::shared_ptr<VTUURLSessionDataResponse> VTUURLSessionDataResponse::initWithResponse(
    std::shared_ptr<const platform::HTTPURLResponse> response,
    std::optional<platform::Bytes> body) {
  return std::make_shared<VTUURLSessionDataResponse>(std::move(response), std::move(body));
}

std::string VTUURLSessionDataResponse::description() const {
  return platform::format("<VTUURLSessionDataResponse: %p> status %ld, %lu body bytes",
                          platform::pointerValue(this),
                          HTTPResponse_ ? HTTPResponse_->statusCode() : 0L,
                          static_cast<unsigned long>(HTTPBody_ ? HTTPBody_->size() : 0));
}
