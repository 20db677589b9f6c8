// A response of the installations service: the HTTP response and its body (empty when the
// session delivered none). Immutable.
#pragma once

#include <memory>

#include "platform/base/Value.h"
#include "platform/network/URLResponse.h"

class LMOInstallationsURLSessionResponse : public platform::Object {
 public:
  LMOInstallationsURLSessionResponse(std::shared_ptr<const platform::HTTPURLResponse> response,
                                     platform::Bytes data)
      : HTTPResponse_(std::move(response)), data_(std::move(data)) {}
  const std::shared_ptr<const platform::HTTPURLResponse>& HTTPResponse() const {
    return HTTPResponse_;
  }
  const platform::Bytes& data() const { return data_; }
  std::string className() const override { return "LMOInstallationsURLSessionResponse"; }

 private:
  std::shared_ptr<const platform::HTTPURLResponse> HTTPResponse_;
  platform::Bytes data_;
};
