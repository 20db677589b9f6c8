#include "platform/base/Value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <unordered_set>

#include "platform/base/Error.h"

namespace platform {
namespace {

class Thing : public Object {
 public:
  explicit Thing(int id) : id_(id) {}
  std::string className() const override { return "TVSThing"; }
  bool isEqual(const Object& other) const override {
    auto* t = dynamic_cast<const Thing*>(&other);
    return t && t->id_ == id_;
  }
  std::size_t hash() const override { return static_cast<std::size_t>(id_); }

 private:
  int id_;
};

TEST(ValueTest, KindsAndClassNames) {
  struct Case {
    Value value;
    Value::Kind kind;
    const char* className;
  } cases[] = {
      {Value(), Value::Kind::Nil, "nil"},
      {Value::null(), Value::Kind::Null, "NSNull"},
      {Value(true), Value::Kind::Number, "NSNumber"},
      {Value(-3), Value::Kind::Number, "NSNumber"},
      {Value(3u), Value::Kind::Number, "NSNumber"},
      {Value(2.5), Value::Kind::Number, "NSNumber"},
      {Value("text"), Value::Kind::String, "NSString"},
      {Value::data("ab"), Value::Kind::Data, "NSData"},
      {Value::date(10), Value::Kind::Date, "NSDate"},
      {Value(Value::Array{1, 2}), Value::Kind::Array, "NSArray"},
      {Value(Value::Dictionary{{"a", 1}}), Value::Kind::Dictionary, "NSDictionary"},
      {Value::set({1, 2}), Value::Kind::Set, "NSSet"},
      {Value(std::make_shared<Thing>(1)), Value::Kind::Object, "TVSThing"},
      {Value(Error::make("d", 1)), Value::Kind::Object, "NSError"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.value.kind(), c.kind) << c.className;
    EXPECT_EQ(c.value.className(), c.className);
  }
  EXPECT_TRUE(Value(static_cast<const char*>(nullptr)).isNil());
  EXPECT_TRUE(Value(ObjectPtr()).isNil());
}

TEST(ValueTest, NumbersKeepTheirKind) {
  EXPECT_EQ(Value(true).numberKind(), Value::NumberKind::Bool);
  EXPECT_EQ(Value(-1L).numberKind(), Value::NumberKind::Signed);
  EXPECT_EQ(Value(1UL).numberKind(), Value::NumberKind::Unsigned);
  EXPECT_EQ(Value(1.0).numberKind(), Value::NumberKind::Double);
  EXPECT_TRUE(Value(1.0).isFloatingPoint());
  EXPECT_FALSE(Value(1).isFloatingPoint());
  EXPECT_EQ(Value(18446744073709551615ULL).uint64Value(), 18446744073709551615ULL);
}

TEST(ValueTest, Int64ValueSaturatesAndNanIsZero) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    Value value;
    std::int64_t expected;
  } cases[] = {
      {Value(1e300), INT64_MAX},
      {Value(-1e300), INT64_MIN},
      {Value(inf), INT64_MAX},
      {Value(-inf), INT64_MIN},
      {Value(std::nan("")), 0},
      {Value(-2.9), -2},
      {Value(true), 1},
      {Value(18446744073709551615ULL), INT64_MAX},
      {Value("  -42abc"), -42},
      {Value("99999999999999999999"), INT64_MAX},
      {Value("-99999999999999999999"), INT64_MIN},
      {Value("abc"), 0},
      {Value::date(5), 0},
      {Value(), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(c.value.int64Value(), c.expected) << c.value.description();
}

TEST(ValueTest, StringsReadAsNumbers) {
  EXPECT_DOUBLE_EQ(Value(" 2.5e2xyz").doubleValue(), 250.0);
  EXPECT_DOUBLE_EQ(Value("-0.5").doubleValue(), -0.5);
  EXPECT_DOUBLE_EQ(Value("+7").doubleValue(), 7.0);
  EXPECT_DOUBLE_EQ(Value("nope").doubleValue(), 0.0);
  EXPECT_TRUE(std::isinf(Value("1e999").doubleValue()));
  EXPECT_DOUBLE_EQ(Value("1e-999").doubleValue(), 0.0);
}

TEST(ValueTest, StringBooleansFollowThePlatformRule) {
  struct Case {
    const char* text;
    bool expected;
  } cases[] = {
      {"YES", true},     {"yes", true}, {"true", true}, {"T", true},      {"1", true},
      {"  +0009", true}, {"-5", true},  {"NO", false},  {"false", false}, {"0", false},
      {"000", false},    {"", false},   {"  ", false},  {"x1", false},    {"0.5", false},
  };
  for (const auto& c : cases) EXPECT_EQ(Value(c.text).boolValue(), c.expected) << c.text;
  EXPECT_TRUE(Value(0.1).boolValue());
  EXPECT_FALSE(Value(std::nan("")).boolValue());
  EXPECT_FALSE(Value(Value::Array{1}).boolValue());
}

TEST(ValueTest, EqualityAcrossNumberKinds) {
  EXPECT_EQ(Value(1), Value(1.0));
  EXPECT_EQ(Value(true), Value(1));
  EXPECT_NE(Value(true).numberKind(), Value(1).numberKind());
  EXPECT_EQ(Value(1u), Value(1L));
  EXPECT_NE(Value(-1), Value(18446744073709551615ULL));
  EXPECT_NE(Value(1), Value(1.5));
  EXPECT_NE(Value(std::nan("")), Value(std::nan("")));
  // 2^63 as a double is not INT64_MAX, though a cast would saturate to it.
  EXPECT_NE(Value(9223372036854775808.0), Value(INT64_MAX));
  EXPECT_EQ(Value(9223372036854775808.0), Value(9223372036854775808ULL));
  EXPECT_NE(Value(1), Value("1"));
  EXPECT_NE(Value(), Value::null());
  EXPECT_EQ(Value(1).hash(), Value(1.0).hash());
  EXPECT_EQ(Value(true).hash(), Value(1u).hash());
}

TEST(ValueTest, DeepEqualityAndHash) {
  Value a(Value::Dictionary{{"list", Value(Value::Array{1, "two", Value::data("3")})},
                            {"set", Value::set({"x", "y"})},
                            {"when", Value::date(100.5)},
                            {"obj", Value(std::make_shared<Thing>(7))}});
  Value b(Value::Dictionary{{"list", Value(Value::Array{1.0, "two", Value::data("3")})},
                            {"set", Value::set({"y", "x"})},
                            {"when", Value::date(100.5)},
                            {"obj", Value(std::make_shared<Thing>(7))}});
  EXPECT_EQ(a, b);
  EXPECT_EQ(a.hash(), b.hash());
  Value c(Value::Dictionary{{"list", Value(Value::Array{"two", 1})}});
  EXPECT_NE(a, c);
  EXPECT_NE(Value(std::make_shared<Thing>(1)), Value(std::make_shared<Thing>(2)));
  std::unordered_set<Value> set{Value(1), Value(1.0), Value(true), Value("1")};
  EXPECT_EQ(set.size(), 2u);
}

TEST(ValueTest, CopiesAreIndependentValues) {
  Value::Array elements{1, 2};
  Value original(elements);
  elements.push_back(3);
  Value copy = original;
  EXPECT_EQ(original.count(), 2u);
  EXPECT_EQ(copy, original);
}

TEST(ValueTest, SetsDropDuplicatesKeepingTheFirst) {
  Value s = Value::set({1, 1.0, true, "a", "a", 2});
  ASSERT_EQ(s.count(), 3u);
  EXPECT_FALSE(s.at(0).isFloatingPoint());
  EXPECT_EQ(s.at(0).numberKind(), Value::NumberKind::Signed);
}

TEST(ValueTest, LargeSetsCompareAsSets) {
  Value::Array forward, backward;
  for (int i = 0; i < 5000; ++i) {
    forward.push_back(Value(i));
    backward.insert(backward.begin(), Value(static_cast<double>(i)));
  }
  forward.push_back(Value(0.0));  // a duplicate of 0 by value
  Value a = Value::set(forward), b = Value::set(backward);
  EXPECT_EQ(a.count(), 5000u);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a.hash(), b.hash());
  backward[0] = Value(-1);
  EXPECT_NE(a, Value::set(backward));
}

TEST(ValueTest, AccessorsGiveEmptyOnMismatch) {
  Value s("text");
  EXPECT_EQ(s.bytes(), nullptr);
  EXPECT_EQ(s.array(), nullptr);
  EXPECT_EQ(s.dictionary(), nullptr);
  EXPECT_FALSE(s.dateValue());
  EXPECT_EQ(s.object(), nullptr);
  EXPECT_TRUE(s["key"].isNil());
  EXPECT_TRUE(s.at(0).isNil());
  EXPECT_EQ(s.count(), 0u);
  Value d(Value::Dictionary{{"k", "v"}});
  EXPECT_EQ(*d["k"].string(), "v");
  EXPECT_TRUE(d["missing"].isNil());
  EXPECT_TRUE(Value(Value::Array{1}).at(1).isNil());
  EXPECT_EQ(Value(std::make_shared<Thing>(3)).objectAs<Thing>()->className(), "TVSThing");
  EXPECT_EQ(Value(std::make_shared<Thing>(3)).objectAs<Error>(), nullptr);
}

TEST(ValueTest, BorrowedObjectPointerMatchesTheClassAndLeavesOwnershipAlone) {
  auto thing = std::make_shared<Thing>(3);
  const Value held(thing);
  ASSERT_EQ(thing.use_count(), 2);
  EXPECT_EQ(held.objectPointer<Thing>(), thing.get());
  EXPECT_EQ(held.objectPointer<Object>(), static_cast<const Object*>(thing.get()));
  EXPECT_EQ(thing.use_count(), 2);
  EXPECT_EQ(held.objectPointer<Error>(), nullptr);
  const Value copy = held;  // a copy shares the object, so both give the same pointer
  EXPECT_EQ(copy.objectPointer<Thing>(), held.objectPointer<Thing>());
  EXPECT_EQ(thing.use_count(), 3);

  auto error = std::make_shared<Error>("d", 1);
  EXPECT_EQ(Value(error).objectPointer<Thing>(), nullptr);
  EXPECT_EQ(Value(error).objectPointer<Error>(), error.get());

  const Value others[] = {Value(),
                          Value::null(),
                          Value(true),
                          Value(7),
                          Value(2.5),
                          Value("text"),
                          Value::data(std::string_view("xy")),
                          Value::date(1.0),
                          Value(Value::Array{Value(thing)}),
                          Value(Value::Dictionary{{"k", Value(thing)}}),
                          Value::set({Value(thing)})};
  for (const Value& other : others) {
    SCOPED_TRACE(other.className());
    EXPECT_EQ(other.objectPointer<Thing>(), nullptr);
    EXPECT_EQ(other.objectPointer<Object>(), nullptr);
  }
}

TEST(ValueTest, InvalidUtf8IsReplacedOnTheWayIn) {
  Value v(
      std::string("a\xff"
                  "b"));
  EXPECT_EQ(*v.string(),
            "a\xEF\xBF\xBD"
            "b");
}

TEST(ValueTest, ScalarDescriptions) {
  struct Case {
    Value value;
    const char* expected;
  } cases[] = {
      {Value(), "(null)"},
      {Value::null(), "<null>"},
      {Value(true), "1"},
      {Value(false), "0"},
      {Value(-42), "-42"},
      {Value(18446744073709551615ULL), "18446744073709551615"},
      {Value(3.0), "3"},
      {Value(0.1), "0.1"},
      {Value(1.0 / 3), "0.3333333333333333"},
      {Value(-2.5), "-2.5"},
      {Value(1e20), "1e+20"},
      {Value(100000.0), "100000"},
      {Value(1e15), "1e+15"},
      {Value(123456789012.5), "123456789012.5"},
      {Value(-9223372036854775809.0), "-9.223372036854776e+18"},
      {Value(1e-5), "1e-05"},
      {Value(0.0001), "0.0001"},
      {Value("plain"), "plain"},
      {Value::data(Bytes{1, 2, 0xab}), "{length = 3, bytes = 0x0102ab}"},
      {Value::date(1767225600.75), "2026-01-01 00:00:00 +0000"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.value.description(), c.expected);
  Bytes big(30);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(Value::data(big).description(),
            "{length = 30, bytes = 0x00010203 04050607 ... 1a1b1c1d }");
}

TEST(ValueTest, CollectionDescriptionsUseTheMultiLineForm) {
  EXPECT_EQ(Value(Value::Array{}).description(), "(\n)");
  EXPECT_EQ(Value(Value::Array{1, "a b", "word"}).description(),
            "(\n    1,\n    \"a b\",\n    word\n)");
  Value nested(Value::Dictionary{{"list", Value(Value::Array{1, 2})}, {"name", "x y"}});
  EXPECT_EQ(nested.description(),
            "{\n    list =     (\n        1,\n        2\n    );\n    name = \"x y\";\n}");
  Value inArray(Value::Array{Value(Value::Dictionary{{"a", 1}})});
  EXPECT_EQ(inArray.description(), "(\n        {\n        a = 1;\n    }\n)");
  EXPECT_EQ(Value::set({"q"}).description(), "{(\n    q\n)}");
  EXPECT_EQ(Value(Value::Array{""}).description(), "(\n    \"\"\n)");
}

TEST(ValueTest, ObjectDescriptionDefaultsToClassAndAddress) {
  auto thing = std::make_shared<Thing>(1);
  std::string d = Value(thing).description();
  EXPECT_EQ(d.rfind("<TVSThing: 0x", 0), 0u) << d;
  EXPECT_EQ(d.back(), '>');
}

}  // namespace
}  // namespace platform
