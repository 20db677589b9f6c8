#include <gtest/gtest.h>

#include <algorithm>

#include "measurement/audiences/MSREventFilter.h"
#include "measurement/audiences/MSRFilterResult.h"
#include "measurement/audiences/MSRPropertyFilter.h"
#include "measurement/foundation/MSREvent.h"
#include "measurement/messages/MSRPBAccessors.h"
#include "measurement/messages/MSRPBEventFilter.h"
#include "measurement/messages/MSRPBPropertyFilter.h"
#include "measurement/messages/MSRPBSchema.h"
#include "measurement/storage/MSRDatabase.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "measurement/storage/tests/MSRStorageTestSupport.h"
#include "platform/testing/PlatformTest.h"

using platform::Bytes;
using platform::ErrorPtr;
using platform::Value;

namespace {

std::int32_t slotOf(const char* type, std::uint32_t tag) {
  const MSRPBMessageType* messageType = MSRPBMessageTypeNamed(type);
  for (std::uint32_t slot = 0; slot < messageType->fieldCount; ++slot) {
    if (messageType->fields[slot].tag == tag) return static_cast<std::int32_t>(slot);
  }
  return -1;
}

struct Flags {
  bool sessionScoped, dynamic, sequence;
};

// An encoded EventFilter carrying the flags (and a name, so that it is never empty).
Bytes eventFilterData(Flags flags) {
  auto message = MSRPBEventFilter::message();
  MSRPBSetStringField(message, slotOf("EventFilter", 2), Value("e"));
  if (flags.sessionScoped) MSRPBSetBoolField(message, slotOf("EventFilter", 8), true);
  if (flags.dynamic) MSRPBSetBoolField(message, slotOf("EventFilter", 6), true);
  if (flags.sequence) MSRPBSetBoolField(message, slotOf("EventFilter", 7), true);
  return *message->protoBuffer();
}

Bytes propertyFilterData(Flags flags) {
  auto message = MSRPBPropertyFilter::message();
  MSRPBSetStringField(message, slotOf("PropertyFilter", 2), Value("p"));
  if (flags.sessionScoped) MSRPBSetBoolField(message, slotOf("PropertyFilter", 6), true);
  if (flags.dynamic) MSRPBSetBoolField(message, slotOf("PropertyFilter", 4), true);
  if (flags.sequence) MSRPBSetBoolField(message, slotOf("PropertyFilter", 5), true);
  return *message->protoBuffer();
}

std::shared_ptr<MSREventFilter> eventFilter(std::int32_t audience, std::int32_t filter,
                                            const std::string& name, Bytes data,
                                            bool sessionScoped = false) {
  return std::make_shared<MSREventFilter>(audience, filter, name, std::move(data), sessionScoped,
                                          false, false);
}

class MSRDatabaseAudiencesTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    database_ = MSRDatabase::initWithDatabaseName(kMSRDatabaseName, nullptr, nullptr);
    ASSERT_TRUE(database_);
  }
  Value count(const char* table) {
    return database_->sqliteStore()->rowCountForTableWithName(table, nullptr);
  }
  std::shared_ptr<MSRDatabase> database_;
};

TEST_F(MSRDatabaseAudiencesTest, FilterFlagsComeFromTheEncodedDataOnReading) {
  const Flags cases[] = {{false, false, false},
                         {true, false, false},
                         {false, true, false},
                         {false, false, true},
                         {true, true, true}};
  std::int32_t id = 0;
  for (const Flags& flags : cases) {
    ++id;
    // The column is written from the record's own flag, which here disagrees with the data.
    ASSERT_TRUE(database_->updateEventFilters(
        {std::make_shared<MSREventFilter>(1, id, "ev", eventFilterData(flags), !flags.sessionScoped,
                                          !flags.dynamic, !flags.sequence)},
        nullptr));
    ASSERT_TRUE(database_->updatePropertyFilters(
        {std::make_shared<MSRPropertyFilter>(2, id, "pr", propertyFilterData(flags),
                                             !flags.sessionScoped, !flags.dynamic,
                                             !flags.sequence)},
        nullptr));
  }
  const auto events = database_->eventFiltersForEventName("ev", nullptr);
  const auto properties = database_->propertyFiltersForPropertyName("pr", nullptr);
  ASSERT_TRUE(events && properties);
  ASSERT_EQ(events->size(), std::size(cases));
  ASSERT_EQ(properties->size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& e = *(*events)[i];
    const auto& p = *(*properties)[i];
    EXPECT_EQ(e.filterID(), static_cast<std::int32_t>(i + 1));
    EXPECT_EQ(e.audienceID(), 1);
    EXPECT_EQ(e.eventName(), "ev");
    EXPECT_EQ(e.data(), eventFilterData(cases[i]));
    EXPECT_EQ(e.isSessionScoped(), cases[i].sessionScoped) << i;
    EXPECT_EQ(e.isDynamic(), cases[i].dynamic) << i;
    EXPECT_EQ(e.isSequence(), cases[i].sequence) << i;
    EXPECT_EQ(p.propertyName(), "pr");
    EXPECT_EQ(p.isSessionScoped(), cases[i].sessionScoped) << i;
    EXPECT_EQ(p.isDynamic(), cases[i].dynamic) << i;
    EXPECT_EQ(p.isSequence(), cases[i].sequence) << i;
  }
  // The session-scoped query reads the column instead: the records that said so.
  const auto scoped = database_->allSessionScopedFilters(nullptr);
  ASSERT_TRUE(scoped);
  EXPECT_EQ(scoped->at(1), (std::vector<std::int32_t>{1, 3, 4}));
  EXPECT_EQ(scoped->at(2), (std::vector<std::int32_t>{1, 3, 4}));

  // Data that no longer decodes still gives the filter, with every flag off.
  ASSERT_TRUE(
      database_->updateEventFilters({eventFilter(3, 1, "bad", Bytes{0xff, 0xff}, true)}, nullptr));
  const auto bad = database_->eventFiltersForEventName("bad", nullptr);
  ASSERT_TRUE(bad);
  ASSERT_EQ(bad->size(), 1u);
  EXPECT_FALSE(bad->front()->isSessionScoped());
  EXPECT_EQ(bad->front()->data(), (Bytes{0xff, 0xff}));
}

TEST_F(MSRDatabaseAudiencesTest, UpdatesStopAtTheFirstBadElementKeepingEarlierOnes) {
  struct Case {
    std::function<bool(ErrorPtr*)> update;
    long code;
    const char* message;
  };
  const Bytes data{1};
  const Case cases[] = {
      {[&](ErrorPtr* e) {
         return database_->updateEventFilters(
             {eventFilter(1, 1, "a", data), eventFilter(1, 2, "a", {})}, e);
       },
       3, "Received event filter with empty data for getting dictionary representation"},
      {[&](ErrorPtr* e) {
         return database_->updateEventFilters(
             {eventFilter(1, 3, "a", data), eventFilter(1, 4, "", data)}, e);
       },
       3, "Received event filter with empty event name for getting dictionary representation"},
      {[&](ErrorPtr* e) {
         return database_->updateEventFilters({eventFilter(1, 5, "a", data), nullptr}, e);
       },
       1, "Received unknown data type to update event filter"},
      {[&](ErrorPtr* e) { return database_->updateEventFilters({}, e); }, 1,
       "Received empty event filters to update"},
      {[&](ErrorPtr* e) {
         return database_->updatePropertyFilters(
             {std::make_shared<MSRPropertyFilter>(1, 6, "", data, false, false, false)}, e);
       },
       3,
       "Received property filter with empty property name for getting dictionary representation"},
      {[&](ErrorPtr* e) {
         return database_->updatePropertyFilters(
             {std::make_shared<MSRPropertyFilter>(1, 7, "p", Bytes{}, false, false, false)}, e);
       },
       3, "Received property filter with empty data for getting dictionary representation"},
      {[&](ErrorPtr* e) { return database_->updatePropertyFilters({}, e); }, 1,
       "Received empty property filters to update"},
      {[&](ErrorPtr* e) { return database_->updatePropertyFilters({nullptr}, e); }, 1,
       "Received unknown data type to update property filter"},
      {[&](ErrorPtr* e) {
         return database_->updateFilterResults(
             {std::make_shared<MSRFilterResult>(9, Bytes{}, Bytes{1})}, e);
       },
       3, "Received filter result with empty data for getting dictionary representation"},
      {[&](ErrorPtr* e) { return database_->updateFilterResults({}, e); }, 1,
       "Received empty filter results to update"},
      {[&](ErrorPtr* e) { return database_->updateFilterResults({nullptr}, e); }, 1,
       "Received unknown data type to update filter result"},
      {[&](ErrorPtr* e) { return database_->deleteFilterResults({}, e); }, 1,
       "Received empty filter results to delete"},
      {[&](ErrorPtr* e) { return database_->deleteFilterResults({nullptr}, e); }, 1,
       "Received unknown type to delete filter result"},
      {[&](ErrorPtr* e) { return database_->deleteEventFilters({}, e); }, 1,
       "Received empty event filters to delete"},
      {[&](ErrorPtr* e) { return database_->deleteEventFilters({nullptr}, e); }, 1,
       "Received unknown type to delete event filter"},
      {[&](ErrorPtr* e) { return database_->deletePropertyFilters({}, e); }, 1,
       "Received empty property filters to delete"},
      {[&](ErrorPtr* e) { return database_->deletePropertyFilters({nullptr}, e); }, 1,
       "Received unknown type to delete property filter"},
      {[&](ErrorPtr* e) { return database_->eventFiltersForEventName("", e).has_value(); }, 1,
       "Received empty event name for getting event filters"},
      {[&](ErrorPtr* e) { return database_->propertyFiltersForPropertyName("", e).has_value(); }, 1,
       "Received empty property name for getting property filters"},
  };
  for (const auto& c : cases) {
    ErrorPtr error;
    EXPECT_FALSE(c.update(&error)) << c.message;
    ASSERT_TRUE(error) << c.message;
    EXPECT_EQ(error->code(), c.code) << c.message;
    EXPECT_EQ(description(error), c.message);
  }
  // The good elements before each failure were written: filters 1, 3 and 5.
  const auto written = database_->eventFiltersForEventName("a", nullptr);
  ASSERT_TRUE(written);
  std::vector<std::int32_t> ids;
  for (const auto& filter : *written) ids.push_back(filter->filterID());
  EXPECT_EQ(ids, (std::vector<std::int32_t>{1, 3, 5}));
  EXPECT_EQ(count(kMSRTablePropertyFilters), Value(0LL));
  EXPECT_EQ(count(kMSRTableAudienceFilterValues), Value(0LL));
}

TEST_F(MSRDatabaseAudiencesTest, FilterResultsRoundTripAndDeleteOncePerAudience) {
  EXPECT_TRUE(database_->allFilterResults(nullptr).empty());
  ASSERT_TRUE(
      database_->updateFilterResults({std::make_shared<MSRFilterResult>(4, Bytes{1, 2}, Bytes{}),
                                      std::make_shared<MSRFilterResult>(5, Bytes{3}, Bytes{4}),
                                      std::make_shared<MSRFilterResult>(6, Bytes{5}, std::nullopt)},
                                     nullptr));
  // Empty previous results are stored as NULL and read back as none.
  const auto stored = database_->sqliteStore()->recordsForQuery(
      "SELECT previous_results FROM audience_filter_values WHERE audience_id = 4", {}, nullptr);
  ASSERT_TRUE(stored);
  EXPECT_TRUE(Value(stored->front())["previous_results"].isNull());
  const auto four = database_->filterResultForAudienceID(4, nullptr);
  ASSERT_TRUE(four);
  EXPECT_EQ(four->currentResults(), (Bytes{1, 2}));
  EXPECT_FALSE(four->previousResults());
  ErrorPtr error;
  EXPECT_FALSE(database_->filterResultForAudienceID(99, &error));
  EXPECT_FALSE(error);
  // Replacing keeps one row per audience.
  ASSERT_TRUE(database_->updateFilterResults(
      {std::make_shared<MSRFilterResult>(5, Bytes{7}, std::nullopt)}, nullptr));
  auto all = database_->allFilterResults(nullptr);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all.at(5)->currentResults(), (Bytes{7}));
  EXPECT_FALSE(all.at(5)->previousResults());
  EXPECT_EQ(all.at(6)->audienceID(), 6);

  // The same audience twice, and audiences without rows: deleted once, and yes.
  const auto five = std::make_shared<MSRFilterResult>(5, Bytes{1}, std::nullopt);
  EXPECT_TRUE(database_->deleteFilterResults({five, five, four}, nullptr));
  EXPECT_TRUE(database_->deleteFilterResults(
      {std::make_shared<MSRFilterResult>(42, Bytes{1}, std::nullopt)}, nullptr));
  all = database_->allFilterResults(nullptr);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_TRUE(all.count(6));
}

TEST_F(MSRDatabaseAudiencesTest, AudienceIDsComeOnceFromBothFilterTables) {
  const Bytes data{1};
  ASSERT_TRUE(database_->updateEventFilters(
      {eventFilter(3, 1, "a", data), eventFilter(3, 2, "b", data), eventFilter(1, 1, "a", data)},
      nullptr));
  ASSERT_TRUE(database_->updatePropertyFilters(
      {std::make_shared<MSRPropertyFilter>(3, 9, "p", data, false, false, false),
       std::make_shared<MSRPropertyFilter>(7, 1, "p", data, false, false, false)},
      nullptr));
  auto ids = database_->allAudienceIDs(nullptr);
  ASSERT_TRUE(ids);
  std::sort(ids->begin(), ids->end());
  EXPECT_EQ(*ids, (std::vector<std::int32_t>{1, 3, 7}));

  EXPECT_TRUE(database_->deleteAllEventFilters(nullptr));
  EXPECT_EQ(count(kMSRTableEventFilters), Value(0LL));
  EXPECT_EQ(count(kMSRTablePropertyFilters), Value(2LL));
  EXPECT_TRUE(database_->deleteAllPropertyFilters(nullptr));
  EXPECT_EQ(count(kMSRTablePropertyFilters), Value(0LL));
  ids = database_->allAudienceIDs(nullptr);
  ASSERT_TRUE(ids);
  EXPECT_TRUE(ids->empty());
}

TEST_F(MSRDatabaseAudiencesTest, ThousandsOfFiltersAreDeletedAtOnceAndOnlyThose) {
  std::vector<std::shared_ptr<MSREventFilter>> events;
  std::vector<std::shared_ptr<MSRPropertyFilter>> properties;
  for (std::int32_t i = 0; i < 1600; ++i) {
    events.push_back(eventFilter(i / 100, i, "e", Bytes{1}));
    properties.push_back(
        std::make_shared<MSRPropertyFilter>(i / 100, i, "p", Bytes{1}, false, false, false));
  }
  ASSERT_TRUE(database_->performTransaction([&] {
    return database_->updateEventFilters(events, nullptr) &&
           database_->updatePropertyFilters(properties, nullptr);
  }));
  // 1,500 of them, standalone for the event filters and inside the caller's transaction for the
  // property filters.
  events.resize(1500);
  properties.resize(1500);
  ErrorPtr error;
  EXPECT_TRUE(database_->deleteEventFilters(events, &error)) << description(error);
  EXPECT_TRUE(database_->performTransaction([&] {
    return database_->deletePropertyFilters(properties, &error);
  })) << description(error);
  EXPECT_EQ(count(kMSRTableEventFilters), Value(100LL));
  EXPECT_EQ(count(kMSRTablePropertyFilters), Value(100LL));
  EXPECT_EQ(database_->sqliteStore()->numberForQuery("SELECT min(filter_id) FROM event_filters", {},
                                                     nullptr),
            Value(1500LL));

  // A caller's transaction that rolls back takes the whole delete with it.
  EXPECT_FALSE(database_->performTransaction([&] {
    EXPECT_TRUE(database_->deletePropertyFilters(
        {std::make_shared<MSRPropertyFilter>(15, 1550, "p", Bytes{1}, false, false, false)},
        nullptr));
    return false;
  }));
  EXPECT_EQ(count(kMSRTablePropertyFilters), Value(100LL));
}

TEST_F(MSRDatabaseAudiencesTest, ComplexEventsKeepTheirMainEventAndChildCount) {
  const MSRParameters parameters{{"v", Value(3)}, {"s", Value("x")}};
  const auto main =
      MSREvent::initWithOrigin("app", false, "purchase", 1700000000.5, 0, &parameters);
  ASSERT_TRUE(main);
  ErrorPtr error;
  EXPECT_FALSE(database_->mainEventAndChildCountPairWithEventID(8, &error));
  EXPECT_FALSE(error);

  ASSERT_TRUE(database_->updateComplexEventForAudienceEvaluationWithEventID(8, 3, main, nullptr));
  ASSERT_TRUE(database_->updateComplexEventForAudienceEvaluationWithEventID(8, 2, main, nullptr));
  const auto pair = database_->mainEventAndChildCountPairWithEventID(8, &error);
  ASSERT_TRUE(pair);
  EXPECT_EQ(pair->second, 2);
  EXPECT_EQ(pair->first->name(), "purchase");
  EXPECT_EQ(pair->first->origin(), "app");
  EXPECT_DOUBLE_EQ(pair->first->timestamp(), 1700000000.5);
  EXPECT_EQ(pair->first->parameters().at("v"), main->parameters().at("v"));

  EXPECT_FALSE(
      database_->updateComplexEventForAudienceEvaluationWithEventID(9, 1, nullptr, &error));
  EXPECT_EQ(error->code(), 1);
  EXPECT_EQ(description(error), "Received nil main event");

  // A damaged blob reads as the database's fault, not the decoder's.
  ASSERT_TRUE(database_->sqliteStore()->upsertRecord({{"event_id", Value(10)},
                                                      {"children_to_process", Value(1)},
                                                      {"main_event", Value::data("\xff\xff")}},
                                                     kMSRTableMainEventParams, nullptr));
  error.reset();
  EXPECT_FALSE(database_->mainEventAndChildCountPairWithEventID(10, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), 3);
  EXPECT_EQ(description(error), "Main event blob is nil in database");

  EXPECT_TRUE(database_->deleteComplexEventForAudienceEvaluationWithEventID(8, nullptr));
  EXPECT_TRUE(database_->deleteComplexEventForAudienceEvaluationWithEventID(8, nullptr));
  EXPECT_FALSE(database_->mainEventAndChildCountPairWithEventID(8, nullptr));
  EXPECT_EQ(count(kMSRTableMainEventParams), Value(1LL));
}

TEST_F(MSRDatabaseAudiencesTest, EventBlobsConvertBothWays) {
  const MSRParameters parameters{{"d", Value(2.5)}};
  const auto event = MSREvent::initWithOrigin("auto", false, "_e", 12.25, 0, &parameters);
  ASSERT_TRUE(event);
  const auto blob = MSRDatabase::blobFromEvent(*event);
  ASSERT_TRUE(blob);
  const auto back = MSRDatabase::eventFromBlob(Value::data(*blob), nullptr);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->name(), "_e");
  EXPECT_EQ(back->origin(), "auto");
  struct Case {
    Value blob;
    const char* message;
  };
  const Case cases[] = {
      {Value("text"), "Failed to convert data to an event. Data must be a NSData instance"},
      {Value(), "Failed to convert data to an event. Data must be a NSData instance"},
      {Value::data("\xff\xff\xff"), "Failed to parse event from data"},
  };
  for (const auto& c : cases) {
    ErrorPtr error;
    EXPECT_FALSE(MSRDatabase::eventFromBlob(c.blob, &error)) << c.message;
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), 2);
    EXPECT_EQ(description(error), c.message);
  }
}

}  // namespace
