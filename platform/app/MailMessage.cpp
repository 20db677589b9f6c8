#include "platform/app/MailMessage.h"

#include <unistd.h>

#include <cctype>
#include <ctime>
#include <random>

#include "platform/app/AppConstants.h"
#include "platform/base/Saturating.h"

namespace platform::app {
namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool isPlainAscii(const std::string& s) {
  for (unsigned char c : s) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

// Control characters (line breaks included) become blanks in a header value.
std::string headerSafe(const std::string& s) {
  std::string out = s;
  for (auto& c : out) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) c = ' ';
  }
  return out;
}

bool isValidAddress(const std::string& a) {
  if (a.empty()) return false;
  for (unsigned char c : a) {
    if (c < 0x20 || c == 0x7F || c == '<' || c == '>' || c == ',') return false;
  }
  return true;
}

bool isToken(const std::string& s) {
  if (s.empty()) return false;
  for (unsigned char c : s) {
    if (c <= 0x20 || c >= 0x7F ||
        std::string("()<>@,;:\\\"/[]?=").find(static_cast<char>(c)) != std::string::npos)
      return false;
  }
  return true;
}

// "type/subtype" of two tokens, else the generic binary type.
std::string safeMimeType(const std::string& t) {
  const auto slash = t.find('/');
  if (slash == std::string::npos || !isToken(t.substr(0, slash)) || !isToken(t.substr(slash + 1)))
    return "application/octet-stream";
  return t;
}

std::string randomHex(std::size_t n) {
  static thread_local std::mt19937_64 rng(std::random_device{}());
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += digits[rng() % 16];
  return out;
}

std::string hostName() {
  char buf[256] = {0};
  if (::gethostname(buf, sizeof buf - 1) != 0 || buf[0] == 0) return "localhost";
  return buf;
}

std::string percentEncode(const std::string& s) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (std::isalnum(c) || c == '.' || c == '-' || c == '_') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

// The disposition of an attachment: a quoted ASCII name, or the RFC 2231 form for others.
std::string dispositionFileName(const std::string& raw) {
  const std::string name = headerSafe(raw.empty() ? std::string("attachment") : raw);
  if (isPlainAscii(name)) {
    std::string quoted;
    for (char c : name) {
      if (c == '"' || c == '\\') quoted += '\\';
      quoted += c;
    }
    return "filename=\"" + quoted + "\"";
  }
  return "filename*=UTF-8''" + percentEncode(name);
}

std::string textPart(const std::string& body, bool html) {
  std::string out = std::string("Content-Type: text/") + (html ? "html" : "plain") +
                    "; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n";
  out += quotedPrintableEncode(body);
  out += "\r\n";
  return out;
}

}  // namespace

std::string base64Encode(const Bytes& bytes, std::size_t lineLength) {
  std::string out;
  std::size_t column = 0;
  auto put = [&](char c) {
    if (lineLength && column == lineLength) {
      out += "\r\n";
      column = 0;
    }
    out += c;
    ++column;
  };
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    put(kBase64[(v >> 18) & 63]);
    put(kBase64[(v >> 12) & 63]);
    put(kBase64[(v >> 6) & 63]);
    put(kBase64[v & 63]);
  }
  if (i + 1 == bytes.size()) {
    const unsigned v = bytes[i] << 16;
    put(kBase64[(v >> 18) & 63]);
    put(kBase64[(v >> 12) & 63]);
    put('=');
    put('=');
  } else if (i + 2 == bytes.size()) {
    const unsigned v = (bytes[i] << 16) | (bytes[i + 1] << 8);
    put(kBase64[(v >> 18) & 63]);
    put(kBase64[(v >> 12) & 63]);
    put(kBase64[(v >> 6) & 63]);
    put('=');
  }
  return out;
}

std::optional<Bytes> base64Decode(const std::string& text) {
  Bytes out;
  unsigned buffer = 0;
  int bits = 0;
  bool padding = false;
  for (char c : text) {
    if (c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
    if (c == '=') {
      padding = true;
      continue;
    }
    const char* p = std::char_traits<char>::find(kBase64, 64, c);
    if (!p || padding) return std::nullopt;
    buffer = (buffer << 6) | static_cast<unsigned>(p - kBase64);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<std::uint8_t>((buffer >> bits) & 0xFF));
    }
  }
  return out;
}

std::string quotedPrintableEncode(const std::string& text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  std::size_t column = 0;
  auto emit = [&](const std::string& piece) {
    // A soft break keeps every line within 76 characters.
    if (column + piece.size() > 75) {
      out += "=\r\n";
      column = 0;
    }
    out += piece;
    column += piece.size();
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (c == '\n') {
      out += "\r\n";
      column = 0;
      continue;
    }
    const bool atLineEnd = i + 1 == text.size() || text[i + 1] == '\n' || text[i + 1] == '\r';
    const bool literal =
        (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !atLineEnd);
    if (literal) {
      emit(std::string(1, static_cast<char>(c)));
    } else {
      emit(std::string{'=', hex[c >> 4], hex[c & 15]});
    }
  }
  return out;
}

std::string encodeHeaderWord(const std::string& raw) {
  const std::string text = headerSafe(raw);
  if (isPlainAscii(text)) return text;
  // Encoded words of at most 45 bytes each (60 base64 characters), cut between characters.
  std::string out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = std::min(text.size(), start + 45);
    while (end < text.size() && end > start &&
           (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
      --end;
    if (!out.empty()) out += "\r\n ";
    out += "=?UTF-8?B?" + base64Encode(Bytes(text.begin() + start, text.begin() + end), 0) + "?=";
    start = end;
  }
  return out;
}

std::string rfc5322Date(double secondsSince1970) {
  const std::time_t t = saturatingCast<std::time_t>(secondsSince1970);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S +0000", &tm);
  return buf;
}

std::optional<std::string> MailMessage::render(double date, const std::string& messageId,
                                               ErrorPtr* error) const {
  for (const auto& address : to) {
    if (!isValidAddress(address)) {
      setError(error, Error::withDescription(kMailErrorDomain, kMailInvalidMessageError,
                                             "The recipient \u201C" + headerSafe(address) +
                                                 "\u201D is not a valid address."));
      return std::nullopt;
    }
  }
  std::string sender = from;
  if (sender.empty()) {
    const char* user = std::getenv("USER");
    sender = std::string(user && *user ? user : "user") + "@" + hostName();
  }
  if (!isValidAddress(sender)) {
    setError(error, Error::withDescription(kMailErrorDomain, kMailInvalidMessageError,
                                           "The sender is not a valid address."));
    return std::nullopt;
  }
  std::string id = headerSafe(messageId);
  if (id.empty() || id.find_first_of("<> ") != std::string::npos) {
    id = randomHex(16) + "@" + hostName();
  }

  std::string out;
  out += "Date: " + rfc5322Date(date) + "\r\n";
  out += "From: " + sender + "\r\n";
  if (!to.empty()) {
    out += "To: ";
    for (std::size_t i = 0; i < to.size(); ++i) out += (i ? ", " : "") + to[i];
    out += "\r\n";
  }
  out += "Subject: " + encodeHeaderWord(subject) + "\r\n";
  out += "Message-ID: <" + id + ">\r\n";
  out += "MIME-Version: 1.0\r\n";
  if (attachments.empty()) {
    out += textPart(body, isBodyHTML);
    return out;
  }
  const std::string boundary = "=_tvs_" + randomHex(24);
  out += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
  out += "This is a multi-part message in MIME format.\r\n";
  out += "--" + boundary + "\r\n" + textPart(body, isBodyHTML);
  for (const auto& attachment : attachments) {
    out += "--" + boundary + "\r\n";
    out += "Content-Type: " + safeMimeType(attachment.mimeType) + "\r\n";
    out += "Content-Transfer-Encoding: base64\r\n";
    out +=
        "Content-Disposition: attachment; " + dispositionFileName(attachment.fileName) + "\r\n\r\n";
    out += base64Encode(attachment.data);
    out += "\r\n";
  }
  out += "--" + boundary + "--\r\n";
  return out;
}

}  // namespace platform::app
