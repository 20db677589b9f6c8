#include "installations/LMOInstallationsLoggable.h"

#include <nlohmann/json.hpp>

#include "installations/LMOInstallationsConstants.h"

using platform::Bytes;
using platform::Value;

namespace {

// The bytes as text when they are valid UTF-8, else nil (as the platform's decoding gives).
Value utf8Text(const Bytes& data, std::size_t length) {
  std::string text(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length));
  Value value(text);
  if (!value.string() || *value.string() != text) return Value();
  return value;
}

}  // namespace

// Debug lines show that a secret was there, never the secret: at most its first characters.
std::string LMOInstallationsRedactedSecret(std::string_view secret) {
  constexpr std::size_t kShownPrefix = 4;
  // A short secret shows nothing at all: its prefix would be most of it.
  const std::size_t shown = secret.size() >= 4 * kShownPrefix ? kShownPrefix : 0;
  return std::string(secret.substr(0, shown)) + lmoinst::kRedacted;
}

namespace {

bool sameHeaderName(const std::string& a, const char* b) {
  const platform::CaseInsensitiveLess less;
  return !less(a, b) && !less(b, a);
}

}  // namespace

Value LMOInstallationsLoggableHeaderValues(const platform::HTTPHeaderFields& fields) {
  Value::Dictionary dict;
  for (const auto& [name, value] : fields) {
    std::string shown = value;
    if (sameHeaderName(name, lmoinst::kHeaderAPIKey) ||
        sameHeaderName(name, lmoinst::kHeaderIIDMigration)) {
      shown = LMOInstallationsRedactedSecret(value);
    } else if (sameHeaderName(name, lmoinst::kHeaderAuthorization)) {
      const std::size_t blank = value.find(' ');
      shown = blank == std::string::npos
                  ? LMOInstallationsRedactedSecret(value)
                  : value.substr(0, blank + 1) +
                        LMOInstallationsRedactedSecret(value.substr(blank + 1));
    }
    dict[name] = Value(shown);
  }
  return Value(std::move(dict));
}

namespace {

// The end of the JSON string whose opening quote is at `open` (the index of its closing quote),
// or npos when the text ends first.
std::size_t endOfJSONString(std::string_view text, std::size_t open) {
  for (std::size_t i = open + 1; i < text.size(); ++i) {
    if (text[i] == '\\') {
      ++i;
    } else if (text[i] == '"') {
      return i;
    }
  }
  return std::string_view::npos;
}

std::size_t skipBlanks(std::string_view text, std::size_t i) {
  while (i < text.size() &&
         (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) {
    ++i;
  }
  return i;
}

// Whether a quoted member name (quotes included) names a token member. The name is compared as
// the parser reads it, escapes decoded, so that "\u0074oken" is known for "token" too.
bool isTokenMemberName(std::string_view quoted) {
  std::string name(quoted.substr(1, quoted.size() - 2));
  if (name.find('\\') != std::string::npos) {
    const auto decoded = nlohmann::json::parse(quoted, nullptr, /*allow_exceptions=*/false);
    if (!decoded.is_string()) return false;
    name = decoded.get<std::string>();
  }
  return name == lmoinst::kKeyRefreshToken || name == lmoinst::kKeyToken;
}

}  // namespace

std::string LMOInstallationsRedactedBody(std::string_view text) {
  std::string out;
  std::size_t copied = 0;
  std::size_t i = 0;
  while ((i = text.find('"', i)) != std::string_view::npos) {
    const std::size_t keyEnd = endOfJSONString(text, i);
    if (keyEnd == std::string_view::npos) break;
    std::size_t next = keyEnd + 1;
    const std::size_t colon = skipBlanks(text, next);
    if (colon < text.size() && text[colon] == ':' &&
        isTokenMemberName(text.substr(i, keyEnd + 1 - i))) {
      const std::size_t open = skipBlanks(text, colon + 1);
      if (open < text.size() && text[open] == '"') {
        std::size_t close = endOfJSONString(text, open);
        if (close == std::string_view::npos) close = text.size();
        out.append(text.substr(copied, open + 1 - copied));
        out.append(LMOInstallationsRedactedSecret(text.substr(open + 1, close - open - 1)));
        copied = close;
        next = close + 1;
      }
    }
    i = next;
  }
  if (copied < text.size()) out.append(text.substr(copied));
  return out;
}

Value LMOInstallationsLoggableBody(const Bytes& data, std::size_t limit) {
  std::size_t length = std::min(limit, data.size());
  // Never cut a character in two: back off to the start of the one the cut falls in.
  if (length < data.size()) {
    while (length > 0 && (data[length] & 0xC0) == 0x80) --length;
  }
  Value text = utf8Text(data, length);
  if (!text.string()) return text;
  return Value(LMOInstallationsRedactedBody(*text.string()));
}
