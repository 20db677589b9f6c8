// Events of many shapes for the tests of the raw events' stored form, the bytes the general
// message path gives for them, and a comparison of parameters that tells value kinds apart
// (1 and 1.0 differ, NaN equals NaN of the same bits). Shared by the foundation and storage
// tests and the stored-form fuzz target.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "measurement/foundation/MSREvent.h"
#include "measurement/foundation/MSRValue.h"
#include "measurement/messages/MSRPBAccessors.h"
#include "measurement/messages/MSRPBEvent.h"
#include "measurement/messages/MSRPBSchema.h"
#include "platform/base/Strings.h"

namespace msr_test {

using platform::Value;

// Stored bytes that hold only an origin parameter ("_o" = "app"), then `more`.
inline platform::Bytes storedFormWithOrigin(std::initializer_list<std::uint8_t> more = {}) {
  platform::Bytes bytes = {0x0A, 0x09, 0x0A, 0x02, '_', 'o', 0x12, 0x03, 'a', 'p', 'p'};
  bytes.insert(bytes.end(), more);
  return bytes;
}

// The general path's stored bytes: the event's message without its name, encoded.
inline platform::Bytes messageStoredBytes(const MSREvent& event) {
  const auto proto = event.protoEvent();
  const MSRPBMessageType* type = MSRPBMessageTypeNamed("Event");
  for (std::uint32_t slot = 0; slot < type->fieldCount; ++slot) {
    if (type->fields[slot].tag == 2) MSRPBClearField(proto, static_cast<std::int32_t>(slot));
  }
  return proto->protoBuffer().value_or(platform::Bytes());
}

// Whether two values are the same down to the kind of every number and the bits of every double.
inline bool sameValue(const Value& a, const Value& b, std::string* why);

inline bool sameParameters(const Value::Dictionary& a, const Value::Dictionary& b,
                           std::string* why) {
  if (a.size() != b.size()) {
    if (why) *why = "parameter counts " + std::to_string(a.size()) + " and " +
                    std::to_string(b.size());
    return false;
  }
  for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j) {
    if (i->first != j->first) {
      if (why) *why = "names " + i->first + " and " + j->first;
      return false;
    }
    if (!sameValue(i->second, j->second, why)) {
      if (why) *why = i->first + ": " + *why;
      return false;
    }
  }
  return true;
}

inline bool sameValue(const Value& a, const Value& b, std::string* why) {
  auto differ = [why](const std::string& what) {
    if (why) *why = what;
    return false;
  };
  if (a.kind() != b.kind()) return differ("kinds of " + a.description() + ", " + b.description());
  switch (a.kind()) {
    case Value::Kind::Object: {
      const auto x = a.objectAs<MSRValue>();
      const auto y = b.objectAs<MSRValue>();
      if (!x || !y) return (!x && !y && a == b) || differ("objects");
      if (x->valueType() != y->valueType()) return differ("value types");
      return sameValue(x->value(), y->value(), why);
    }
    case Value::Kind::Number: {
      if (a.numberKind() != b.numberKind()) return differ("number kinds");
      if (a.numberKind() == Value::NumberKind::Double) {
        const double x = a.doubleValue(), y = b.doubleValue();
        if (std::memcmp(&x, &y, sizeof x) != 0) return differ("doubles");
        return true;
      }
      return a.int64Value() == b.int64Value() || differ("integers");
    }
    case Value::Kind::Array: {
      const auto& x = *a.array();
      const auto& y = *b.array();
      if (x.size() != y.size()) return differ("array sizes");
      for (std::size_t i = 0; i < x.size(); ++i) {
        if (!sameValue(x[i], y[i], why)) return false;
      }
      return true;
    }
    case Value::Kind::Dictionary:
      return sameParameters(*a.dictionary(), *b.dictionary(), why);
    default:
      return a == b || differ("values " + a.description() + ", " + b.description());
  }
}

// Whether parameters hold only what the stored form writes directly: typed values of the four
// kinds, and item lists whose elements are dictionaries of typed single values.
inline bool isOrdinary(const Value::Dictionary& parameters, bool nested = false) {
  for (const auto& [name, value] : parameters) {
    const auto typed = value.objectAs<MSRValue>();
    if (!typed || !platform::isValidUtf8(name)) return false;
    if (typed->isString() && !typed->value().string()) return false;
    if (typed->isArray()) {
      // An empty list is left out of the stored event, which the general path does.
      if (nested || !typed->arrayValue() || typed->arrayValue()->empty()) return false;
      for (const Value& element : *typed->arrayValue()) {
        if (!element.dictionary() || !isOrdinary(*element.dictionary(), true)) return false;
      }
    } else if (!typed->isDouble() && !typed->isInt64() && !typed->isString()) {
      return false;
    }
  }
  return true;
}

// Whether the stored bytes of an ordinary event read back: the general reader refuses a list
// without items and leaves out an empty item, so such events are left to it.
inline bool readableDirectly(const MSREvent& event) {
  for (const auto& [name, value] : event.parameters()) {
    const auto typed = value.objectAs<MSRValue>();
    if (!typed || !typed->isArray() || !typed->arrayValue()) continue;
    if (typed->arrayValue()->empty()) return false;
    for (const Value& element : *typed->arrayValue()) {
      if (element.dictionary() && element.dictionary()->empty()) return false;
    }
  }
  return true;
}

// One event with a word on what it shows, and whether it is ordinary (above).
struct EventShape {
  MSREventPtr event;
  std::string what;
  bool ordinary = true;
};

class EventShapes {
 public:
  explicit EventShapes(std::uint64_t start) : random_(start) {}

  // Hand-picked edge cases first, then `count` random events.
  std::vector<EventShape> make(std::size_t count) {
    std::vector<EventShape> shapes;
    auto add = [&shapes](MSREventPtr event, std::string what) {
      if (!event) return;
      const bool ordinary = isOrdinary(event->parameters());
      shapes.push_back({std::move(event), std::move(what), ordinary});
    };
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double denormal = std::numeric_limits<double>::denorm_min();
    add(event("app", "_e", 0, 0, {}), "no parameters, zero times");
    for (double previous : {0.0, 1e-17, 2.220446049250313e-16, 3e-16, 0.0004, 1.5, -2.0, nan, inf,
                            1e300}) {
      add(event("auto", "_vs", 1765100000.25, previous, {}), "previous timestamp");
    }
    for (double timestamp : {-1.5, 1e-300, 1e300, -inf, nan, 9.2233720368547758e15}) {
      add(event("app", "_e", timestamp, 0, {}), "timestamp");
    }
    for (const char* origin : {"app", "auto", "fcm", "a_very_long_origin_name_of_32_ch", "ext+gtm"}) {
      add(event(origin, "origin_test", 1.0, 0.5, {}), "origin");
    }
    add(event("app", "numbers", 2.0, 0,
              {{"min", typed(MSRValue::initWithInt64(std::numeric_limits<std::int64_t>::min()))},
               {"max", typed(MSRValue::initWithInt64(std::numeric_limits<std::int64_t>::max()))},
               {"zero", typed(MSRValue::initWithInt64(0))},
               {"minus_one", typed(MSRValue::initWithInt64(-1))},
               {"d_neg_zero", typed(MSRValue::initWithDouble(-0.0))},
               {"d_nan", typed(MSRValue::initWithDouble(nan))},
               {"d_inf", typed(MSRValue::initWithDouble(inf))},
               {"d_minus_inf", typed(MSRValue::initWithDouble(-inf))},
               {"d_denormal", typed(MSRValue::initWithDouble(denormal))},
               {"d_max", typed(MSRValue::initWithDouble(std::numeric_limits<double>::max()))}}),
        "integer and double extremes");
    add(event("app", "strings", 3.0, 1.0,
              {{"empty", Value("")},
               {"multibyte", Value("caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x8E\xB5")},
               {"long", Value(std::string(256, 'x'))}}),
        "strings");
    add(event("app", "items", 4.0, 0, {{"items", items({{"id", "sku"}, {"price", 2.5}})}}),
        "one item");
    add(event("app", "items", 4.0, 0,
              {{"items", typed(MSRValue::initWithArray(Value(Value::Array{})))}}),
        "empty item list");
    add(event("app", "items", 4.0, 0,
              {{"items", typed(MSRValue::initWithArray(
                             Value(Value::Array{Value(Value::Dictionary{})})))}}),
        "empty item");
    add(event("app", "items", 4.0, 0,
              {{"items", items({{"long", std::string(20000, 'y')}, {"q", 1}})}}),
        "an item longer than two length bytes");
    add(event("app", "items", 4.0, 0, {{"items", rawItemValue()}}), "plain value in an item");
    add(event("app", "items", 4.0, 0, {{"items", nonDictionaryElement()}}),
        "element that is not a dictionary");
    add(event("app", "items", 4.0, 0, {{"items", arrayInItem()}}), "array inside an item");
    add(event("app", "items", 4.0, 0, {{"items", unknownKindInItem()}}), "value of no known kind");
    add(event("app", "items", 4.0, 0, {{"items", items({{"caf\xC3", 1}, {"ok", 2}})}}),
        "item field name that is not UTF-8");
    for (std::size_t i = 0; i < count; ++i) {
      MSRParameters parameters;
      const int n = static_cast<int>(pick(13));
      for (int p = 0; p < n; ++p) parameters[name()] = value();
      add(event(pickOf({"app", "auto", "fcm", "ext+gtm"}), pickOf({"_e", "purchase", "_vs", "x"}),
                timestamp(), timestamp() * (pick(2) ? 1.0 : 0.0), parameters),
          "random");
    }
    return shapes;
  }

 private:
  static MSREventPtr event(const char* origin, const char* name, double timestamp,
                           double previous, const MSRParameters& parameters) {
    return MSREvent::initWithOrigin(origin, false, name, timestamp, previous, &parameters);
  }
  static Value typed(MSRValuePtr value) { return Value(std::move(value)); }

  struct Field {
    const char* name;
    Value value;
  };
  static Value items(std::initializer_list<Field> fields) {
    Value::Dictionary item;
    for (const auto& field : fields) item[field.name] = Value(MSRValue::valueFromObject(field.value));
    return typed(MSRValue::initWithArray(Value(Value::Array{Value(item), Value(item)})));
  }
  static Value rawItemValue() {
    return typed(MSRValue::initWithArray(
        Value(Value::Array{Value(Value::Dictionary{{"raw", Value("not typed")}})})));
  }
  static Value nonDictionaryElement() {
    return typed(MSRValue::initWithArray(Value(Value::Array{
        Value(Value::Dictionary{{"a", typed(MSRValue::initWithInt64(1))}}), Value(5)})));
  }
  static Value arrayInItem() {
    const Value inner = typed(MSRValue::initWithArray(Value(Value::Array{})));
    return typed(
        MSRValue::initWithArray(Value(Value::Array{Value(Value::Dictionary{{"inner", inner}})})));
  }
  static Value unknownKindInItem() {
    const auto odd = std::make_shared<const MSRValue>(7, Value(1));
    return typed(
        MSRValue::initWithArray(Value(Value::Array{Value(Value::Dictionary{{"odd", typed(odd)}})})));
  }

  std::uint64_t pick(std::uint64_t bound) { return random_() % bound; }
  const char* pickOf(std::initializer_list<const char*> choices) {
    return choices.begin()[pick(choices.size())];
  }
  std::string name() {
    static const char* const kNames[] = {"a", "b", "value", "currency", "_err", "_c", "_r",
                                         "item_id", "n0", "n1", "n2", "quantity", "x_y_z"};
    return kNames[pick(std::size(kNames))];
  }
  std::string text(std::size_t maxBytes) {
    static const char* const kPieces[] = {"a", "Z", "0", " ", "\xC3\xA9", "\xE6\x97\xA5",
                                          "\xF0\x9F\x8E\xB5", "\t"};
    std::string out;
    const std::size_t length = pick(maxBytes + 1);
    while (out.size() < length) {
      out += kPieces[pick(std::size(kPieces))];
    }
    if (pick(8) == 0) out.push_back('\0');
    return out;
  }
  double number() {
    static const double kDoubles[] = {0.0,
                                      -0.0,
                                      1.0,
                                      -2.5,
                                      std::numeric_limits<double>::quiet_NaN(),
                                      std::numeric_limits<double>::infinity(),
                                      -std::numeric_limits<double>::infinity(),
                                      std::numeric_limits<double>::denorm_min(),
                                      std::numeric_limits<double>::max(),
                                      std::numeric_limits<double>::lowest()};
    if (pick(3) == 0) {
      double d;
      std::uint64_t bits = random_();
      std::memcpy(&d, &bits, sizeof d);
      return d;
    }
    return kDoubles[pick(std::size(kDoubles))];
  }
  std::int64_t integer() {
    static const std::int64_t kIntegers[] = {0, 1, -1, 127, 128, -128, 300, 1LL << 35,
                                             std::numeric_limits<std::int64_t>::min(),
                                             std::numeric_limits<std::int64_t>::max()};
    if (pick(3) == 0) return static_cast<std::int64_t>(random_());
    return kIntegers[pick(std::size(kIntegers))];
  }
  double timestamp() {
    switch (pick(5)) {
      case 0: return 0;
      case 1: return 1765100000.0 + static_cast<double>(pick(1000000)) / 1000.0;
      case 2: return static_cast<double>(pick(1000)) * 1e-4;
      case 3: return number();
      default: return static_cast<double>(pick(2000000000));
    }
  }
  // A single value, typed or raw (the event types raw ones when it sanitises them).
  Value single() {
    Value raw;
    switch (pick(3)) {
      case 0: raw = Value(static_cast<long long>(integer())); break;
      case 1: raw = Value(number()); break;
      default: raw = Value(text(pick(4) == 0 ? 300 : 40)); break;
    }
    return pick(2) ? Value(MSRValue::valueFromObject(raw)) : raw;
  }
  Value value() {
    if (pick(4) != 0) return single();
    // An item list, kept as it is by the event; sometimes with something only the general path
    // handles.
    Value::Array elements;
    const std::size_t count = pick(4);
    for (std::size_t e = 0; e < count; ++e) {
      Value::Dictionary item;
      const std::size_t fields = 1 + pick(5);
      for (std::size_t f = 0; f < fields; ++f) {
        Value field = single();
        if (!field.objectAs<MSRValue>()) field = Value(MSRValue::valueFromObject(field));
        if (pick(10) == 0) field = Value(MSRValue::valueFromObject(Value(text(5000))));
        item[name()] = field;
      }
      if (pick(60) == 0) item[std::string("n\xFF") + name()] = typed(MSRValue::initWithInt64(1));
      if (pick(40) == 0) {
        item[name()] = pick(2) ? Value("raw") : typed(MSRValue::initWithArray(Value(Value::Array{})));
      }
      elements.push_back(Value(std::move(item)));
    }
    if (pick(40) == 0) {
      elements.push_back(Value(3.5));
    }
    return typed(MSRValue::initWithArray(Value(std::move(elements))));
  }

  std::mt19937_64 random_;
};

}  // namespace msr_test
