#include "platform/base/Format.h"

#include <cstdint>
#include <cstdio>

#include "platform/base/Strings.h"

namespace platform {

namespace {

enum class Length { None, Char, Short, Long, LongLong, Size, Max, Ptrdiff, LongDouble };

template <class T>
std::string cFormat(const std::string& directive, T value) {
  char small[128];
  int n = std::snprintf(small, sizeof small, directive.c_str(), value);
  if (n < 0) return {};
  if (static_cast<std::size_t>(n) < sizeof small)
    return std::string(small, static_cast<std::size_t>(n));
  std::string out(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(out.data(), out.size(), directive.c_str(), value);
  out.resize(static_cast<std::size_t>(n));
  return out;
}

// Pads a string argument (%@, %s) to a width counted in characters, left or right.
std::string pad(std::string s, long width, bool left) {
  std::size_t length = utf32Length(s);
  if (width > 0 && length < static_cast<std::size_t>(width)) {
    std::string fill(static_cast<std::size_t>(width) - length, ' ');
    s = left ? s + fill : fill + s;
  }
  return s;
}

std::int64_t signedFor(const Value& v, Length length) {
  std::int64_t i = v.int64Value();
  // Without a length modifier the argument is an int, so only its low 32 bits count.
  switch (length) {
    case Length::Char:
      return static_cast<signed char>(i);
    case Length::Short:
      return static_cast<short>(i);
    case Length::None:
      return static_cast<int>(static_cast<std::uint32_t>(i));
    default:
      return i;
  }
}

std::uint64_t unsignedFor(const Value& v, Length length) {
  std::uint64_t u = v.isNumber() && v.numberKind() == Value::NumberKind::Signed
                        ? static_cast<std::uint64_t>(v.int64Value())
                        : v.uint64Value();
  switch (length) {
    case Length::Char:
      return static_cast<unsigned char>(u);
    case Length::Short:
      return static_cast<unsigned short>(u);
    case Length::None:
      return static_cast<std::uint32_t>(u);
    default:
      return u;
  }
}

}  // namespace

std::string formatValues(std::string_view format, const std::vector<Value>& args) {
  std::string out;
  out.reserve(format.size() + 16 * args.size());
  std::size_t next = 0;
  auto take = [&]() -> const Value& { return next < args.size() ? args[next++] : nilValue(); };

  std::size_t i = 0;
  while (i < format.size()) {
    char c = format[i];
    if (c != '%') {
      out += c;
      ++i;
      continue;
    }
    std::size_t start = i++;
    std::string flags;
    while (i < format.size() &&
           std::string_view("-+ #0'").find(format[i]) != std::string_view::npos) {
      if (format[i] != '\'') flags += format[i];
      ++i;
    }
    long width = -1;
    bool left = flags.find('-') != std::string::npos;
    if (i < format.size() && format[i] == '*') {
      width = static_cast<long>(take().int64Value());
      if (width < 0) {
        left = true;
        width = -width;
        flags += '-';
      }
      ++i;
    } else {
      while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
        width = (width < 0 ? 0 : width) * 10 + (format[i] - '0');
        if (width > 100000) width = 100000;  // no format asks for more; bounds the output
        ++i;
      }
    }
    long precision = -1;
    if (i < format.size() && format[i] == '.') {
      ++i;
      precision = 0;
      if (i < format.size() && format[i] == '*') {
        precision = static_cast<long>(take().int64Value());
        ++i;
      } else {
        while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
          precision = precision * 10 + (format[i] - '0');
          if (precision > 100000) precision = 100000;
          ++i;
        }
      }
    }
    Length length = Length::None;
    while (i < format.size()) {
      char m = format[i];
      if (m == 'h') {
        length = length == Length::Short ? Length::Char : Length::Short;
      } else if (m == 'l') {
        length = length == Length::Long ? Length::LongLong : Length::Long;
      } else if (m == 'q') {
        length = Length::LongLong;
      } else if (m == 'z') {
        length = Length::Size;
      } else if (m == 'j') {
        length = Length::Max;
      } else if (m == 't') {
        length = Length::Ptrdiff;
      } else if (m == 'L') {
        length = Length::LongDouble;
      } else {
        break;
      }
      ++i;
    }
    if (i >= format.size()) {
      out.append(format.substr(start));  // a dangling '%' stays as written
      break;
    }
    char conversion = format[i++];
    std::string directive = "%" + flags;
    if (width >= 0) directive += std::to_string(width);
    if (precision >= 0) directive += "." + std::to_string(precision);

    switch (conversion) {
      case '%':
        out += '%';
        break;
      case '@': {
        std::string s = take().description();
        if (precision >= 0) s = utf32Prefix(s, static_cast<std::size_t>(precision));
        out += pad(std::move(s), width, left);
        break;
      }
      case 's':
      case 'S': {
        const Value& v = take();
        std::string s = v.isString() ? *v.string() : v.description();
        if (precision >= 0) s = utf32Prefix(s, static_cast<std::size_t>(precision));
        out += pad(std::move(s), width, left);
        break;
      }
      case 'd':
      case 'i':
      case 'D':
        out += cFormat(directive + "lld", static_cast<long long>(signedFor(
                                         take(), conversion == 'D' ? Length::Long : length)));
        break;
      case 'u':
      case 'U':
      case 'x':
      case 'X':
      case 'o':
      case 'O': {
        char base = conversion == 'U' ? 'u' : (conversion == 'O' ? 'o' : conversion);
        Length l = (conversion == 'U' || conversion == 'O') ? Length::Long : length;
        out += cFormat(directive + "ll" + base, static_cast<unsigned long long>(unsignedFor(take(), l)));
        break;
      }
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
      case 'a':
      case 'A':
        out += cFormat(directive + conversion, take().doubleValue());
        break;
      case 'c':
      case 'C': {
        const Value& v = take();
        std::uint64_t code =
            v.isString() ? (v.string()->empty() ? 0 : toUtf32(*v.string())[0]) : v.uint64Value();
        if (conversion == 'c') code &= 0xFF;
        std::string s;
        if (code != 0)
          s = fromUtf32(std::u32string(1, static_cast<char32_t>(code > 0x10FFFF ? 0xFFFD : code)));
        out += pad(std::move(s), width, left);
        break;
      }
      case 'p': {
        const Value& v = take();
        std::uint64_t p =
            v.isObject() ? reinterpret_cast<std::uintptr_t>(v.object().get()) : v.uint64Value();
        out += pad("0x" + cFormat(std::string("%llx"), static_cast<unsigned long long>(p)), width,
                   left);
        break;
      }
      default:
        // Not a conversion this system knows: keep the text as written.
        out.append(format.substr(start, i - start));
        break;
    }
  }
  if (!isValidUtf8(out)) return sanitizeUtf8(out);
  return out;
}

}  // namespace platform
