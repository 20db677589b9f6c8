#include "measurement/foundation/MSRMonitor.h"

#include <gtest/gtest.h>

#include <future>

#include "measurement/foundation/MSRASLLogger.h"
#include "measurement/foundation/MSRConstants.h"
#include "measurement/foundation/MSRError.h"
#include "measurement/foundation/MSRException.h"
#include "measurement/foundation/tests/MSRTestSupport.h"
#include "platform/base/Files.h"
#include "platform/base/UserDefaults.h"
#include "platform/runtime/Runtime.h"
#include "platform/testing/PlatformTest.h"

namespace {

using platform::Value;

class MSRMonitorTest : public platform::testing::PlatformTest {
 protected:
  std::shared_ptr<MSRMonitor> makeMonitor() {
    sink_ = std::make_shared<msr_test::RecordingLogger>();
    auto monitor = MSRMonitor::initWithLogLevel(6, sink_, 11400);
    monitor->flush();
    return monitor;
  }
  Value storedSample() {
    return platform::UserDefaults::initWithSuiteName(kMSRMonitorSuiteName)
        ->objectForKey(kMSRHealthMonitorKey);
  }
  // The front end's answer, found by class name as the monitor looks it up.
  void makeAppStoreInstall() {
    platform::runtime::registerClass(kMSRAEUClassName, "", 0, [](platform::runtime::Class& c) {
      c.addClassMethod("isFAS", [](platform::Object&) -> bool { return true; });
    });
  }
  std::shared_ptr<msr_test::RecordingLogger> sink_;
};

TEST_F(MSRMonitorTest, LevelTablesDecideSilenceMonitoringAndNames) {
  struct Row {
    std::int64_t level;
    bool silent, monitorable;
    const char* name;  // nullptr: none
    long vtuLevel;
  };
  const Row rows[] = {
      {0, false, false, "ERROR", 3},   {1, false, true, "ERROR", 3},
      {2, true, true, "ERROR", 3},     {3, false, false, "WARNING", 4},
      {4, false, true, "WARNING", 4},  {5, true, true, "WARNING", 4},
      {6, false, false, "NOTICE", 5},  {7, false, false, "DEBUG", 7},
      {8, false, false, nullptr, 7},   {9, true, true, nullptr, 4},
      {-1, true, true, nullptr, 4},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.level);
    EXPECT_EQ(MSRMonitor::isSilentLevel(r.level), r.silent);
    EXPECT_EQ(MSRMonitor::isMonitorableLevel(r.level), r.monitorable);
    auto name = MSRMonitor::logLevelDescriptionFromLogLevel(r.level);
    if (r.name) {
      EXPECT_EQ(name, std::optional<std::string>(r.name));
    } else {
      EXPECT_FALSE(name);
    }
    EXPECT_EQ(MSRASLLogger::VTULoggerLevelFromLogLevel(r.level), r.vtuLevel);
  }
}

TEST_F(MSRMonitorTest, ContextEncodingNeverRevealsTextAndBucketsNumbers) {
  auto error = msr_errorWithCode(3, "Transaction failed", "db");
  auto foreign = platform::Error::make("", 1);
  auto exception = std::make_shared<MSRException>("Boom", "reason", std::vector<std::string>{});
  const std::pair<Value, std::string> rows[] = {
      {Value(), ""},
      {Value::null(), ""},
      {Value("secret text"), "-"},
      {Value(42), "42"},
      {Value(99), "99"},
      {Value(-99), "-99"},
      {Value(100), "100...999"},
      {Value(150), "100...999"},
      {Value(-150), "-999...-100"},
      {Value(-100), "-999...-100"},
      {Value(1000), "1000...9999"},
      {Value(2.5), "2"},
      {Value(error), kMSRErrorDomain},
      {Value(foreign), "-"},
      {Value(exception), "Boom"},
      {Value(Value::Array{}), "?"},
      {Value::data(std::string_view("x")), "?"},
  };
  for (const auto& [context, expected] : rows) {
    SCOPED_TRACE(context.description());
    EXPECT_EQ(MSRMonitor::encodedStringWithContextObject(context), expected);
  }
  // The 64-bit extremes stay within their ranges rather than overflowing.
  EXPECT_EQ(MSRMonitor::encodedStringWithContextObject(Value(INT64_MIN)),
            "-9223372036854775808...-1000000000000000000");
  EXPECT_EQ(MSRMonitor::encodedStringWithContextObject(Value(INT64_MAX)),
            "1000000000000000000...9223372036854775807");
  EXPECT_EQ(MSRMonitor::encodedStringWithContextArray({}, true), "");
  EXPECT_EQ(MSRMonitor::encodedStringWithContextArray({Value("a"), Value(7)}, true), "-, 7");
  EXPECT_EQ(MSRMonitor::encodedStringWithContextArray({Value("a"), Value(7)}, false), "-,7");
}

TEST_F(MSRMonitorTest, NumberRangesFollowTheExactCountOfDigits) {
  const std::pair<std::int64_t, std::string> rows[] = {
      {999999999999999, "100000000000000...999999999999999"},
      {1000000000000000, "1000000000000000...9999999999999999"},
      {9007199254740993, "1000000000000000...9999999999999999"},  // no double holds it
      {9999999999999999, "1000000000000000...9999999999999999"},
      {99999999999999999, "10000000000000000...99999999999999999"},
      {999999999999999999, "100000000000000000...999999999999999999"},
      {-999999999999999, "-999999999999999...-100000000000000"},
      {-9999999999999999, "-9999999999999999...-1000000000000000"},
      {-999999999999999999, "-999999999999999999...-100000000000000000"},
      // From 10^18 on, 10q-1 does not fit: the range ends at the 64-bit limit, one range a side.
      {1000000000000000000, "1000000000000000000...9223372036854775807"},
      {-1000000000000000000, "-9223372036854775808...-1000000000000000000"},
      {INT64_MIN + 1, "-9223372036854775808...-1000000000000000000"},
  };
  for (const auto& [number, expected] : rows) {
    SCOPED_TRACE(number);
    EXPECT_EQ(MSRMonitor::encodedStringWithContextObject(Value(number)), expected);
  }
  // Every power of ten and the number just below it, on both sides.
  std::int64_t power = 100;
  for (int digits = 3; digits <= 18; ++digits, power *= 10) {
    SCOPED_TRACE(digits);
    const std::string range = std::to_string(power) + "..." + std::to_string(power * 10 - 1);
    const std::string negative = std::to_string(-(power * 10 - 1)) + "..." + std::to_string(-power);
    EXPECT_EQ(MSRMonitor::encodedStringWithContextObject(Value(power)), range);
    EXPECT_EQ(MSRMonitor::encodedStringWithContextObject(Value(power * 10 - 1)), range);
    EXPECT_EQ(MSRMonitor::encodedStringWithContextObject(Value(-power)), negative);
    EXPECT_EQ(MSRMonitor::encodedStringWithContextObject(Value(-(power * 10 - 1))), negative);
  }
}

TEST_F(MSRMonitorTest, ConsoleTextNamesMessagesAndContexts) {
  EXPECT_EQ(MSRMonitor::stringWithLogMessage(std::nullopt, 1, {}, false), "(Message was nil)");
  EXPECT_EQ(MSRMonitor::stringWithLogMessage("", 1, {}, false), "(Message was empty)");
  EXPECT_EQ(MSRMonitor::stringWithLogMessage("Hi", 1, {}, false), "Hi");
  EXPECT_EQ(MSRMonitor::stringWithLogMessage("Hi", 1, {Value::null(), Value("x"), Value(3)}, false),
            "Hi: (nil), x, 3");
  EXPECT_EQ(MSRMonitor::stringWithLogMessage("Hi", 1, {Value("x"), Value(7)}, true), "Hi: -, 7");
  auto ex = std::make_shared<MSRException>(
      "Name", "went wrong",
      std::vector<std::string>{"0 a b c d", "1 a b c d", "2 lib 0x1 -[MSRThing run] + 12"});
  EXPECT_EQ(MSRMonitor::stringWithLogMessage("Hi", 1, {Value(ex)}, false),
            "Hi: -[MSRThing run]: went wrong");
}

TEST_F(MSRMonitorTest, LastSymbolComesFromTheFirstEngineFrameElseTheName) {
  using Frames = std::vector<std::string>;
  const std::pair<Frames, std::optional<std::string>> rows[] = {
      {Frames{"0 x", "1 y"}, "Name"},
      {Frames{"0", "1", "2 lib 0x1 foo + 4", "3 lib 0x2 msrHelper + 8"}, "msrHelper"},
      {Frames{"0", "1", "2 lib 0x1 -[MSRA b] + 4"}, "-[MSRA b]"},
      {Frames{"0", "1", "short msr line"}, "Name"},
  };
  for (const auto& [frames, expected] : rows) {
    auto ex = std::make_shared<MSRException>("Name", "r", frames);
    EXPECT_EQ(MSRMonitor::lastMSRSymbolFromException(ex), expected);
  }
  EXPECT_FALSE(MSRMonitor::lastMSRSymbolFromException(nullptr));
}

TEST_F(MSRMonitorTest, ContextFromErrorsJoinsEngineErrorContextsOnly) {
  auto a = msr_errorWithCode(3, "x", "ctxA");
  auto b = msr_errorWithCode(3, "x");
  auto c = platform::Error::make("other", 1, {{kMSRMonitorContextKey, Value("nope")}});
  auto d = msr_errorWithCode(2, "", "ctxD");
  EXPECT_EQ(MSRMonitorContextFromErrors({Value(a), Value(b), Value(c), Value("s"), Value(d)}),
            "ctxA,ctxD");
  EXPECT_EQ(MSRMonitorContextFromErrors({}), "");
}

TEST_F(MSRMonitorTest, LogCoreRoutesToConsoleAndSampleByLevel) {
  auto monitor = makeMonitor();
  monitor->logWithLevel(1, 10, "console and sample", Value(150));
  monitor->logWithLevel(0, 11, "console only");
  monitor->logWithLevel(2, 12, "sample only");
  monitor->logWithLevel(7, 13, "debug is not loggable by default");
  monitor->logWithLevel(-3, 14, "negative goes to the sample");
  monitor->flush();
  const auto records = sink_->records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].message, "console and sample: 150");
  EXPECT_EQ(records[0].tag, "<LumoMeasurement>");
  EXPECT_EQ(records[0].code, 10);
  EXPECT_EQ(records[1].code, 11);
  const Value sample = storedSample();
  ASSERT_TRUE(sample.isArray());
  EXPECT_EQ(sample.at(1).int64Value(), 3);  // levels 1, 2 and -3
}

TEST_F(MSRMonitorTest, SilentLevelStaysOffTheConsoleEvenInDebugMode) {
  auto monitor = makeMonitor();
  monitor->setDebugModeEnabled(true);
  monitor->flush();
  const auto before = sink_->records().size();
  monitor->logWithLevel(2, 12, "only sampled", Value("x"));
  monitor->flush();
  EXPECT_EQ(sink_->records().size(), before);
  const Value sample = storedSample();
  ASSERT_TRUE(sample.isArray());
  EXPECT_EQ(*sample.at(2).string(), "1E_11400:only sampled");
  EXPECT_EQ(*sample.at(0).string(), "-");
}

TEST_F(MSRMonitorTest, Level8NeedsVerboseLoggingAndFirstSwitchOnMessageIsDropped) {
  auto monitor = makeMonitor();
  monitor->setDebugModeEnabled(true);
  monitor->logWithLevel(8, 99, "verbose only");
  monitor->setVerboseLoggingEnabled(true);  // 24003 is dropped: verbose was still off
  monitor->logWithLevel(8, 100, "now shown");
  monitor->setVerboseLoggingEnabled(false);  // 24004 passes: verbose was on
  monitor->flush();
  std::vector<std::int64_t> codes;
  for (const auto& r : sink_->records()) codes.push_back(r.code);
  EXPECT_EQ(codes, (std::vector<std::int64_t>{24000, 100, 24004}));
  EXPECT_EQ(monitor->logLevel(), 7);
}

TEST_F(MSRMonitorTest, EngineErrorAddsItsMonitorContextToTheSample) {
  auto monitor = makeMonitor();
  monitor->logWithLevel(1, 3000, "Database failed", Value(msr_errorWithCode(3, "x", "sqlite:5")),
                        Value(42));
  monitor->flush();
  const Value sample = storedSample();
  ASSERT_TRUE(sample.isArray());
  EXPECT_EQ(*sample.at(0).string(),
            std::string(kMSRErrorDomain) + ",42,sqlite:5");
}

TEST_F(MSRMonitorTest, SwitchesPersistAndDriveTheUtilitiesLogger) {
  auto monitor = makeMonitor();
  auto standard = platform::UserDefaults::standardUserDefaults();
  monitor->setDebugModeEnabled(true);
  EXPECT_TRUE(monitor->isDebugModeEnabled());
  EXPECT_EQ(monitor->logLevel(), 7);
  EXPECT_EQ(vtu::testing::maximumLevel(), 7);
  EXPECT_TRUE(standard->boolForKey(kMSRDebugModeKey));
  monitor->setVerboseLoggingEnabled(true);
  EXPECT_EQ(monitor->logLevel(), 8);
  EXPECT_TRUE(standard->boolForKey(kMSRVerboseLoggingKey));
  monitor->setDebugModeEnabled(false);
  EXPECT_EQ(vtu::testing::maximumLevel(), 5);
  EXPECT_TRUE(standard->objectForKey(kMSRDebugModeKey).isNil());
  monitor->setVerboseLoggingEnabled(false);
  EXPECT_EQ(monitor->logLevel(), 6);
  EXPECT_TRUE(standard->objectForKey(kMSRVerboseLoggingKey).isNil());
}

TEST_F(MSRMonitorTest, LaunchArgumentsAndStoredFlagsSetTheSwitchesAtCreation) {
  struct Row {
    std::vector<std::string> args;
    bool storedDebug;
    bool debug, verbose;
  };
  const Row rows[] = {
      {{"-MSRAnalyticsDebugEnabled"}, false, true, false},
      {{"-LMODebugEnabled", "-noMSRAnalyticsDebugEnabled"}, false, false, false},
      {{}, true, true, false},
      {{"-noLMOAnalyticsDebugEnabled"}, true, false, false},
      {{"-LMOAnalyticsVerboseLoggingEnabled"}, false, false, true},
      {{"-MSRAnalyticsVerboseLoggingDisabled", "-MSRAnalyticsVerboseLoggingEnabled"}, false,
       false, false},
  };
  for (const Row& r : rows) {
    setArguments(r.args);
    platform::UserDefaults::resetForTesting();
    auto standard = platform::UserDefaults::standardUserDefaults();
    standard->removeObjectForKey(kMSRVerboseLoggingKey);
    if (r.storedDebug) {
      standard->setObject(Value(true), kMSRDebugModeKey);
    } else {
      standard->removeObjectForKey(kMSRDebugModeKey);
    }
    auto monitor = makeMonitor();
    SCOPED_TRACE(r.args.empty() ? std::string("stored") : r.args[0]);
    EXPECT_EQ(monitor->isDebugModeEnabled(), r.debug);
    EXPECT_EQ(monitor->isVerboseLoggingEnabled(), r.verbose);
    EXPECT_FALSE(monitor->deferToLMOLogger());  // no app-core configuration class here
  }
}

TEST_F(MSRMonitorTest, AppStoreInstallationKeepsBothSwitchesOff) {
  makeAppStoreInstall();
  setArguments({"-LMODebugEnabled", "-MSRAnalyticsVerboseLoggingEnabled"});
  auto monitor = makeMonitor();
  EXPECT_FALSE(monitor->isDebugModeEnabled());
  EXPECT_FALSE(monitor->isVerboseLoggingEnabled());
  monitor->setDebugModeEnabled(true);
  EXPECT_FALSE(monitor->isDebugModeEnabled());
  EXPECT_EQ(monitor->logLevel(), 6);
}

TEST_F(MSRMonitorTest, SinkEscapesPercentAndFormatsTheCode) {
  vtu::testing::startCapturingLines();
  auto monitor = MSRMonitor::initWithLibraryVersion(11400);
  monitor->setLogTag("<Tag>");
  monitor->logWithLevel(3, 42, "100% sure", Value(5));
  monitor->flush();
  vtu::testing::flushLoggingQueue();
  bool found = false;
  for (const auto& l : vtu::testing::capturedLines()) {
    if (l.line.find("<Tag>[I-ACS000042] 100%% sure: 5") != std::string::npos) {
      found = true;
      EXPECT_EQ(l.level, 4);
    }
  }
  EXPECT_TRUE(found);
}

TEST_F(MSRMonitorTest, QueuedWritesOfAGoneMonitorDoNothing) {
  auto sink = std::make_shared<msr_test::RecordingLogger>();
  auto monitor = MSRMonitor::initWithLogLevel(6, sink, 1);
  monitor->flush();
  auto queue = monitor->monitorQueue();
  std::promise<void> gate;
  queue->async([f = gate.get_future().share()] { f.wait(); });
  monitor->logWithLevel(0, 1, "written after the monitor is gone");
  monitor.reset();
  gate.set_value();
  queue->sync([] {});
  EXPECT_TRUE(sink->records().empty());
}

}  // namespace
