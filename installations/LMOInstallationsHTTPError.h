// An error of the installations service's HTTP answers: the domain "com.lumo.installations",
// code 0 for every status, with the response and body kept so callers can tell statuses apart.
// Immutable; safe to share between threads.
#pragma once

#include <memory>
#include <optional>

#include "platform/base/Error.h"
#include "platform/network/URLResponse.h"

class LMOInstallationsHTTPError : public platform::Error {
 public:
  LMOInstallationsHTTPError(std::shared_ptr<const platform::HTTPURLResponse> response,
                            std::optional<platform::Bytes> data);
  static std::shared_ptr<const LMOInstallationsHTTPError> initWithHTTPResponse(
      std::shared_ptr<const platform::HTTPURLResponse> response,
      std::optional<platform::Bytes> data);
  static long errorCodeWithHTTPCode(long HTTPCode);

  const std::shared_ptr<const platform::HTTPURLResponse>& HTTPResponse() const {
    return HTTPResponse_;
  }
  const std::optional<platform::Bytes>& data() const { return data_; }
  std::shared_ptr<const LMOInstallationsHTTPError> copy() const;
  std::string className() const override;

 private:
  std::shared_ptr<const platform::HTTPURLResponse> HTTPResponse_;
  std::optional<platform::Bytes> data_;
};
