// The engine: its one shared instance, the components it starts on the worker queue, and raw
// events stored in the real database file under the sandbox home while collection is enabled.
#include "measurement/engine/MSRMeasurement.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <vector>

#include "measurement/engine/MSRDeferredSwitch.h"
#include "measurement/engine/tests/MSRStoredEvents.h"
#include "measurement/foundation/MSRAlarm.h"
#include "measurement/foundation/MSRMonitor.h"
#include "measurement/foundation/MSRScheduler.h"
#include "measurement/storage/MSRFileLocations.h"
#include "platform/base/Files.h"
#include "platform/base/ProcessInfo.h"
#include "platform/base/UserDefaults.h"
#include "platform/testing/PlatformTest.h"
#include "platform/testing/UnreadableFile.h"
#include "utilities/logger/VTULogger.h"

namespace {

using platform::Value;
using msr_testing::storedRawEvents;

constexpr const char* kAppID = "1:123456:ios:5c2e9a7b13d04f68";
constexpr const char* kEnabledStateKey = "/veltro/measurement/measurement_enabled_state";

class MSRMeasurementTest : public platform::testing::PlatformTest {
 protected:
  // An engine of its own whose components have started.
  std::shared_ptr<MSRMeasurement> startedEngine(const Value::Dictionary& options = {}) {
    auto engine = std::make_shared<MSRMeasurement>(kAppID, options);
    engine->startComponents();
    drain(*engine);
    return engine;
  }
  static void drain(MSRMeasurement& engine) {
    engine.scheduler()->dispatchSyncOnWorkerQueueBlockID("test", [] {});
  }
  static bool log(MSRMeasurement& engine, const std::string& origin, bool isPublic,
                  const std::string& name, const Value::Dictionary& parameters) {
    bool stored = false;
    engine.scheduler()->dispatchSyncOnWorkerQueueBlockID("test", [&] {
      stored = engine.logEventOnWorkerQueue(origin, isPublic, name, 1767225600.5, &parameters);
    });
    return stored;
  }
  // The engine's lines written so far that hold `code` ("I-ACS0NNNNN").
  static std::vector<std::string> linesWith(const std::string& code) {
    MSRMeasurement::monitor()->flush();
    vtu::testing::flushLoggingQueue();
    std::vector<std::string> found;
    for (const auto& line : vtu::testing::capturedLines()) {
      if (line.line.find(code) != std::string::npos) found.push_back(line.line);
    }
    return found;
  }
  // Runs statements on the database file through a connection of its own.
  static void execute(const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(MSRApplicationSupportPath("veltro-lumo-measurement.sql").c_str(), &db),
              SQLITE_OK);
    char* message = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK)
        << (message ? message : "") << " in " << sql;
    sqlite3_free(message);
    sqlite3_close(db);
  }
  static std::string queryText(const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(MSRApplicationSupportPath("veltro-lumo-measurement.sql").c_str(), &db);
    sqlite3_stmt* statement = nullptr;
    std::string text;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      const unsigned char* column = sqlite3_column_text(statement, 0);
      if (column) text = reinterpret_cast<const char*>(column);
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return text;
  }
};

TEST_F(MSRMeasurementTest, SharedEngineIsMadeOnceAndOpensItsDatabaseOnTheWorkerQueue) {
  EXPECT_FALSE(MSRMeasurement::sharedInstance());
  auto engine = MSRMeasurement::sharedInstanceWithAppID(kAppID, {});
  ASSERT_TRUE(engine);
  EXPECT_EQ(MSRMeasurement::sharedInstanceWithAppID("1:1:ios:ff", {}), engine);
  EXPECT_EQ(MSRMeasurement::sharedInstance(), engine);
  EXPECT_EQ(engine->appID(), kAppID);
  EXPECT_EQ(engine->scheduler()->workerQueue()->label(), "com.veltro.lma.worker");
  EXPECT_EQ(engine->alarm()->name(), "Measurement timer");
  drain(*engine);
  EXPECT_TRUE(engine->database());
  EXPECT_TRUE(std::filesystem::exists(MSRApplicationSupportPath("veltro-lumo-measurement.sql")));
}

TEST_F(MSRMeasurementTest, ContextEncodingIsOnExactlyForAStoreBuild) {
  // A store build runs on a device, never in a simulator.
  platform::ProcessInfo::processInfo().setDeviceModelForTesting("arm64");
  for (bool storeBuild : {true, false, true}) {
    std::filesystem::remove_all(bundleDir() / "SC_Info");
    if (storeBuild) std::filesystem::create_directories(bundleDir() / "SC_Info");
    startedEngine();
    EXPECT_EQ(MSRMeasurement::monitor()->encodeContexts(), storeBuild);
  }
}

TEST_F(MSRMeasurementTest, EventIsStoredWithItsParametersAndMetadataAndSurvivesReopening) {
  {
    auto engine = startedEngine();
    EXPECT_TRUE(log(*engine, "app", true, "sound_play", {{"id", Value("tavo_hello")}}));
  }
  auto engine = startedEngine();
  EXPECT_TRUE(log(*engine, "auto", false, "_err", {{"_err", Value(5)}}));
  auto events = storedRawEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].name, "sound_play");
  EXPECT_EQ(events[0].origin, "app");
  EXPECT_EQ(events[0].parameters.at("id"), Value("tavo_hello"));
  EXPECT_DOUBLE_EQ(events[0].timestamp, 1767225600.5);
  EXPECT_EQ(events[0].metadataAppID, kAppID);
  EXPECT_EQ(events[1].name, "_err");
  EXPECT_EQ(events[1].origin, "auto");
  EXPECT_EQ(events[1].parameters.at("_err"), Value(5));
}

TEST_F(MSRMeasurementTest, CollectionSwitchesDecideWhetherEventsAreStored) {
  // The answers, in turn, of an enabled option that was not known at start (nullopt: it still
  // cannot be read).
  using Answers = std::vector<std::optional<bool>>;
  struct Case {
    const char* what;
    Value::Dictionary options;
    long long persistedState;  // 0: none stored
    bool stored;
    std::optional<Answers> deferred = std::nullopt;  // the enabled option is not known at start
    std::optional<bool> thenStored = std::nullopt;   // a second event, logged after the first
    std::size_t asked = 0;                           // how often the deferred option is asked
  };
  const Value::Dictionary disabled{{"LUMO_ANALYTICS_COLLECTION_ENABLED", Value(false)}};
  const Value::Dictionary enabled{{"LUMO_ANALYTICS_COLLECTION_ENABLED", Value(true)}};
  const Value::Dictionary deactivated{{"LUMO_ANALYTICS_COLLECTION_DEACTIVATED", Value(true)},
                                      {"LUMO_ANALYTICS_COLLECTION_ENABLED", Value(true)}};
  const Value::Dictionary deactivatedOnly{{"LUMO_ANALYTICS_COLLECTION_DEACTIVATED", Value(true)}};
  const Case cases[] = {
      {"no switch at all", {}, 0, true},
      {"options enable", enabled, 0, true},
      {"options disable", disabled, 0, false},
      {"persisted enabled beats the options", disabled, 1, true},
      {"persisted disabled beats the options", enabled, 2, false},
      {"deactivation beats everything", deactivated, 1, false},
      {"an option not known at start reads as on", {}, 0, true, Answers{true}, true, 1},
      {"an option not known at start reads as off", {}, 0, false, Answers{false}, false, 1},
      {"an option that cannot be read stores nothing until it reads",
       {},
       0,
       false,
       Answers{std::nullopt, std::nullopt, false},
       false,
       3},
      {"an option that cannot be read, then reads as on",
       {},
       0,
       false,
       Answers{std::nullopt, std::nullopt, true},
       true,
       3},
      {"persisted disabled beats an option not known", {}, 2, false, Answers{}, false, 0},
      {"persisted enabled beats an option not known", {}, 1, true, Answers{}, true, 0},
      {"deactivation beats an option not known", deactivatedOnly, 0, false, Answers{}, false, 0},
  };
  auto defaults = platform::UserDefaults::standardUserDefaults();
  std::size_t expected = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.persistedState) {
      defaults->setObject(Value(c.persistedState), kEnabledStateKey);
    } else {
      defaults->removeObjectForKey(kEnabledStateKey);
    }
    auto options = c.options;
    auto asked = std::make_shared<std::size_t>(0);
    if (c.deferred) {
      options["LUMO_ANALYTICS_COLLECTION_ENABLED"] = Value(std::make_shared<MSRDeferredSwitch>(
          [answers = *c.deferred, asked]() -> std::optional<bool> {
            if (*asked >= answers.size()) {
              ADD_FAILURE() << "asked again after it answered";
              return std::nullopt;
            }
            return answers[(*asked)++];
          }));
    }
    auto engine = startedEngine(options);
    bool measurementEnabled = false;
    engine->scheduler()->dispatchSyncOnWorkerQueueBlockID(
        "test", [&] { measurementEnabled = engine->isMeasurementEnabled(); });
    EXPECT_EQ(measurementEnabled, c.stored);
    EXPECT_EQ(log(*engine, "app", true, "sound_play", {{"id", Value("x")}}), c.stored);
    if (c.stored) ++expected;
    if (c.thenStored) {
      EXPECT_EQ(log(*engine, "app", true, "sound_share", {{"id", Value("x")}}), *c.thenStored);
      if (*c.thenStored) ++expected;
    }
    EXPECT_EQ(storedRawEvents().size(), expected);
    EXPECT_EQ(*asked, c.asked);
  }
}

// A persisted refusal that cannot be read at launch is no answer: the switch stays unknown, an
// event handled while it still cannot be read is not stored, and once it reads again the
// events logged after the launch are decided by it.
TEST_F(MSRMeasurementTest, APersistedSwitchThatCannotBeReadAtStartIsReadAgainAtTheNextNeed) {
  vtu::testing::startCapturingLines();
  auto defaults = platform::UserDefaults::standardUserDefaults();
  ASSERT_TRUE(defaults->setObject(Value(2), kEnabledStateKey));
  ASSERT_TRUE(defaults->synchronize());
  platform::UserDefaults::resetForTesting();  // a relaunch
  const auto file = platform::SandboxHome::preferences() / (defaults->domainName() + ".plist");
  std::shared_ptr<MSRMeasurement> engine;
  {
    platform::testing::UnreadableFile unreadable(platform::testing::UnreadableFile::Cause::LinkLoop,
                                                 file);
    engine = startedEngine();
    EXPECT_FALSE(MSRMeasurement::collectionSwitch().known);
    EXPECT_FALSE(log(*engine, "app", true, "while_unreadable", {}));
    EXPECT_EQ(linesWith("[I-ACS031006]").size(), 1u);
  }
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(log(*engine, "app", true, "sound_play", {}));
  EXPECT_TRUE(storedRawEvents().empty());
  EXPECT_EQ(linesWith("[I-ACS031006]").size(), 1u);
  // Read once it reads: later callers are answered from memory.
  const MSRCollectionSwitch now = MSRMeasurement::collectionSwitch();
  EXPECT_TRUE(now.known);
  EXPECT_EQ(now.value, std::optional<bool>(false));
}

TEST_F(MSRMeasurementTest, EventsThatBreakTheRulesAreNotStoredButBadParametersOnlyLoseThemselves) {
  struct Case {
    const char* origin;
    bool isPublic;
    const char* name;
  };
  auto engine = startedEngine();
  for (const Case& c : {Case{"", true, "sound_play"}, Case{"app", true, "1bad"},
                        Case{"app", true, "lumo_x"}, Case{"app", false, "bad name"}}) {
    EXPECT_FALSE(log(*engine, c.origin, c.isPublic, c.name, {})) << c.name;
  }
  EXPECT_TRUE(storedRawEvents().empty());

  EXPECT_TRUE(log(*engine, "app", true, "sound_play",
                  {{"id", Value("a")}, {"lumo_source", Value("b")}}));
  auto events = storedRawEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].parameters.count("lumo_source"), 0u);
  EXPECT_EQ(events[0].parameters.at("_err"), Value(14)) << "a reserved parameter prefix";
  EXPECT_EQ(events[0].parameters.at("id"), Value("a"));
}

TEST_F(MSRMeasurementTest, EventsThatCannotBeStoredAreReportedWithTheirName) {
  vtu::testing::startCapturingLines();
  {
    SCOPED_TRACE("an origin no event may have");
    auto engine = startedEngine();
    EXPECT_FALSE(log(*engine, "", true, "sound_play", {}));
    auto lines = linesWith("[I-ACS031004]");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("Event not logged. Invalid event. Event name: sound_play"),
              std::string::npos)
        << lines[0];
  }
  {
    SCOPED_TRACE("the table refuses the row");
    auto engine = startedEngine();
    execute(
        "CREATE TRIGGER refuse BEFORE INSERT ON raw_events "
        "BEGIN SELECT RAISE(ABORT, 'refused'); END");
    EXPECT_FALSE(log(*engine, "app", true, "sound_share", {{"id", Value("x")}}));
    auto lines = linesWith("[I-ACS031003]");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("Failed to store the event. Event name, error: sound_share"),
              std::string::npos)
        << lines[0];
    execute("DROP TRIGGER refuse");
    EXPECT_TRUE(log(*engine, "app", true, "sound_share", {{"id", Value("x")}}));
    EXPECT_EQ(storedRawEvents().size(), 1u) << "the refused row left nothing behind";
  }
  {
    SCOPED_TRACE("no database file can be opened");
    std::filesystem::remove_all(MSRApplicationSupportPath("veltro-lumo-measurement.sql"));
    const auto blocked = MSRApplicationSupportPath("veltro-lumo-measurement.sql");
    std::filesystem::create_directories(blocked + "/in-the-way");
    auto engine = startedEngine();
    EXPECT_FALSE(engine->database());
    EXPECT_EQ(linesWith("[I-ACS031000]").size(), 1u);
    EXPECT_FALSE(log(*engine, "app", true, "sound_favorited", {{"id", Value("x")}}));
    auto lines = linesWith("[I-ACS031002]");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("Event name: sound_favorited"), std::string::npos) << lines[0];
  }
}

TEST_F(MSRMeasurementTest, ADatabaseThatCouldNotBeOpenedIsOpenedAgainAfterABackOff) {
  vtu::testing::startCapturingLines();
  const auto path = MSRApplicationSupportPath("veltro-lumo-measurement.sql");
  std::filesystem::create_directories(path + "/in-the-way");
  auto engine = startedEngine();
  EXPECT_FALSE(engine->database());
  const std::size_t opens = linesWith("[I-ACS031000]").size();
  EXPECT_GE(opens, 1u);

  // Freed, but within the back-off: the event is lost as before and no open is tried.
  std::filesystem::remove_all(path);
  EXPECT_FALSE(log(*engine, "app", true, "too_soon", {}));
  EXPECT_EQ(linesWith("[I-ACS031002]").size(), 1u);
  EXPECT_EQ(linesWith("[I-ACS031000]").size(), opens);
  EXPECT_FALSE(std::filesystem::exists(path));

  // Once the back-off has passed, the next event opens the file and is stored.
  clock().advance(10);
  EXPECT_TRUE(log(*engine, "app", true, "later", {}));
  EXPECT_TRUE(log(*engine, "app", true, "later_still", {}));
  EXPECT_EQ(msr_testing::storedEventNames(), (std::vector<std::string>{"later", "later_still"}));
  EXPECT_EQ(linesWith("[I-ACS031002]").size(), 1u);

  // Blocked again for a fresh engine: each retry that fails waits out another back-off.
  std::filesystem::remove_all(path);
  std::filesystem::create_directories(path + "/in-the-way");
  auto blocked = startedEngine();
  ASSERT_FALSE(blocked->database());
  const std::size_t failedOpens = linesWith("[I-ACS031000]").size();
  clock().advance(10);
  EXPECT_FALSE(log(*blocked, "app", true, "still_blocked", {}));
  EXPECT_GT(linesWith("[I-ACS031000]").size(), failedOpens) << "the open was tried again";
  const std::size_t retried = linesWith("[I-ACS031000]").size();
  EXPECT_FALSE(log(*blocked, "app", true, "blocked_again", {}));
  EXPECT_EQ(linesWith("[I-ACS031000]").size(), retried) << "not again before the next back-off";
  EXPECT_EQ(linesWith("[I-ACS031002]").size(), 3u);
}

TEST_F(MSRMeasurementTest, CollectionSwitchedOffDropsEventsQuietly) {
  vtu::testing::startCapturingLines();
  VTULoggerSetMaximumLevel(kVTULoggerLevelDebug);  // debug lines too
  auto engine = startedEngine({{"LUMO_ANALYTICS_COLLECTION_ENABLED", Value(false)}});
  EXPECT_FALSE(log(*engine, "app", true, "sound_play", {{"id", Value("x")}}));
  EXPECT_TRUE(linesWith("sound_play").empty());
  EXPECT_TRUE(storedRawEvents().empty());
}

TEST_F(MSRMeasurementTest, AFullTableMakesRoomForTheNewestEventByDroppingTheOldest) {
  vtu::testing::startCapturingLines();
  {
    auto engine = startedEngine();
    ASSERT_TRUE(log(*engine, "app", true, "oldest", {}));
  }
  EXPECT_TRUE(linesWith("[I-ACS031005]").empty()) << "nothing was deleted";
  // Fill the table up to its limit with copies of that row.
  const std::string columns =
      queryText("SELECT group_concat(name) FROM pragma_table_info('raw_events') WHERE pk = 0");
  ASSERT_FALSE(columns.empty());
  execute(
      "WITH RECURSIVE n(i) AS (SELECT 2 UNION ALL SELECT i + 1 FROM n WHERE i < 100000) "
      "INSERT INTO raw_events (" +
      columns + ") SELECT " + columns + " FROM raw_events, n WHERE raw_events.rowid = 1");
  ASSERT_EQ(queryText("SELECT COUNT(*) FROM raw_events"), "100000");

  auto engine = startedEngine();
  ASSERT_TRUE(log(*engine, "app", true, "newest", {}));
  EXPECT_EQ(queryText("SELECT COUNT(*) FROM raw_events"), "100000");
  EXPECT_EQ(queryText("SELECT MIN(rowid) FROM raw_events"), "2") << "the oldest went";
  EXPECT_EQ(queryText("SELECT name FROM raw_events ORDER BY rowid DESC LIMIT 1"), "newest");
  // The loss is told, with the number of events it cost.
  auto lines = linesWith("[I-ACS031005]");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("Deleted the oldest raw events to stay within the stored event limit. "
                          "Count: 1"),
            std::string::npos)
      << lines[0];
  ASSERT_TRUE(log(*engine, "app", true, "newer", {}));
  EXPECT_EQ(queryText("SELECT COUNT(*) FROM raw_events"), "100000");
  EXPECT_EQ(queryText("SELECT MIN(rowid) FROM raw_events"), "3");
  EXPECT_EQ(linesWith("[I-ACS031005]").size(), 2u);

  // Rows that arrived from elsewhere beyond the limit go at once, all counted in one line.
  execute("INSERT INTO raw_events (" + columns + ") SELECT " + columns +
          " FROM raw_events ORDER BY rowid LIMIT 4");
  auto restarted = startedEngine();
  ASSERT_TRUE(log(*restarted, "app", true, "after_overflow", {}));
  EXPECT_EQ(queryText("SELECT COUNT(*) FROM raw_events"), "100000");
  lines = linesWith("[I-ACS031005]");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[2].find("limit. Count: 5"), std::string::npos) << lines[2];
}

}  // namespace
