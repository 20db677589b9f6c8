#include <gtest/gtest.h>

#include <algorithm>

#include "measurement/foundation/MSRConditionalUserProperty.h"
#include "measurement/foundation/MSREvent.h"
#include "measurement/foundation/MSRValue.h"
#include "measurement/storage/MSRDatabase.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "measurement/storage/tests/MSRStorageTestSupport.h"
#include "platform/testing/PlatformTest.h"

using platform::ErrorPtr;
using platform::Value;

namespace {

class MSRDatabaseConditionalPropertiesTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    database_ = MSRDatabase::initWithDatabaseName(kMSRDatabaseName, nullptr, nullptr);
    ASSERT_TRUE(database_);
  }
  std::shared_ptr<MSRConditionalUserProperty> property(const std::string& name,
                                                       const std::string& origin = "app") {
    auto made = MSRConditionalUserProperty::init();
    made->setName(name);
    made->setOrigin(origin);
    made->setValue(MSRValue::initWithInt64(5));
    made->setCreationTimestamp(clock().now());
    return made;
  }
  MSREventPtr event(const std::string& name) {
    const MSRParameters parameters{{"k", Value("v")}};
    return MSREvent::initWithOrigin("app", false, name, 100.5, 0, &parameters);
  }
  std::vector<std::string> names(
      const std::optional<MSRDatabase::ConditionalUserProperties>& list) {
    std::vector<std::string> result;
    if (list) {
      for (const auto& p : *list) result.push_back(p->name());
    }
    std::sort(result.begin(), result.end());
    return result;
  }
  std::shared_ptr<MSRDatabase> database_;
};

TEST_F(MSRDatabaseConditionalPropertiesTest, EveryFieldRoundTrips) {
  const struct {
    MSRValuePtr value;
    Value column;  // what the value column holds
  } values[] = {{MSRValue::initWithString(Value("gold")), Value("gold")},
                {MSRValue::initWithDouble(2.5), Value(2.5)},
                {MSRValue::initWithInt64(-7), Value(-7LL)}};
  int index = 0;
  for (const auto& v : values) {
    auto stored = property("p" + std::to_string(index++));
    stored->setValue(v.value);
    stored->setTriggerEventName("level_up");
    stored->setTriggerTimeout(60);
    stored->setTimeToLive(3600);
    stored->setCreationTimestamp(1000.25);
    stored->setTriggeredTimestamp(1010.5);
    stored->setActive(true);
    stored->setTriggeredEvent(event("triggered"));
    stored->setTimedOutEvent(event("timed_out"));
    stored->setExpiredEvent(event("expired"));
    ErrorPtr error;
    ASSERT_TRUE(database_->updateConditionalUserProperty(stored, &error)) << description(error);
    const auto row = database_->sqliteStore()->recordsForQuery(
        "SELECT value, active FROM conditional_properties WHERE name = ?", {Value(stored->name())},
        nullptr);
    ASSERT_TRUE(row);
    EXPECT_EQ(Value(row->front())["value"], v.column);
    EXPECT_EQ(Value(row->front())["active"], Value(1LL));

    const auto read = database_->conditionalUserPropertyWithName(stored->name(), &error);
    ASSERT_TRUE(read) << description(error);
    EXPECT_EQ(read->origin(), "app");
    EXPECT_TRUE(read->value()->isEqual(*v.value));
    EXPECT_EQ(read->triggerEventName(), std::optional<std::string>("level_up"));
    EXPECT_EQ(read->triggerTimeout(), 60);
    EXPECT_EQ(read->timeToLive(), 3600);
    EXPECT_EQ(read->creationTimestamp(), 1000.25);
    EXPECT_EQ(read->triggeredTimestamp(), 1010.5);
    EXPECT_TRUE(read->isActive());
    ASSERT_TRUE(read->triggeredEvent() && read->timedOutEvent() && read->expiredEvent());
    EXPECT_EQ(read->triggeredEvent()->name(), "triggered");
    EXPECT_EQ(read->timedOutEvent()->name(), "timed_out");
    EXPECT_EQ(read->expiredEvent()->name(), "expired");
    EXPECT_EQ(read->expiredEvent()->parameters().at("k"),
              stored->expiredEvent()->parameters().at("k"));
  }
  // A rewrite without trigger name or events clears what was stored before.
  auto bare = property("p0");
  ASSERT_TRUE(database_->updateConditionalUserProperty(bare, nullptr));
  const auto read = database_->conditionalUserPropertyWithName("p0", nullptr);
  ASSERT_TRUE(read);
  EXPECT_FALSE(read->triggerEventName());
  EXPECT_FALSE(read->triggeredEvent() || read->timedOutEvent() || read->expiredEvent());
  EXPECT_FALSE(read->isActive());
}

TEST_F(MSRDatabaseConditionalPropertiesTest, RefusalsAndMisses) {
  auto noName = property("");
  auto noOrigin = property("n", "");
  auto noValue = property("n");
  noValue->setValue(nullptr);
  struct Case {
    std::function<bool(ErrorPtr*)> call;  // true when it failed
    long code;
    const char* message;
  };
  const Case cases[] = {
      {[&](ErrorPtr* e) { return !database_->updateConditionalUserProperty(nullptr, e); }, 3,
       "Received empty conditional user property for getting dictionary representation"},
      {[&](ErrorPtr* e) { return !database_->updateConditionalUserProperty(noName, e); }, 3,
       "Received conditional user property with empty name for getting dictionary "
       "representation"},
      {[&](ErrorPtr* e) { return !database_->updateConditionalUserProperty(noOrigin, e); }, 3,
       "Received conditional user property with empty origin for getting dictionary "
       "representation"},
      {[&](ErrorPtr* e) { return !database_->updateConditionalUserProperty(noValue, e); }, 3,
       "Received conditional user property with nil value for getting dictionary "
       "representation"},
      {[&](ErrorPtr* e) { return !database_->conditionalUserPropertiesWithCondition("", {}, e); },
       1, "Received empty condition for querying a conditional user property"},
      {[&](ErrorPtr* e) {
         return !database_->triggeredConditionalUserPropertiesWithEventName("", e);
       },
       1, "Received nil/empty event name for querying triggered conditional user properties"},
  };
  for (const auto& c : cases) {
    ErrorPtr error;
    EXPECT_TRUE(c.call(&error)) << c.message;
    ASSERT_TRUE(error) << c.message;
    EXPECT_EQ(error->code(), c.code);
    EXPECT_EQ(description(error), c.message);
  }
  ErrorPtr error;
  EXPECT_FALSE(database_->conditionalUserPropertyWithName("missing", &error));
  EXPECT_FALSE(error);
  EXPECT_TRUE(database_->deleteConditionalUserPropertyWithName("missing", &error));
  EXPECT_EQ(
      database_->sqliteStore()->rowCountForTableWithName(kMSRTableConditionalProperties, nullptr),
      Value(0LL));
}

TEST_F(MSRDatabaseConditionalPropertiesTest, AFullTableStillUpdatesExistingNames) {
  ASSERT_TRUE(database_->performTransaction([&] {
    for (int i = 0; i < 1000; ++i) {
      if (!database_->updateConditionalUserProperty(property("p" + std::to_string(i)), nullptr)) {
        return false;
      }
    }
    return true;
  }));
  auto existing = property("p500");
  existing->setActive(true);
  EXPECT_TRUE(database_->updateConditionalUserProperty(existing, nullptr));
  EXPECT_TRUE(database_->conditionalUserPropertyWithName("p500", nullptr)->isActive());
  ErrorPtr error;
  EXPECT_FALSE(database_->updateConditionalUserProperty(property("new"), &error));
  EXPECT_EQ(error->code(), 2);
  EXPECT_EQ(description(error), "Failed to insert data type. Table is full");
  EXPECT_TRUE(database_->deleteConditionalUserPropertyWithName("p1", nullptr));
  EXPECT_TRUE(database_->updateConditionalUserProperty(property("new"), nullptr));
}

TEST_F(MSRDatabaseConditionalPropertiesTest, TimedOutExpiredAndTriggeredByTheClockNow) {
  const double now = clock().now();
  struct Row {
    const char* name;
    bool active;
    double created;
    double timeout;
    double triggered;
    double ttl;
    const char* trigger;
  };
  const Row rows[] = {
      {"waiting", false, now - 10, 60, 0, 0, "buy"},
      {"exactly_due", false, now - 60, 60, 0, 0, "buy"},  // "<=": still triggerable
      {"timed_out", false, now - 61, 60, 0, 0, "buy"},
      {"from_future", false, now + 120, 60, 0, 0, "buy"},  // clock moved back: absolute difference
      {"other_event", false, now - 10, 60, 0, 0, "sell"},
      {"live", true, now - 500, 60, now - 10, 100, "buy"},
      {"expired", true, now - 500, 60, now - 101, 100, "buy"},
  };
  for (const Row& r : rows) {
    auto p = property(r.name);
    p->setActive(r.active);
    p->setCreationTimestamp(r.created);
    p->setTriggerTimeout(r.timeout);
    p->setTriggeredTimestamp(r.triggered);
    p->setTimeToLive(r.ttl);
    p->setTriggerEventName(std::string(r.trigger));
    ASSERT_TRUE(database_->updateConditionalUserProperty(p, nullptr)) << r.name;
  }
  EXPECT_EQ(names(database_->timedOutConditionalUserPropertiesWithError(nullptr)),
            (std::vector<std::string>{"from_future", "timed_out"}));
  EXPECT_EQ(names(database_->expiredConditionalUserPropertiesWithError(nullptr)),
            (std::vector<std::string>{"expired"}));
  EXPECT_EQ(names(database_->triggeredConditionalUserPropertiesWithEventName("buy", nullptr)),
            (std::vector<std::string>{"exactly_due", "waiting"}));
  clock().advance(51);
  EXPECT_EQ(names(database_->triggeredConditionalUserPropertiesWithEventName("buy", nullptr)),
            (std::vector<std::string>{}));
}

TEST_F(MSRDatabaseConditionalPropertiesTest, PrefixAndOriginAreMatchedLiterally) {
  const std::pair<const char*, const char*> stored[] = {{"a_b", "app"},  {"axb", "app"},
                                                        {"A_B2", "app"}, {"a%z", "auto"},
                                                        {"a_bc", "ap%"}, {"zzz", "app"}};
  for (const auto& [name, origin] : stored) {
    ASSERT_TRUE(database_->updateConditionalUserProperty(property(name, origin), nullptr));
  }
  struct Case {
    const char* prefix;
    const char* origin;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"", "", {"A_B2", "a%z", "a_b", "a_bc", "axb", "zzz"}},
      {"a_", "", {"a_b", "a_bc"}},
      {"a%", "", {"a%z"}},
      {"A_", "", {"A_B2"}},
      {"a_b", "app", {"a_b"}},
      {"", "ap%", {"a_bc"}},
      {"", "APP", {}},
      {"", "app", {"A_B2", "a_b", "axb", "zzz"}},
  };
  for (const auto& c : cases) {
    ErrorPtr error;
    const auto found = database_->conditionalUserPropertiesWithPrefix(c.prefix, c.origin, &error);
    ASSERT_TRUE(found) << description(error);
    EXPECT_EQ(names(found), c.expected) << "prefix " << c.prefix << " origin " << c.origin;
  }
}

TEST_F(MSRDatabaseConditionalPropertiesTest, ARowWithADamagedEventFailsTheReadWholly) {
  auto good = property("good");
  good->setTriggeredEvent(event("ok"));
  ASSERT_TRUE(database_->updateConditionalUserProperty(good, nullptr));
  ASSERT_TRUE(database_->updateConditionalUserProperty(property("bad"), nullptr));
  ASSERT_TRUE(database_->sqliteStore()->updateRecord({{"expired_event", Value::data("\xff\xff")}},
                                                     kMSRTableConditionalProperties, "name",
                                                     Value("bad"), nullptr));
  // Without an error slot as with one: no property with its event silently missing.
  EXPECT_FALSE(database_->conditionalUserPropertyWithName("bad", nullptr));
  EXPECT_FALSE(database_->conditionalUserPropertiesWithPrefix("", "", nullptr));
  ErrorPtr error;
  EXPECT_FALSE(database_->conditionalUserPropertiesWithPrefix("", "", &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), 2);
  EXPECT_EQ(description(error), "Failed to parse event from data");
  EXPECT_TRUE(database_->conditionalUserPropertyWithName("good", nullptr));
}

}  // namespace
