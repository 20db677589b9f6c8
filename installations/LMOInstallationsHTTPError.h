// An error of the installations service's HTTP answers: the domain "com.lumo.installations",
// code 0 for every status, with the response and body kept so callers can tell statuses apart.
// Immutable; safe to share between threads.
#pragma once

#include <memory>
#include <optional>

#include "platform/base/Error.h"
#include "platform/network/URLResponse.h"
#include "platform/runtime/KeyedArchiver.h"

// Archived under "HTTPResponse" (the response's URL, status and header fields) and "data".
class LMOInstallationsHTTPError : public platform::Error, public platform::SecureCoding {
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
  // The failure reason for a log line that is always written: the body is shown by its first
  // KiB at most, with its tokens redacted.
  std::string loggableFailureReason() const;
  std::shared_ptr<const LMOInstallationsHTTPError> copy() const;
  std::string className() const override;
  void encodeWithCoder(platform::KeyedArchiver& coder) const override;
  // No object without an "HTTPResponse".
  static platform::ObjectPtr decode(platform::KeyedUnarchiver& coder);

 private:
  std::shared_ptr<const platform::HTTPURLResponse> HTTPResponse_;
  std::optional<platform::Bytes> data_;
};
