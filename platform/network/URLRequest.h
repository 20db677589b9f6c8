// An HTTP request: URL, method, header fields (names matched without regard to case), body,
// timeout and cache policy. A plain value; copy it freely.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "platform/base/Value.h"

namespace platform {

enum class URLRequestCachePolicy {
  UseProtocolCachePolicy = 0,
  ReloadIgnoringLocalCacheData = 1,
  ReturnCacheDataElseLoad = 2,
  ReturnCacheDataDontLoad = 3,
};

// Orders header names without regard to case, so "content-type" and "Content-Type" are one field.
struct CaseInsensitiveLess {
  bool operator()(const std::string& a, const std::string& b) const;
};
using HTTPHeaderFields = std::map<std::string, std::string, CaseInsensitiveLess>;

// Whether two absolute URLs share an origin: the same scheme, host and port (a missing port is
// the scheme's own), compared without regard to case. A URL that cannot be read shares none.
bool isSameOrigin(const std::string& a, const std::string& b);

// Header fields that carry a credential: Authorization, Proxy-Authorization, Cookie, and every
// API-key ("...api-key...", "...apikey...") or token ("...-auth") field. They go only to the
// origin the request was made for.
bool isCredentialHeaderField(const std::string& name);

struct URLRequest {
  URLRequest() = default;
  explicit URLRequest(
      std::string url,
      URLRequestCachePolicy cachePolicy = URLRequestCachePolicy::UseProtocolCachePolicy,
      double timeoutInterval = 60)
      : URL(std::move(url)), cachePolicy(cachePolicy), timeoutInterval(timeoutInterval) {}

  // The absolute URL string ("http://host:port/path?query").
  std::string URL;
  std::string HTTPMethod = "GET";
  HTTPHeaderFields allHTTPHeaderFields;
  Bytes HTTPBody;
  URLRequestCachePolicy cachePolicy = URLRequestCachePolicy::UseProtocolCachePolicy;
  // Seconds; 0 or less means the session configuration's request timeout.
  double timeoutInterval = 60;

  // Replaces the field (an empty value removes it).
  void setValueForHTTPHeaderField(const std::string& value, const std::string& field);
  std::optional<std::string> valueForHTTPHeaderField(const std::string& field) const;
  // Replaces every field.
  void setAllHTTPHeaderFields(HTTPHeaderFields fields) { allHTTPHeaderFields = std::move(fields); }
};

}  // namespace platform
