#include "measurement/foundation/MSREventStoredForm.h"

#include <cstring>
#include <string_view>

#include "measurement/foundation/MSREvent.h"
#include "measurement/foundation/MSRValue.h"
#include "measurement/messages/MSRPBFieldRuntime.h"
#include "platform/base/Saturating.h"
#include "platform/base/Strings.h"

namespace {

using platform::Bytes;
using platform::Value;

// Keys (field number << 3 | wire type) of the Event and EventParam fields this form uses. Each is
// one byte; a key written in more bytes, or any other key, is not the ordinary form.
constexpr std::uint8_t kEventParamKey = 0x0A;      // 1, length-delimited
constexpr std::uint8_t kEventTimestampKey = 0x18;  // 3, varint
constexpr std::uint8_t kEventPreviousKey = 0x20;   // 4, varint
constexpr std::uint8_t kParamNameKey = 0x0A;       // 1, length-delimited
constexpr std::uint8_t kParamStringKey = 0x12;     // 2, length-delimited
constexpr std::uint8_t kParamIntKey = 0x18;        // 3, varint
constexpr std::uint8_t kParamDoubleKey = 0x29;     // 5, 64-bit
constexpr std::uint8_t kParamNestedKey = 0x32;     // 6, length-delimited

// The previous timestamp is written only above the double epsilon, as protoEvent does.
constexpr double kPreviousTimestampEpsilon = 2.220446049250313e-16;
// The encoder's output limit; beyond it the general path's result is what counts.
constexpr std::size_t kMaxEncodedLength = 0x7fffffff;
// Lengths in up to four varint bytes (256 MiB); longer ones are left to the general decoder.
constexpr std::uint64_t kMaxReadLength = (1u << 28) - 1;

// --- Writing ---

class Writer {
 public:
  explicit Writer(Bytes& out) : out_(out) {}

  void varint(std::uint64_t value) {
    while (value >= 0x80) {
      out_.push_back(static_cast<std::uint8_t>(value) | 0x80);
      value >>= 7;
    }
    out_.push_back(static_cast<std::uint8_t>(value));
  }
  void key(std::uint8_t key) { out_.push_back(key); }
  void string(std::uint8_t key, std::string_view text) {
    out_.push_back(key);
    varint(text.size());
    out_.insert(out_.end(), text.begin(), text.end());
  }
  void fixed64(std::uint8_t key, double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    out_.push_back(key);
    for (int i = 0; i < 8; ++i) out_.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
  }
  // A length-delimited field whose body is written next; one length byte is reserved, which
  // fits almost every parameter, and close() makes room when the body turned out longer.
  std::size_t open(std::uint8_t key) {
    out_.push_back(key);
    out_.push_back(0);
    return out_.size();
  }
  void close(std::size_t start) {
    const std::size_t length = out_.size() - start;
    if (length < 0x80) {
      out_[start - 1] = static_cast<std::uint8_t>(length);
      return;
    }
    std::uint8_t prefix[10];
    std::size_t count = 0;
    for (std::uint64_t value = length; ; value >>= 7) {
      if (value < 0x80) {
        prefix[count++] = static_cast<std::uint8_t>(value);
        break;
      }
      prefix[count++] = static_cast<std::uint8_t>(value) | 0x80;
    }
    const auto at = out_.begin() + static_cast<std::ptrdiff_t>(start - 1);
    out_.insert(at, count - 1, 0);
    std::memcpy(out_.data() + start - 1, prefix, count);
  }

  // One parameter as an EventParam under `key`; false when only the general path gives the
  // exact result for it.
  bool param(std::uint8_t key, const std::string& name, const Value& value, bool nested) {
    const MSRValue* typed = value.objectPointer<MSRValue>();
    if (!typed) return false;  // logged 16005 and left out there
    // The general path stores a name as a string value, which mends invalid UTF-8; the names of
    // an item's fields are not checked when the event is made.
    if (!platform::isValidUtf8(name)) return false;
    const std::size_t start = open(key);
    string(kParamNameKey, name);
    switch (typed->valueType()) {
      case MSRValueTypeDouble:
        fixed64(kParamDoubleKey, typed->doubleValue());
        break;
      case MSRValueTypeInt64:
        out_.push_back(kParamIntKey);
        varint(static_cast<std::uint64_t>(typed->int64Value()));
        break;
      case MSRValueTypeString: {
        const std::string* text = typed->value().string();
        if (!text) return false;
        string(kParamStringKey, *text);
        break;
      }
      case MSRValueTypeArray: {
        const Value::Array* elements = typed->arrayValue();
        // An array inside an item is logged 16007 there, and an empty one is left out there.
        if (nested || !elements || elements->empty()) return false;
        for (const Value& element : *elements) {
          const Value::Dictionary* item = element.dictionary();
          if (!item) return false;  // logged 16005 and left out there
          const std::size_t itemStart = open(kParamNestedKey);
          for (const auto& [childName, childValue] : *item) {
            if (!param(kParamNestedKey, childName, childValue, true)) return false;
          }
          close(itemStart);
        }
        break;
      }
      default:
        return false;
    }
    close(start);
    return true;
  }

 private:
  Bytes& out_;
};

// --- Reading ---

// A window over the bytes, consumed from the front. Every read fails rather than run past the end.
class Reader {
 public:
  Reader() = default;
  Reader(const std::uint8_t* begin, const std::uint8_t* end) : p_(begin), end_(end) {}

  bool atEnd() const { return p_ == end_; }
  std::uint8_t key() { return *p_++; }  // callers check atEnd() first

  // A 64-bit varint of at most ten bytes whose tenth byte holds only the top bit, as the
  // decoder requires.
  bool varint(std::uint64_t& value) {
    std::uint64_t result = 0;
    for (int shift = 0; shift <= 63; shift += 7) {
      if (p_ == end_) return false;
      const std::uint8_t byte = *p_++;
      if (shift == 63 && byte > 1) return false;
      result |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
      if ((byte & 0x80) == 0) {
        value = result;
        return true;
      }
    }
    return false;
  }
  bool fixed64(double& value) {
    if (end_ - p_ < 8) return false;
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= static_cast<std::uint64_t>(p_[i]) << (8 * i);
    std::memcpy(&value, &bits, sizeof value);
    p_ += 8;
    return true;
  }
  // The body of a length-delimited field.
  bool delimited(Reader& body) {
    std::uint64_t length = 0;
    const std::uint8_t* start = p_;
    if (!varint(length) || p_ - start > 4 || length > kMaxReadLength ||
        length > static_cast<std::uint64_t>(end_ - p_)) {
      return false;
    }
    body = Reader(p_, p_ + length);
    p_ += length;
    return true;
  }
  // A string field as the decoder and the string accessor take it: within the decoder's length
  // limit and valid UTF-8.
  bool text(std::string_view& value) {
    Reader body;
    if (!delimited(body)) return false;
    value = std::string_view(reinterpret_cast<const char*>(body.p_),
                             static_cast<std::size_t>(body.end_ - body.p_));
    return value.size() <= kMSRPBMaxStringLength && platform::isValidUtf8(value);
  }

 private:
  const std::uint8_t* p_ = nullptr;
  const std::uint8_t* end_ = nullptr;
};

// The fields of one EventParam, each singular one at most once. The nested elements stay in the
// bytes and are walked again by nestedElements().
struct ParamFields {
  bool hasName = false, hasString = false, hasInt = false, hasDouble = false;
  std::string_view name, string;
  std::int64_t intValue = 0;
  double doubleValue = 0;
  std::size_t nestedCount = 0;

  int valueKinds() const {
    return int{hasString} + int{hasInt} + int{hasDouble} + int{nestedCount != 0};
  }
};

bool readParamFields(Reader reader, ParamFields& fields) {
  while (!reader.atEnd()) {
    switch (reader.key()) {
      case kParamNameKey:
        if (fields.hasName || !reader.text(fields.name)) return false;
        fields.hasName = true;
        break;
      case kParamStringKey:
        if (fields.hasString || !reader.text(fields.string)) return false;
        fields.hasString = true;
        break;
      case kParamIntKey: {
        std::uint64_t value = 0;
        if (fields.hasInt || !reader.varint(value)) return false;
        fields.intValue = static_cast<std::int64_t>(value);
        fields.hasInt = true;
        break;
      }
      case kParamDoubleKey:
        if (fields.hasDouble || !reader.fixed64(fields.doubleValue)) return false;
        fields.hasDouble = true;
        break;
      case kParamNestedKey: {
        Reader element;
        if (!reader.delimited(element)) return false;
        ++fields.nestedCount;
        break;
      }
      default:
        return false;  // the float, the fields of other messages, unknown keys, other wire types
    }
  }
  return true;
}

// Calls `visit` with each nested element of a parameter whose fields read already.
template <class Visit>
bool nestedElements(Reader reader, Visit visit) {
  while (!reader.atEnd()) {
    const std::uint8_t key = reader.key();
    if (key == kParamNestedKey) {
      Reader element;
      if (!reader.delimited(element) || !visit(element)) return false;
    } else if (key == kParamIntKey) {
      std::uint64_t skipped;
      reader.varint(skipped);
    } else if (key == kParamDoubleKey) {
      double skipped;
      reader.fixed64(skipped);
    } else {
      Reader skipped;
      reader.delimited(skipped);
    }
  }
  return true;
}

// A single value, made as the general reader makes it.
Value singleValue(const ParamFields& fields) {
  if (fields.hasString) {
    return Value(MSRValue::initWithValueType(MSRValueTypeString, Value(fields.string)));
  }
  if (fields.hasInt) return Value(MSRValue::initWithInt64(fields.intValue));
  return Value(MSRValue::initWithDouble(fields.doubleValue));
}

// One item of an item list: an element with no name and no value of its own whose nested
// elements are its named single values. The first of two equal names is kept, as in the
// general reader.
bool readItem(Reader reader, Value::Array& items) {
  ParamFields fields;
  if (!readParamFields(reader, fields) || fields.hasName || fields.valueKinds() != 1 ||
      fields.nestedCount == 0) {
    return false;
  }
  Value::Dictionary item;
  const bool read = nestedElements(reader, [&item](Reader element) {
    ParamFields child;
    if (!readParamFields(element, child) || !child.hasName || child.nestedCount != 0 ||
        child.valueKinds() != 1) {
      return false;
    }
    item.emplace(std::string(child.name), singleValue(child));
    return true;
  });
  if (!read) return false;
  items.push_back(Value(std::move(item)));
  return true;
}

// One top-level parameter into the content; a later parameter of the same name replaces an
// earlier one, and a later "_o" the origin, as in the general reader.
bool readParam(Reader reader, MSREventStoredContent& content) {
  ParamFields fields;
  if (!readParamFields(reader, fields) || !fields.hasName || fields.name.empty() ||
      fields.valueKinds() != 1) {
    return false;
  }
  if (fields.name == "_o") {
    if (!fields.hasString) return false;
    content.origin.assign(fields.string);
    return true;
  }
  Value value;
  if (fields.nestedCount == 0) {
    value = singleValue(fields);
  } else {
    Value::Array items;
    items.reserve(fields.nestedCount);
    if (!nestedElements(reader, [&items](Reader element) { return readItem(element, items); })) {
      return false;
    }
    value = Value(MSRValue::initWithValueType(MSRValueTypeArray, Value(std::move(items))));
  }
  content.parameters.insert_or_assign(std::string(fields.name), std::move(value));
  return true;
}

}  // namespace

std::optional<Bytes> MSREventStoredFormBytes(const MSREvent& event) {
  Bytes out;
  out.reserve(64 + 32 * event.parameters().size());
  Writer writer(out);
  for (const auto& [name, value] : event.parameters()) {
    if (!writer.param(kEventParamKey, name, value, false)) return std::nullopt;
  }
  writer.key(kEventTimestampKey);
  writer.varint(static_cast<std::uint64_t>(platform::secondsToMilliseconds(event.timestamp())));
  if (event.previousTimestamp() > kPreviousTimestampEpsilon) {
    writer.key(kEventPreviousKey);
    writer.varint(
        static_cast<std::uint64_t>(platform::secondsToMilliseconds(event.previousTimestamp())));
  }
  if (out.size() > kMaxEncodedLength) return std::nullopt;
  return out;
}

std::optional<MSREventStoredContent> MSREventStoredFormRead(const std::uint8_t* bytes,
                                                            std::size_t length) {
  if (bytes == nullptr) return std::nullopt;
  Reader reader(bytes, bytes + length);
  MSREventStoredContent content;
  bool hasTimestamp = false, hasPrevious = false;
  std::uint64_t previous = 0;
  while (!reader.atEnd()) {
    switch (reader.key()) {
      case kEventParamKey: {
        Reader param;
        if (!reader.delimited(param) || !readParam(param, content)) return std::nullopt;
        break;
      }
      case kEventTimestampKey: {
        // The timestamp column is the one read; the field need only be well formed.
        std::uint64_t timestamp = 0;
        if (hasTimestamp || !reader.varint(timestamp)) return std::nullopt;
        hasTimestamp = true;
        break;
      }
      case kEventPreviousKey:
        if (hasPrevious || !reader.varint(previous)) return std::nullopt;
        hasPrevious = true;
        break;
      default:
        return std::nullopt;  // the name, field 5, unknown keys, other wire types
    }
  }
  if (content.origin.empty()) return std::nullopt;
  content.previousTimestamp = static_cast<double>(static_cast<std::int64_t>(previous)) / 1000.0;
  return content;
}
