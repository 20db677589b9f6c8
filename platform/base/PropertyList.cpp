#include "platform/base/PropertyList.h"

#include <plist/plist.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <vector>

#include "platform/base/Strings.h"

namespace platform {

namespace {

// More levels of JSON arrays and objects than this are refused before the recursive reader sees
// them, so hostile input cannot exhaust the stack.
constexpr int kMaxJsonDepth = 512;
// Property-list dates count seconds from 2001-01-01T00:00:00Z.
constexpr double kReferenceDateOffset = 978307200.0;
constexpr const char* kDomain = kFileErrorDomain;

struct PlistFree {
  void operator()(plist_t p) const {
    if (p) plist_free(p);
  }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

ErrorPtr corrupt(const std::string& what) {
  return Error::withDescription(kDomain, kFileReadCorruptFileError, what);
}

ErrorPtr unwritable(const std::string& what) {
  return Error::withDescription(kDomain, kFileWriteUnknownError, what);
}

// What a look at the raw bytes found, before libplist sees them: libplist's binary reader
// recurses once per container level (and copies a shared container at each reference), its XML
// reader builds the tree without recursion but frees it recursively, on success and on error.
struct Shape {
  bool readable = true;  // false: refuse the input without handing it to libplist
  std::string problem;
};

Shape refuse(std::string problem) { return Shape{false, std::move(problem)}; }

constexpr const char* kTooDeep = "The property list is nested too deeply.";
constexpr const char* kNotAPropertyList =
    "The data couldn't be read because it isn't in the correct format.";

constexpr const char* kIntegerOutOfRange =
    "The property list holds an integer this system cannot read exactly.";
constexpr const char* kDateOutOfRange =
    "The property list holds a date this system cannot read exactly (before 1932-12-13, after "
    "2069-01-19, or within the second before 2001-01-01).";

// Relative seconds libplist 2.2 hands back exactly: its dates are whole seconds in 32 bits and a
// fraction, split by truncation, so a date within the second before the reference date loses
// its sign.
bool isStorableRelativeDate(double relative) {
  double sec = std::floor(relative);
  return std::isfinite(relative) && sec >= std::numeric_limits<int32_t>::min() &&
         sec <= std::numeric_limits<int32_t>::max() && !(relative > -1 && relative < 0);
}

std::string_view trimmedXmlSpace(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n";
  std::size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

// libplist 2.2 reads integers, reals and dates from XML leniently: text after a number is
// ignored, an integer out of range saturates or wraps, a leading zero makes it octal, and a date
// it cannot parse or hold reads as 1970 or 1932. Each of these contents is checked before, so
// that what it hands back is what the text says.
bool isExactXmlInteger(std::string_view text) {
  text = trimmedXmlSpace(text);
  bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  } else if (text.size() > 1 && text[0] == '0') {
    return false;  // octal to libplist, decimal to other readers
  }
  std::uint64_t magnitude = 0;
  const char* end = text.data() + text.size();
  auto [stop, failure] = std::from_chars(text.data(), end, magnitude, base);
  if (failure != std::errc() || stop != end) return false;
  return !negative || magnitude <= (std::uint64_t{1} << 63);
}

bool isExactXmlReal(std::string_view text) {
  std::string number(trimmedXmlSpace(text));
  if (number.empty()) return false;
  char* end = nullptr;
  errno = 0;
  double value = std::strtod(number.c_str(), &end);
  if (end != number.c_str() + number.size()) return false;
  // A finite number too large for a double is not infinity.
  return !(errno == ERANGE && std::isinf(value));
}

// Only the form property lists are written in: "YYYY-MM-DDTHH:MM:SSZ".
bool isExactXmlDate(std::string_view text) {
  text = trimmedXmlSpace(text);
  constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:ddZ";
  if (text.size() != kShape.size()) return false;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    bool digit = text[i] >= '0' && text[i] <= '9';
    if (kShape[i] == 'd' ? !digit : text[i] != kShape[i]) return false;
  }
  auto number = [&](std::size_t at, std::size_t size) {
    int n = 0;
    for (std::size_t i = at; i < at + size; ++i) n = n * 10 + (text[i] - '0');
    return n;
  };
  using namespace std::chrono;
  const year_month_day date{year(number(0, 4)), month(number(5, 2)), day(number(8, 2))};
  const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
  if (!date.ok() || hour > 23 || minute > 59 || second > 59) return false;
  const double seconds = static_cast<double>(sys_days(date).time_since_epoch().count()) * 86400 +
                         hour * 3600 + minute * 60 + second;
  return isStorableRelativeDate(seconds - kReferenceDateOffset);
}

// The end of markup that starts at `from` and ends at the first `terminator`. Where a double
// quote opens before that terminator and is not closed by it, readers disagree on whether
// quotes hide the terminator; such markup (and unterminated markup) gives npos.
std::size_t markupEnd(std::string_view text, std::size_t from, std::string_view terminator) {
  std::size_t end = text.find(terminator, from);
  if (end == std::string_view::npos) return end;
  std::string_view inside = text.substr(from, end - from);
  if (std::count(inside.begin(), inside.end(), '"') % 2 != 0) return std::string_view::npos;
  return end + terminator.size();
}

// An upper bound of the <array>/<dict> nesting any XML reader reaches: comments, CDATA sections,
// processing instructions and the document type are skipped exactly where they end (a closing
// tag inside them closes nothing), and an unmatched closing tag never lowers the count below
// zero. Markup it cannot delimit for certain is refused.
Shape xmlShape(std::string_view text) {
  // XML has no NUL character, and libplist cannot hand back a key that holds one.
  if (text.find('\0') != std::string_view::npos) return refuse(kNotAPropertyList);
  int depth = 0;
  std::size_t i = 0;
  while ((i = text.find('<', i)) != std::string_view::npos) {
    std::string_view rest = text.substr(i);
    std::size_t end;
    if (rest.starts_with("<!--")) {
      end = text.find("-->", i + 4);
      if (end != std::string_view::npos) end += 3;
    } else if (rest.starts_with("<![CDATA[")) {
      end = text.find("]]>", i + 9);
      if (end != std::string_view::npos) end += 3;
    } else if (rest.starts_with("<?")) {
      end = markupEnd(text, i + 2, "?>");
    } else if (rest.starts_with("<!")) {
      // The document type; an internal subset ("[...]") has no place in a property list.
      end = markupEnd(text, i + 2, ">");
      if (end != std::string_view::npos &&
          text.substr(i + 2, end - i - 2).find_first_of("[<") != std::string_view::npos) {
        end = std::string_view::npos;
      }
    } else {
      end = markupEnd(text, i + 1, ">");
      if (end != std::string_view::npos) {
        std::string_view tag = text.substr(i + 1, end - i - 2);
        bool closing = tag.starts_with("/");
        if (closing) tag.remove_prefix(1);
        bool selfClosing = !closing && tag.ends_with("/");
        std::string_view name = tag.substr(0, tag.find_first_of(" \t\r\n/"));
        if (!closing && (name == "integer" || name == "real" || name == "date")) {
          // The content is plain text up to its own closing tag.
          std::size_t close = text.find('<', end);
          std::string_view after =
              close == std::string_view::npos ? std::string_view() : text.substr(close);
          bool closed =
              after.starts_with("</") && after.substr(2).starts_with(name) &&
              after.size() > 2 + name.size() &&
              std::string_view(">\t\r\n ").find(after[2 + name.size()]) != std::string_view::npos;
          std::string_view content = closed ? text.substr(end, close - end) : std::string_view();
          bool exact = closed && (name == "integer" ? isExactXmlInteger(content)
                                  : name == "real"  ? isExactXmlReal(content)
                                                    : isExactXmlDate(content));
          if (!exact) {
            return refuse(name == "date" ? kDateOutOfRange
                          : name == "integer"
                              ? kIntegerOutOfRange
                              : "The property list holds a real number this system cannot read "
                                "exactly.");
          }
        }
        if (name == "array" || name == "dict") {
          if (closing) {
            depth = std::max(0, depth - 1);
          } else if (depth + 1 > kMaxPropertyListDepth) {
            return refuse(kTooDeep);
          } else if (!selfClosing) {
            ++depth;
          }
        }
      }
    }
    if (end == std::string_view::npos) return refuse(kNotAPropertyList);
    i = end;
  }
  return {};
}

std::uint64_t bigEndian(const unsigned char* p, std::size_t size) {
  std::uint64_t v = 0;
  for (std::size_t k = 0; k < size; ++k) v = (v << 8) | p[k];
  return v;
}

// A binary property list walked as a graph without recursion: every reference must name an
// object, the graph must have no cycle, containers must nest at most kMaxPropertyListDepth deep,
// and the tree libplist would build (a shared container is copied at every reference) must stay
// within a few nodes per byte of input.
Shape binaryShape(std::string_view bytes) {
  constexpr std::size_t kHeader = 8, kTrailer = 32;
  if (bytes.size() < kHeader + kTrailer) return refuse(kNotAPropertyList);
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const unsigned char* trailer = data + bytes.size() - kTrailer;
  std::size_t offsetSize = trailer[6], refSize = trailer[7];
  std::uint64_t objects = bigEndian(trailer + 8, 8);
  std::uint64_t root = bigEndian(trailer + 16, 8);
  std::uint64_t tableOffset = bigEndian(trailer + 24, 8);
  std::uint64_t objectsEnd = bytes.size() - kTrailer;
  if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || objects == 0 ||
      root >= objects || tableOffset < kHeader || tableOffset > objectsEnd ||
      objects > (objectsEnd - tableOffset) / offsetSize) {
    return refuse(kNotAPropertyList);
  }
  // The count of the object at `at` (its marker's low bits, or an integer object after it when
  // those are all set) and where its contents start.
  auto countOf = [&](std::uint64_t at, std::uint64_t* count, std::uint64_t* start) {
    *count = data[at] & 0x0F;
    *start = at + 1;
    if (*count != 0x0F) return true;
    // The count follows as an integer object of 1, 2, 4 or 8 bytes.
    if (*start >= tableOffset || (data[*start] >> 4) != 0x1 || (data[*start] & 0x0F) > 3) {
      return false;
    }
    std::size_t size = std::size_t{1} << (data[*start] & 0x0F);
    if (size > tableOffset - *start - 1) return false;
    *count = bigEndian(data + *start + 1, size);
    *start += 1 + size;
    return true;
  };
  // Where each container's references start, how many there are (keys and values for a
  // dictionary); leaves have none.
  struct Object {
    std::uint64_t at = 0, refs = 0, count = 0;
    bool container = false;
  };
  std::vector<Object> table(objects);
  for (std::uint64_t k = 0; k < objects; ++k) {
    std::uint64_t at = bigEndian(data + tableOffset + k * offsetSize, offsetSize);
    if (at < kHeader || at >= tableOffset) return refuse(kNotAPropertyList);
    table[k].at = at;
    unsigned type = data[at] >> 4;
    if (type != 0xA && type != 0xC && type != 0xD) continue;
    std::uint64_t count, refs;
    if (!countOf(at, &count, &refs)) return refuse(kNotAPropertyList);
    if (type == 0xD) {
      if (count > std::numeric_limits<std::uint64_t>::max() / 2) return refuse(kNotAPropertyList);
      count *= 2;
    }
    if (count > (tableOffset - refs) / refSize) return refuse(kNotAPropertyList);
    table[k] = Object{at, refs, count, true};
  }
  // A string with a NUL character: libplist cuts it there (or, as a key, cannot hand it back).
  // False too for a string that runs past its objects.
  auto stringWithoutNul = [&](std::uint64_t at) {
    std::uint64_t count, start;
    unsigned type = data[at] >> 4;
    if ((type != 0x5 && type != 0x6) || !countOf(at, &count, &start)) return false;
    std::uint64_t unit = type == 0x5 ? 1 : 2;
    if (count > (tableOffset - start) / unit) return false;
    for (std::uint64_t i = 0; i < count; ++i) {
      if (unit == 1 ? data[start + i] == 0
                    : data[start + 2 * i] == 0 && data[start + 2 * i + 1] == 0) {
        return false;
      }
    }
    return true;
  };
  // What a leaf holds must come back from libplist unchanged: it keeps only the low 64 bits of a
  // 16-byte integer (and takes them as unsigned), and its dates as 32-bit seconds.
  auto leafProblem = [&](std::uint64_t at) -> const char* {
    unsigned marker = data[at];
    std::uint64_t room = tableOffset - at - 1;
    switch (marker >> 4) {
      case 0x1:
        if (marker == 0x14 && (room < 16 || bigEndian(data + at + 1, 8) != 0)) {
          return kIntegerOutOfRange;
        }
        return nullptr;
      case 0x3: {
        if (marker != 0x33 || room < 8) return kNotAPropertyList;
        std::uint64_t bits = bigEndian(data + at + 1, 8);
        double relative;
        std::memcpy(&relative, &bits, sizeof relative);
        return isStorableRelativeDate(relative) ? nullptr : kDateOutOfRange;
      }
      case 0x5:
      case 0x6:
        return stringWithoutNul(at) ? nullptr
                                    : "A property-list string holds a NUL character, which "
                                      "this system cannot read exactly.";
      default:
        return nullptr;
    }
  };
  // A dictionary key must be a string without NUL characters. Each key object is checked once,
  // however many dictionaries share it.
  enum : std::uint8_t { kUnchecked, kGoodKey };
  std::vector<std::uint8_t> keyState(objects, kUnchecked);
  auto goodKey = [&](std::uint64_t object) {
    if (object >= objects) return false;
    if (keyState[object] == kGoodKey) return true;
    if (!stringWithoutNul(table[object].at)) return false;
    keyState[object] = kGoodKey;
    return true;
  };
  for (const Object& o : table) {
    if (!o.container || (data[o.at] >> 4) != 0xD) continue;
    for (std::uint64_t k = 0; k < o.count / 2; ++k) {
      if (!goodKey(bigEndian(data + o.refs + k * refSize, refSize))) {
        return refuse("A property-list key is not a string or holds a NUL character.");
      }
    }
  }
  // Depth-first from the root with an explicit stack; each object is measured once.
  enum : std::uint8_t { kUnseen, kOpen, kDone };
  std::vector<std::uint8_t> state(objects, kUnseen);
  std::vector<std::uint32_t> depth(objects, 0);
  std::vector<std::uint64_t> nodes(objects, 1);
  const std::uint64_t nodeLimit = 4 * static_cast<std::uint64_t>(bytes.size()) + 4096;
  struct Step {
    std::uint64_t object, next;
  };
  std::vector<Step> stack{{root, 0}};
  state[root] = kOpen;
  if (const char* problem = leafProblem(table[root].at)) return refuse(problem);
  while (!stack.empty()) {
    Step& step = stack.back();
    const Object& o = table[step.object];
    if (step.next < o.count) {
      std::uint64_t child = bigEndian(data + o.refs + step.next * refSize, refSize);
      ++step.next;
      if (child >= objects) return refuse(kNotAPropertyList);
      if (state[child] == kOpen) return refuse("The property list refers to itself.");
      if (state[child] == kUnseen) {
        if (const char* problem = leafProblem(table[child].at)) return refuse(problem);
        state[child] = kOpen;
        stack.push_back({child, 0});
      }
      continue;
    }
    std::uint32_t d = 0;
    std::uint64_t n = 1;
    for (std::uint64_t k = 0; k < o.count; ++k) {
      std::uint64_t child = bigEndian(data + o.refs + k * refSize, refSize);
      d = std::max(d, depth[child]);
      n += nodes[child];
      if (n > nodeLimit) return refuse("The property list expands to too many values.");
    }
    if (o.container && ++d > static_cast<std::uint32_t>(kMaxPropertyListDepth)) {
      return refuse(kTooDeep);
    }
    depth[step.object] = d;
    nodes[step.object] = n;
    state[step.object] = kDone;
    stack.pop_back();
  }
  return {};
}

// Depth of brackets in JSON text (outside strings). Exact for text the JSON reader accepts, and
// only text it accepts is turned into values recursively.
int jsonNestingDepth(std::string_view text) {
  int depth = 0, maxDepth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      maxDepth = std::max(maxDepth, ++depth);
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return maxDepth;
}

// `depth` counts the arrays and dictionaries around `node`.
bool fromPlist(plist_t node, int depth, Value& out, std::string& problem) {
  plist_type type = plist_get_node_type(node);
  if ((type == PLIST_ARRAY || type == PLIST_DICT) && depth >= kMaxPropertyListDepth) {
    problem = kTooDeep;
    return false;
  }
  switch (type) {
    case PLIST_BOOLEAN: {
      uint8_t b = 0;
      plist_get_bool_val(node, &b);
      out = Value(b != 0);
      return true;
    }
    case PLIST_UINT: {
      // This libplist keeps every integer as 64 bits, negative numbers in two's complement; it
      // marks one read as unsigned above the signed range (a 16-byte integer, or XML text past
      // INT64_MAX) by its size, which only a comparison with a plain node shows.
      uint64_t u = 0;
      plist_get_uint_val(node, &u);
      if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        PlistPtr plain(plist_new_uint(u));
        if (!plist_compare_node_value(node, plain.get())) {
          out = Value(static_cast<unsigned long long>(u));
          return true;
        }
      }
      out = Value(static_cast<long long>(static_cast<std::int64_t>(u)));
      return true;
    }
    case PLIST_REAL: {
      double d = 0;
      plist_get_real_val(node, &d);
      out = Value(d);
      return true;
    }
    case PLIST_STRING:
    case PLIST_KEY: {
      uint64_t length = 0;
      const char* s = plist_get_string_ptr(node, &length);
      out = Value(std::string_view(s ? s : "", s ? length : 0));
      return true;
    }
    case PLIST_DATA: {
      char* bytes = nullptr;
      uint64_t length = 0;
      plist_get_data_val(node, &bytes, &length);
      out = Value::data(std::string_view(bytes ? bytes : "", bytes ? length : 0));
      std::free(bytes);
      return true;
    }
    case PLIST_DATE: {
      int32_t sec = 0, usec = 0;
      plist_get_date_val(node, &sec, &usec);
      // This libplist splits the stored seconds by truncation and hands back the fraction
      // unsigned, so before the reference date the fraction counts backwards. (Within the
      // second before it the sign is lost; such dates were refused before libplist read them.)
      double fraction = usec / 1e6;
      out = Value::date(kReferenceDateOffset + sec + (sec < 0 ? -fraction : fraction));
      return true;
    }
    case PLIST_ARRAY: {
      Value::Array elements;
      uint32_t n = plist_array_get_size(node);
      elements.reserve(n);
      for (uint32_t i = 0; i < n; ++i) {
        Value element;
        if (!fromPlist(plist_array_get_item(node, i), depth + 1, element, problem)) return false;
        elements.push_back(std::move(element));
      }
      out = Value(std::move(elements));
      return true;
    }
    case PLIST_DICT: {
      Value::Dictionary entries;
      plist_dict_iter it = nullptr;
      plist_dict_new_iter(node, &it);
      bool ok = true;
      while (ok) {
        char* key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, it, &key, &item);
        if (!item) {
          std::free(key);
          break;
        }
        Value v;
        ok = fromPlist(item, depth + 1, v, problem);
        if (ok) entries.insert_or_assign(sanitizeUtf8(key ? key : ""), v);
        std::free(key);
      }
      std::free(it);
      if (!ok) return false;
      out = Value(std::move(entries));
      return true;
    }
    default:
      problem = "The property list holds a value of a kind this system does not read.";
      return false;
  }
}

// A node that this libplist writes, and reads back, as unsigned: its own plain integer nodes
// are signed, while one it reads from XML text past INT64_MAX is marked unsigned.
plist_t unsignedAboveSignedRange(std::uint64_t u, std::string& problem) {
  std::string xml = "<plist version=\"1.0\"><integer>" + std::to_string(u) + "</integer></plist>";
  plist_t node = nullptr;
  plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &node);
  PlistPtr owned(node), plain(plist_new_uint(u));
  uint64_t read = 0;
  if (node && plist_get_node_type(node) == PLIST_UINT) plist_get_uint_val(node, &read);
  if (!node || read != u || plist_compare_node_value(node, plain.get())) {
    problem = "The unsigned integer " + std::to_string(u) + " cannot be stored in a property list.";
    return nullptr;
  }
  return owned.release();
}

// `depth` counts the arrays and dictionaries around `v`. The writer and isPropertyListValue both
// ask this, so that a value the check passes is one the writer takes.
bool nestsTooDeep(const Value& v, int depth) {
  return (v.isArray() || v.isDictionary()) && depth >= kMaxPropertyListDepth;
}

// `depth` counts the arrays and dictionaries around `v`.
plist_t toPlist(const Value& v, int depth, std::string& problem) {
  if (nestsTooDeep(v, depth)) {
    problem = "The value is nested too deeply for a property list.";
    return nullptr;
  }
  switch (v.kind()) {
    case Value::Kind::Number:
      switch (v.numberKind()) {
        case Value::NumberKind::Bool:
          return plist_new_bool(v.boolValue() ? 1 : 0);
        case Value::NumberKind::Double:
          return plist_new_real(v.doubleValue());
        case Value::NumberKind::Unsigned:
          if (v.uint64Value() >
              static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return unsignedAboveSignedRange(v.uint64Value(), problem);
          }
          return plist_new_uint(v.uint64Value());
        case Value::NumberKind::Signed:
          return plist_new_uint(static_cast<uint64_t>(v.int64Value()));
      }
      return nullptr;
    case Value::Kind::String:
      if (v.string()->find('\0') != std::string::npos) {
        problem = "A property-list string cannot hold a NUL character.";
        return nullptr;
      }
      return plist_new_string(v.string()->c_str());
    case Value::Kind::Data: {
      const Bytes& b = *v.bytes();
      return plist_new_data(reinterpret_cast<const char*>(b.data()), b.size());
    }
    case Value::Kind::Date: {
      double relative = *v.dateValue() - kReferenceDateOffset;
      double sec = std::floor(relative);
      if (!isStorableRelativeDate(relative)) {
        problem =
            "The date " + v.description() + " is outside what a property list here can store.";
        return nullptr;
      }
      auto usec = static_cast<int32_t>(std::llround((relative - sec) * 1e6));
      if (usec >= 1000000 && sec < std::numeric_limits<int32_t>::max()) {
        usec -= 1000000;
        sec += 1;
      }
      return plist_new_date(static_cast<int32_t>(sec), std::min<int32_t>(usec, 999999));
    }
    case Value::Kind::Array: {
      PlistPtr array(plist_new_array());
      for (const auto& e : *v.array()) {
        plist_t item = toPlist(e, depth + 1, problem);
        if (!item) return nullptr;
        plist_array_append_item(array.get(), item);
      }
      return array.release();
    }
    case Value::Kind::Dictionary: {
      PlistPtr dict(plist_new_dict());
      for (const auto& [key, value] : *v.dictionary()) {
        if (key.find('\0') != std::string::npos) {
          problem = "A property-list key cannot hold a NUL character.";
          return nullptr;
        }
        plist_t item = toPlist(value, depth + 1, problem);
        if (!item) return nullptr;
        plist_dict_set_item(dict.get(), key.c_str(), item);
      }
      return dict.release();
    }
    default:
      problem = "A " + v.className() + " is not a property-list value.";
      return nullptr;
  }
}

Value fromJson(const nlohmann::json& j) {
  using T = nlohmann::json::value_t;
  switch (j.type()) {
    case T::null:
      return Value::null();
    case T::boolean:
      return Value(j.get<bool>());
    case T::number_integer:
      return Value(static_cast<long long>(j.get<std::int64_t>()));
    case T::number_unsigned: {
      auto u = j.get<std::uint64_t>();
      if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return Value(static_cast<long long>(u));
      }
      return Value(static_cast<unsigned long long>(u));
    }
    case T::number_float:
      return Value(j.get<double>());
    case T::string:
      return Value(j.get_ref<const std::string&>());
    case T::array: {
      Value::Array elements;
      elements.reserve(j.size());
      for (const auto& e : j) elements.push_back(fromJson(e));
      return Value(std::move(elements));
    }
    case T::object: {
      Value::Dictionary entries;
      for (const auto& [key, value] : j.items()) entries.insert_or_assign(key, fromJson(value));
      return Value(std::move(entries));
    }
    default:
      return Value();
  }
}

bool toJson(const Value& v, int depth, nlohmann::json& out, std::string& problem) {
  if (depth > kMaxJsonDepth) {
    problem = "The value is nested too deeply for JSON.";
    return false;
  }
  switch (v.kind()) {
    case Value::Kind::Null:
      out = nullptr;
      return true;
    case Value::Kind::Number:
      switch (v.numberKind()) {
        case Value::NumberKind::Bool:
          out = v.boolValue();
          return true;
        case Value::NumberKind::Signed:
          out = v.int64Value();
          return true;
        case Value::NumberKind::Unsigned:
          out = v.uint64Value();
          return true;
        case Value::NumberKind::Double:
          if (!std::isfinite(v.doubleValue())) {
            problem = "Invalid number value (" + v.description() + ") in JSON write.";
            return false;
          }
          out = v.doubleValue();
          return true;
      }
      return false;
    case Value::Kind::String:
      out = *v.string();
      return true;
    case Value::Kind::Array: {
      out = nlohmann::json::array();
      for (const auto& e : *v.array()) {
        nlohmann::json element;
        if (!toJson(e, depth + 1, element, problem)) return false;
        out.push_back(std::move(element));
      }
      return true;
    }
    case Value::Kind::Dictionary: {
      out = nlohmann::json::object();
      for (const auto& [key, value] : *v.dictionary()) {
        nlohmann::json element;
        if (!toJson(value, depth + 1, element, problem)) return false;
        out[key] = std::move(element);
      }
      return true;
    }
    default:
      problem = "Invalid type in JSON write (" + v.className() + ").";
      return false;
  }
}

// What toPlist takes, without building anything; `depth` as there.
bool isWritable(const Value& value, int depth) {
  if (nestsTooDeep(value, depth)) return false;
  switch (value.kind()) {
    case Value::Kind::Number:
    case Value::Kind::Data:
      return true;
    case Value::Kind::String:
      return value.string()->find('\0') == std::string::npos;
    case Value::Kind::Date:
      return isStorableRelativeDate(*value.dateValue() - kReferenceDateOffset);
    case Value::Kind::Array:
      for (const auto& e : *value.array()) {
        if (!isWritable(e, depth + 1)) return false;
      }
      return true;
    case Value::Kind::Dictionary:
      for (const auto& [key, v] : *value.dictionary()) {
        if (key.find('\0') != std::string::npos || !isWritable(v, depth + 1)) return false;
      }
      return true;
    default:
      return false;
  }
}

}  // namespace

bool isPropertyListValue(const Value& value, int enclosingContainers) {
  return isWritable(value, std::max(0, enclosingContainers));
}

Value parsePropertyList(std::string_view bytes, ErrorPtr* error) {
  if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max()) {
    setError(error, corrupt("The data couldn't be read because it isn't in the correct format."));
    return Value();
  }
  bool binary = plist_is_binary(bytes.data(), static_cast<uint32_t>(bytes.size())) != 0;
  Shape shape = binary ? binaryShape(bytes) : xmlShape(bytes);
  if (!shape.readable) {
    setError(error, corrupt(shape.problem));
    return Value();
  }
  plist_t raw = nullptr;
  plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &raw);
  PlistPtr root(raw);
  if (!root) {
    setError(error, corrupt("The data couldn't be read because it isn't in the correct format."));
    return Value();
  }
  Value out;
  std::string problem;
  if (!fromPlist(root.get(), 0, out, problem)) {
    setError(error, corrupt(problem));
    return Value();
  }
  return out;
}

std::optional<Bytes> serializePropertyList(const Value& value, PropertyListFormat format,
                                           ErrorPtr* error) {
  std::string problem;
  PlistPtr root(toPlist(value, 0, problem));
  if (!root) {
    setError(error, unwritable(problem));
    return std::nullopt;
  }
  char* out = nullptr;
  uint32_t length = 0;
  if (format == PropertyListFormat::Xml) {
    plist_to_xml(root.get(), &out, &length);
  } else {
    plist_to_bin(root.get(), &out, &length);
  }
  if (!out) {
    setError(error, unwritable("The property list could not be encoded."));
    return std::nullopt;
  }
  Bytes bytes(out, out + length);
  if (format == PropertyListFormat::Xml) {
    plist_to_xml_free(out);
  } else {
    plist_to_bin_free(out);
  }
  return bytes;
}

Value parseJson(std::string_view text, ErrorPtr* error) {
  if (jsonNestingDepth(text) > kMaxJsonDepth) {
    setError(error, corrupt("The JSON text is nested too deeply."));
    return Value();
  }
  nlohmann::json j = nlohmann::json::parse(text.begin(), text.end(), nullptr,
                                           /*allow_exceptions=*/false);
  if (j.is_discarded()) {
    setError(error, corrupt("The data couldn't be read because it isn't in the correct format."));
    return Value();
  }
  return fromJson(j);
}

std::optional<std::string> serializeJson(const Value& value, bool pretty, ErrorPtr* error) {
  nlohmann::json j;
  std::string problem;
  if (!toJson(value, 0, j, problem)) {
    setError(error, unwritable(problem));
    return std::nullopt;
  }
  return j.dump(pretty ? 2 : -1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace platform
