#include "platform/network/URLRequest.h"

#include <algorithm>
#include <cctype>

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

}  // namespace platform
