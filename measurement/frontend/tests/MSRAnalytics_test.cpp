// The analytics facade: one start per process and its log tag, events held until the engine
// exists, names checked on the caller's side, internal and error events stored.
#include "measurement/frontend/MSRAnalytics.h"

#include <gtest/gtest.h>

#include "measurement/engine/tests/MSRStoredEvents.h"
#include "measurement/foundation/MSRParameterSanitizer.h"
#include "measurement/foundation/MSRScheduler.h"
#include "measurement/frontend/tests/FrontendTestSupport.h"
#include "platform/runtime/Runtime.h"

namespace {

using frontend_testing::FrontendTest;
using frontend_testing::kAppID;
using msr_testing::storedEventNames;
using msr_testing::storedRawEvents;
using platform::Value;

class MSRAnalyticsTest : public FrontendTest {
 protected:
  static void start(const Value::Dictionary& options = {
                        {"lumo_measurement_log_tag", Value("[Lumo/Analytics]")}}) {
    MSRAnalytics::startWithAppID(kAppID, "fa", options);
  }
};

TEST_F(MSRAnalyticsTest, StartsOncePerProcessWithTheTagOfItsOptions) {
  EXPECT_FALSE(MSRAnalytics::isStarted());
  EXPECT_FALSE(MSRAnalytics::waitUntilEventsAreHandled(0.1)) << "nothing to wait for yet";
  start({{"lumo_measurement_log_tag", Value("[Lumo/Analytics]")}});
  start({{"lumo_measurement_log_tag", Value("[Other]")}});
  EXPECT_TRUE(MSRAnalytics::isStarted());
  EXPECT_EQ(MSRMeasurement::monitor()->logTag(), "[Lumo/Analytics]");
  ASSERT_TRUE(drain());
  auto engine = MSRMeasurement::sharedInstance();
  ASSERT_TRUE(engine);
  EXPECT_EQ(engine->appID(), kAppID);
  EXPECT_EQ(MSRAnalytics::analyticsQueue()->label(), "MSRAnalyticsQueue");
  EXPECT_EQ(MSRAnalytics::operationQueue()->name(), "MSRAnalyticsOperationQueue");
  EXPECT_FALSE(MSRAnalytics::operationQueue()->isSuspended());
}

TEST_F(MSRAnalyticsTest, TagThatIsNoNonEmptyStringIsRefusedIntoTheHealthSample) {
  start({{"lumo_measurement_log_tag", Value(7)}});
  EXPECT_EQ(MSRMeasurement::monitor()->logTag(), "<LumoMeasurement>");
  // Level 2 never reaches the console; the refusal is kept in the monitor's health sample.
  EXPECT_TRUE(linesWith("I-ACS025030").empty());
  const std::string key = MSRMonitor::monitoringDataKeyWithMessage(
      std::string("Invalid monitor tag. It must be a non-empty string."), 2,
      MSRMeasurement::monitor()->libraryVersion());
  MSRMeasurement::monitor()->flush();
  clock().advance(1);  // the sample is handed out once it is older than the period
  auto sample = MSRMeasurement::monitor()->monitoringDataForDispatchWithSamplePeriod(0, 0);
  ASSERT_TRUE(sample);
  EXPECT_NE(sample->find(key), std::string::npos) << *sample;
}

TEST_F(MSRAnalyticsTest, EmptyOptionsLeaveTheTagWithoutComplaint) {
  start({});
  EXPECT_EQ(MSRMeasurement::monitor()->logTag(), "<LumoMeasurement>");
  MSRMeasurement::monitor()->flush();
  clock().advance(1);
  EXPECT_FALSE(MSRMeasurement::monitor()->monitoringDataForDispatchWithSamplePeriod(0, 0));
}

TEST_F(MSRAnalyticsTest, EventsWaitForTheStartAndKeepTheirOrder) {
  MSRAnalytics::logEventWithOrigin("app", true, "first", Value::Dictionary{{"n", Value(1)}});
  MSRAnalytics::logInternalEventWithOrigin("auto", "_second", std::nullopt);
  EXPECT_EQ(MSRAnalytics::operationQueue()->operationCount(), 2u) << "held until start-up ends";
  EXPECT_FALSE(MSRMeasurement::sharedInstance());
  clock().advance(3);
  start();
  MSRAnalytics::logEventWithOrigin("app", true, "third", std::nullopt);
  ASSERT_TRUE(drain());
  auto events = storedRawEvents();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].name, "first");
  EXPECT_EQ(events[0].parameters.at("n"), Value(1));
  EXPECT_EQ(events[1].name, "_second");
  EXPECT_EQ(events[1].origin, "auto");
  EXPECT_EQ(events[2].name, "third");
  EXPECT_DOUBLE_EQ(events[2].timestamp - events[0].timestamp, 3.0)
      << "stamped when logged, not when stored";
}

TEST_F(MSRAnalyticsTest, EachEventCarriesTheWallClockOfItsCallEvenWhenTheClockIsSetBack) {
  start();
  const double first = clock().now();
  MSRAnalytics::logEventWithOrigin("app", true, "before", std::nullopt);
  clock().setNow(first - 60);
  MSRAnalytics::logEventWithOrigin("app", true, "after", std::nullopt);
  clock().setNow(first + 5);
  MSRAnalytics::logEventWithOrigin("app", true, "later", std::nullopt);
  ASSERT_TRUE(drain());
  auto events = storedRawEvents();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[1].name, "after") << "stored in the order logged";
  EXPECT_DOUBLE_EQ(events[0].timestamp, first);
  EXPECT_DOUBLE_EQ(events[1].timestamp, first - 60) << "the time the clock gave, not another";
  EXPECT_DOUBLE_EQ(events[2].timestamp, first + 5);
}

TEST_F(MSRAnalyticsTest, NamesThatBreakTheRulesAreLoggedAndNeverStored) {
  struct Case {
    const char* name;
    bool isPublic;
    const char* logged;  // the validator's line
  };
  const Case cases[] = {
      {"1bad", true, "[I-ACS013003] Event name must start with a letter: 1bad"},
      {"lumo_thing", true, "[I-ACS013007] Event name uses reserved prefix. Ignoring event: lumo_thing"},
      {"first_open", true, "[I-ACS013006] Event name is reserved. Ignoring event: first_open"},
      {"_internal", true, "[I-ACS013003] Event name must start with a letter: _internal"},
      {"with space", false, "[I-ACS013002] Event name must contain only letters, numbers, or "
                            "underscores: with space"},
      {"a_name_of_exactly_forty_one_characters_xx", true,
       "[I-ACS013000] Event name is too long. The maximum supported length is 40"},
  };
  start();
  for (const auto& c : cases) {
    MSRAnalytics::logEventWithOrigin("app", c.isPublic, c.name, std::nullopt);
    EXPECT_EQ(linesWith(c.logged).size(), 1u) << c.name;
  }
  MSRAnalytics::logEventWithOrigin("app", true, "a_name_of_exactly_forty_characters_xxxxx",
                                   std::nullopt);
  MSRAnalytics::logEventWithOrigin("app", true, "screen_view", std::nullopt);
  ASSERT_TRUE(drain());
  EXPECT_EQ(storedEventNames(), (std::vector<std::string>{
                                    "a_name_of_exactly_forty_characters_xxxxx", "screen_view"}));
}

TEST_F(MSRAnalyticsTest, ErrorEventsOfTheSanitiserAreStoredAsInternalEvents) {
  start();
  // Found by name, as the sanitiser finds it.
  ASSERT_TRUE(platform::runtime::respondsToSelector(platform::runtime::classNamed("MSRAnalytics"),
                                                    "logInternalEventWithOrigin:name:parameters:"));
  MSRLogErrorEvent(0);  // no error: nothing logged
  MSRLogErrorEvent(8);
  MSRLogErrorEventWithValue(4, Value("id"), 40, Value(std::string(120, 'v')));
  ASSERT_TRUE(drain());
  auto events = storedRawEvents();
  ASSERT_EQ(events.size(), 2u);
  for (const auto& event : events) {
    EXPECT_EQ(event.name, "_err");
    EXPECT_EQ(event.origin, "auto");
  }
  EXPECT_EQ(events[0].parameters.at("_err"), Value(8));
  EXPECT_EQ(events[1].parameters.at("_err"), Value(4));
  EXPECT_EQ(events[1].parameters.at("_ev"), Value("id"));
  EXPECT_EQ(events[1].parameters.at("_el"), Value(120));
}

TEST_F(MSRAnalyticsTest, LoggingNeverWaitsForABusyWorkerQueue) {
  start();
  ASSERT_TRUE(drain());
  auto engine = MSRMeasurement::sharedInstance();
  std::mutex gate;
  std::unique_lock hold(gate);
  engine->scheduler()->scheduleOnWorkerQueueBlockID("busy", [&gate] { std::lock_guard g(gate); });
  for (int i = 0; i < 50; ++i) {
    MSRAnalytics::logEventWithOrigin("app", true, "sound_play", std::nullopt);
  }
  // Every call returned while the worker was held.
  hold.unlock();
  ASSERT_TRUE(drain());
  EXPECT_EQ(storedRawEvents().size(), 50u);
}

}  // namespace
