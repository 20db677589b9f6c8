#include <gtest/gtest.h>

#include "measurement/foundation/MSREvent.h"
#include "measurement/foundation/MSRRawEventData.h"
#include "measurement/foundation/MSRValue.h"
#include "measurement/messages/MSRPBAccessors.h"
#include "measurement/messages/MSRPBEvent.h"
#include "measurement/messages/MSRPBEventParam.h"
#include "measurement/storage/MSRDatabase.h"
#include "measurement/storage/MSRPersistedConfig.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "measurement/storage/tests/MSRStorageTestSupport.h"
#include "platform/testing/PlatformTest.h"

using platform::ErrorPtr;
using platform::Value;

namespace {

// Event slots: 0 parameters, 1 name, 3 previous timestamp. EventParam: 0 name, 1 string, 2 int.
std::shared_ptr<MSRPBEventParam> stringParam(const char* name, const char* value) {
  auto param = MSRPBEventParam::message();
  MSRPBSetStringField(param, 0, Value(name));
  MSRPBSetStringField(param, 1, Value(value));
  return param;
}

class MSRDatabaseRawEventRowsTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    ErrorPtr error;
    database_ = openTestDatabase(&error);
    ASSERT_TRUE(database_);
  }
  MSREventPtr event(const char* name, double timestamp, const MSRParameters& parameters = {}) {
    auto made = MSREvent::initWithOrigin("app", true, name, timestamp, 2.5, &parameters);
    EXPECT_TRUE(made);
    return made;
  }
  MSRDatabase::Record row(const std::shared_ptr<MSRPBEvent>& proto) {
    return {{"rowid", Value(7LL)},
            {"name", Value("purchase")},
            {"timestamp", Value(10.5)},
            {"metadata_fingerprint", Value(-3LL)},
            {"data", Value::data(*proto->protoBuffer())},
            {"is_realtime", Value(0LL)}};
  }
  std::shared_ptr<MSRPBEvent> protoWith(const Value::Array& params) {
    auto proto = MSRPBEvent::message();
    MSRPBSetRepeated(proto, 0, Value(params));
    return proto;
  }
  std::shared_ptr<MSRDatabase> database_;
};

TEST_F(MSRDatabaseRawEventRowsTest, EventsComeBackInRowOrderWithTheirParameters) {
  const Value items(Value::Array{Value(Value::Dictionary{{"item_id", Value("a")}})});
  const MSRParameters parameters{{"n", Value(7)}, {"d", Value(2.5)}, {"s", Value("x")},
                                 {"items", items}};
  auto first = event("purchase", 100.25, parameters);
  ASSERT_TRUE(database_->insertRawEvent(first, 42, true, nullptr));
  ASSERT_TRUE(database_->insertRawEvent(event("second", 101), 42, false, nullptr));
  ASSERT_TRUE(database_->insertRawEvent(event("other", 99), 43, false, nullptr));
  // The stored message lost its name, the event kept it.
  EXPECT_EQ(first->name(), "purchase");
  const auto stored = database_->sqliteStore()->recordsForQuery(
      "SELECT name, data, is_realtime FROM raw_events ORDER BY rowid LIMIT 1", {}, nullptr);
  ASSERT_TRUE(stored && stored->size() == 1);
  EXPECT_EQ(stored->front().at("name"), Value("purchase"));
  EXPECT_EQ(stored->front().at("is_realtime").int64Value(), 1);
  auto storedProto = MSRPBEvent::initWithBuffer(stored->front().at("data"));
  ASSERT_TRUE(storedProto);
  EXPECT_FALSE(MSRPBHasField(storedProto, 1));

  ErrorPtr error;
  const auto read =
      database_->rawEventsWithMetadataFingerprint(42, &error, [](std::size_t, const auto&) {
        return true;
      });
  ASSERT_TRUE(read) << description(error);
  ASSERT_EQ(read->size(), 2u);
  const auto& back = (*read)[0]->rawEvent();
  EXPECT_EQ((*read)[0]->metadataFingerprint(), 42);
  EXPECT_LT((*read)[0]->rowID(), (*read)[1]->rowID());
  EXPECT_EQ(back->origin(), "app");
  EXPECT_EQ(back->name(), "purchase");
  EXPECT_DOUBLE_EQ(back->timestamp(), 100.25);
  EXPECT_DOUBLE_EQ(back->previousTimestamp(), 2.5);
  EXPECT_EQ(back->parameters().at("n").objectAs<MSRValue>()->int64Value(), 7);
  EXPECT_EQ(back->parameters().at("d").objectAs<MSRValue>()->doubleValue(), 2.5);
  EXPECT_EQ(back->parameters().at("s").objectAs<MSRValue>()->stringValue(), "x");
  const auto* list = back->parameters().at("items").objectAs<MSRValue>()->arrayValue();
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), 1u);
  EXPECT_EQ(*(*list)[0].dictionary()->at("item_id").objectAs<MSRValue>()->stringValue(), "a");
  EXPECT_EQ((*read)[1]->rawEvent()->name(), "second");
}

TEST_F(MSRDatabaseRawEventRowsTest, FilterEndsTheReadAndAbsentFingerprintGivesEmpty) {
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(database_->insertRawEvent(event("purchase", 100 + i), 5, false, nullptr));
  }
  const auto two = database_->rawEventsWithMetadataFingerprint(
      5, nullptr, [](std::size_t index, const auto&) { return index < 2; });
  ASSERT_TRUE(two);
  EXPECT_EQ(two->size(), 2u);
  const auto none = database_->rawEventsWithMetadataFingerprint(
      6, nullptr, [](std::size_t, const auto&) { return true; });
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->empty());
}

TEST_F(MSRDatabaseRawEventRowsTest, UndecodableRowsAreSkippedOrFailTheRead) {
  ASSERT_TRUE(database_->insertDataType({{"name", Value("e")},
                                         {"timestamp", Value(1.0)},
                                         {"metadata_fingerprint", Value(9LL)},
                                         {"data", Value::data("\xff\xff")},
                                         {"is_realtime", Value(false)}},
                                        kMSRTableRawEvents, nullptr));
  ErrorPtr error;
  const auto all = [](std::size_t, const auto&) { return true; };
  EXPECT_FALSE(database_->rawEventsWithMetadataFingerprint(9, &error, all));
  EXPECT_EQ(description(error), "Failed to parse event from data");
  ASSERT_TRUE(database_->insertRawEvent(event("purchase", 3), 9, false, nullptr));
  const auto read = database_->rawEventsWithMetadataFingerprint(9, nullptr, all);
  ASSERT_TRUE(read);
  ASSERT_EQ(read->size(), 1u);
  EXPECT_EQ((*read)[0]->rawEvent()->name(), "purchase");
}

TEST_F(MSRDatabaseRawEventRowsTest, RowDecodingFailures) {
  const auto good = protoWith({Value(stringParam("_o", "app"))});
  auto intOrigin = MSRPBEventParam::message();
  MSRPBSetStringField(intOrigin, 0, Value("_o"));
  MSRPBSetInt64(intOrigin, 2, 5);
  auto unnamed = MSRPBEventParam::message();
  MSRPBSetStringField(unnamed, 1, Value("v"));
  auto valueless = MSRPBEventParam::message();
  MSRPBSetStringField(valueless, 0, Value("p"));

  struct Case {
    const char* what;
    MSRDatabase::Record row;
    long code;
    const char* text;
  };
  auto without = [&](const char* column) {
    auto r = row(good);
    r.erase(column);
    return r;
  };
  auto nulled = [&](const char* column) {
    auto r = row(good);
    r[column] = Value::null();
    return r;
  };
  const Case cases[] = {
      {"empty row", {}, 1, "Received empty dictionary for getting raw event data"},
      {"no rowid", without("rowid"), 1, "Unable to find row ID in the database dictionary"},
      {"null data", nulled("data"), 1, "Unable to find event data in the database dictionary"},
      {"no fingerprint", without("metadata_fingerprint"), 1,
       "Unable to find event metadata in the database dictionary"},
      {"origin not a string", row(protoWith({Value(intOrigin)})), 2,
       "Cannot create an event from database. Origin parameter is not a string"},
      {"no origin", row(protoWith({})), 2,
       "Cannot create an event from database. Missing origin parameter"},
      {"unnamed parameter", row(protoWith({Value(stringParam("_o", "app")), Value(unnamed)})), 2,
       "Failed to parse event params from data"},
      {"parameter without value",
       row(protoWith({Value(stringParam("_o", "app")), Value(valueless)})), 2,
       "Failed to parse event params from data"},
      {"invalid name", [&] {
         auto r = row(good);
         r["name"] = Value("");
         return r;
       }(), 2, "Failed to initialize raw event data from dictionary"},
      {"null name", nulled("name"), 2, "Failed to initialize raw event data from dictionary"},
  };
  for (const auto& c : cases) {
    ErrorPtr error;
    EXPECT_FALSE(database_->rawEventDataFromDictionary(c.row, &error)) << c.what;
    ASSERT_TRUE(error) << c.what;
    EXPECT_EQ(error->code(), c.code) << c.what;
    EXPECT_EQ(description(error), c.text) << c.what;
  }
  const auto decoded = database_->rawEventDataFromDictionary(row(good), nullptr);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->rowID(), 7);
  EXPECT_EQ(decoded->metadataFingerprint(), -3);
  EXPECT_EQ(decoded->rawEvent()->origin(), "app");
  EXPECT_EQ(decoded->rawEvent()->name(), "purchase");
  EXPECT_EQ(decoded->rawEvent()->timestamp(), 10.5);
  // A NULL timestamp counts as 0; columns the row does not use are passed over.
  auto extra = row(good);
  extra["timestamp"] = Value::null();
  extra["zzz"] = Value(1LL);
  extra["aaa"] = Value("x");
  const auto untimed = database_->rawEventDataFromDictionary(extra, nullptr);
  ASSERT_TRUE(untimed);
  EXPECT_EQ(untimed->rawEvent()->timestamp(), 0.0);
  EXPECT_EQ(untimed->rowID(), 7);
}

TEST_F(MSRDatabaseRawEventRowsTest, MissingEventIsRefused) {
  ErrorPtr error;
  EXPECT_FALSE(database_->insertRawEvent(nullptr, 1, false, &error));
  EXPECT_EQ(description(error), "Received empty event for inserting in the database");
  EXPECT_EQ(database_->isRawEventsTableEmpty(nullptr), Value(1LL));
}

}  // namespace

namespace {

TEST_F(MSRDatabaseRawEventRowsTest, AReadTakesAtMostAThousandEvents) {
  auto one = event("purchase", 1);
  ASSERT_TRUE(database_->performTransaction([&] {
    for (int i = 0; i < 1001; ++i) {
      if (!database_->insertRawEvent(one, 8, false, nullptr)) return false;
    }
    return true;
  }));
  const auto read = database_->rawEventsWithMetadataFingerprint(
      8, nullptr, [](std::size_t, const auto&) { return true; });
  ASSERT_TRUE(read);
  ASSERT_EQ(read->size(), 1000u);
  ASSERT_TRUE(database_->deleteRawEventsWithMaxRowID(read->back()->rowID(), 8, nullptr));
  const auto rest = database_->rawEventsWithMetadataFingerprint(
      8, nullptr, [](std::size_t, const auto&) { return true; });
  ASSERT_TRUE(rest);
  EXPECT_EQ(rest->size(), 1u);
}

}  // namespace
