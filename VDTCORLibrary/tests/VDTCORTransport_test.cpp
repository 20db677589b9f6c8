#include "VDTCORLibrary/VDTCORTransport.h"

#include <gtest/gtest.h>

#include <mutex>

#include "VDTCORLibrary/VDTCORRegistrar.h"
#include "VDTCORLibrary/VDTCORTransformer.h"
#include "VDTCORLibrary/tests/TransportTestSupport.h"
#include "platform/dispatch/SystemLog.h"
#include "platform/testing/PlatformTest.h"

namespace {

using transport_testing::RecordingStorage;

constexpr long kTarget = 4242;  // served by no storage of the library itself

class Payload : public VDTCOREventDataObject {
 public:
  std::optional<platform::Bytes> transportBytes() override { return platform::Bytes{7, 7}; }
};

class TierTransformer : public VDTCOREventTransformer {
 public:
  explicit TierTransformer(long tier) : tier_(tier) {}
  VDTCOREventPtr transformVDTEvent(const VDTCOREventPtr& event) override {
    seen.push_back(event);
    auto result = VDTCOREvent::initWithMappingID(event->mappingID(), event->target());
    result->setQosTier(tier_);
    result->setClockSnapshot(event->clockSnapshot());
    return result;
  }
  long tier_;
  std::vector<VDTCOREventPtr> seen;
};

class DroppingTransformer : public VDTCOREventTransformer {
 public:
  VDTCOREventPtr transformVDTEvent(const VDTCOREventPtr&) override { return nullptr; }
};

class MuteTransformer : public VDTCOREventTransformer {
 public:
  bool respondsToTransformVDTEvent() const override { return false; }
  VDTCOREventPtr transformVDTEvent(const VDTCOREventPtr& e) override { return e; }
};

class VDTCORTransportTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    storage = std::make_shared<RecordingStorage>();
    VDTCORRegistrar::sharedInstance()->registerStorage(storage, kTarget);
  }
  // Runs every queued transformation.
  void drain() {
    VDTCORTransformer::sharedInstance()->eventWritingQueue()->sync([] {});
  }

  std::shared_ptr<RecordingStorage> storage;
};

TEST_F(VDTCORTransportTest, InvalidArgumentsGiveNoTransport) {
  platform::SystemLogCapture capture;
  EXPECT_EQ(VDTCORTransport::initWithMappingID("", std::nullopt, 1001), nullptr);
  EXPECT_EQ(VDTCORTransport::initWithMappingID("137", std::nullopt, 0), nullptr);
  EXPECT_TRUE(capture.contains("A mapping ID cannot be nil or empty"));
  EXPECT_TRUE(capture.contains("A target cannot be negative or 0"));
  auto transport = VDTCORTransport::initWithMappingID("137", std::nullopt, 1001);
  ASSERT_TRUE(transport);
  EXPECT_EQ(transport->transformerInstance(), VDTCORTransformer::sharedInstance());
  auto event = transport->eventForTransport();
  EXPECT_EQ(event->mappingID(), "137");
  EXPECT_EQ(event->target(), 1001);
}

TEST_F(VDTCORTransportTest, TelemetryEventIsCopiedStampedAndStored) {
  auto transport = VDTCORTransport::initWithMappingID("137", std::nullopt, kTarget);
  auto event = transport->eventForTransport();
  auto payload = std::make_shared<Payload>();
  event->setDataObject(payload);
  clock().advance(50);
  bool called = false, written = false;
  transport->sendTelemetryEvent(event, [&](bool ok, platform::ErrorPtr error) {
    called = true;
    written = ok && !error;
  });
  drain();
  EXPECT_TRUE(called && written);
  EXPECT_EQ(event->qosTier(), 1);
  EXPECT_EQ(event->dataObject(), payload);
  EXPECT_EQ(event->clockSnapshot(), nullptr);
  ASSERT_EQ(storage->stored.size(), 1u);
  const auto& stored = storage->stored[0];
  EXPECT_NE(stored, event);
  EXPECT_EQ(stored->eventID(), event->eventID());
  EXPECT_EQ(stored->qosTier(), 1);
  EXPECT_EQ(stored->serializedDataObjectBytes(), (platform::Bytes{7, 7}));
  ASSERT_TRUE(stored->clockSnapshot());
  EXPECT_EQ(stored->clockSnapshot()->timeMillis(), static_cast<int64_t>(clock().now() * 1000));
  EXPECT_DOUBLE_EQ(*stored->expirationDate(), clock().now() + 604800);
}

TEST_F(VDTCORTransportTest, DataEventAtTelemetryTierIsReportedAndStillSent) {
  auto transport = VDTCORTransport::initWithMappingID("137", std::nullopt, kTarget);
  auto event = transport->eventForTransport();
  event->setQosTier(1);
  platform::SystemLogCapture capture;
  transport->sendDataEvent(event);
  drain();
  EXPECT_TRUE(capture.contains("Use -sendTelemetryEvent, please."));
  ASSERT_EQ(storage->stored.size(), 1u);
  EXPECT_EQ(storage->stored[0]->qosTier(), 1);
}

TEST_F(VDTCORTransportTest, TransformersChainAndCanDropEvents) {
  auto first = std::make_shared<TierTransformer>(5);
  auto second = std::make_shared<TierTransformer>(4);
  auto chained = VDTCORTransport::initWithMappingID(
      "137", std::vector<VDTCOREventTransformerPtr>{first, second}, kTarget);
  chained->sendDataEvent(chained->eventForTransport());
  drain();
  ASSERT_EQ(second->seen.size(), 1u);
  EXPECT_EQ(second->seen[0]->qosTier(), 5);
  ASSERT_EQ(storage->stored.size(), 1u);
  EXPECT_EQ(storage->stored[0]->qosTier(), 4);

  for (VDTCOREventTransformerPtr stopper :
       {VDTCOREventTransformerPtr(std::make_shared<DroppingTransformer>()),
        VDTCOREventTransformerPtr(std::make_shared<MuteTransformer>())}) {
    auto transport = VDTCORTransport::initWithMappingID(
        "137", std::vector<VDTCOREventTransformerPtr>{stopper}, kTarget);
    platform::SystemLogCapture capture;
    bool called = false, ok = true;
    platform::ErrorPtr error;
    transport->sendDataEvent(transport->eventForTransport(), [&](bool w, platform::ErrorPtr e) {
      called = true;
      ok = w;
      error = e;
    });
    drain();
    EXPECT_TRUE(called);
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, nullptr);
  }
  EXPECT_EQ(storage->stored.size(), 1u);
}

TEST_F(VDTCORTransportTest, NilEventsAndUnservedTargetsAreReportedAsFailures) {
  // Each completion is called once, with no and an error, and nothing is stored.
  auto unserved = VDTCORTransport::initWithMappingID("137", std::nullopt, 777);
  auto served = VDTCORTransport::initWithMappingID("137", std::nullopt, kTarget);
  struct Case {
    std::shared_ptr<VDTCORTransport> transport;
    VDTCOREventPtr event;
  };
  for (const Case& c : {Case{unserved, unserved->eventForTransport()}, Case{served, nullptr}}) {
    platform::SystemLogCapture capture;
    int calls = 0;
    bool written = true;
    platform::ErrorPtr error;
    c.transport->sendDataEvent(c.event, [&](bool ok, platform::ErrorPtr e) {
      ++calls;
      written = ok;
      error = e;
    });
    drain();
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(written);
    EXPECT_TRUE(error);
  }
  EXPECT_TRUE(storage->stored.empty());
}

TEST_F(VDTCORTransportTest, RegistrarFansOutOncePerRegistration) {
  auto registrar = std::make_shared<VDTCORRegistrar>();
  auto fresh = std::make_shared<RecordingStorage>();
  for (long target : {999, 1000, 1001, 1002, 1003}) registrar->registerStorage(fresh, target);
  registrar->appWillTerminate(nullptr);
  EXPECT_EQ(fresh->terminateCalls, 5);
  auto replacement = std::make_shared<RecordingStorage>();
  registrar->registerStorage(replacement, 1001);
  EXPECT_EQ(registrar->targetToStorage().at(1001), replacement);
  EXPECT_EQ(registrar->targetToStorage().size(), 5u);
}

}  // namespace
