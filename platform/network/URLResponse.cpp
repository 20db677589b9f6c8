#include "platform/network/URLResponse.h"

#include <charconv>

#include "platform/base/Format.h"

namespace platform {

HTTPURLResponse::HTTPURLResponse(std::string url, long statusCode, HTTPHeaderFields headerFields)
    : url_(std::move(url)), statusCode_(statusCode), headerFields_(std::move(headerFields)) {}

std::string HTTPURLResponse::description() const {
  return format("<NSHTTPURLResponse: %p> { URL: %@ } { Status Code: %ld }", pointerValue(this),
                url_, statusCode_);
}

std::optional<std::string> HTTPURLResponse::valueForHTTPHeaderField(
    const std::string& field) const {
  auto it = headerFields_.find(field);
  if (it == headerFields_.end()) return std::nullopt;
  return it->second;
}

std::int64_t HTTPURLResponse::expectedContentLength() const {
  auto text = valueForHTTPHeaderField("Content-Length");
  if (!text) return -1;
  std::int64_t length = -1;
  auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), length);
  if (ec != std::errc() || end != text->data() + text->size() || length < 0) return -1;
  return length;
}

std::string HTTPURLResponse::localizedStringForStatusCode(long statusCode) {
  switch (statusCode) {
    case 200:
      return "no error";
    case 201:
      return "created";
    case 202:
      return "accepted";
    case 204:
      return "no content";
    case 300:
      return "multiple choices";
    case 301:
      return "moved permanently";
    case 302:
      return "found";
    case 303:
      return "see other";
    case 304:
      return "not modified";
    case 307:
      return "temporarily redirected";
    case 308:
      return "permanent redirect";
    case 400:
      return "bad request";
    case 401:
      return "unauthorized";
    case 403:
      return "forbidden";
    case 404:
      return "not found";
    case 429:
      return "too many requests";
    case 500:
      return "internal server error";
    case 502:
      return "bad gateway";
    case 503:
      return "service unavailable";
    default:
      break;
  }
  if (statusCode >= 100 && statusCode < 200) return "informational";
  if (statusCode >= 200 && statusCode < 300) return "success";
  if (statusCode >= 300 && statusCode < 400) return "redirected";
  if (statusCode >= 400 && statusCode < 500) return "client error";
  if (statusCode >= 500 && statusCode < 600) return "server error";
  return "unknown";
}

}  // namespace platform
