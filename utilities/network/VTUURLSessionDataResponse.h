// The outcome of a data task that reached the server: its HTTP response and the body bytes
// (possibly none). Immutable once made; safe to share between threads.
#pragma once

#include <memory>
#include <optional>

#include "platform/base/Value.h"
#include "platform/network/URLResponse.h"

class VTUURLSessionDataResponse : public platform::Object {
 public:
  VTUURLSessionDataResponse(std::shared_ptr<const platform::HTTPURLResponse> response,
                            std::optional<platform::Bytes> body);
  static std::shared_ptr<VTUURLSessionDataResponse> initWithResponse(
      std::shared_ptr<const platform::HTTPURLResponse> response,
      std::optional<platform::Bytes> body);

  std::string className() const override { return "VTUURLSessionDataResponse"; }
  std::string description() const override;

  const std::shared_ptr<const platform::HTTPURLResponse>& HTTPResponse() const {
    return HTTPResponse_;
  }
  const std::optional<platform::Bytes>& HTTPBody() const { return HTTPBody_; }

 private:
  std::shared_ptr<const platform::HTTPURLResponse> HTTPResponse_;
  std::optional<platform::Bytes> HTTPBody_;
};
