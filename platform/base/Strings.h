// UTF-8 string helpers. Lengths and cuts count as the platform string does (UTF-16 units) or by
// characters (code points); a cut never splits a surrogate pair or a code point. Thread-safe.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

bool isValidUtf8(std::string_view s);
// Replaces every invalid sequence with U+FFFD.
std::string sanitizeUtf8(std::string_view s);
std::u32string toUtf32(std::string_view s);
std::string fromUtf32(std::u32string_view s);

std::size_t utf16Length(std::string_view s);
std::size_t utf32Length(std::string_view s);
// The longest prefix of at most `units` UTF-16 units (resp. code points).
std::string utf16Prefix(std::string_view s, std::size_t units);
std::string utf32Prefix(std::string_view s, std::size_t codePoints);

// Negative, zero or positive, comparing case-folded text.
int caseInsensitiveCompare(std::string_view a, std::string_view b);
std::string lowercase(std::string_view s);
std::string uppercase(std::string_view s);

// Character classes per code point (ICU).
bool isLetter(char32_t c);
bool isDecimalDigit(char32_t c);
bool isAlphanumeric(char32_t c);

bool hasPrefix(std::string_view s, std::string_view prefix);
bool hasSuffix(std::string_view s, std::string_view suffix);

}  // namespace platform
