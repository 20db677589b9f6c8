#include "platform/runtime/KeyedArchiver.h"

#include <array>
#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <unordered_set>
#include <utility>

#include "platform/runtime/Runtime.h"

namespace platform {
namespace {

// Layout of an archive: "TVSA", version (u16), reserved (u16, zero), payload length (u32),
// CRC-32 of the payload (u32), all little-endian, then the payload: the top-level keyed fields.
constexpr char kMagic[4] = {'T', 'V', 'S', 'A'};
constexpr std::uint16_t kVersion = 1;
constexpr std::size_t kHeaderSize = 16;

enum Tag : std::uint8_t {
  kNil = 0x00,
  kNull = 0x01,
  kFalse = 0x02,
  kTrue = 0x03,
  kInt64 = 0x04,
  kUInt64 = 0x05,
  kDouble = 0x06,
  kString = 0x07,
  kData = 0x08,
  kDate = 0x09,
  kArray = 0x0A,
  kSet = 0x0B,
  kDictionary = 0x0C,
  kObject = 0x0D,
  kTopLevel = 0xFF,  // only in memory: the fields of the whole archive
};

constexpr const char* kCorruptDescription =
    "The data couldn't be read because it isn't in the correct format.";
constexpr const char* kDebugDescriptionKey = "NSDebugDescription";

ErrorPtr coderError(long code, const std::string& detail) {
  std::string description = code == kCoderInvalidValueError
                                ? "The data couldn't be written because it isn't in the correct "
                                  "format."
                                : kCorruptDescription;
  return Error::make(
      kFileErrorDomain, code,
      {{kLocalizedDescriptionKey, Value(description)}, {kDebugDescriptionKey, Value(detail)}});
}

const std::array<std::uint32_t, 256>& crcTable() {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  return table;
}

std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
  const auto& table = crcTable();
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

bool validUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    int extra;
    std::uint32_t cp;
    if ((c & 0xE0) == 0xC0) {
      extra = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + static_cast<std::size_t>(extra) >= s.size()) return false;
    for (int k = 1; k <= extra; ++k) {
      auto d = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    static constexpr std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += static_cast<std::size_t>(extra) + 1;
  }
  return true;
}

void putVarint(std::string& out, std::uint64_t v) {
  while (v >= 0x80) {
    out.push_back(static_cast<char>((v & 0x7F) | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<char>(v));
}

void putFixed64(std::string& out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void putBytes(std::string& out, std::string_view bytes) {
  putVarint(out, bytes.size());
  out.append(bytes);
}

void putLE(Bytes& out, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF));
}

std::uint64_t getLE(const std::uint8_t* p, int bytes) {
  std::uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

struct Registry {
  std::mutex mutex;
  std::map<std::string, KeyedUnarchiver::Decoder, std::less<>> decoders;
  std::map<std::string, std::string, std::less<>> classNames;
};

ObjectPtr decodeError(KeyedUnarchiver& coder) {
  auto domain = coder.decodeString("domain");
  long code = static_cast<long>(coder.decodeInt64("code"));
  ClassSet infoClasses = coder.allowedClasses();
  for (const char* c : {kDictionaryClassName, kArrayClassName, kStringClassName, kNumberClassName,
                        kDateClassName, kDataClassName, kNullClassName}) {
    infoClasses.insert(c);
  }
  Value info = coder.decodeObjectOfClasses(infoClasses, "userInfo");
  if (!domain || coder.error()) return nullptr;
  Value::Dictionary userInfo = info.dictionary() ? *info.dictionary() : Value::Dictionary{};
  return std::const_pointer_cast<Error>(Error::make(*domain, code, std::move(userInfo)));
}

Registry& registry() {
  static auto* r = [] {
    auto* reg = new Registry;
    reg->decoders.emplace(kErrorClassName, &decodeError);
    return reg;
  }();
  return *r;
}

}  // namespace

// ---- Reading ----------------------------------------------------------------------------
// The payload is checked once from end to end (tags, lengths, UTF-8, unique keys, nesting) and
// then read in place: values are made straight from the bytes as the decoders ask for them, and
// only the fields of the objects being decoded are listed. Memory stays a small multiple of the
// archive's size whatever its shape.

// The head of one stored value: its tag and scalar, or for a container its count and where its
// items (or keyed fields) start.
struct KeyedUnarchiver::Node {
  std::uint8_t tag = kNil;
  std::string_view text;  // string, data bytes or class name
  std::int64_t i = 0;
  std::uint64_t u = 0;
  double d = 0;
  std::uint64_t count = 0;
  const std::uint8_t* items = nullptr;
};

// The object (or the whole archive) whose fields are being decoded.
struct KeyedUnarchiver::Frame {
  Node node;
  std::string className;
  std::vector<std::pair<std::string_view, const std::uint8_t*>> fields;  // key, value
  const std::uint8_t* end = nullptr;  // just past the last field
};

struct KeyedUnarchiver::Parser {
  const std::uint8_t* p;
  const std::uint8_t* end;
  std::string failure;

  bool fail(std::string why) {
    if (failure.empty()) failure = std::move(why);
    return false;
  }
  std::size_t left() const { return static_cast<std::size_t>(end - p); }

  bool varint(std::uint64_t* out) {
    std::uint64_t v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      if (p == end) return fail("truncated number");
      std::uint8_t b = *p++;
      if (shift == 63 && (b & 0x7E)) return fail("number out of range");
      v |= static_cast<std::uint64_t>(b & 0x7F) << shift;
      if (!(b & 0x80)) {
        *out = v;
        return true;
      }
    }
    return fail("number too long");
  }
  // A count of things that each take at least `minBytes`; bounded by what is left.
  bool count(std::uint64_t* out, std::size_t minBytes) {
    if (!varint(out)) return false;
    if (*out > left() / minBytes) return fail("count larger than the archive");
    return true;
  }
  bool bytes(std::string_view* out) {
    std::uint64_t n;
    if (!varint(&n)) return false;
    if (n > left()) return fail("length larger than the archive");
    *out = std::string_view(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n));
    p += n;
    return true;
  }
  bool text(std::string_view* out) {
    if (!bytes(out)) return false;
    if (!validUtf8(*out)) return fail("string is not valid UTF-8");
    return true;
  }
  bool fixed64(std::uint64_t* out) {
    if (left() < 8) return fail("truncated value");
    *out = getLE(p, 8);
    p += 8;
    return true;
  }

  // Reads the head of the value at p; for a container p is left at its first item.
  bool head(Node* node) {
    if (p == end) return fail("truncated value");
    node->tag = *p++;
    switch (node->tag) {
      case kNil:
      case kNull:
      case kFalse:
      case kTrue:
        return true;
      case kInt64: {
        std::uint64_t v;
        if (!fixed64(&v)) return false;
        node->i = static_cast<std::int64_t>(v);
        return true;
      }
      case kUInt64:
        return fixed64(&node->u);
      case kDouble:
      case kDate: {
        std::uint64_t v;
        if (!fixed64(&v)) return false;
        std::memcpy(&node->d, &v, sizeof v);
        return true;
      }
      case kString:
        return text(&node->text);
      case kData:
        return bytes(&node->text);
      case kArray:
      case kSet:
        if (!count(&node->count, 1)) return false;
        node->items = p;
        return true;
      case kDictionary:
        if (!count(&node->count, 2)) return false;
        node->items = p;
        return true;
      case kObject:
        if (!text(&node->text)) return false;
        if (node->text.empty()) return fail("object without a class name");
        if (!count(&node->count, 2)) return false;
        node->items = p;
        return true;
      default:
        return fail("unknown tag " + std::to_string(node->tag));
    }
  }

  // Checks the whole value at p (nesting included) and moves past it.
  bool value(int depth) {
    if (depth > kMaxArchiveDepth) return fail("nesting deeper than allowed");
    Node node;
    if (!head(&node)) return false;
    switch (node.tag) {
      case kArray:
      case kSet:
        for (std::uint64_t k = 0; k < node.count; ++k) {
          if (!value(depth + 1)) return false;
        }
        return true;
      case kDictionary:
      case kObject:
        return fields(node.count, depth);
      default:
        return true;
    }
  }
  // Checks `n` keyed fields at p; a key may appear once.
  bool fields(std::uint64_t n, int depth) {
    std::unordered_set<std::string_view> keys;
    keys.reserve(static_cast<std::size_t>(n));
    for (std::uint64_t k = 0; k < n; ++k) {
      std::string_view key;
      if (!text(&key)) return false;
      if (!keys.insert(key).second) return fail("key \"" + std::string(key) + "\" appears twice");
      if (!value(depth + 1)) return false;
    }
    return true;
  }

  // Moves past the value at p, which has been checked.
  void skip() {
    Node node;
    head(&node);
    std::uint64_t n = node.count;
    switch (node.tag) {
      case kArray:
      case kSet:
        while (n--) skip();
        return;
      case kDictionary:
      case kObject:
        while (n--) {
          std::string_view key;
          bytes(&key);
          skip();
        }
        return;
      default:
        return;
    }
  }
};

// ---- KeyedArchiver --------------------------------------------------------------------------

std::optional<Bytes> KeyedArchiver::archivedDataWithRootObject(const Value& root, ErrorPtr* error) {
  KeyedArchiver archiver;
  archiver.encodeObject(root, kKeyedArchiveRootObjectKey);
  return archiver.encodedData(error);
}

void KeyedArchiver::putKey(std::string_view key) {
  Frame& f = frames_.back();
  putBytes(f.out, key);
  ++f.count;
}

void KeyedArchiver::encodeObject(const Value& value, std::string_view key) {
  if (finished_ || error_) return;
  if (!validUtf8(key)) {
    failWithError(coderError(kCoderInvalidValueError, "a key is not valid UTF-8"));
    return;
  }
  putKey(key);
  putValue(value, depth_ + 1);
}

void KeyedArchiver::encodeString(std::string_view value, std::string_view key) {
  encodeObject(Value(value), key);
}
void KeyedArchiver::encodeInt64(std::int64_t value, std::string_view key) {
  encodeObject(Value(static_cast<long long>(value)), key);
}
void KeyedArchiver::encodeBool(bool value, std::string_view key) {
  encodeObject(Value(value), key);
}
void KeyedArchiver::encodeDouble(double value, std::string_view key) {
  encodeObject(Value(value), key);
}
void KeyedArchiver::encodeDate(double secondsSince1970, std::string_view key) {
  encodeObject(Value::date(secondsSince1970), key);
}
void KeyedArchiver::encodeData(const Bytes& bytes, std::string_view key) {
  encodeObject(Value::data(bytes), key);
}

void KeyedArchiver::putValue(const Value& value, int depth) {
  if (error_) return;
  if (depth > kMaxArchiveDepth) {
    // Also what stops a cycle of objects that encode each other.
    failWithError(coderError(kCoderInvalidValueError, "the object graph is nested too deeply"));
    return;
  }
  std::string& out = frames_.back().out;
  switch (value.kind()) {
    case Value::Kind::Nil:
      out.push_back(static_cast<char>(kNil));
      return;
    case Value::Kind::Null:
      out.push_back(static_cast<char>(kNull));
      return;
    case Value::Kind::Number:
      switch (value.numberKind()) {
        case Value::NumberKind::Bool:
          out.push_back(static_cast<char>(value.boolValue() ? kTrue : kFalse));
          return;
        case Value::NumberKind::Signed:
          out.push_back(static_cast<char>(kInt64));
          putFixed64(out, static_cast<std::uint64_t>(value.int64Value()));
          return;
        case Value::NumberKind::Unsigned:
          out.push_back(static_cast<char>(kUInt64));
          putFixed64(out, value.uint64Value());
          return;
        case Value::NumberKind::Double: {
          double d = value.doubleValue();
          std::uint64_t bits;
          std::memcpy(&bits, &d, sizeof d);
          out.push_back(static_cast<char>(kDouble));
          putFixed64(out, bits);
          return;
        }
      }
      return;
    case Value::Kind::String:
      out.push_back(static_cast<char>(kString));
      putBytes(out, *value.string());
      return;
    case Value::Kind::Data: {
      const Bytes& b = *value.bytes();
      out.push_back(static_cast<char>(kData));
      putBytes(out, std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
      return;
    }
    case Value::Kind::Date: {
      double d = *value.dateValue();
      std::uint64_t bits;
      std::memcpy(&bits, &d, sizeof d);
      out.push_back(static_cast<char>(kDate));
      putFixed64(out, bits);
      return;
    }
    case Value::Kind::Array:
    case Value::Kind::Set: {
      out.push_back(static_cast<char>(value.isSet() ? kSet : kArray));
      putVarint(out, value.array()->size());
      for (const Value& item : *value.array()) {
        putValue(item, depth + 1);
        if (error_) return;
      }
      return;
    }
    case Value::Kind::Dictionary: {
      out.push_back(static_cast<char>(kDictionary));
      putVarint(out, value.dictionary()->size());
      for (const auto& [key, item] : *value.dictionary()) {
        putBytes(frames_.back().out, key);
        putValue(item, depth + 1);
        if (error_) return;
      }
      return;
    }
    case Value::Kind::Object: {
      ObjectPtr object = value.object();
      std::string className = object->className();
      const auto* coding = dynamic_cast<const SecureCoding*>(object.get());
      const auto* error = dynamic_cast<const Error*>(object.get());
      if (!coding && !error) {
        failWithError(coderError(kCoderInvalidValueError, "objects of class " + className +
                                                              " do not support secure coding"));
        return;
      }
      frames_.push_back(Frame{});
      int outerDepth = depth_;
      depth_ = depth;
      try {
        if (coding) {
          coding->encodeWithCoder(*this);
        } else {
          className = kErrorClassName;
          encodeString(error->domain(), "domain");
          encodeInt64(error->code(), "code");
          encodeObject(Value(error->userInfo()), "userInfo");
        }
      } catch (const std::exception& e) {
        failWithError(coderError(kCoderInvalidValueError, "encoding an object of class " +
                                                              className + " failed: " + e.what()));
      }
      depth_ = outerDepth;
      Frame fields = std::move(frames_.back());
      frames_.pop_back();
      if (error_) return;
      std::string& parent = frames_.back().out;
      parent.push_back(static_cast<char>(kObject));
      putBytes(parent, className);
      putVarint(parent, fields.count);
      parent.append(fields.out);
      return;
    }
  }
}

void KeyedArchiver::failWithError(ErrorPtr error) {
  if (!error_) error_ = error ? std::move(error) : coderError(kCoderInvalidValueError, "failed");
}

std::optional<Bytes> KeyedArchiver::encodedData(ErrorPtr* error) {
  finished_ = true;
  if (!error_ && frames_.size() != 1) {
    error_ = coderError(kCoderInvalidValueError, "encoding ended inside an object");
  }
  if (error_) {
    setError(error, error_);
    return std::nullopt;
  }
  std::string payload;
  putVarint(payload, frames_.front().count);
  payload += frames_.front().out;
  if (payload.size() > kMaxArchiveSize) {
    error_ = coderError(kCoderInvalidValueError, "the archive is too large");
    setError(error, error_);
    return std::nullopt;
  }
  Bytes out;
  out.reserve(kHeaderSize + payload.size());
  out.insert(out.end(), kMagic, kMagic + 4);
  putLE(out, kVersion, 2);
  putLE(out, 0, 2);
  putLE(out, payload.size(), 4);
  putLE(out, crc32(reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size()), 4);
  out.insert(out.end(), payload.begin(), payload.end());
  setError(error, nullptr);
  return out;
}

// ---- KeyedUnarchiver ------------------------------------------------------------------------

void KeyedUnarchiver::registerDecoder(std::string className, Decoder decoder) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  if (decoder) {
    r.decoders[std::move(className)] = std::move(decoder);
  } else {
    r.decoders.erase(className);
  }
}

bool KeyedUnarchiver::hasDecoder(std::string_view className) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  return r.decoders.find(className) != r.decoders.end();
}

void KeyedUnarchiver::setGlobalClassName(std::string storedName, std::string className) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  if (className.empty()) {
    r.classNames.erase(storedName);
  } else {
    r.classNames[std::move(storedName)] = std::move(className);
  }
}

KeyedUnarchiver::KeyedUnarchiver(const Bytes& data) {
  std::string failure = [&]() -> std::string {
    if (data.size() < kHeaderSize) return "not a keyed archive: too short";
    if (std::memcmp(data.data(), kMagic, 4) != 0) return "not a keyed archive: wrong magic";
    auto version = static_cast<std::uint16_t>(getLE(data.data() + 4, 2));
    if (version != kVersion) return "unsupported archive version " + std::to_string(version);
    if (getLE(data.data() + 6, 2) != 0) return "not a keyed archive: reserved bits set";
    std::uint64_t length = getLE(data.data() + 8, 4);
    if (length != data.size() - kHeaderSize || length > kMaxArchiveSize) {
      return "truncated archive: the payload length does not match";
    }
    const std::uint8_t* payload = data.data() + kHeaderSize;
    if (crc32(payload, length) != getLE(data.data() + 12, 4)) {
      return "corrupt archive: checksum mismatch";
    }
    Parser parser{payload, payload + length, {}};
    std::uint64_t n;
    if (!parser.count(&n, 2) || !parser.fields(n, 0)) return "corrupt archive: " + parser.failure;
    if (parser.p != parser.end) return "corrupt archive: bytes after the last value";
    return {};
  }();
  if (!failure.empty()) {
    fail(std::move(failure));
    return;
  }
  payload_.assign(data.begin() + kHeaderSize, data.end());
  Node top;
  top.tag = kTopLevel;
  Parser parser{payload_.data(), payload_.data() + payload_.size(), {}};
  parser.count(&top.count, 2);
  top.items = parser.p;
  frames_.push_back(frameOf(top));
}

KeyedUnarchiver::~KeyedUnarchiver() = default;

void KeyedUnarchiver::setAllowedClasses(ClassSet classes) { allowed_ = std::move(classes); }

void KeyedUnarchiver::setClassName(std::string storedName, std::string className) {
  classNames_[std::move(storedName)] = std::move(className);
}

void KeyedUnarchiver::fail(std::string reason) {
  if (!error_) error_ = coderError(kCoderReadCorruptError, reason);
}

void KeyedUnarchiver::failWithError(ErrorPtr error) {
  if (!error_) error_ = error ? std::move(error) : coderError(kCoderReadCorruptError, "failed");
}

const std::string& KeyedUnarchiver::storedClassName() const {
  static const auto* kEmpty = new std::string();  // never destroyed
  if (frames_.empty() || frames_.back().node.tag != kObject) return *kEmpty;
  return frames_.back().className;
}

KeyedUnarchiver::Frame KeyedUnarchiver::frameOf(const Node& node) const {
  Frame frame;
  frame.node = node;
  if (node.tag == kObject) frame.className = std::string(node.text);
  frame.fields.reserve(static_cast<std::size_t>(node.count));
  Parser parser{node.items, payload_.data() + payload_.size(), {}};
  for (std::uint64_t k = 0; k < node.count; ++k) {
    std::string_view key;
    parser.bytes(&key);
    frame.fields.emplace_back(key, parser.p);
    parser.skip();
  }
  frame.end = parser.p;
  return frame;
}

const std::uint8_t* KeyedUnarchiver::findValue(std::string_view key) const {
  if (frames_.empty()) return nullptr;
  for (const auto& [name, at] : frames_.back().fields) {
    if (name == key) return at;
  }
  return nullptr;
}

std::optional<KeyedUnarchiver::Node> KeyedUnarchiver::find(std::string_view key) const {
  const std::uint8_t* at = findValue(key);
  if (!at) return std::nullopt;
  Parser parser{at, payload_.data() + payload_.size(), {}};
  Node node;
  parser.head(&node);
  return node;
}

bool KeyedUnarchiver::containsValueForKey(std::string_view key) const {
  return find(key).has_value();
}

std::string KeyedUnarchiver::resolveClassName(const std::string& stored) const {
  if (auto it = classNames_.find(stored); it != classNames_.end()) return it->second;
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  if (auto it = r.classNames.find(stored); it != r.classNames.end()) return it->second;
  return stored;
}

bool KeyedUnarchiver::allowed(std::string_view className, const ClassSet& classes) const {
  if (classes.count(className) || classes.count(runtime::kRootClassName)) return true;
  // A subclass of an allowed class is allowed, as far as the runtime knows the hierarchy.
  for (const runtime::Class* cls = runtime::classNamed(className); cls; cls = cls->superclass()) {
    if (classes.count(cls->name())) return true;
  }
  return false;
}

Value KeyedUnarchiver::decodeAt(const std::uint8_t*& at, const ClassSet& classes, int depth) {
  if (error_) return Value();
  if (depth > kMaxArchiveDepth) {
    fail("nesting deeper than allowed");
    return Value();
  }
  Parser parser{at, payload_.data() + payload_.size(), {}};
  Node node;
  parser.head(&node);
  at = parser.p;
  auto check = [&](const char* className) {
    if (allowed(className, classes)) return true;
    fail(std::string("value of unexpected class '") + className + "'; it is not allowed here");
    return false;
  };
  switch (node.tag) {
    case kNil:
      return Value();
    case kNull:
      return check(kNullClassName) ? Value::null() : Value();
    case kFalse:
    case kTrue:
      return check(kNumberClassName) ? Value(node.tag == kTrue) : Value();
    case kInt64:
      return check(kNumberClassName) ? Value(static_cast<long long>(node.i)) : Value();
    case kUInt64:
      return check(kNumberClassName) ? Value(static_cast<unsigned long long>(node.u)) : Value();
    case kDouble:
      return check(kNumberClassName) ? Value(node.d) : Value();
    case kString:
      return check(kStringClassName) ? Value(std::string(node.text)) : Value();
    case kData:
      return check(kDataClassName) ? Value::data(node.text) : Value();
    case kDate:
      return check(kDateClassName) ? Value::date(node.d) : Value();
    case kArray:
    case kSet: {
      if (!check(node.tag == kSet ? kSetClassName : kArrayClassName)) return Value();
      Value::Array items;
      items.reserve(static_cast<std::size_t>(node.count));
      for (std::uint64_t k = 0; k < node.count; ++k) {
        items.push_back(decodeAt(at, classes, depth + 1));
        if (error_) return Value();
      }
      return node.tag == kSet ? Value::set(std::move(items)) : Value(std::move(items));
    }
    case kDictionary: {
      if (!check(kDictionaryClassName)) return Value();
      if (node.count > 0 && !check(kStringClassName)) return Value();
      Value::Dictionary entries;
      for (std::uint64_t k = 0; k < node.count; ++k) {
        std::string_view key;
        parser.p = at;
        parser.bytes(&key);
        at = parser.p;
        Value v = decodeAt(at, classes, depth + 1);
        if (error_) return Value();
        entries.emplace(std::string(key), std::move(v));
      }
      return Value(std::move(entries));
    }
    case kObject: {
      std::string className = resolveClassName(std::string(node.text));
      if (!allowed(className, classes)) {
        fail("value of unexpected class '" + className + "'; it is not allowed here");
        return Value();
      }
      Decoder decoder;
      {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        if (auto it = r.decoders.find(className); it != r.decoders.end()) decoder = it->second;
      }
      if (!decoder) {
        fail("cannot decode objects of class '" + className + "'");
        return Value();
      }
      frames_.push_back(frameOf(node));
      at = frames_.back().end;
      ObjectPtr object;
      try {
        object = decoder(*this);
      } catch (const std::exception& e) {
        fail("decoding an object of class '" + className + "' failed: " + e.what());
      }
      frames_.pop_back();
      if (error_ || !object) return Value();
      return Value(std::move(object));
    }
    default:
      fail("unknown value");
      return Value();
  }
}

Value KeyedUnarchiver::decodeObjectOfClasses(const ClassSet& classes, std::string_view key) {
  const std::uint8_t* at = findValue(key);
  if (!at || error_) return Value();
  return decodeAt(at, classes, static_cast<int>(frames_.size()));
}

Value KeyedUnarchiver::decodeObjectOfClass(std::string_view cls, std::string_view key) {
  return decodeObjectOfClasses(ClassSet{std::string(cls)}, key);
}

Value KeyedUnarchiver::decodeObject(std::string_view key) {
  return decodeObjectOfClasses(allowed_, key);
}

std::optional<std::string> KeyedUnarchiver::decodeString(std::string_view key) {
  std::optional<Node> node = find(key);
  if (!node || node->tag == kNil || error_) return std::nullopt;
  if (node->tag != kString) {
    fail("value for key '" + std::string(key) + "' is not a string");
    return std::nullopt;
  }
  return std::string(node->text);
}

std::int64_t KeyedUnarchiver::decodeInt64(std::string_view key) {
  std::optional<Node> node = find(key);
  if (!node || error_) return 0;
  switch (node->tag) {
    case kFalse:
    case kTrue:
      return node->tag == kTrue;
    case kInt64:
      return node->i;
    case kUInt64:
      if (node->u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return static_cast<std::int64_t>(node->u);
      }
      break;
    case kDouble:
      // Only values that fit; 2^63 itself does not.
      if (std::isfinite(node->d) && node->d >= -9223372036854775808.0 &&
          node->d < 9223372036854775808.0) {
        return static_cast<std::int64_t>(node->d);
      }
      break;
    default:
      break;
  }
  fail("value for key '" + std::string(key) + "' is not a 64-bit integer");
  return 0;
}

bool KeyedUnarchiver::decodeBool(std::string_view key) {
  std::optional<Node> node = find(key);
  if (!node || error_) return false;
  switch (node->tag) {
    case kFalse:
    case kTrue:
      return node->tag == kTrue;
    case kInt64:
      return node->i != 0;
    case kUInt64:
      return node->u != 0;
    default:
      fail("value for key '" + std::string(key) + "' is not a boolean");
      return false;
  }
}

double KeyedUnarchiver::decodeDouble(std::string_view key) {
  std::optional<Node> node = find(key);
  if (!node || error_) return 0;
  switch (node->tag) {
    case kFalse:
    case kTrue:
      return node->tag == kTrue ? 1 : 0;
    case kInt64:
      return static_cast<double>(node->i);
    case kUInt64:
      return static_cast<double>(node->u);
    case kDouble:
      return node->d;
    default:
      fail("value for key '" + std::string(key) + "' is not a number");
      return 0;
  }
}

std::optional<double> KeyedUnarchiver::decodeDate(std::string_view key) {
  std::optional<Node> node = find(key);
  if (!node || node->tag == kNil || error_) return std::nullopt;
  if (node->tag != kDate) {
    fail("value for key '" + std::string(key) + "' is not a date");
    return std::nullopt;
  }
  return node->d;
}

std::optional<Bytes> KeyedUnarchiver::decodeData(std::string_view key) {
  std::optional<Node> node = find(key);
  if (!node || node->tag == kNil || error_) return std::nullopt;
  if (node->tag != kData) {
    fail("value for key '" + std::string(key) + "' is not data");
    return std::nullopt;
  }
  return Bytes(node->text.begin(), node->text.end());
}

Value KeyedUnarchiver::unarchivedObjectOfClasses(const ClassSet& allowedClasses, const Bytes& data,
                                                 ErrorPtr* error) {
  KeyedUnarchiver coder(data);
  coder.setAllowedClasses(allowedClasses);
  std::optional<Node> root =
      coder.error() ? std::nullopt : coder.find(kKeyedArchiveRootObjectKey);
  if (!coder.error() && !root) {
    coder.failWithError(coderError(kCoderValueNotFoundError, "the archive has no root object"));
  }
  Value value = root ? coder.decodeObject(kKeyedArchiveRootObjectKey) : Value();
  if (!coder.error() && value.isNil() && root->tag != kNil) {
    // A decoder that gave no object: say so rather than answer nil as if nil had been stored.
    coder.fail("the root object of class '" + std::string(root->text) + "' could not be decoded");
  }
  if (coder.error()) {
    setError(error, coder.error());
    return Value();
  }
  setError(error, nullptr);
  return value;
}

Value KeyedUnarchiver::unarchivedObjectOfClass(std::string_view allowedClass, const Bytes& data,
                                               ErrorPtr* error) {
  return unarchivedObjectOfClasses(ClassSet{std::string(allowedClass)}, data, error);
}

ArchiveDecoderRegistrar::ArchiveDecoderRegistrar(const char* className,
                                                 KeyedUnarchiver::Decoder decoder) {
  KeyedUnarchiver::registerDecoder(className, std::move(decoder));
}

}  // namespace platform
