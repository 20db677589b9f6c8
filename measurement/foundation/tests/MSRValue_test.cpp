#include "measurement/foundation/MSRValue.h"

#include <gtest/gtest.h>

#include "measurement/foundation/tests/MSRTestSupport.h"
#include "platform/testing/PlatformTest.h"

namespace {

using platform::Value;

class MSRValueTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    msr_test::engineLines();
    vtu::testing::startCapturingLines();
  }
};

TEST_F(MSRValueTest, PlatformObjectsBecomeTypedValues) {
  struct Row {
    Value object;
    bool allowArray;
    std::int64_t type;  // -1: no value
  };
  const Row rows[] = {
      {Value("text"), false, MSRValueTypeString},
      {Value(7), false, MSRValueTypeInt64},
      {Value(true), false, MSRValueTypeInt64},
      {Value(3.0), false, MSRValueTypeDouble},
      {Value(Value::Array{Value(Value::Dictionary{})}), true, MSRValueTypeArray},
      {Value(Value::Array{}), false, -1},
      {Value(Value::Dictionary{}), true, -1},
      {Value::date(1), true, -1},
      {Value::data(std::string_view("x")), true, -1},
      {Value(), true, -1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.object.description());
    auto v = MSRValue::valueFromObject(r.object, r.allowArray);
    if (r.type < 0) {
      EXPECT_FALSE(v);
    } else {
      ASSERT_TRUE(v);
      EXPECT_EQ(v->valueType(), r.type);
    }
  }
  EXPECT_EQ(MSRValue::valueFromObject(Value(true))->int64Value(), 1);
  EXPECT_EQ(MSRValue::valueFromObject(Value(3.0))->doubleValue(), 3.0);
  EXPECT_EQ(msr_test::engineCodes(), (std::vector<std::string>{"I-ACS035001", "I-ACS035001",
                                                               "I-ACS035001", "I-ACS035001",
                                                               "I-ACS035000"}));
}

TEST_F(MSRValueTest, AnExistingValuePassesThroughUnchanged) {
  auto v = MSRValue::initWithString(Value("x"));
  EXPECT_EQ(MSRValue::valueFromObject(Value(v)), v);
}

TEST_F(MSRValueTest, InitializersRefuseMissingOrWrongObjects) {
  EXPECT_FALSE(MSRValue::initWithString(Value()));
  EXPECT_FALSE(MSRValue::initWithString(Value(1)));
  EXPECT_FALSE(MSRValue::initWithArray(Value()));
  EXPECT_FALSE(MSRValue::initWithArray(Value("a")));
  EXPECT_EQ(msr_test::engineCodes(), (std::vector<std::string>{"I-ACS035002", "I-ACS035003",
                                                               "I-ACS035004", "I-ACS035005"}));
}

TEST_F(MSRValueTest, AccessorsNeverConvertBetweenKinds) {
  auto i = MSRValue::initWithInt64(1);
  auto d = MSRValue::initWithDouble(1.0);
  auto s = MSRValue::initWithString(Value("1"));
  EXPECT_EQ(i->doubleValue(), 0.0);
  EXPECT_EQ(d->int64Value(), 0);
  EXPECT_FALSE(i->stringValue());
  EXPECT_EQ(s->stringValue(), "1");
  EXPECT_EQ(s->arrayValue(), nullptr);
  EXPECT_FALSE(i->isEqual(*d));
  EXPECT_FALSE(s->isEqual(*i));
  EXPECT_EQ(i->description(), "1");
}

TEST_F(MSRValueTest, CopiesShareTheWrappedObjectAndCompareEqual) {
  auto a = MSRValue::initWithArray(Value(Value::Array{Value("x"), Value(2)}));
  auto copy = a->copy();
  EXPECT_NE(copy, a);
  EXPECT_TRUE(copy->isEqual(*a));
  EXPECT_EQ(copy->hash(), a->hash());
  EXPECT_EQ(copy->arrayValue(), a->arrayValue());  // the same array, not a copy
  EXPECT_TRUE(MSRValue::initWithInt64(5)->isEqual(*MSRValue::initWithInt64(5)));
  EXPECT_FALSE(MSRValue::initWithInt64(5)->isEqual(*MSRValue::initWithInt64(6)));
}

// A subclass of the typed value and an unrelated object, to tell the exact class from others.
class TaggedValue : public MSRValue {
 public:
  TaggedValue() : MSRValue(MSRValueTypeInt64, Value(7LL)) {}
};
class OtherObject : public platform::Object {};

TEST_F(MSRValueTest, BorrowedTypedValueIsFoundForItsClassAndSubclassesOnly) {
  const auto typed = MSRValue::initWithString(Value("text"));
  const auto tagged = std::make_shared<TaggedValue>();
  const Value typedValue(typed), taggedValue(tagged);
  EXPECT_EQ(typedValue.objectPointer<MSRValue>(), typed.get());
  EXPECT_EQ(taggedValue.objectPointer<MSRValue>(), tagged.get());
  EXPECT_EQ(taggedValue.objectPointer<MSRValue>()->int64Value(), 7);
  const Value others[] = {Value(),
                          Value::null(),
                          Value(true),
                          Value(3LL),
                          Value(2.5),
                          Value("text"),
                          Value(Value::Array{typedValue}),
                          Value(Value::Dictionary{{"k", typedValue}}),
                          Value(std::make_shared<OtherObject>())};
  const long references = typed.use_count();
  for (const auto& other : others) {
    EXPECT_EQ(other.objectPointer<MSRValue>(), nullptr) << other.className();
  }
  EXPECT_EQ(typedValue.objectPointer<MSRValue>(), typed.get());
  EXPECT_EQ(typed.use_count(), references);  // the looks took no reference
}

}  // namespace
