// The one value type that stands for "an object of any kind" everywhere in the system: nil, the
// null marker, numbers that keep their kind, strings, bytes, dates, arrays, dictionaries, sets
// and reference objects. Values are immutable and cheap to copy; safe to share across threads.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <typeinfo>
#include <type_traits>
#include <variant>
#include <vector>

namespace platform {

class Value;

// Base of every reference object (errors, promises, the SDK's classes, runtime objects).
class Object : public std::enable_shared_from_this<Object> {
 public:
  virtual ~Object() = default;
  // Stable class name, e.g. "NSError", "PRMPromise".
  virtual std::string className() const { return "NSObject"; }
  // Foundation-style description; the default is "<ClassName: 0x...>".
  virtual std::string description() const;
  // Identity unless a subclass says otherwise.
  virtual bool isEqual(const Object& other) const { return this == &other; }
  virtual std::size_t hash() const { return std::hash<const void*>()(this); }
};
using ObjectPtr = std::shared_ptr<Object>;

using Bytes = std::vector<std::uint8_t>;

class Value {
 public:
  enum class Kind { Nil, Null, Number, String, Data, Date, Array, Dictionary, Set, Object };
  enum class NumberKind { Bool, Signed, Unsigned, Double };
  using Array = std::vector<Value>;
  using Dictionary = std::map<std::string, Value, std::less<>>;

  Value() = default;  // nil
  static Value null();
  Value(bool b) : rep_(b) {}
  Value(int v) : rep_(static_cast<std::int64_t>(v)) {}
  Value(long v) : rep_(static_cast<std::int64_t>(v)) {}
  Value(long long v) : rep_(static_cast<std::int64_t>(v)) {}
  Value(unsigned v) : rep_(static_cast<std::uint64_t>(v)) {}
  Value(unsigned long v) : rep_(static_cast<std::uint64_t>(v)) {}
  Value(unsigned long long v) : rep_(static_cast<std::uint64_t>(v)) {}
  Value(double v) : rep_(v) {}
  Value(float v) : rep_(static_cast<double>(v)) {}
  Value(const char* s);
  Value(std::string s);
  Value(std::string_view s);
  Value(Array a);
  Value(Dictionary d);
  Value(std::initializer_list<std::pair<const std::string, Value>> d) : Value(Dictionary(d)) {}
  Value(ObjectPtr o);
  template <class T, std::enable_if_t<std::is_base_of_v<Object, T> && !std::is_same_v<T, Object>,
                                      int> = 0>
  Value(std::shared_ptr<T> o) : Value(std::static_pointer_cast<Object>(o)) {}
  template <class T, std::enable_if_t<std::is_base_of_v<Object, T>, int> = 0>
  Value(std::shared_ptr<const T> o)
      : Value(std::const_pointer_cast<Object>(std::static_pointer_cast<const Object>(o))) {}
  Value(std::nullptr_t) = delete;  // say Value() for nil or Value::null() for the null marker

  static Value data(Bytes bytes);
  static Value data(std::string_view bytes);
  static Value date(double secondsSince1970);
  static Value set(Array elements);  // duplicates (by ==) are dropped, first one kept

  Kind kind() const;
  bool isNil() const { return kind() == Kind::Nil; }
  bool isNull() const { return kind() == Kind::Null; }
  bool isNumber() const { return kind() == Kind::Number; }
  bool isString() const { return kind() == Kind::String; }
  bool isData() const { return kind() == Kind::Data; }
  bool isDate() const { return kind() == Kind::Date; }
  bool isArray() const { return kind() == Kind::Array; }
  bool isDictionary() const { return kind() == Kind::Dictionary; }
  bool isSet() const { return kind() == Kind::Set; }
  bool isObject() const { return kind() == Kind::Object; }

  // Numbers. On a non-number these follow Foundation: strings parse (booleans by the platform's
  // rule: after optional blanks, sign and zeros, "Y", "y", "T", "t" or a digit 1-9 is true),
  // every other kind gives 0 / false.
  NumberKind numberKind() const;  // Signed for non-numbers
  bool isFloatingPoint() const;   // a number of kind Double
  bool boolValue() const;
  std::int64_t int64Value() const;  // saturating from double, NaN gives 0
  std::uint64_t uint64Value() const;
  double doubleValue() const;

  // Typed access: null / nullopt on a kind mismatch.
  const std::string* string() const;
  const Bytes* bytes() const;
  std::optional<double> dateValue() const;  // seconds since 1970
  const Array* array() const;               // also the elements of a set
  const Dictionary* dictionary() const;
  ObjectPtr object() const;
  template <class T>
  std::shared_ptr<T> objectAs() const {
    return std::dynamic_pointer_cast<T>(object());
  }
  // The object as a T, borrowed: valid while this value (or a copy of it) lives, and no
  // reference count is touched. Null for another kind or another class. For code that only
  // looks at the object; keep objectAs when the object must outlive the value.
  template <class T>
  const T* objectPointer() const {
    const ObjectPtr* held = std::get_if<ObjectPtr>(&rep_);
    if (!held || !*held) return nullptr;
    const Object* object = held->get();
    // An object of exactly the asked class is known by its type, without a cast through the tree.
    if (typeid(*object) == typeid(T)) return static_cast<const T*>(object);
    return dynamic_cast<const T*>(object);
  }

  // Convenience lookups; a missing key, an index out of range or a wrong kind gives nil.
  const Value& operator[](std::string_view key) const;
  const Value& at(std::size_t index) const;
  std::size_t count() const;  // elements of an array, set or dictionary, else 0

  // Foundation's text: integers in decimal, doubles in shortest round-trip form (3.0 -> "3"),
  // strings as they are at top level, nil as "(null)", "<null>" for the null marker, arrays and
  // dictionaries in the multi-line form with four-space indentation.
  std::string description() const;
  // "NSNumber", "NSString", "NSData", "NSDate", "NSArray", "NSDictionary", "NSSet", "NSNull",
  // the object's className(), or "nil".
  std::string className() const;

  // Deep equality as the platform compares: numbers by numeric value across kinds (1 == 1.0,
  // true == 1), arrays in order, sets and dictionaries as sets, objects by isEqual.
  friend bool operator==(const Value& a, const Value& b);
  std::size_t hash() const;

 private:
  struct Null {};
  struct Date {
    double seconds;
  };
  struct SetRep {
    Array elements;
  };
  struct DataRep {
    Bytes bytes;
  };
  std::variant<std::monostate, Null, bool, std::int64_t, std::uint64_t, double,
               std::shared_ptr<const std::string>, std::shared_ptr<const DataRep>, Date,
               std::shared_ptr<const Array>, std::shared_ptr<const Dictionary>,
               std::shared_ptr<const SetRep>, ObjectPtr>
      rep_;
};

// A nil value to return by reference.
const Value& nilValue();

}  // namespace platform

template <>
struct std::hash<platform::Value> {
  std::size_t operator()(const platform::Value& v) const { return v.hash(); }
};
