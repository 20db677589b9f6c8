#include "platform/base/Strings.h"

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

namespace platform {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at s[i]; on an invalid sequence returns false and sets `length` to the
// number of bytes to skip (at least 1). Overlong forms, surrogates and values above U+10FFFF are
// invalid.
bool decode(std::string_view s, std::size_t i, char32_t& cp, std::size_t& length) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char b0 = byte(i);
  if (b0 < 0x80) {
    cp = b0;
    length = 1;
    return true;
  }
  std::size_t need;
  char32_t min;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    cp = b0 & 0x1F;
    min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    cp = b0 & 0x0F;
    min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    cp = b0 & 0x07;
    min = 0x10000;
  } else {
    length = 1;
    return false;
  }
  std::size_t k = 1;
  for (; k <= need; ++k) {
    if (i + k >= s.size() || (byte(i + k) & 0xC0) != 0x80) {
      length = k;
      return false;
    }
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  length = need + 1;
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    length = 1;
    return false;
  }
  return true;
}

void append(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Calls f(codePoint, byteOffset, byteLength) for each code point, invalid bytes as U+FFFD;
// stops when f returns false.
template <class F>
void forEachCodePoint(std::string_view s, F&& f) {
  std::size_t i = 0;
  while (i < s.size()) {
    char32_t cp;
    std::size_t length;
    if (!decode(s, i, cp, length)) cp = kReplacement;
    if (!f(cp, i, length)) return;
    i += length;
  }
}

icu::UnicodeString toIcu(std::string_view s) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())));
}

std::string fromIcu(const icu::UnicodeString& u) {
  std::string out;
  u.toUTF8String(out);
  return out;
}

}  // namespace

bool isValidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      ++i;
      continue;
    }
    char32_t cp;
    std::size_t length;
    if (!decode(s, i, cp, length)) return false;
    i += length;
  }
  return true;
}

std::string sanitizeUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  forEachCodePoint(s, [&](char32_t cp, std::size_t, std::size_t) {
    append(out, cp);
    return true;
  });
  return out;
}

std::u32string toUtf32(std::string_view s) {
  std::u32string out;
  out.reserve(s.size());
  forEachCodePoint(s, [&](char32_t cp, std::size_t, std::size_t) {
    out += cp;
    return true;
  });
  return out;
}

std::string fromUtf32(std::u32string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char32_t cp : s) {
    append(out, (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) ? kReplacement : cp);
  }
  return out;
}

std::size_t utf16Length(std::string_view s) {
  std::size_t n = 0;
  forEachCodePoint(s, [&](char32_t cp, std::size_t, std::size_t) {
    n += cp >= 0x10000 ? 2 : 1;
    return true;
  });
  return n;
}

std::size_t utf32Length(std::string_view s) {
  std::size_t n = 0;
  forEachCodePoint(s, [&](char32_t, std::size_t, std::size_t) {
    ++n;
    return true;
  });
  return n;
}

std::string utf16Prefix(std::string_view s, std::size_t units) {
  std::size_t used = 0, end = 0;
  forEachCodePoint(s, [&](char32_t cp, std::size_t offset, std::size_t length) {
    std::size_t width = cp >= 0x10000 ? 2 : 1;
    if (used + width > units) return false;
    used += width;
    end = offset + length;
    return true;
  });
  return sanitizeUtf8(s.substr(0, end));
}

std::string utf32Prefix(std::string_view s, std::size_t codePoints) {
  std::size_t used = 0, end = 0;
  forEachCodePoint(s, [&](char32_t, std::size_t offset, std::size_t length) {
    if (used + 1 > codePoints) return false;
    ++used;
    end = offset + length;
    return true;
  });
  return sanitizeUtf8(s.substr(0, end));
}

int caseInsensitiveCompare(std::string_view a, std::string_view b) {
  int8_t r = toIcu(a).caseCompare(toIcu(b), U_FOLD_CASE_DEFAULT);
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

std::string lowercase(std::string_view s) {
  return fromIcu(toIcu(s).toLower(icu::Locale::getRoot()));
}

std::string uppercase(std::string_view s) {
  return fromIcu(toIcu(s).toUpper(icu::Locale::getRoot()));
}

// The platform's letter set is the Unicode letter and mark categories.
bool isLetter(char32_t c) {
  auto mask = U_GET_GC_MASK(static_cast<UChar32>(c));
  return (mask & (U_GC_L_MASK | U_GC_M_MASK)) != 0;
}

bool isDecimalDigit(char32_t c) {
  return u_charType(static_cast<UChar32>(c)) == U_DECIMAL_DIGIT_NUMBER;
}

// Letters, marks and numbers.
bool isAlphanumeric(char32_t c) {
  auto mask = U_GET_GC_MASK(static_cast<UChar32>(c));
  return (mask & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0;
}

bool hasPrefix(std::string_view s, std::string_view prefix) { return s.starts_with(prefix); }

bool hasSuffix(std::string_view s, std::string_view suffix) { return s.ends_with(suffix); }

}  // namespace platform
