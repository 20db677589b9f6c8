// The core diagnostics: the bag, the message built from it, the daily heartbeat mark, and the
// telemetry sent through the real event transport on activation.
#include "core/diagnostics/LMOCoreDiagnostics.h"

#include <gtest/gtest.h>
#include <pb_decode.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "VDTCORLibrary/VDTCORRegistrar.h"
#include "VDTCORLibrary/VDTCORStorageProtocol.h"
#include "VDTCORLibrary/VDTCORTransport.h"
#include "core/LMOCoreDiagnosticsConnector.h"
#include "core/LMODiagnosticsData.h"
#include "core/tests/CoreTestSupport.h"
#include "measurement/frontend/tests/FrontendTestSupport.h"
#include "platform/app/AppConstants.h"
#include "platform/base/Files.h"
#include "platform/base/ProcessInfo.h"
#include "platform/base/UserDefaults.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/dispatch/SystemLog.h"
#include "platform/testing/UnreadableFile.h"
#include "utilities/storage/VTUHeartbeatDateStorage.h"

namespace {

using namespace core_testing;
namespace rt = platform::runtime;
using platform::Value;

// A decoded message, owning its buffers.
struct Decoded {
  LMOCoreConfiguration m = logs_proto_mobilesdk_ios_ICoreConfiguration_init_zero;
  bool ok = false;
  explicit Decoded(const platform::Bytes& bytes) {
    pb_istream_t in = pb_istream_from_buffer(bytes.data(), bytes.size());
    ok = pb_decode(&in, logs_proto_mobilesdk_ios_ICoreConfiguration_fields, &m);
  }
  ~Decoded() { pb_release(logs_proto_mobilesdk_ios_ICoreConfiguration_fields, &m); }
  static std::optional<std::string> text(const pb_bytes_array_t* a) {
    if (!a) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(a->bytes), a->size);
  }
};

// A storage for the diagnostics' target that records the events it is handed.
class RecordingStorage : public VDTCORStorageProtocol {
 public:
  void storeEvent(const VDTCOREventPtr& event, StoreCompletion completion) override {
    {
      std::lock_guard lock(mutex_);
      events_.push_back(event);
    }
    changed_.notify_all();
    if (completion) completion(true, nullptr);
  }
  bool waitForEvents(std::size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10),
                             [&] { return events_.size() >= count; });
  }
  std::vector<VDTCOREventPtr> events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  void hasEventsForTarget(long, std::function<void(bool)> c) override { c(false); }
  void batchWithEventSelector(const VDTCORStorageEventSelectorPtr&, double,
                              BatchCompletion c) override {
    c(std::nullopt, std::nullopt);
  }
  void removeBatchWithID(long, bool, std::function<void()> c) override { c(); }
  void batchIDsForTarget(long, std::function<void(std::optional<std::set<long>>)> c) override {
    c(std::nullopt);
  }
  void checkForExpirations() override {}
  void storeLibraryData(const std::optional<platform::Bytes>&, const std::string&,
                        std::function<void(platform::ErrorPtr)> c) override {
    c(nullptr);
  }
  void libraryDataForKey(const std::string&,
                         std::function<void(std::optional<platform::Bytes>, platform::ErrorPtr)> c,
                         std::function<std::optional<platform::Bytes>()>) override {
    c(std::nullopt, nullptr);
  }
  void removeLibraryDataForKey(const std::string&,
                               std::function<void(platform::ErrorPtr)> c) override {
    c(nullptr);
  }
  void storageSizeWithCallback(std::function<void(std::uint64_t)> c) override { c(0); }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<VDTCOREventPtr> events_;
};

class LMOCoreDiagnosticsTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    platform::ProcessInfo::processInfo().setDeviceModelForTesting("x86_64");
    platform::ProcessInfo::processInfo().setOperatingSystemVersionForTesting("6.1");
  }
  void TearDown() override {
    platform::ProcessInfo::processInfo().setDeviceModelForTesting(std::nullopt);
    platform::ProcessInfo::processInfo().setOperatingSystemVersionForTesting(std::nullopt);
    CoreTest::TearDown();
  }

  Value::Dictionary bag() const {
    return {{"LMOCDIsDataCollectionDefaultEnabledKey", Value(true)},
            {"LMOCDLumoUserAgentKey", Value("lumo-ios/8.10.0")},
            {"LMOCDConfigurationTypeKey", Value(1)},
            {"LMOCDVeltroAppIDKey", Value(kValidAppID)},
            {"LMOCDBundleID", Value(kTestBundleID)},
            {"LMOCDUsingOptionsFromDefaultPlistKey", Value(true)},
            {"LMOCDLibraryVersionIDKey", Value("81000000")},
            {"LMOCDllAppsCountKey", Value(1)}};
  }

  std::unique_ptr<Decoded> built(const Value::Dictionary& objects) {
    auto log = LMOCoreDiagnostics::buildLog(objects);
    if (!log) return nullptr;
    auto bytes = log->transportBytes();
    if (!bytes) return nullptr;
    return std::make_unique<Decoded>(*bytes);
  }

  // Replaces the transport's own storage for the diagnostics' target, once that is registered.
  std::shared_ptr<RecordingStorage> recordTarget1001() {
    VDTCOREnsureLoaded();
    auto storage = std::make_shared<RecordingStorage>();
    VDTCORRegistrar::sharedInstance()->registerStorage(storage, 1001);
    return storage;
  }

  void activate() {
    platform::NotificationCenter::defaultCenter().post(platform::app::kDidBecomeActiveNotification);
  }
};

TEST_F(LMOCoreDiagnosticsTest, SenderIsFoundByItsRuntimeClass) {
  auto* cls = LMOCoreDiagnosticsConnector::diagnosticsClass();
  ASSERT_NE(cls, nullptr);
  EXPECT_EQ(cls->name(), "LMOCoreDiagnostics");
  EXPECT_TRUE(rt::classConformsToProtocol(cls, "LMOCoreDiagnosticsInterop"));
  EXPECT_EQ(LMOCoreDiagnostics::sharedInstance()->transport()->mappingID(), "137");
  EXPECT_EQ(LMOCoreDiagnostics::sharedInstance()->transport()->target(), 1001);
}

TEST_F(LMOCoreDiagnosticsTest, BagFillsItsDefaultsAndRefusesWholesaleReplacement) {
  LMOApp::configureWithOptions(makeOptions(validOptions()));
  LMODiagnosticsData data;
  data.insertValue(Value("x"), "");
  data.insertValue(Value("v"), "LMOCDSdkVersionKey");
  data.insertValue(Value(), "LMOCDSdkVersionKey");
  const auto& objects = data.diagnosticObjects();
  EXPECT_EQ(objects, (Value::Dictionary{
                         {"LMOCDIsDataCollectionDefaultEnabledKey", Value(true)},
                         {"LMOCDLumoUserAgentKey", Value(LMOApp::lumoUserAgent())},
                         {"LMOCDllAppsCountKey", Value(1L)},
                     }));
  std::vector<std::string> failures;
  auto previous =
      platform::AssertionHandler::setHandler([&](const std::string&, const std::string&, int,
                                                 const std::string& d) { failures.push_back(d); });
  data.setDiagnosticObjects({});
  platform::AssertionHandler::setHandler(previous);
  EXPECT_EQ(failures, std::vector<std::string>{"Please use -insertValue:forKey:"});
}

TEST_F(LMOCoreDiagnosticsTest, MessageCarriesTheBagAndTheEnvironment) {
  writeInfoPlist({{"MinimumOSVersion", Value("15.0")},
                  {"DTXcodeBuild", Value("15A240d")},
                  {"DTSDKBuild", Value("21A5")},
                  {"LumoAppDelegateProxyEnabled", Value(false)}});
  auto values = bag();
  values["LMOCDSdkNameKey"] = Value("Messaging");
  values["LMOCDSdkVersionKey"] = Value("1.2.3");
  auto d = built(values);
  ASSERT_TRUE(d && d->ok);
  const auto& m = d->m;
  EXPECT_TRUE(m.has_configuration_type);
  EXPECT_EQ(m.configuration_type, 1);
  ASSERT_EQ(m.sdk_service_installed_count, 1) << "only the analytics class is in the process";
  EXPECT_EQ(m.sdk_service_installed[0], 18);
  EXPECT_EQ(Decoded::text(m.device_model), "x86_64");
  EXPECT_EQ(Decoded::text(m.os_version), "6.1");
  EXPECT_EQ(Decoded::text(m.app_id), kValidAppID);
  EXPECT_EQ(Decoded::text(m.bundle_id), kTestBundleID);
  EXPECT_EQ(m.pod_name, 2);
  EXPECT_EQ(Decoded::text(m.icore_version), "81000000");
  EXPECT_EQ(Decoded::text(m.sdk_version), "1.2.3");
  EXPECT_TRUE(m.has_sdk_name);
  EXPECT_EQ(m.sdk_name, 17);
  EXPECT_EQ(m.app_count, 1);
  EXPECT_EQ(Decoded::text(m.min_supported_ios_version), "15.0");
  EXPECT_TRUE(m.has_use_default_app && m.use_default_app);
  EXPECT_TRUE(m.has_deployed_in_app_store);
  EXPECT_FALSE(m.deployed_in_app_store);
  EXPECT_FALSE(m.has_dynamic_framework_count);
  EXPECT_EQ(Decoded::text(m.apple_framework_version), "15A240d-21A5");
  EXPECT_TRUE(m.has_using_zip_file);
  EXPECT_FALSE(m.using_zip_file);
  EXPECT_EQ(m.deployment_type, 4);
  EXPECT_EQ(Decoded::text(m.platform_info), "lumo-ios/8.10.0");
  EXPECT_TRUE(m.has_swizzling_enabled);
  EXPECT_FALSE(m.swizzling_enabled);
  EXPECT_TRUE(m.has_using_gdt && m.using_gdt);
}

TEST_F(LMOCoreDiagnosticsTest, MissingValuesLeaveFieldsOutOrAtTheirFallbacks) {
  writeInfoPlist({{"LumoAppDelegateProxyEnabled", Value("NO")}});
  Value::Dictionary values{{"LMOCDConfigurationTypeKey", Value(7)},
                           {"LMOCDVeltroAppIDKey", Value("")}};
  auto d = built(values);
  ASSERT_TRUE(d && d->ok);
  const auto& m = d->m;
  EXPECT_FALSE(m.has_configuration_type) << "only 1 and 2 are types";
  EXPECT_FALSE(m.has_sdk_name);
  EXPECT_FALSE(m.sdk_version);
  EXPECT_TRUE(m.has_app_count);
  EXPECT_EQ(m.app_count, 0);
  EXPECT_FALSE(m.app_id) << "empty texts are not sent";
  EXPECT_FALSE(m.bundle_id);
  EXPECT_FALSE(m.platform_info);
  EXPECT_FALSE(m.has_use_default_app);
  EXPECT_FALSE(m.icore_version);
  EXPECT_FALSE(m.min_supported_ios_version);
  EXPECT_EQ(Decoded::text(m.apple_framework_version), "-");
  EXPECT_TRUE(m.swizzling_enabled) << "only a number counts";
}

TEST_F(LMOCoreDiagnosticsTest, SwitchedOffBagBuildsNothing) {
  auto values = bag();
  values["LMOCDIsDataCollectionDefaultEnabledKey"] = Value(false);
  EXPECT_EQ(LMOCoreDiagnostics::buildLog(values), nullptr);
}

TEST_F(LMOCoreDiagnosticsTest, EncodingWritesFieldsInTagOrderWithAPackedServiceList) {
  Value::Dictionary values{{"LMOCDllAppsCountKey", Value(1)}};
  auto log = LMOCoreDiagnostics::buildLog(values);
  ASSERT_TRUE(log);
  auto bytes = *log->transportBytes();
  // Field 7, wire type 2 (packed): tag byte 0x3a, length 1, code 18.
  const platform::Bytes packed{0x3a, 0x01, 0x12};
  EXPECT_NE(std::search(bytes.begin(), bytes.end(), packed.begin(), packed.end()), bytes.end());
  // The last field written is using_gdt (36): tag 0xa0 0x02, value 1.
  ASSERT_GE(bytes.size(), 3u);
  EXPECT_EQ(platform::Bytes(bytes.end() - 3, bytes.end()), (platform::Bytes{0xa0, 0x02, 0x01}));
}

TEST_F(LMOCoreDiagnosticsTest, AnEncodingFailureHandsOnNoBytesAndIsReported) {
  auto log = LMOCoreDiagnostics::buildLog(bag());
  ASSERT_TRUE(log);
  const auto whole = log->transportBytes();
  ASSERT_TRUE(whole);
  for (size_t room : {whole->size() - 1, size_t{1}}) {
    SCOPED_TRACE(room);
    platform::SystemLogCapture capture;
    // The output cannot take the whole message: nanopb stops with "stream full".
    LMOCoreDiagnosticsLog::setOutputLimitForTesting(room);
    EXPECT_FALSE(log->transportBytes()) << "a cut message must not travel as a whole one";
    LMOCoreDiagnosticsLog::setOutputLimitForTesting(0);
    EXPECT_TRUE(
        capture.contains("[I-VDTCOR001005] Error in nanopb encoding for bytes: stream full"));
  }
  EXPECT_EQ(log->transportBytes(), whole);
}

TEST_F(LMOCoreDiagnosticsTest, HeartbeatMarkAtMostOncePerCalendarDay) {
  LMOCoreDiagnostics sender;
  auto mark = [&] {
    LMOCoreConfiguration config = logs_proto_mobilesdk_ios_ICoreConfiguration_init_zero;
    sender.setHeartbeatFlagIfNeededToConfig(&config);
    return config.has_sdk_name && config.sdk_name == 1;
  };
  EXPECT_TRUE(mark()) << "first message ever";
  EXPECT_FALSE(mark());
  clock().advance(3600);
  EXPECT_FALSE(mark()) << "same day";
  clock().advance(86400);
  EXPECT_TRUE(mark()) << "a later day";
  // A stored date later than now (clock moved back) suppresses the mark until a later day.
  VTUHeartbeatDateStorage storage("LUMO_DIAGNOSTICS_HEARTBEAT_DATE");
  storage.setHearbeatDate(Value::date(clock().now() + 2 * 86400), "LMOCoreDiagnostics");
  clock().advance(86400);
  EXPECT_FALSE(mark());
  clock().advance(2 * 86400);
  EXPECT_TRUE(mark());
}

// A date that cannot be read now is not "never marked": no mark and nothing stored until it reads.
TEST_F(LMOCoreDiagnosticsTest, HeartbeatMarkWaitsForADateThatCannotBeRead) {
  using platform::testing::UnreadableFile;
  LMOCoreDiagnostics sender;
  auto mark = [&] {
    LMOCoreConfiguration config = logs_proto_mobilesdk_ios_ICoreConfiguration_init_zero;
    sender.setHeartbeatFlagIfNeededToConfig(&config);
    return config.has_sdk_name && config.sdk_name == 1;
  };
  const auto file = platform::SandboxHome::applicationSupport() / "Veltro" / "LMOApp" /
                    "LUMO_DIAGNOSTICS_HEARTBEAT_DATE";
  for (auto cause : UnreadableFile::usableCauses()) {
    SCOPED_TRACE(UnreadableFile::name(cause));
    std::filesystem::remove(file);
    ASSERT_TRUE(mark());
    const double marked = clock().now();
    clock().advance(86400);
    {
      UnreadableFile unreadable(cause, file);
      EXPECT_FALSE(mark());
    }
    EXPECT_EQ(VTUHeartbeatDateStorage("LUMO_DIAGNOSTICS_HEARTBEAT_DATE")
                  .heartbeatDateForTag("LMOCoreDiagnostics")
                  .dateValue(),
              marked);
    EXPECT_TRUE(mark()) << "a later day, once the date reads";
  }
}

TEST_F(LMOCoreDiagnosticsTest, SameDayComparison) {
  const double midnight = 1767225600.0;  // 2026-01-01T00:00:00Z, the fake clock's zone is UTC
  struct Case {
    double a, b;
    bool expected;
  };
  for (const auto& c : std::vector<Case>{{midnight + 10, midnight + 86399, true},
                                         {midnight + 86400, midnight + 10, false},
                                         {midnight - 1, midnight + 10, true},
                                         {midnight + 90000, midnight + 86400, true}}) {
    EXPECT_EQ(LMOCoreDiagnostics::isDateInSameDayOrBeforeThan(c.a, c.b), c.expected)
        << c.a << " " << c.b;
  }
}

TEST_F(LMOCoreDiagnosticsTest, ActivationSendsTelemetryThroughTheTransport) {
  auto storage = recordTarget1001();
  LMOApp::configureWithOptions(makeOptions(validOptions()));
  activate();
  ASSERT_TRUE(storage->waitForEvents(1));
  auto event = storage->events()[0];
  EXPECT_EQ(event->mappingID(), "137");
  EXPECT_EQ(event->target(), 1001);
  EXPECT_EQ(event->qosTier(), 1);
  ASSERT_TRUE(event->serializedDataObjectBytes());
  Decoded first(*event->serializedDataObjectBytes());
  ASSERT_TRUE(first.ok);
  EXPECT_EQ(Decoded::text(first.m.app_id), kValidAppID);
  EXPECT_EQ(first.m.app_count, 1) << "after configuring the default app only";
  EXPECT_EQ(first.m.configuration_type, 1);
  EXPECT_EQ(Decoded::text(first.m.icore_version), "81000000");
  EXPECT_TRUE(first.m.has_sdk_name) << "the first message ever carries the mark";
  EXPECT_EQ(Decoded::text(first.m.platform_info), LMOApp::lumoUserAgent());

  activate();
  ASSERT_TRUE(storage->waitForEvents(2));
  Decoded second(*storage->events()[1]->serializedDataObjectBytes());
  ASSERT_TRUE(second.ok);
  EXPECT_FALSE(second.m.has_sdk_name) << "the same day sends no mark";
}

TEST_F(LMOCoreDiagnosticsTest, NoTelemetryWhileDataCollectionIsOff) {
  writeInfoPlist({{"LumoDataCollectionDefaultEnabled", Value(false)}});
  auto storage = recordTarget1001();
  LMOApp::configureWithOptions(makeOptions(validOptions()));
  activate();
  LMOApp::defaultApp()->setDataCollectionDefaultEnabled(true);
  activate();
  ASSERT_TRUE(storage->waitForEvents(1));
  LMOCoreDiagnostics::sharedInstance()->queue()->sync([] {});
  EXPECT_EQ(storage->events().size(), 1u);
  EXPECT_TRUE(VTUHeartbeatDateStorage("LUMO_DIAGNOSTICS_HEARTBEAT_DATE")
                  .heartbeatDateForTag("LMOCoreDiagnostics")
                  .isDate());
}

// A stored data-collection setting that cannot be read at an activation is not known: it may be
// the user's refusal, so nothing is sent on its strength; the next activation reads it again, and
// its value rules.
TEST_F(LMOCoreDiagnosticsTest, NoTelemetryOnADataCollectionSettingThatCannotBeRead) {
  auto storage = recordTarget1001();
  LMOApp::configureWithOptions(makeOptions(validOptions()));
  // The analytics start is done before any file is made unreadable.
  ASSERT_TRUE(frontend_testing::drainAnalytics());
  const std::string key = "/veltro/lumo/global_data_collection_enabled:__LMOAPP_DEFAULT";
  const auto file = platform::SandboxHome::preferences() /
                    (platform::UserDefaults::standardUserDefaults()->domainName() + ".plist");
  struct Row {
    const char* what;
    bool stored;  // in an earlier run
  };
  std::size_t sent = 0;
  for (const Row& row : {Row{"a refusal", false}, Row{"a consent", true}}) {
    SCOPED_TRACE(row.what);
    auto defaults = platform::UserDefaults::standardUserDefaults();
    defaults->setObject(Value(row.stored), key);
    ASSERT_TRUE(defaults->synchronize());
    for (auto cause : platform::testing::UnreadableFile::usableCauses()) {
      SCOPED_TRACE(platform::testing::UnreadableFile::name(cause));
      platform::UserDefaults::resetForTesting();  // a relaunch: the file is read anew
      platform::testing::UnreadableFile unreadable(cause, file);
      activate();
      // The bag's own default is no consent either.
      LMODiagnosticsData data;
      const Value consent = data.diagnosticObjects().at("LMOCDIsDataCollectionDefaultEnabledKey");
      EXPECT_EQ(consent, Value(false)) << consent.description();
    }
    platform::UserDefaults::resetForTesting();
    activate();
    if (row.stored) ++sent;
  }
  // Every activation above queued its sending before this last one, which sends.
  LMOApp::defaultApp()->setDataCollectionDefaultEnabled(true);
  activate();
  ++sent;
  ASSERT_TRUE(storage->waitForEvents(sent));
  LMOCoreDiagnostics::sharedInstance()->queue()->sync([] {});
  EXPECT_EQ(storage->events().size(), sent);
}

}  // namespace
