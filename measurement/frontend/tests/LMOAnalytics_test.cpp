// The public analytics interface: events of an unconfigured app are dropped with the monitor's
// line, a configured app's events reach the real database, values without a plain form are
// reported first, and the start builds its dictionary and hands over the installation
// identifier.
#include "measurement/frontend/LMOAnalytics.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "core/LMOAnalyticsConfiguration.h"
#include "core/LMOOptions.h"
#include "installations/LMOInstallations.h"
#include "installations/LMOInstallationsAPIService.h"
#include "measurement/engine/tests/MSRStoredEvents.h"
#include "measurement/foundation/MSRIdentity.h"
#include "measurement/foundation/MSRScheduler.h"
#include "measurement/frontend/LMOAnalyticsConstants.h"
#include "measurement/frontend/tests/FrontendTestSupport.h"
#include "measurement/storage/MSRFileLocations.h"
#include "platform/app/Application.h"
#include "platform/base/FileLock.h"
#include "platform/base/Files.h"
#include "platform/base/UserDefaults.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/network/tests/LoopbackServer.h"
#include "platform/testing/ChildProcess.h"
#include "platform/testing/UnreadableFile.h"

namespace {

using frontend_testing::FrontendTest;
using msr_testing::storedRawEvents;
using platform::Value;

class LMOAnalyticsTest : public FrontendTest {
 protected:
  // The raw events in the database file this moment, read without waiting for a lock; -1 when
  // the file, its table or its lock is not to be had.
  static long rawEventRowsNow() {
    sqlite3* db = nullptr;
    long rows = -1;
    if (sqlite3_open_v2(MSRApplicationSupportPath("veltro-lumo-measurement.sql").c_str(), &db,
                        SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
      sqlite3_stmt* count = nullptr;
      if (sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM raw_events", -1, &count, nullptr) ==
              SQLITE_OK &&
          sqlite3_step(count) == SQLITE_ROW) {
        rows = sqlite3_column_int64(count, 0);
      }
      sqlite3_finalize(count);
    }
    sqlite3_close(db);
    return rows;
  }
};

// Stands for a caller's own object: a value with no plain form.
class Opaque : public platform::Object {
 public:
  std::string className() const override { return "Opaque"; }
};

const char* const kAppEvents[] = {"sound_play", "sound_share", "sound_favorited"};

TEST_F(LMOAnalyticsTest, UnconfiguredAppDropsEachEventWithTheMonitorLine) {
  for (const char* name : kAppEvents) {
    LMOAnalytics::logEventWithName(name, Value::Dictionary{{"id", Value("tavo_hello")}});
  }
  LMOAnalytics::logEventWithName("odd%dname", std::nullopt);
  auto lines = linesWith("[I-ACS025018]");
  ASSERT_EQ(lines.size(), 4u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_NE(lines[i].find(std::string("<LumoMeasurement>[I-ACS025018] Event not logged. Call "
                                        "+[LMOApp configure]: ") +
                            kAppEvents[i]),
              std::string::npos)
        << lines[i];
  }
  EXPECT_NE(lines[3].find("configure]: odd%%dname"), std::string::npos)
      << "the text is written, never used as a format: " << lines[3];
  EXPECT_FALSE(MSRAnalytics::isStarted());
  EXPECT_FALSE(MSRMeasurement::sharedInstance());
}

TEST_F(LMOAnalyticsTest, ConfiguredAppStoresEachAppEventWithItsId) {
  configureApp();
  for (const char* name : kAppEvents) {
    LMOAnalytics::logEventWithName(name, Value::Dictionary{{"id", Value(std::string(name) + "_id")}});
  }
  ASSERT_TRUE(drain());
  EXPECT_TRUE(linesWith("[I-ACS025018]").empty());
  auto events = storedRawEvents();
  ASSERT_EQ(events.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(events[i].name, kAppEvents[i]);
    EXPECT_EQ(events[i].origin, "app");
    EXPECT_EQ(events[i].parameters.at("id"), Value(std::string(kAppEvents[i]) + "_id"));
    EXPECT_EQ(events[i].metadataAppID, frontend_testing::kAppID);
    if (i) {
      EXPECT_GE(events[i].timestamp, events[i - 1].timestamp);
    }
  }
}

TEST_F(LMOAnalyticsTest, ValueWithoutPlainFormIsReportedFirstAndTheEventGoesOn) {
  const Value::Dictionary parameters{{"id", Value("a")},
                                     {"thing", Value(std::make_shared<Opaque>())}};
  // Unconfigured: reported, then dropped.
  LMOAnalytics::logEventWithName("sound_play", parameters);
  auto lines = loggedLines();
  const long unbridgeable = indexOfLineWith(lines, "[I-ACS025040] Unbridgeable Swift type logged in "
                                                   "parameters. Break on "
                                                   "__LMOANALYTICS_UNBRIDGEABLE_SWIFT_VALUE_ERROR__ "
                                                   "to debug.");
  ASSERT_GE(unbridgeable, 0);
  EXPECT_GT(indexOfLineWith(lines, "[I-ACS025018]"), unbridgeable);

  // Configured: reported, and stored without the value that has no plain form.
  configureApp();
  LMOAnalytics::logEventWithName("sound_share",
                                 Value::Dictionary{{"id", Value("b")},
                                                   {"items", Value(Value::Array{Value(
                                                                 std::make_shared<Opaque>())})}});
  ASSERT_TRUE(drain());
  EXPECT_EQ(linesWith("[I-ACS025040]").size(), 2u) << "also found inside arrays";
  auto events = storedRawEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].name, "sound_share");
  EXPECT_EQ(events[0].parameters.at("id"), Value("b"));
}

TEST_F(LMOAnalyticsTest, PlainValuesAreNotReported) {
  LMOAnalytics::logEventWithName(
      "sound_play", Value::Dictionary{{"n", Value(1)},
                                      {"d", Value(2.5)},
                                      {"s", Value("x")},
                                      {"null", Value::null()},
                                      {"list", Value(Value::Array{Value(Value::Dictionary{
                                                   {"item_id", Value("i")}})})}});
  EXPECT_TRUE(linesWith("[I-ACS025040]").empty());
}

TEST_F(LMOAnalyticsTest, StartDictionaryFollowsTheOptions) {
  struct Case {
    const char* what;
    Value::Dictionary info;     // Info.plist switches
    Value::Dictionary options;  // options file additions
    bool withConfiguration;
    bool deactivated;
    bool enabled;
    Value safelisted;
  };
  const Value list(Value::Array{Value("sound_play")});
  const Value::Dictionary on{{"LUMO_ANALYTICS_COLLECTION_ENABLED", Value(true)}};
  const Case cases[] = {
      {"collection on", on, {}, true, false, true, Value()},
      {"no configuration", on, {}, false, false, true, Value()},
      {"collection off in Info.plist",
       {{"LUMO_ANALYTICS_COLLECTION_ENABLED", Value(false)}}, {}, true, false, false, Value()},
      {"deactivated in Info.plist",
       {{"LUMO_ANALYTICS_COLLECTION_DEACTIVATED", Value(true)}}, {}, true, true, false, Value()},
      {"collection off in the options", {}, {{"LUMO_ANALYTICS_COLLECTION_ENABLED", Value(false)}},
       true, false, false, Value()},
      {"safelisted events", on, {{"ANALYTICS_SAFELISTED_EVENTS", list}}, true, false, true, list},
  };
  for (const auto& c : cases) {
    writeInfoPlist(c.info);
    auto fileOptions = validOptions();
    for (const auto& [key, value] : c.options) fileOptions[key] = value;
    auto bytes = platform::serializePropertyList(Value(fileOptions),
                                                 platform::PropertyListFormat::Xml);
    ASSERT_TRUE(platform::files::writeAtomically(bundleDir() / "VeltroService-Info.plist", *bytes,
                                                 nullptr));
    LMOOptions::resetDefaultOptions();
    auto options = LMOOptions::defaultOptions();
    ASSERT_TRUE(options) << c.what;
    platform::ObjectPtr configuration =
        c.withConfiguration ? LMOAnalyticsConfiguration::sharedInstance() : nullptr;
    Value::Dictionary expected{{"LUMO_ANALYTICS_COLLECTION_DEACTIVATED", Value(c.deactivated)},
                               {"LUMO_ANALYTICS_COLLECTION_ENABLED", Value(c.enabled)},
                               {"lumo_measurement_log_tag", Value("[Lumo/Analytics]")}};
    if (c.withConfiguration) expected["LUMO_ANALYTICS_CONFIGURATION"] = Value(configuration);
    if (!c.safelisted.isNil()) expected["safelisted_events"] = c.safelisted;
    EXPECT_EQ(LMOAnalytics::startDictionary(configuration, *options), expected) << c.what;
  }
}

TEST_F(LMOAnalyticsTest, StartSetsTheLogTagAndHandsOverTheInstallationIdentifier) {
  configureApp();
  EXPECT_TRUE(MSRAnalytics::isStarted());
  EXPECT_EQ(MSRMeasurement::monitor()->logTag(), "[Lumo/Analytics]");
  ASSERT_TRUE(pumpUntil([] { return MSRIdentity::installationID().has_value(); }));
  const std::string identifier = *MSRIdentity::installationID();
  EXPECT_EQ(identifier.size(), 22u) << identifier;

  // A change is followed by asking the installations again.
  MSRIdentity::setInstallationID("stale");
  platform::NotificationCenter::defaultCenter().post(
      "LMOInstallationIDDidChangeNotification", Value(), {});
  EXPECT_TRUE(pumpUntil([&] { return MSRIdentity::installationID() == identifier; }));
}

TEST_F(LMOAnalyticsTest, EachSwitchHoldsForTheEventsLoggedAfterItAndNoneBefore) {
  configureApp();
  ASSERT_TRUE(drain());
  auto engine = MSRMeasurement::sharedInstance();
  ASSERT_TRUE(engine);
  struct Way {
    const char* what;  // also the events' name prefix
    std::function<void(bool)> set;
  };
  const Way ways[] = {
      {"persisted",
       [](bool on) {
         LMOAnalyticsConfiguration::sharedInstance()->setAnalyticsCollectionEnabled(on);
       }},
      {"not_persisted",
       [](bool on) {
         LMOAnalyticsConfiguration::sharedInstance()->setAnalyticsCollectionEnabled(on, false);
       }},
      {"data_collection",
       [](bool on) { LMOApp::defaultApp()->setDataCollectionDefaultEnabled(on); }},
  };
  std::vector<std::string> expected;
  int logged = 0;
  for (const auto& way : ways) {
    // The events wait behind a busy worker until every switch of the round has been made.
    std::mutex gate;
    std::unique_lock hold(gate);
    engine->scheduler()->scheduleOnWorkerQueueBlockID("busy", [&gate] { std::lock_guard g(gate); });
    const std::string prefix = way.what;
    for (const bool on : {true, false, true, false}) {
      way.set(on);
      const std::string name = prefix + (on ? "_on_" : "_off_") + std::to_string(++logged);
      LMOAnalytics::logEventWithName(name, std::nullopt);
      if (on) expected.push_back(name);
    }
    way.set(true);
    hold.unlock();
    ASSERT_TRUE(drain());
    EXPECT_EQ(msr_testing::storedEventNames(), expected) << way.what;
  }
}

TEST_F(LMOAnalyticsTest, LoggingReturnsAtOnceWhileTheDefaultsWaitForTheirFile) {
  const auto defaults = platform::UserDefaults::standardUserDefaults();
  const auto lockFile = platform::FileLock::lockFileFor(platform::SandboxHome::preferences() /
                                                        (defaults->domainName() + ".plist"));
  if (platform::testing::testRole() == "lock-holder") {
    auto lock = platform::FileLock::acquire(lockFile);
    ASSERT_TRUE(lock);
    platform::testing::announce("lock-held");
    for (;;) ::pause();  // held until the test ends this process
  }
  configureApp();
  ASSERT_TRUE(drain());
  auto holder = platform::testing::ChildProcess::start("lock-holder");
  ASSERT_TRUE(holder);
  ASSERT_TRUE(platform::testing::awaitAnnouncement("lock-held", *holder));

  // The app saves a favourite; its write waits for the other process's lock.
  defaults->setObject(Value(Value::Dictionary{{"tavo_hello", Value("tavo")}}), "favSoundIds");
  std::thread saving([&] { defaults->synchronize(); });
  const bool writeWaits =
      pumpUntil([&] { return platform::testing::someoneWaitsForLock(lockFile); }, 60);

  // A tap logs its event meanwhile, on a thread of its own so that a call that waits cannot
  // hang the test: it must return while the write still waits.
  std::atomic<bool> returned{false};
  std::thread tap([&] {
    LMOAnalytics::logEventWithName("sound_play", Value::Dictionary{{"id", Value("tavo_hello")}});
    returned = true;
  });
  const bool returnedWhileLocked = writeWaits && pumpUntil([&] { return returned.load(); }, 20);
  const bool stillLocked = platform::testing::someoneWaitsForLock(lockFile);
  holder->kill(SIGKILL);
  holder->wait();
  saving.join();
  tap.join();
  ASSERT_TRUE(writeWaits) << "the defaults' write never waited for the lock";
  EXPECT_TRUE(returnedWhileLocked) << "logging the event waited for the defaults file";
  EXPECT_TRUE(stillLocked);
  ASSERT_TRUE(drain());
  EXPECT_EQ(storedRawEvents().size(), 1u);
}

TEST_F(LMOAnalyticsTest, EventsOfTheLastMomentsAreStoredOrCountedAsLostWhenTheAppEnds) {
  // A fresh home: the engine is still making its database while the events arrive.
  configureApp();
  constexpr std::size_t kLogged = 50;
  for (std::size_t i = 0; i < kLogged; ++i) {
    LMOAnalytics::logEventWithName("sound_play",
                                   Value::Dictionary{{"id", Value(std::to_string(i))}});
  }
  // What the app runner does when the run loop returns; the process ends right after, so what
  // is on disk is counted at once, without waiting on the engine.
  platform::app::Application::sharedApplication()->handleWillTerminate();
  const long onDisk = rawEventRowsNow();
  const auto lost = linesWith("[I-ACS025050]");
  if (lost.empty()) {
    EXPECT_EQ(onDisk, static_cast<long>(kLogged)) << "stored before the app ended";
    return;
  }
  // A slow disk: what was not stored in time is counted.
  ASSERT_EQ(lost.size(), 1u);
  const std::string marker = "Events not stored before the app terminated. Count: ";
  const auto at = lost[0].find(marker);
  ASSERT_NE(at, std::string::npos) << lost[0];
  const std::size_t count = std::stoul(lost[0].substr(at + marker.size()));
  EXPECT_GT(count, 0u);
  EXPECT_LE(count, kLogged);
  ASSERT_TRUE(drain());
  EXPECT_GE(storedRawEvents().size() + count, kLogged) << lost[0];
}

// A case's test name: "turned off at run time" -> "TurnedOffAtRunTime".
std::string testNameOf(const char* what) {
  std::string name;
  bool upper = true;
  for (const char* c = what; *c; ++c) {
    if (std::isalnum(static_cast<unsigned char>(*c))) {
      name += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(*c))) : *c;
      upper = false;
    } else {
      upper = true;
    }
  }
  return name;
}

// Events logged while the worker is held busy, then the app ends before any is handled. Each
// case configures the app in a process of its own.
struct EndCase {
  const char* what;
  Value::Dictionary info;
  // Before each run of events, the switch made (if any), then how many events are logged.
  std::vector<std::pair<std::optional<bool>, int>> runs;
  bool persist;
  // Events that collection lets be stored: those waited for and counted as lost at the end.
  long storable;
};
void PrintTo(const EndCase& c, std::ostream* os) { *os << c.what; }
class LMOAnalyticsEndTest : public FrontendTest, public ::testing::WithParamInterface<EndCase> {};

TEST_P(LMOAnalyticsEndTest, OnlyEventsThatMayBeStoredAreWaitedForAndCountedAsLost) {
  const auto& c = GetParam();
  writeInfoPlist(c.info);
  configureApp();
  ASSERT_TRUE(drain());
  auto engine = MSRMeasurement::sharedInstance();
  std::mutex gate;
  std::unique_lock hold(gate);
  engine->scheduler()->scheduleOnWorkerQueueBlockID("busy", [&gate] { std::lock_guard g(gate); });
  int logged = 0;
  for (const auto& [enabled, count] : c.runs) {
    if (enabled) {
      LMOAnalyticsConfiguration::sharedInstance()->setAnalyticsCollectionEnabled(*enabled,
                                                                                 c.persist);
    }
    for (int i = 0; i < count; ++i) {
      LMOAnalytics::logEventWithName("sound_play",
                                     Value::Dictionary{{"id", Value(std::to_string(++logged))}});
    }
  }
  EXPECT_EQ(MSRAnalytics::pendingEventCount(), c.storable);

  // The app ends while the worker is still held: nothing is handled meanwhile, so a wait for the
  // events would last the whole drain period.
  const auto start = std::chrono::steady_clock::now();
  platform::app::Application::sharedApplication()->handleWillTerminate();
  const double ended =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const auto lost = linesWith("[I-ACS025050]");
  if (c.storable == 0) {
    EXPECT_TRUE(lost.empty()) << lost[0];
    EXPECT_LT(ended, lmo_analytics::kTerminationDrainSeconds) << "the end waited for nothing";
  } else {
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_NE(lost[0].find("Events not stored before the app terminated. Count: " +
                           std::to_string(c.storable)),
              std::string::npos)
        << lost[0];
  }
  hold.unlock();
  ASSERT_TRUE(drain());
  EXPECT_EQ(static_cast<long>(storedRawEvents().size()), c.storable);
  EXPECT_EQ(MSRAnalytics::pendingEventCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Switches, LMOAnalyticsEndTest,
    ::testing::Values(
        EndCase{"opted out", {}, {{false, 3}}, true, 0},
        EndCase{"opted out without persisting", {}, {{false, 3}}, false, 0},
        EndCase{"opted out after two", {}, {{std::nullopt, 2}, {false, 3}}, true, 2},
        EndCase{"opted in again after two opted out", {}, {{false, 2}, {true, 1}}, true, 1},
        EndCase{"collection off in Info.plist",
                {{"LUMO_ANALYTICS_COLLECTION_ENABLED", Value(false)}},
                {{std::nullopt, 3}},
                true,
                0},
        EndCase{"opted in over Info.plist",
                {{"LUMO_ANALYTICS_COLLECTION_ENABLED", Value(false)}},
                {{true, 2}},
                true,
                2},
        EndCase{"deactivated in Info.plist",
                {{"LUMO_ANALYTICS_COLLECTION_DEACTIVATED", Value(true)}},
                {{true, 3}},
                true,
                0}),
    [](const ::testing::TestParamInfo<EndCase>& info) { return testNameOf(info.param.what); });

// Each case configures the app in a process of its own.
struct CollectionCase {
  const char* what;
  Value::Dictionary info = {};
  std::optional<bool> setEnabledAfterStart = std::nullopt;
  bool stored;
  bool persist = true;
  bool beforeConfiguring = false;
  // The app's data-collection switch as an earlier run stored it.
  std::optional<bool> dataCollectionStored = std::nullopt;
  // The standard defaults' file cannot be read from the launch until the events logged
  // meanwhile have been handled.
  std::optional<platform::testing::UnreadableFile::Cause> unreadableAtLaunch = std::nullopt;
};
// Test names and listings show the case by what it is.
void PrintTo(const CollectionCase& c, std::ostream* os) { *os << c.what; }
class LMOAnalyticsCollectionTest : public FrontendTest,
                                   public ::testing::WithParamInterface<CollectionCase> {};

TEST_P(LMOAnalyticsCollectionTest, EventsAreStoredOnlyWhileCollectionIsOn) {
  const auto& c = GetParam();
  writeInfoPlist(c.info);
  if (c.dataCollectionStored) {
    auto defaults = platform::UserDefaults::standardUserDefaults();
    defaults->setObject(Value(*c.dataCollectionStored),
                        "/veltro/lumo/global_data_collection_enabled:__LMOAPP_DEFAULT");
    ASSERT_TRUE(defaults->synchronize());
    platform::UserDefaults::resetForTesting();  // a relaunch
  }
  std::optional<platform::testing::UnreadableFile> unreadable;
  if (c.unreadableAtLaunch) {
    unreadable.emplace(
        *c.unreadableAtLaunch,
        platform::SandboxHome::preferences() /
            (platform::UserDefaults::standardUserDefaults()->domainName() + ".plist"));
  }
  if (!c.beforeConfiguring) configureApp();
  if (c.setEnabledAfterStart) {
    LMOAnalyticsConfiguration::sharedInstance()->setAnalyticsCollectionEnabled(
        *c.setEnabledAfterStart, c.persist);
  }
  if (c.beforeConfiguring) configureApp();
  if (unreadable) {
    for (int i = 0; i < 3; ++i) LMOAnalytics::logEventWithName("while_unreadable", std::nullopt);
    ASSERT_TRUE(drain());
    unreadable.reset();
  }
  LMOAnalytics::logEventWithName("sound_play", Value::Dictionary{{"id", Value("x")}});
  ASSERT_TRUE(drain());
  EXPECT_EQ(msr_testing::storedEventNames(),
            c.stored ? std::vector<std::string>{"sound_play"} : std::vector<std::string>{})
      << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Switches, LMOAnalyticsCollectionTest,
    ::testing::Values(
        CollectionCase{"nothing set", {}, std::nullopt, true},
        CollectionCase{
            "disabled", {{"LUMO_ANALYTICS_COLLECTION_ENABLED", Value(false)}}, std::nullopt, false},
        CollectionCase{"deactivated",
                       {{"LUMO_ANALYTICS_COLLECTION_DEACTIVATED", Value(true)}},
                       std::nullopt,
                       false},
        CollectionCase{"turned off at run time", {}, false, false},
        CollectionCase{"turned on at run time",
                       {{"LUMO_ANALYTICS_COLLECTION_ENABLED", Value(false)}},
                       true,
                       true},
        CollectionCase{"deactivation is not undone at run time",
                       {{"LUMO_ANALYTICS_COLLECTION_DEACTIVATED", Value(true)}},
                       true,
                       false},
        CollectionCase{"turned off at run time without persisting", {}, false, false, false},
        CollectionCase{"turned on at run time without persisting",
                       {{"LUMO_ANALYTICS_COLLECTION_ENABLED", Value(false)}},
                       true,
                       true,
                       false},
        CollectionCase{
            "turned off without persisting before configuring", {}, false, false, false, true},
        CollectionCase{.what = "refused by the data collection switch",
                       .stored = false,
                       .dataCollectionStored = false},
        CollectionCase{.what = "refused by the data collection switch unread for a link loop",
                       .stored = false,
                       .dataCollectionStored = false,
                       .unreadableAtLaunch = platform::testing::UnreadableFile::Cause::LinkLoop},
        CollectionCase{.what = "refused by the data collection switch unread for an I/O error",
                       .stored = false,
                       .dataCollectionStored = false,
                       .unreadableAtLaunch = platform::testing::UnreadableFile::Cause::IOError},
        CollectionCase{.what = "allowed by the data collection switch unread for a link loop",
                       .stored = true,
                       .dataCollectionStored = true,
                       .unreadableAtLaunch = platform::testing::UnreadableFile::Cause::LinkLoop}),
    [](const ::testing::TestParamInfo<CollectionCase>& info) {
      return testNameOf(info.param.what);
    });

// An installations service that knows no installation at all: every request is answered with
// the given status. Each case runs in a process of its own (the front end observes once).
class LMOAnalyticsRefusingServiceTest : public FrontendTest,
                                        public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    FrontendTest::SetUp();
    service_ = std::make_unique<platform::testing::LoopbackServer>(home());
    const int status = GetParam();
    service_->server().Post(".*", [status](const httplib::Request&, httplib::Response& reply) {
      reply.status = status;
      reply.set_content(R"({"error":{"code":)" + std::to_string(status) + "}}", "application/json");
    });
    service_->start();
    LMOInstallationsAPIService::setServiceBaseURL(service_->url(""));
    LMOInstallationsAPIService::setTrustedCAFile(service_->certificateFile());
  }
  void TearDown() override {
    FrontendTest::TearDown();
    service_.reset();
  }
  std::unique_ptr<platform::testing::LoopbackServer> service_;
};

TEST_P(LMOAnalyticsRefusingServiceTest, ChangeNotificationsDoNotFeedAnEndlessRoundOfRequests) {
  // A runaway round (ask, register, refused, start over, notify, ask again) makes dozens of
  // requests within a fraction of a second; a bounded one stops after a handful.
  constexpr std::size_t kRunaway = 40;
  auto requests = [&] { return service_->arrived().size(); };
  configureApp();
  // The identifier is handed over even though the service refuses to register it.
  ASSERT_TRUE(pumpUntil([] { return MSRIdentity::installationID().has_value(); }));
  EXPECT_FALSE(pumpUntil([&] { return requests() >= kRunaway; }, 2)) << requests() << " requests";
  EXPECT_GE(requests(), 1u);
  EXPECT_LE(requests(), 4u);

  // A change posted from elsewhere: the front end asks again, the installations try once more
  // with a new installation, and the round ends there.
  const std::size_t before = requests();
  platform::NotificationCenter::defaultCenter().post(
      "LMOInstallationIDDidChangeNotification", Value(),
      {{"LMOInstallationIDDidChangeNotification", Value("__LMOAPP_DEFAULT")}});
  EXPECT_FALSE(pumpUntil([&] { return requests() >= before + kRunaway; }, 2))
      << requests() - before << " requests";
  EXPECT_GE(requests() - before, 1u);
  EXPECT_LE(requests() - before, 4u);

  // The front end holds the identifier the installations hold now.
  std::optional<std::string> current;
  LMOInstallations::installations()->installationIDWithCompletion(
      [&](const std::optional<std::string>& fid, const platform::ErrorPtr&) { current = fid; });
  ASSERT_TRUE(pumpUntil([&] { return current.has_value(); }));
  EXPECT_TRUE(pumpUntil([&] { return MSRIdentity::installationID() == current; }));
}

INSTANTIATE_TEST_SUITE_P(Statuses, LMOAnalyticsRefusingServiceTest, ::testing::Values(404, 401),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return "Status" + std::to_string(info.param);
                         });

}  // namespace
