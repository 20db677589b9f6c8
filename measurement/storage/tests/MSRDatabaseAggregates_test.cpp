#include <gtest/gtest.h>

#include <functional>

#include "measurement/foundation/MSREventAggregates.h"
#include "measurement/foundation/MSRUserAttribute.h"
#include "measurement/foundation/MSRValue.h"
#include "measurement/storage/MSRDatabase.h"
#include "measurement/storage/MSRPersistedConfig.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "measurement/storage/tests/MSRStorageTestSupport.h"
#include "platform/testing/PlatformTest.h"

using platform::ErrorPtr;
using platform::Value;

namespace {

class MSRDatabaseAggregatesTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    ErrorPtr error;
    database_ = openTestDatabase(&error);
    ASSERT_TRUE(database_);
  }
  std::shared_ptr<MSREventAggregates> aggregates(const char* name) {
    auto made = MSREventAggregates::initWithName(name, 3, 2, 1, 50.5);
    EXPECT_TRUE(made);
    return made;
  }
  std::shared_ptr<MSRUserAttribute> attribute(const char* name, MSRValuePtr value,
                                              double at = 1.0, const char* origin = "app") {
    auto made = MSRUserAttribute::initWithOrigin(origin, name, std::move(value), at);
    EXPECT_TRUE(made) << name;
    return made;
  }
  Value storedType(const char* name) {
    return database_->sqliteStore()->recordsForQuery(
        "SELECT typeof(value) AS t FROM user_attributes WHERE name = ?", {Value(name)},
        nullptr)->front().at("t");
  }
  std::shared_ptr<MSRDatabase> database_;
};

TEST_F(MSRDatabaseAggregatesTest, AggregatesRoundTripAndDropTheComplexEventID) {
  auto written = aggregates("purchase");
  written->setLastBundledTimestamp(40.25);
  written->setLastSampledComplexEventID(Value(77LL));
  written->setLastSamplingRate(5);
  written->setLastExemptFromSampling(true);
  written->setLastBundledDay(19000);
  ASSERT_TRUE(database_->updateEventAggregates(written, nullptr));
  ErrorPtr error;
  auto read = database_->eventAggregatesWithName("purchase", &error);
  ASSERT_TRUE(read) << description(error);
  EXPECT_EQ(read->lifetimeCount(), 3);
  EXPECT_EQ(read->currentBundleCount(), 2);
  EXPECT_EQ(read->currentSessionCount(), 1);
  EXPECT_DOUBLE_EQ(read->lastFireTimestamp(), 50.5);
  EXPECT_DOUBLE_EQ(read->lastBundledTimestamp(), 40.25);
  EXPECT_EQ(read->lastSampledComplexEventID().int64Value(), 77);
  EXPECT_EQ(read->lastSamplingRate(), 5);
  EXPECT_TRUE(read->lastExemptFromSampling());
  EXPECT_EQ(read->lastBundledDay(), 19000);

  written->setLastSampledComplexEventID(Value());
  ASSERT_TRUE(database_->updateEventAggregates(written, nullptr));
  EXPECT_TRUE(database_->eventAggregatesWithName("purchase", nullptr)
                  ->lastSampledComplexEventID()
                  .isNil());

  ASSERT_TRUE(database_->sqliteStore()->updateAllRecordsInTableWithName(
      kMSRTableEvents, "last_sampling_rate", Value::null(), nullptr));
  EXPECT_EQ(database_->eventAggregatesWithName("purchase", nullptr)->lastSamplingRate(), 1);
  EXPECT_FALSE(database_->eventAggregatesWithName("absent", nullptr));
}

TEST_F(MSRDatabaseAggregatesTest, CountsSessionsAndRefusals) {
  ASSERT_TRUE(database_->updateEventAggregates(aggregates("purchase"), nullptr));
  ASSERT_TRUE(database_->updateEventAggregates(aggregates("_e"), nullptr));
  EXPECT_EQ(database_->publicEventCount(nullptr).int64Value(), 1);
  ASSERT_TRUE(database_->clearCurrentSessionCounts(nullptr));
  const auto all = database_->allEventAggregates(nullptr);
  ASSERT_TRUE(all);
  ASSERT_EQ(all->size(), 2u);
  for (const auto& a : *all) EXPECT_EQ(a->currentSessionCount(), 0) << a->name();

  ErrorPtr error;
  EXPECT_FALSE(database_->updateEventAggregates(nullptr, &error));
  EXPECT_EQ(error->code(), 3);
}

TEST_F(MSRDatabaseAggregatesTest, UserAttributeValuesKeepTheirKind) {
  ASSERT_TRUE(database_->updateUserAttribute(attribute("n", MSRValue::initWithInt64(7)), nullptr));
  ASSERT_TRUE(
      database_->updateUserAttribute(attribute("d", MSRValue::initWithDouble(0.5)), nullptr));
  ASSERT_TRUE(database_->updateUserAttribute(
      attribute("s", MSRValue::initWithString(Value("red")), 2.0, "auto"), nullptr));
  EXPECT_EQ(storedType("n"), Value("integer"));
  EXPECT_EQ(storedType("d"), Value("real"));
  EXPECT_EQ(storedType("s"), Value("text"));
  ErrorPtr error;
  auto n = database_->userAttributeWithName("n", &error);
  ASSERT_TRUE(n) << description(error);
  EXPECT_TRUE(n->value()->isInt64());
  EXPECT_EQ(n->value()->int64Value(), 7);
  EXPECT_TRUE(database_->userAttributeWithName("d", nullptr)->value()->isDouble());
  auto s = database_->userAttributeWithName("s", nullptr);
  EXPECT_EQ(s->value()->stringValue(), "red");
  EXPECT_EQ(s->origin(), "auto");
  EXPECT_DOUBLE_EQ(s->lastSetTimestamp(), 2.0);

  EXPECT_EQ(database_->userAttributeCountForOrigin("app", nullptr).int64Value(), 2);
  EXPECT_EQ(database_->containsUserAttributeWithName("s", nullptr).int64Value(), 1);
  ASSERT_TRUE(database_->deleteUserAttributeWithName("s", nullptr));
  EXPECT_EQ(database_->containsUserAttributeWithName("s", nullptr).int64Value(), 0);
}

TEST_F(MSRDatabaseAggregatesTest, InternalAttributesAreLeftOutOnRequest) {
  ASSERT_TRUE(
      database_->updateUserAttribute(attribute("colour", MSRValue::initWithInt64(1)), nullptr));
  ASSERT_TRUE(
      database_->updateUserAttribute(attribute("_fot", MSRValue::initWithInt64(2)), nullptr));
  EXPECT_EQ(database_->publicUserAttributeCount(nullptr).int64Value(), 1);
  const auto everything = database_->userAttributesIncludingInternal(true, nullptr);
  ASSERT_TRUE(everything);
  EXPECT_EQ(everything->size(), 2u);
  const auto visible = database_->userAttributesIncludingInternal(false, nullptr);
  ASSERT_TRUE(visible);
  ASSERT_EQ(visible->size(), 1u);
  EXPECT_EQ((*visible)[0]->name(), "colour");
}

TEST_F(MSRDatabaseAggregatesTest, LifetimeValuesNewestFirst) {
  ASSERT_TRUE(database_->updateUserAttribute(
      attribute("_ltv_USD", MSRValue::initWithInt64(5), 1.0), nullptr));
  ASSERT_TRUE(database_->updateUserAttribute(
      attribute("_ltv_EUR", MSRValue::initWithInt64(6), 3.0), nullptr));
  ASSERT_TRUE(
      database_->updateUserAttribute(attribute("_fot", MSRValue::initWithInt64(1), 9.0), nullptr));
  ErrorPtr error;
  const auto values = database_->allLifetimeValueUserAttributes(&error);
  ASSERT_TRUE(values) << description(error);
  ASSERT_EQ(values->size(), 2u);
  EXPECT_EQ((*values)[0]->name(), "_ltv_EUR");
  EXPECT_EQ((*values)[1]->name(), "_ltv_USD");
}

TEST_F(MSRDatabaseAggregatesTest, UserAttributeRefusals) {
  struct Case {
    const char* what;
    std::function<bool(ErrorPtr*)> call;
    long code;
    const char* text;
  };
  const Case cases[] = {
      {"nil attribute", [&](ErrorPtr* e) { return database_->updateUserAttribute(nullptr, e); }, 3,
       "Received empty user property for getting dictionary representation"},
      {"empty origin",
       [&](ErrorPtr* e) {
         return database_->updateUserAttribute(
             attribute("colour", MSRValue::initWithInt64(1), 1.0, ""), e);
       },
       3, "Received user property with empty origin for getting dictionary representation"},
      {"empty origin count",
       [&](ErrorPtr* e) { return !database_->userAttributeCountForOrigin("", e).isNil(); }, 1,
       "Received empty user property origin for count query"},
      {"empty name exists",
       [&](ErrorPtr* e) { return !database_->containsUserAttributeWithName("", e).isNil(); }, 1,
       "Received empty user property name for exists query"},
  };
  for (const auto& c : cases) {
    ErrorPtr error;
    EXPECT_FALSE(c.call(&error)) << c.what;
    ASSERT_TRUE(error) << c.what;
    EXPECT_EQ(error->code(), c.code) << c.what;
    EXPECT_EQ(description(error), c.text) << c.what;
  }
}

}  // namespace

namespace {

class MSRDatabaseUserAttributeRowsTest : public MSRDatabaseAggregatesTest {
 protected:
  void insertRow(const char* name, Value value, double at = 1.0) {
    ASSERT_TRUE(database_->insertDataType({{"origin", Value("app")},
                                           {"name", Value(name)},
                                           {"value", std::move(value)},
                                           {"set_timestamp", Value(at)}},
                                          kMSRTableUserAttributes, nullptr));
  }
};

TEST_F(MSRDatabaseUserAttributeRowsTest, ReservedNamesAndPrefixesAreInternal) {
  insertRow("user_id", Value("u1"));
  insertRow("lumo_flag", Value(1LL));
  insertRow("colour", Value("red"));
  const auto everything = database_->userAttributesIncludingInternal(true, nullptr);
  ASSERT_TRUE(everything);
  EXPECT_EQ(everything->size(), 3u);
  const auto visible = database_->userAttributesIncludingInternal(false, nullptr);
  ASSERT_TRUE(visible);
  ASSERT_EQ(visible->size(), 1u);
  EXPECT_EQ((*visible)[0]->name(), "colour");
}

TEST_F(MSRDatabaseUserAttributeRowsTest, OneUnreadableLifetimeValueFailsTheRead) {
  insertRow("_ltv_USD", Value(5LL), 1.0);
  insertRow("_ltv_EUR", Value::data("blob"), 2.0);  // no engine value kind
  EXPECT_FALSE(database_->allLifetimeValueUserAttributes(nullptr));
  // The reads of all rows skip it instead.
  const auto all = database_->userAttributesIncludingInternal(true, nullptr);
  ASSERT_TRUE(all);
  ASSERT_EQ(all->size(), 1u);
  EXPECT_EQ((*all)[0]->name(), "_ltv_USD");
  EXPECT_FALSE(database_->userAttributeWithName("_ltv_EUR", nullptr));
}

TEST_F(MSRDatabaseUserAttributeRowsTest, TheThousandAndFirstNameIsRefused) {
  ASSERT_TRUE(database_->performTransaction([&] {
    for (int i = 0; i < 1000; ++i) {
      const std::string name = "p" + std::to_string(i);
      if (!database_->updateUserAttribute(attribute(name.c_str(), MSRValue::initWithInt64(i)),
                                          nullptr)) {
        return false;
      }
    }
    return true;
  }));
  ErrorPtr error;
  EXPECT_FALSE(database_->updateUserAttribute(attribute("extra", MSRValue::initWithInt64(1)),
                                              &error));
  EXPECT_EQ(description(error), "Failed to insert data type. Table is full");
  // An existing name is still replaced.
  ASSERT_TRUE(database_->updateUserAttribute(attribute("p0", MSRValue::initWithInt64(99)),
                                             nullptr));
  EXPECT_EQ(database_->userAttributeWithName("p0", nullptr)->value()->int64Value(), 99);
}

}  // namespace
