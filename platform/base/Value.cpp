#include "platform/base/Value.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <unordered_map>

#include "platform/base/Saturating.h"
#include "platform/base/Strings.h"

namespace platform {

namespace {

// Variant indices of Value::rep_.
enum Rep : std::size_t {
  kNil,
  kNull,
  kBool,
  kSigned,
  kUnsigned,
  kDouble,
  kString,
  kData,
  kDate,
  kArray,
  kDictionary,
  kSet,
  kObject
};

std::string hexPointer(const void* p) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%p", p);
  return buf;
}

std::size_t skipBlanks(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r' ||
                          s[i] == '\f' || s[i] == '\v')) {
    ++i;
  }
  return i;
}

// The platform's reading of a string as an integer: blanks, an optional sign, then as many
// decimal digits as there are; saturates instead of overflowing.
std::int64_t parseLeadingInteger(std::string_view s) {
  std::size_t i = skipBlanks(s);
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  std::uint64_t magnitude = 0;
  bool overflow = false;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    unsigned digit = static_cast<unsigned>(s[i] - '0');
    if (magnitude > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
      overflow = true;
      break;
    }
    magnitude = magnitude * 10 + digit;
  }
  const std::uint64_t limit = negative ? 9223372036854775808ULL : 9223372036854775807ULL;
  if (overflow || magnitude > limit) {
    return negative ? std::numeric_limits<std::int64_t>::min()
                    : std::numeric_limits<std::int64_t>::max();
  }
  return negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
}

double parseLeadingDouble(std::string_view s) {
  std::size_t i = skipBlanks(s);
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  double d = 0;
  auto result = std::from_chars(s.data() + i, s.data() + s.size(), d);
  if (result.ec == std::errc::result_out_of_range) {
    // from_chars leaves d alone on overflow; tell huge from tiny by the exponent's sign.
    std::string_view rest = s.substr(i);
    auto e = rest.find_first_of("eE");
    bool tiny = e != std::string_view::npos && e + 1 < rest.size() && rest[e + 1] == '-';
    d = tiny ? 0.0 : std::numeric_limits<double>::infinity();
  } else if (result.ec != std::errc()) {
    d = 0;
  }
  return negative ? -d : d;
}

bool parseBool(std::string_view s) {
  std::size_t i = skipBlanks(s);
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  while (i < s.size() && s[i] == '0') ++i;
  if (i >= s.size()) return false;
  char c = s[i];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

std::string shortestDouble(double d) {
  if (std::isnan(d)) return "nan";
  if (std::isinf(d)) return d < 0 ? "-inf" : "inf";
  if (d == 0) return std::signbit(d) ? "-0" : "0";
  // The fewest significant digits that read back as the same double, printed the way %g
  // prints them (so 1e+20 and 100000 both look as the platform shows them).
  char buf[64];
  auto result = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
  std::string_view sci(buf, static_cast<std::size_t>(result.ptr - buf));
  int digits = 0;
  for (char c : sci.substr(0, sci.find('e'))) digits += (c >= '0' && c <= '9') ? 1 : 0;
  char out[64];
  std::snprintf(out, sizeof out, "%.*g", std::max(digits, 15), d);
  return out;
}

// Strings inside collections are quoted unless they are a plain word, as the platform prints.
std::string quotedIfNeeded(const std::string& s) {
  bool plain = !s.empty();
  for (unsigned char c : s) {
    if (!(std::isalnum(c) || c == '_' || c == '.' || c == '$' || c == '/' || c == ':' ||
          c == '-')) {
      plain = false;
      break;
    }
  }
  if (plain) return s;
  std::string out = "\"";
  for (char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  out += '"';
  return out;
}

std::string indentation(int level) { return std::string(static_cast<std::size_t>(level) * 4, ' '); }

std::string dataDescription(const Bytes& bytes) {
  static const char* kHex = "0123456789abcdef";
  auto hex = [&](std::size_t from, std::size_t to) {
    std::string out;
    for (std::size_t i = from; i < to; ++i) {
      if (i > from && (i - from) % 4 == 0) out += ' ';
      out += kHex[bytes[i] >> 4];
      out += kHex[bytes[i] & 15];
    }
    return out;
  };
  std::string out = "{length = " + std::to_string(bytes.size()) + ", bytes = 0x";
  if (bytes.size() <= 24) {
    std::string all;
    for (auto b : bytes) {
      all += kHex[b >> 4];
      all += kHex[b & 15];
    }
    out += all;
  } else {
    out += hex(0, 8) + " ... " + hex(bytes.size() - 4, bytes.size()) + " ";
  }
  return out + "}";
}

std::string dateDescription(double seconds) {
  double whole = std::floor(seconds);
  if (!std::isfinite(whole) || whole > 253402300799.0 || whole < -62135596800.0) {
    return shortestDouble(seconds);
  }
  std::time_t t = static_cast<std::time_t>(whole);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S +0000", &tm);
  return buf;
}

bool numbersEqual(const Value& a, const Value& b) {
  auto ka = a.numberKind(), kb = b.numberKind();
  if (ka == Value::NumberKind::Double || kb == Value::NumberKind::Double) {
    // Compare exactly when one side is an integer too large for a double to hold exactly.
    if (ka == Value::NumberKind::Double && kb == Value::NumberKind::Double) {
      return a.doubleValue() == b.doubleValue();
    }
    const Value& d = ka == Value::NumberKind::Double ? a : b;
    const Value& i = ka == Value::NumberKind::Double ? b : a;
    double dv = d.doubleValue();
    if (std::isnan(dv) || dv != std::trunc(dv)) return false;
    if (i.numberKind() == Value::NumberKind::Unsigned) {
      if (dv < 0 || dv >= 18446744073709551616.0) return false;
      return static_cast<std::uint64_t>(dv) == i.uint64Value();
    }
    if (dv < -9223372036854775808.0 || dv >= 9223372036854775808.0) return false;
    return static_cast<std::int64_t>(dv) == i.int64Value();
  }
  bool aUnsigned = ka == Value::NumberKind::Unsigned, bUnsigned = kb == Value::NumberKind::Unsigned;
  if (aUnsigned && bUnsigned) return a.uint64Value() == b.uint64Value();
  if (aUnsigned || bUnsigned) {
    const Value& u = aUnsigned ? a : b;
    const Value& s = aUnsigned ? b : a;
    std::int64_t sv = s.int64Value();
    return sv >= 0 && static_cast<std::uint64_t>(sv) == u.uint64Value();
  }
  return a.int64Value() == b.int64Value();
}

std::size_t mix(std::size_t acc, std::size_t v) {
  return acc ^ (v + 0x9e3779b97f4a7c15ULL + (acc << 6) + (acc >> 2));
}

std::string describe(const Value& v, int level);

std::string describeNested(const Value& v, int level) {
  if (v.isString()) return quotedIfNeeded(*v.string());
  return describe(v, level);
}

std::string describe(const Value& v, int level) {
  switch (v.kind()) {
    case Value::Kind::Array:
    case Value::Kind::Set: {
      bool isSet = v.isSet();
      std::string out = indentation(level) + (isSet ? "{(" : "(") + "\n";
      const auto& elements = *v.array();
      for (std::size_t i = 0; i < elements.size(); ++i) {
        out += indentation(level + 1) + describeNested(elements[i], level + 1);
        out += i + 1 < elements.size() ? ",\n" : "\n";
      }
      return out + indentation(level) + (isSet ? ")}" : ")");
    }
    case Value::Kind::Dictionary: {
      std::string out = indentation(level) + "{\n";
      for (const auto& [key, value] : *v.dictionary()) {
        out += indentation(level + 1) + quotedIfNeeded(key) + " = " +
               describeNested(value, level + 1) + ";\n";
      }
      return out + indentation(level) + "}";
    }
    default:
      return v.description();
  }
}

}  // namespace

std::string Object::description() const {
  return "<" + className() + ": " + hexPointer(this) + ">";
}

Value Value::null() {
  Value v;
  v.rep_ = Null{};
  return v;
}

Value::Value(const char* s) : Value(std::string_view(s ? s : "")) {
  if (!s) rep_ = std::monostate{};
}

Value::Value(std::string s) {
  if (!isValidUtf8(s)) s = sanitizeUtf8(s);
  rep_ = std::make_shared<const std::string>(std::move(s));
}

Value::Value(std::string_view s) : Value(std::string(s)) {}

Value::Value(Array a) : rep_(std::make_shared<const Array>(std::move(a))) {}

Value::Value(Dictionary d) : rep_(std::make_shared<const Dictionary>(std::move(d))) {}

Value::Value(ObjectPtr o) {
  if (o) rep_ = std::move(o);
}

Value Value::data(Bytes bytes) {
  Value v;
  v.rep_ = std::make_shared<const DataRep>(DataRep{std::move(bytes)});
  return v;
}

Value Value::data(std::string_view bytes) { return data(Bytes(bytes.begin(), bytes.end())); }

Value Value::date(double secondsSince1970) {
  Value v;
  v.rep_ = Date{secondsSince1970};
  return v;
}

Value Value::set(Array elements) {
  Array unique;
  unique.reserve(elements.size());
  std::unordered_multimap<std::size_t, std::size_t> byHash;  // hash -> index in unique
  for (auto& e : elements) {
    std::size_t h = e.hash();
    auto [first, last] = byHash.equal_range(h);
    bool seen =
        std::any_of(first, last, [&](const auto& entry) { return unique[entry.second] == e; });
    if (seen) continue;
    byHash.emplace(h, unique.size());
    unique.push_back(std::move(e));
  }
  Value v;
  v.rep_ = std::make_shared<const SetRep>(SetRep{std::move(unique)});
  return v;
}

Value::Kind Value::kind() const {
  switch (rep_.index()) {
    case kNil:
      return Kind::Nil;
    case kNull:
      return Kind::Null;
    case kBool:
    case kSigned:
    case kUnsigned:
    case kDouble:
      return Kind::Number;
    case kString:
      return Kind::String;
    case kData:
      return Kind::Data;
    case kDate:
      return Kind::Date;
    case kArray:
      return Kind::Array;
    case kDictionary:
      return Kind::Dictionary;
    case kSet:
      return Kind::Set;
    default:
      return Kind::Object;
  }
}

Value::NumberKind Value::numberKind() const {
  switch (rep_.index()) {
    case kBool:
      return NumberKind::Bool;
    case kUnsigned:
      return NumberKind::Unsigned;
    case kDouble:
      return NumberKind::Double;
    default:
      return NumberKind::Signed;
  }
}

bool Value::isFloatingPoint() const { return rep_.index() == kDouble; }

bool Value::boolValue() const {
  switch (rep_.index()) {
    case kBool:
      return std::get<bool>(rep_);
    case kSigned:
      return std::get<std::int64_t>(rep_) != 0;
    case kUnsigned:
      return std::get<std::uint64_t>(rep_) != 0;
    case kDouble: {
      double d = std::get<double>(rep_);
      return d != 0 && !std::isnan(d);
    }
    case kString:
      return parseBool(*std::get<kString>(rep_));
    default:
      return false;
  }
}

std::int64_t Value::int64Value() const {
  switch (rep_.index()) {
    case kBool:
      return std::get<bool>(rep_) ? 1 : 0;
    case kSigned:
      return std::get<std::int64_t>(rep_);
    case kUnsigned: {
      auto u = std::get<std::uint64_t>(rep_);
      return u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
                 ? std::numeric_limits<std::int64_t>::max()
                 : static_cast<std::int64_t>(u);
    }
    case kDouble:
      return saturatingCast<std::int64_t>(std::get<double>(rep_));
    case kString:
      return parseLeadingInteger(*std::get<kString>(rep_));
    default:
      return 0;
  }
}

std::uint64_t Value::uint64Value() const {
  switch (rep_.index()) {
    case kBool:
      return std::get<bool>(rep_) ? 1 : 0;
    // A negative signed number reads as its two's complement, as the platform's does.
    case kSigned:
      return static_cast<std::uint64_t>(std::get<std::int64_t>(rep_));
    case kUnsigned:
      return std::get<std::uint64_t>(rep_);
    case kDouble:
      return saturatingCast<std::uint64_t>(std::get<double>(rep_));
    case kString:
      return static_cast<std::uint64_t>(parseLeadingInteger(*std::get<kString>(rep_)));
    default:
      return 0;
  }
}

double Value::doubleValue() const {
  switch (rep_.index()) {
    case kBool:
      return std::get<bool>(rep_) ? 1 : 0;
    case kSigned:
      return static_cast<double>(std::get<std::int64_t>(rep_));
    case kUnsigned:
      return static_cast<double>(std::get<std::uint64_t>(rep_));
    case kDouble:
      return std::get<double>(rep_);
    case kString:
      return parseLeadingDouble(*std::get<kString>(rep_));
    default:
      return 0;
  }
}

const std::string* Value::string() const {
  return rep_.index() == kString ? std::get<kString>(rep_).get() : nullptr;
}

const Bytes* Value::bytes() const {
  return rep_.index() == kData ? &std::get<kData>(rep_)->bytes : nullptr;
}

std::optional<double> Value::dateValue() const {
  if (rep_.index() != kDate) return std::nullopt;
  return std::get<Date>(rep_).seconds;
}

const Value::Array* Value::array() const {
  if (rep_.index() == kArray) return std::get<kArray>(rep_).get();
  if (rep_.index() == kSet) return &std::get<kSet>(rep_)->elements;
  return nullptr;
}

const Value::Dictionary* Value::dictionary() const {
  return rep_.index() == kDictionary ? std::get<kDictionary>(rep_).get() : nullptr;
}

ObjectPtr Value::object() const {
  return rep_.index() == kObject ? std::get<ObjectPtr>(rep_) : nullptr;
}

const Value& Value::operator[](std::string_view key) const {
  const Dictionary* d = dictionary();
  if (!d) return nilValue();
  auto it = d->find(key);
  return it == d->end() ? nilValue() : it->second;
}

const Value& Value::at(std::size_t index) const {
  const Array* a = array();
  if (!a || index >= a->size()) return nilValue();
  return (*a)[index];
}

std::size_t Value::count() const {
  if (const Array* a = array()) return a->size();
  if (const Dictionary* d = dictionary()) return d->size();
  return 0;
}

std::string Value::description() const {
  switch (rep_.index()) {
    case kNil:
      return "(null)";
    case kNull:
      return "<null>";
    case kBool:
      return std::get<bool>(rep_) ? "1" : "0";
    case kSigned:
      return std::to_string(std::get<std::int64_t>(rep_));
    case kUnsigned:
      return std::to_string(std::get<std::uint64_t>(rep_));
    case kDouble:
      return shortestDouble(std::get<double>(rep_));
    case kString:
      return *std::get<kString>(rep_);
    case kData:
      return dataDescription(std::get<kData>(rep_)->bytes);
    case kDate:
      return dateDescription(std::get<Date>(rep_).seconds);
    case kObject:
      return std::get<ObjectPtr>(rep_)->description();
    default:
      return describe(*this, 0);
  }
}

std::string Value::className() const {
  switch (kind()) {
    case Kind::Nil:
      return "nil";
    case Kind::Null:
      return "NSNull";
    case Kind::Number:
      return "NSNumber";
    case Kind::String:
      return "NSString";
    case Kind::Data:
      return "NSData";
    case Kind::Date:
      return "NSDate";
    case Kind::Array:
      return "NSArray";
    case Kind::Dictionary:
      return "NSDictionary";
    case Kind::Set:
      return "NSSet";
    case Kind::Object:
      return std::get<ObjectPtr>(rep_)->className();
  }
  return "nil";
}

bool operator==(const Value& a, const Value& b) {
  Value::Kind ka = a.kind();
  if (ka != b.kind()) return false;
  switch (ka) {
    case Value::Kind::Nil:
    case Value::Kind::Null:
      return true;
    case Value::Kind::Number:
      return numbersEqual(a, b);
    case Value::Kind::String:
      return *a.string() == *b.string();
    case Value::Kind::Data:
      return *a.bytes() == *b.bytes();
    case Value::Kind::Date:
      return *a.dateValue() == *b.dateValue();
    case Value::Kind::Array:
      return *a.array() == *b.array();
    case Value::Kind::Dictionary:
      return *a.dictionary() == *b.dictionary();
    case Value::Kind::Set: {
      const auto& ea = *a.array();
      const auto& eb = *b.array();
      if (ea.size() != eb.size()) return false;
      // Elements of a set are distinct, so equal sizes and every element of one found in the
      // other make them equal.
      std::unordered_multimap<std::size_t, const Value*> byHash;
      for (const auto& y : eb) byHash.emplace(y.hash(), &y);
      for (const auto& x : ea) {
        auto [first, last] = byHash.equal_range(x.hash());
        if (!std::any_of(first, last, [&](const auto& entry) { return *entry.second == x; })) {
          return false;
        }
      }
      return true;
    }
    case Value::Kind::Object: {
      auto oa = a.object(), ob = b.object();
      return oa == ob || oa->isEqual(*ob);
    }
  }
  return false;
}

std::size_t Value::hash() const {
  std::size_t acc = static_cast<std::size_t>(kind()) * 0x100000001b3ULL;
  switch (kind()) {
    case Kind::Nil:
    case Kind::Null:
      return acc;
    case Kind::Number: {
      // Equal numbers of different kinds must hash alike: integral values hash as integers.
      if (isFloatingPoint()) {
        double d = doubleValue();
        if (d == std::trunc(d) && d >= -9223372036854775808.0 && d < 9223372036854775808.0) {
          return mix(acc, std::hash<std::int64_t>()(static_cast<std::int64_t>(d)));
        }
        if (d == std::trunc(d) && d >= 0 && d < 18446744073709551616.0) {
          return mix(acc, std::hash<std::uint64_t>()(static_cast<std::uint64_t>(d)));
        }
        return mix(acc, std::hash<double>()(d));
      }
      if (numberKind() == NumberKind::Unsigned && uint64Value() > 9223372036854775807ULL) {
        return mix(acc, std::hash<std::uint64_t>()(uint64Value()));
      }
      return mix(acc, std::hash<std::int64_t>()(int64Value()));
    }
    case Kind::String:
      return mix(acc, std::hash<std::string>()(*string()));
    case Kind::Data:
      return mix(acc, std::hash<std::string_view>()(std::string_view(
                           reinterpret_cast<const char*>(bytes()->data()), bytes()->size())));
    case Kind::Date:
      return mix(acc, std::hash<double>()(*dateValue()));
    case Kind::Array:
      for (const auto& e : *array()) acc = mix(acc, e.hash());
      return acc;
    case Kind::Dictionary:
      for (const auto& [k, v] : *dictionary()) {
        acc = mix(acc, std::hash<std::string>()(k));
        acc = mix(acc, v.hash());
      }
      return acc;
    case Kind::Set: {
      // Order-independent: sets equal as sets hash alike.
      std::size_t sum = 0;
      for (const auto& e : *array()) sum += e.hash();
      return mix(acc, sum);
    }
    case Kind::Object:
      return mix(acc, object()->hash());
  }
  return acc;
}

const Value& nilValue() {
  static const Value* nil = new Value();
  return *nil;
}

}  // namespace platform
