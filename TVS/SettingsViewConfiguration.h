// The settings screen's addresses: the maker's support mailbox (recipient of both mails), the
// store's review page and the terms document. They are fixed when the app is built: override
// them with compile definitions (-DTVS_SUPPORT_EMAIL="..." and so on); a value that does not
// parse as a URL stops the build with "Expected a valid URL". Constants only; any thread.
#pragma once

#include <string_view>

#ifndef TVS_SUPPORT_EMAIL
#define TVS_SUPPORT_EMAIL "support@tavovastrow.example"
#endif
#ifndef TVS_REVIEW_URL
#define TVS_REVIEW_URL \
  "https://apps.tavovastrow.example/store/tavo-vastrow-soundboard?action=write-review"
#endif
#ifndef TVS_TERMS_URL
#define TVS_TERMS_URL "https://tavovastrow.example/legal/terms-and-privacy"
#endif

namespace settings_configuration {

constexpr bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool isDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool isHex(char c) {
  return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
// Characters a URL may hold unescaped (unreserved and reserved).
constexpr bool isUrlChar(char c) {
  return isAlpha(c) || isDigit(c) ||
         std::string_view("-._~:/?#[]@!$&'()*+,;=").find(c) != std::string_view::npos;
}

// Every character is a URL character or a complete percent escape.
constexpr bool hasOnlyUrlCharacters(std::string_view s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%') {
      if (i + 2 >= s.size() || !isHex(s[i + 1]) || !isHex(s[i + 2])) return false;
      i += 2;
    } else if (!isUrlChar(s[i])) {
      return false;
    }
  }
  return true;
}

// An absolute URL: a scheme ("letter *(letter / digit / + - .)") and ':', then a non-empty rest
// of URL characters. With an authority ("//") the host must be present and a port, if any,
// numeric.
constexpr bool isValidUrl(std::string_view s) {
  const std::size_t colon = s.find(':');
  if (colon == std::string_view::npos || colon == 0 || !isAlpha(s[0])) return false;
  for (std::size_t i = 1; i < colon; ++i) {
    if (!isAlpha(s[i]) && !isDigit(s[i]) && s[i] != '+' && s[i] != '-' && s[i] != '.') {
      return false;
    }
  }
  const std::string_view rest = s.substr(colon + 1);
  if (rest.empty() || !hasOnlyUrlCharacters(rest)) return false;
  if (rest.substr(0, 2) != "//") return true;
  std::string_view authority = rest.substr(2);
  authority = authority.substr(0, authority.find_first_of("/?#"));
  const std::size_t at = authority.rfind('@');
  if (at != std::string_view::npos) authority = authority.substr(at + 1);
  std::string_view host = authority;
  if (!authority.empty() && authority[0] == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return false;
    host = authority.substr(0, close + 1);
  } else {
    host = authority.substr(0, authority.find(':'));
  }
  if (host.empty()) return false;
  const std::string_view port = authority.substr(host.size());
  if (!port.empty()) {
    if (port[0] != ':') return false;
    for (char c : port.substr(1)) {
      if (!isDigit(c)) return false;
    }
  }
  return true;
}

// A mail address that, after "mailto:", makes a valid URL: one '@' between a non-empty local
// part and a non-empty domain.
constexpr bool isValidMailAddress(std::string_view s) {
  const std::size_t at = s.find('@');
  if (at == std::string_view::npos || at == 0 || at + 1 >= s.size()) return false;
  if (s.find('@', at + 1) != std::string_view::npos) return false;
  if (s.find_first_of("/?#:") != std::string_view::npos) return false;
  return hasOnlyUrlCharacters(s);
}

inline constexpr std::string_view kSupportEmail = TVS_SUPPORT_EMAIL;
inline constexpr std::string_view kReviewUrl = TVS_REVIEW_URL;
inline constexpr std::string_view kTermsUrl = TVS_TERMS_URL;

static_assert(isValidMailAddress(kSupportEmail), "Expected a valid URL");
static_assert(isValidUrl(kReviewUrl), "Expected a valid URL");
static_assert(isValidUrl(kTermsUrl), "Expected a valid URL");

}  // namespace settings_configuration
