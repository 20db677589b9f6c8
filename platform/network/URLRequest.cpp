#include "platform/network/URLRequest.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <string_view>

namespace platform {

bool CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) <
           std::tolower(static_cast<unsigned char>(y));
  });
}

void URLRequest::setValueForHTTPHeaderField(const std::string& value, const std::string& field) {
  allHTTPHeaderFields.erase(field);
  if (!value.empty()) allHTTPHeaderFields.emplace(field, value);
}

std::optional<std::string> URLRequest::valueForHTTPHeaderField(const std::string& field) const {
  auto it = allHTTPHeaderFields.find(field);
  if (it == allHTTPHeaderFields.end()) return std::nullopt;
  return it->second;
}

namespace {

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

struct Origin {
  std::string scheme;
  std::string host;
  std::string port;
};

std::optional<Origin> originOf(const std::string& url) {
  CURLU* handle = curl_url();
  if (!handle) return std::nullopt;
  std::optional<Origin> origin;
  if (curl_url_set(handle, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
    auto part = [handle](CURLUPart which, unsigned int flags) -> std::optional<std::string> {
      char* text = nullptr;
      if (curl_url_get(handle, which, &text, flags) != CURLUE_OK || !text) return std::nullopt;
      std::string value = text;
      curl_free(text);
      return value;
    };
    auto scheme = part(CURLUPART_SCHEME, 0);
    auto host = part(CURLUPART_HOST, 0);
    auto port = part(CURLUPART_PORT, CURLU_DEFAULT_PORT);
    if (scheme && host && port) origin = Origin{lowered(*scheme), lowered(*host), *port};
  }
  curl_url_cleanup(handle);
  return origin;
}

}  // namespace

bool isSameOrigin(const std::string& a, const std::string& b) {
  auto first = originOf(a);
  auto second = originOf(b);
  return first && second && first->scheme == second->scheme && first->host == second->host &&
         first->port == second->port;
}

bool isCredentialHeaderField(const std::string& name) {
  const std::string field = lowered(name);
  auto endsWith = [&field](std::string_view tail) {
    return field.size() >= tail.size() &&
           field.compare(field.size() - tail.size(), tail.size(), tail.data(), tail.size()) == 0;
  };
  return field == "authorization" || field == "proxy-authorization" || field == "cookie" ||
         field.find("api-key") != std::string::npos || field.find("apikey") != std::string::npos ||
         endsWith("-auth");
}

}  // namespace platform
