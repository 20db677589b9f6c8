// The response of an HTTP request: the URL answered, the status code and the header fields
// (names matched without regard to case; repeated fields joined with ", "). Immutable.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/base/Value.h"
#include "platform/network/URLRequest.h"

namespace platform {

class HTTPURLResponse : public Object {
 public:
  HTTPURLResponse(std::string url, long statusCode, HTTPHeaderFields headerFields);

  std::string className() const override { return "NSHTTPURLResponse"; }
  std::string description() const override;

  const std::string& URL() const { return url_; }
  long statusCode() const { return statusCode_; }
  const HTTPHeaderFields& allHeaderFields() const { return headerFields_; }
  std::optional<std::string> valueForHTTPHeaderField(const std::string& field) const;
  // "Content-Length" as a number, or -1 when absent or unreadable.
  std::int64_t expectedContentLength() const;

  // "no error", "not found", ... (lower case), for logs.
  static std::string localizedStringForStatusCode(long statusCode);

 private:
  std::string url_;
  long statusCode_;
  HTTPHeaderFields headerFields_;
};

}  // namespace platform
