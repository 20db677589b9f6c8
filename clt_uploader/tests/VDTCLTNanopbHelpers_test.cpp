#include "clt_uploader/VDTCLTNanopbHelpers.h"

#include <gtest/gtest.h>
#include <pb_decode.h>

#include <nlohmann/json.hpp>

#include "VDTCORLibrary/VDTCORPlatform.h"
#include "clt_uploader/VDTCLTCompressionHelper.h"
#include "clt_uploader/VDTCOREvent+VDTCLTSupport.h"
#include "clt_uploader/tests/BatchWireReader.h"
#include "platform/base/ProcessInfo.h"
#include "platform/dispatch/SystemLog.h"
#include "platform/testing/PlatformTest.h"
#include "utilities/VTUGzip.h"

namespace {

class Payload : public VDTCOREventDataObject {
 public:
  explicit Payload(std::optional<platform::Bytes> bytes) : bytes_(std::move(bytes)) {}
  std::optional<platform::Bytes> transportBytes() override { return bytes_; }
  std::optional<platform::Bytes> bytes_;
};

// Reads what was encoded by the wire rules alone.
struct DecodedBatch {
  explicit DecodedBatch(const std::optional<platform::Bytes>& bytes) {
    if (!bytes) return;
    auto parsed = clt_testing::parseBatch(
        std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    ok = parsed.has_value();
    if (parsed) requests = std::move(*parsed);
  }
  std::vector<clt_testing::WireMappingRequest> requests;
  bool ok = false;
};

class VDTCLTNanopbHelpersTest : public platform::testing::PlatformTest {
 protected:
  VDTCOREventPtr makeEvent(const std::string& mappingID,
                           std::optional<platform::Bytes> payload = platform::Bytes{1, 2, 3}) {
    auto event = VDTCOREvent::initWithMappingID(mappingID, 1001);
    event->setDataObject(std::make_shared<Payload>(std::move(payload)));
    event->setClockSnapshot(VDTCORClock::snapshot());
    return event;
  }
};

TEST_F(VDTCLTNanopbHelpersTest, EventsAreGroupedByMappingID) {
  struct Case {
    std::vector<std::string> mappingIDs;
    std::map<int32_t, size_t> eventsByMapping;
  };
  for (const Case& c :
       {Case{{"137", "137", "137"}, {{137, 3}}}, Case{{"137", "138", "137"}, {{137, 2}, {138, 1}}},
        Case{{"abc"}, {{0, 1}}}}) {
    std::vector<VDTCOREventPtr> events;
    for (const auto& id : c.mappingIDs) events.push_back(makeEvent(id));
    DecodedBatch batch(VDTCLTEncodedBatchForEvents(events));
    ASSERT_TRUE(batch.ok);
    std::map<int32_t, size_t> found;
    for (const auto& request : batch.requests) {
      EXPECT_TRUE(request.hasClient);
      EXPECT_EQ(request.clientKind, 15u);
      EXPECT_EQ(request.requestTimeMs, static_cast<int64_t>(clock().now() * 1000));
      EXPECT_FALSE(request.hasTier);
      found[request.mapping.value_or(-1)] = request.events.size();
    }
    EXPECT_EQ(found, c.eventsByMapping);
  }
}

TEST_F(VDTCLTNanopbHelpersTest, PlainEventRecordHasTimesAndPayloadOnly) {
  clock().setTimeZoneOffset(-3600);
  auto event = makeEvent("137", std::nullopt);
  DecodedBatch batch(VDTCLTEncodedBatchForEvents({event}));
  ASSERT_TRUE(batch.ok);
  ASSERT_EQ(batch.requests.size(), 1u);
  ASSERT_EQ(batch.requests[0].events.size(), 1u);
  const auto& record = batch.requests[0].events[0];
  EXPECT_EQ(record.timeMs, event->clockSnapshot()->timeMillis());
  EXPECT_EQ(record.uptimeMs, event->clockSnapshot()->uptimeMilliseconds());
  EXPECT_EQ(record.timezoneOffset, -3600);
  EXPECT_FALSE(record.eventCode);
  EXPECT_FALSE(record.hasConnection);
  EXPECT_EQ(record.payload, "");  // tag 6 written with length 0
}

TEST_F(VDTCLTNanopbHelpersTest, CustomBytesCarryEventCodeAndConnection) {
  auto event = makeEvent("137");
  VDTCLTSupport::setEventCode(*event, 42);
  // connection_type 7 present, subtype absent.
  platform::Bytes blob{1, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0, 9, 0, 0, 0};
  VDTCLTSupport::setNetworkConnectionInfoData(*event, blob);
  EXPECT_EQ(VDTCLTSupport::networkConnectionInfoData(*event), blob);
  DecodedBatch batch(VDTCLTEncodedBatchForEvents({event}));
  ASSERT_TRUE(batch.ok);
  const auto& record = batch.requests[0].events[0];
  EXPECT_EQ(record.eventCode, 42);
  ASSERT_TRUE(record.hasConnection);
  EXPECT_EQ(record.connectionType, 7);
  EXPECT_FALSE(record.connectionSubtype);
  EXPECT_EQ(record.payload, std::string("\x01\x02\x03"));
}

TEST_F(VDTCLTNanopbHelpersTest, NeitherPayloadSizeNorEventCountIsLimited) {
  // Past what a 16-bit length or count could hold: every byte and every event is encoded.
  platform::Bytes big(70000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
  std::vector<VDTCOREventPtr> events{makeEvent("137", big)};
  DecodedBatch one(VDTCLTEncodedBatchForEvents(events));
  ASSERT_TRUE(one.ok);
  ASSERT_EQ(one.requests.size(), 1u);
  ASSERT_EQ(one.requests[0].events.size(), 1u);
  const auto& payload = one.requests[0].events[0].payload;
  ASSERT_TRUE(payload);
  EXPECT_EQ(payload->size(), big.size());
  EXPECT_TRUE(*payload == std::string(big.begin(), big.end()));

  // One event object repeated is enough to count past 65,535 records of one mapping.
  std::vector<VDTCOREventPtr> many(65537, makeEvent("138", platform::Bytes{5}));
  DecodedBatch lots(VDTCLTEncodedBatchForEvents(many));
  ASSERT_TRUE(lots.ok);
  ASSERT_EQ(lots.requests.size(), 1u);
  EXPECT_EQ(lots.requests[0].events.size(), 65537u);
  EXPECT_EQ(lots.requests[0].events.back().payload, std::string("\x05"));
}

TEST_F(VDTCLTNanopbHelpersTest, DeviceDescriptionFromTheSystemAndBundle) {
  platform::ProcessInfo::processInfo().setOperatingSystemVersionForTesting("17.2.1");
  writeInfoPlist({{"CFBundleIdentifier", "com.tavo.device"}, {"CFBundleVersion", "42"}});
  VDTCLTDeviceDescription device = VDTCLTBuildDeviceDescription();
  EXPECT_EQ(device.osMajorVersion, "17");
  EXPECT_EQ(device.osFullVersion, "17.2.1");
  EXPECT_EQ(device.appBuild, "42");
  EXPECT_EQ(device.language, "en");
  EXPECT_EQ(device.bundleID, "com.tavo.device");
  EXPECT_EQ(device.model, VDTCORHardwareModel());
  // And on the wire, under their tags.
  DecodedBatch batch(VDTCLTEncodedBatchForEvents({makeEvent("137")}));
  ASSERT_TRUE(batch.ok);
  ASSERT_EQ(batch.requests.size(), 1u);
  EXPECT_EQ(batch.requests[0].device, (std::map<uint32_t, std::string>{{3, "17"},
                                                                       {4, "17.2.1"},
                                                                       {5, "42"},
                                                                       {7, VDTCORHardwareModel()},
                                                                       {8, "en"},
                                                                       {11, "com.tavo.device"}}));
  platform::ProcessInfo::processInfo().setOperatingSystemVersionForTesting(std::nullopt);
}

TEST_F(VDTCLTNanopbHelpersTest, EmptyGroupIsLoggedAndLeftAbsent) {
  platform::SystemLogCapture capture;
  VDTCLTMappingRequest request = VDTCLTBuildMappingRequest(137, {});
  EXPECT_FALSE(request.message.has_client);
  EXPECT_TRUE(request.events.empty());
  EXPECT_TRUE(
      capture.contains("[I-VDTCOR001006] An empty event set can't be serialized to proto."));
}

TEST_F(VDTCLTNanopbHelpersTest, ResponseDecoding) {
  platform::ErrorPtr error;
  auto response = VDTCLTDecodeUploadResponse(platform::Bytes{0x08, 0x88, 0x27}, &error);
  EXPECT_FALSE(error);
  EXPECT_TRUE(response.has_wait_millis);
  EXPECT_EQ(response.wait_millis, 5000);
  pb_release(vdtclt_UploadResponse_fields, &response);

  // Settings and unknown fields are read and released.
  response = VDTCLTDecodeUploadResponse(
      platform::Bytes{0x1A, 0x06, 0x0A, 0x02, 0x10, 0x03, 0x10, 0x05, 0x28, 0x01}, &error);
  EXPECT_FALSE(error);
  EXPECT_TRUE(response.has_settings);
  EXPECT_FALSE(response.has_wait_millis);
  pb_release(vdtclt_UploadResponse_fields, &response);

  response = VDTCLTDecodeUploadResponse(platform::Bytes{}, &error);
  EXPECT_FALSE(error);
  EXPECT_FALSE(response.has_wait_millis);
  EXPECT_FALSE(response.has_settings);

  response = VDTCLTDecodeUploadResponse(platform::Bytes{0x08}, &error);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain(), "NSURLErrorDomain");
  EXPECT_EQ(error->code(), -1);
  EXPECT_TRUE(error->userInfo().count("nanopb error:"));
  EXPECT_FALSE(response.has_wait_millis);
}

TEST_F(VDTCLTNanopbHelpersTest, GzipHelpers) {
  EXPECT_FALSE(VDTCLTCompressionHelper::isGzipped(platform::Bytes{0x1F}));
  EXPECT_FALSE(VDTCLTCompressionHelper::gzippedData(platform::Bytes{}));
  platform::Bytes plain(5000, 'a');
  auto zipped = VDTCLTCompressionHelper::gzippedData(plain);
  ASSERT_TRUE(zipped);
  EXPECT_TRUE(VDTCLTCompressionHelper::isGzipped(*zipped));
  EXPECT_LT(zipped->size(), plain.size());
  platform::ErrorPtr error;
  auto inflated = vtu_dataByInflatingGzippedData(*zipped, &error);
  ASSERT_TRUE(inflated);
  EXPECT_EQ(*inflated, plain);
}

TEST_F(VDTCLTNanopbHelpersTest, RequestFieldsReadWhatTheAccessorsRead) {
  // The batch reads both values in one pass; it must agree with the accessors on any bytes.
  for (std::string text :
       {R"({"event_code_info":"42","network_connection_info":"AQAAAAcAAAA="})",
        R"({"event_code_info":7})", R"({"event_code_info":"1","event_code_info":"2"})",
        R"({"inner":{"event_code_info":"9"},"network_connection_info":null})",
        R"(["event_code_info","5"])", R"({"event_code_info":"x12"})",
        R"({"event_code_info":"-3", "other":[1,{"a":"b"}]})", "event_code_info",
        R"({"event_code_info":"5")", R"({"network_connection_info":["AQ=="]})",
        " {\t\"event_code_info\" :\n\"8\" , \"x\":\"y\" }\r\n", R"({"event_code_info":"\u0039"})",
        R"({"event_code_info":"5",})", R"({"event_code_info":"5"} x)", R"({"x":"event_code_info"})",
        "{\"name\":\"caf\xc3\xa9\",\"event_code_info\":\"6\"}", "{\"event_code_info\":\"\xff\"}",
        R"({"event_code_info":"1","event_code_info":true})", R"({"event\u005fcode_info":"4"})"}) {
    auto event = makeEvent("137");
    event->setCustomBytes(platform::Bytes(text.begin(), text.end()));
    auto fields = VDTCLTSupport::requestFields(*event);
    EXPECT_EQ(fields.eventCode, VDTCLTSupport::eventCode(*event)) << text;
    EXPECT_EQ(fields.networkConnectionInfo, VDTCLTSupport::networkConnectionInfoData(*event))
        << text;
  }
}

TEST_F(VDTCLTNanopbHelpersTest, CustomBytesAccessors) {
  auto event = makeEvent("137");
  EXPECT_FALSE(VDTCLTSupport::eventCode(*event));
  EXPECT_FALSE(VDTCLTSupport::needsNetworkConnectionInfoPopulated(*event));
  VDTCLTSupport::setNeedsNetworkConnectionInfoPopulated(*event, false);
  EXPECT_FALSE(event->customBytes());

  VDTCLTSupport::setEventCode(*event, 42);
  auto parsed = nlohmann::json::parse(event->customBytes()->begin(), event->customBytes()->end());
  EXPECT_EQ(parsed["event_code_info"], "42");
  EXPECT_EQ(VDTCLTSupport::eventCode(*event), 42);

  VDTCLTSupport::setNeedsNetworkConnectionInfoPopulated(*event, true);
  VDTCLTSupport::setNetworkConnectionInfoData(*event, platform::Bytes(16, 0));
  EXPECT_TRUE(VDTCLTSupport::needsNetworkConnectionInfoPopulated(*event));
  VDTCLTSupport::setEventCode(*event, std::nullopt);
  parsed = nlohmann::json::parse(event->customBytes()->begin(), event->customBytes()->end());
  EXPECT_FALSE(parsed.contains("event_code_info"));
  EXPECT_TRUE(parsed.contains("network_connection_info"));

  VDTCLTSupport::setEventCode(*event, 7);
  VDTCLTSupport::setNeedsNetworkConnectionInfoPopulated(*event, false);
  parsed = nlohmann::json::parse(event->customBytes()->begin(), event->customBytes()->end());
  EXPECT_EQ(parsed, nlohmann::json({{"event_code_info", "7"}}));

  // Bytes that are not JSON are left alone by every setter.
  std::string junk = "not json";
  event->setCustomBytes(platform::Bytes(junk.begin(), junk.end()));
  VDTCLTSupport::setEventCode(*event, 1);
  VDTCLTSupport::setNeedsNetworkConnectionInfoPopulated(*event, true);
  EXPECT_EQ(event->customBytes(), platform::Bytes(junk.begin(), junk.end()));
  EXPECT_FALSE(VDTCLTSupport::eventCode(*event));
}

}  // namespace
