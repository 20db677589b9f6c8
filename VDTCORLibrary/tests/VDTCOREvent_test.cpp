#include "VDTCORLibrary/VDTCOREvent.h"

#include <gtest/gtest.h>

#include <limits>

#include "VDTCORLibrary/VDTCORClock.h"
#include "VDTCORLibrary/VDTCORConsoleLogger.h"
#include "VDTCORLibrary/VDTCORConstants.h"
#include "platform/dispatch/SystemLog.h"
#include "platform/runtime/Runtime.h"
#include "platform/testing/PlatformTest.h"

namespace {

class BytesObject : public VDTCOREventDataObject {
 public:
  explicit BytesObject(std::string text) : text_(std::move(text)) {}
  std::optional<platform::Bytes> transportBytes() override {
    ++calls;
    return platform::Bytes(text_.begin(), text_.end());
  }
  std::string text_;
  int calls = 0;
};

size_t countLines(const platform::SystemLogCapture& capture, std::string_view text) {
  size_t n = 0;
  for (const auto& line : capture.lines()) n += line.message.find(text) != std::string::npos;
  return n;
}

class VDTCOREventTest : public platform::testing::PlatformTest {};

TEST_F(VDTCOREventTest, InvalidMappingIDOrTargetGivesNoEventAndOneAssertionEach) {
  struct Case {
    std::optional<std::string> mappingID;
    long target;
    size_t assertions;
  };
  for (const Case& c : {Case{"", 1001, 1}, Case{std::nullopt, 1001, 1}, Case{"137", 0, 1},
                        Case{"137", -5, 1}, Case{"", 0, 2}}) {
    platform::SystemLogCapture capture;
    EXPECT_EQ(VDTCOREvent::initWithMappingID(c.mappingID, c.target), nullptr);
    EXPECT_EQ(countLines(capture, "[VeltroEventTransport][I-VDTCOR001006] ("), c.assertions);
  }
  platform::SystemLogCapture capture;
  EXPECT_NE(VDTCOREvent::initWithMappingID("137", 1001), nullptr);
  EXPECT_TRUE(capture.lines().empty());  // debug lines stay below the threshold
}

TEST_F(VDTCOREventTest, NewEventsHaveDistinctHexIDsAndDefaults) {
  auto a = VDTCOREvent::initWithMappingID("137", 1001);
  auto b = VDTCOREvent::initWithMappingID("137", 1001);
  ASSERT_TRUE(a && b);
  EXPECT_NE(a->eventID(), b->eventID());
  for (const auto& id : {a->eventID(), b->eventID()}) {
    EXPECT_EQ(id.size(), 32u);
    EXPECT_EQ(id.find_first_not_of("0123456789ABCDEF"), std::string::npos) << id;
  }
  EXPECT_EQ(a->qosTier(), 3);
  EXPECT_EQ(a->clockSnapshot(), nullptr);
  EXPECT_DOUBLE_EQ(*a->expirationDate(), clock().now() + 604800);
}

TEST_F(VDTCOREventTest, CopyTakesPayloadAgainAndHasItsOwnExpiry) {
  auto event = VDTCOREvent::initWithMappingID("137", 1001);
  auto payload = std::make_shared<BytesObject>("one");
  event->setDataObject(payload);
  event->setQosTier(5);
  event->setClockSnapshot(VDTCORClock::snapshot());
  event->setCustomBytes(platform::Bytes{1, 2});
  payload->text_ = "two";
  clock().advance(100);
  auto copy = event->copy();
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->eventID(), event->eventID());
  EXPECT_EQ(copy->qosTier(), 5);
  EXPECT_EQ(copy->clockSnapshot(), event->clockSnapshot());
  EXPECT_EQ(copy->customBytes(), event->customBytes());
  EXPECT_EQ(copy->serializedDataObjectBytes(), (platform::Bytes{'t', 'w', 'o'}));
  EXPECT_DOUBLE_EQ(*copy->expirationDate(), *event->expirationDate() + 100);
}

TEST_F(VDTCOREventTest, ArchiveRoundTripKeepsEverythingButThePayloadObject) {
  EXPECT_TRUE(platform::KeyedUnarchiver::hasDecoder("VDTCOREvent"));
  EXPECT_TRUE(platform::KeyedUnarchiver::hasDecoder("VDTCORClock"));
  auto event = VDTCOREvent::initWithMappingID("137", 1001);
  event->setDataObject(std::make_shared<BytesObject>("payload"));
  event->setQosTier(4);
  event->setClockSnapshot(VDTCORClock::snapshot());
  event->setCustomBytes(platform::Bytes{'{', '}'});
  auto bytes = platform::KeyedArchiver::archivedDataWithRootObject(platform::Value(event));
  ASSERT_TRUE(bytes);
  platform::ErrorPtr error;
  auto decoded = platform::KeyedUnarchiver::unarchivedObjectOfClass("VDTCOREvent", *bytes, &error)
                     .objectAs<VDTCOREvent>();
  ASSERT_TRUE(decoded) << (error ? error->localizedDescription() : "");
  EXPECT_EQ(decoded->eventID(), event->eventID());
  EXPECT_EQ(decoded->mappingID(), "137");
  EXPECT_EQ(decoded->target(), 1001);
  EXPECT_EQ(decoded->qosTier(), 4);
  ASSERT_TRUE(decoded->clockSnapshot());
  EXPECT_TRUE(decoded->clockSnapshot()->isEqual(*event->clockSnapshot()));
  EXPECT_EQ(decoded->customBytes(), event->customBytes());
  EXPECT_EQ(decoded->expirationDate(), event->expirationDate());
  EXPECT_EQ(decoded->serializedDataObjectBytes(), event->serializedDataObjectBytes());
  EXPECT_EQ(decoded->dataObject(), nullptr);
  EXPECT_TRUE(decoded->isEqual(*event));
}

TEST_F(VDTCOREventTest, CopyOfADecodedEventKeepsItsPayloadBytes) {
  auto event = VDTCOREvent::initWithMappingID("137", 1001);
  event->setDataObject(std::make_shared<BytesObject>("payload"));
  auto bytes = platform::KeyedArchiver::archivedDataWithRootObject(platform::Value(event));
  auto decoded = platform::KeyedUnarchiver::unarchivedObjectOfClass("VDTCOREvent", *bytes)
                     .objectAs<VDTCOREvent>();
  ASSERT_TRUE(decoded);
  ASSERT_EQ(decoded->dataObject(), nullptr);
  auto copy = decoded->copy();
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->serializedDataObjectBytes(), event->serializedDataObjectBytes());
  EXPECT_EQ(copy->eventID(), event->eventID());
}

// An archive written by hand, so keys can be left out.
class PartialEvent : public platform::Object, public platform::SecureCoding {
 public:
  explicit PartialEvent(bool withBytes) : withBytes_(withBytes) {}
  std::string className() const override { return "VDTCOREvent"; }
  void encodeWithCoder(platform::KeyedArchiver& coder) const override {
    coder.encodeString("137", kVDTCOREventMappingIDKey);
    coder.encodeInteger(1001, kVDTCOREventTargetKey);
    if (withBytes_) coder.encodeData(platform::Bytes{9}, kVDTCOREventSerializedDataObjectBytesKey);
  }
  bool withBytes_;
};

TEST_F(VDTCOREventTest, DecodingFillsAMissingIDAndRefusesMissingPayloadBytes) {
  auto withBytes = platform::KeyedArchiver::archivedDataWithRootObject(
      platform::Value(std::make_shared<PartialEvent>(true)));
  auto decoded = platform::KeyedUnarchiver::unarchivedObjectOfClass("VDTCOREvent", *withBytes)
                     .objectAs<VDTCOREvent>();
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->eventID().size(), 32u);
  EXPECT_EQ(decoded->qosTier(), 0);
  EXPECT_FALSE(decoded->expirationDate());

  auto withoutBytes = platform::KeyedArchiver::archivedDataWithRootObject(
      platform::Value(std::make_shared<PartialEvent>(false)));
  EXPECT_FALSE(platform::KeyedUnarchiver::unarchivedObjectOfClass("VDTCOREvent", *withoutBytes)
                   .objectAs<VDTCOREvent>());
}

TEST_F(VDTCOREventTest, ClockOrdering) {
  VDTCORClock a(1000, 0, 5, 0), sameA(1000, 0, 5, 7);
  EXPECT_FALSE(a.isAfter(sameA));
  EXPECT_FALSE(sameA.isAfter(a));
  VDTCORClock laterBoot(10, 0, 6, 0);
  EXPECT_TRUE(laterBoot.isAfter(a));
  EXPECT_FALSE(a.isAfter(laterBoot));
  // Offsets are added to the milliseconds as they are.
  VDTCORClock east(1000, 1, 5, 0);
  EXPECT_TRUE(east.isAfter(a));
  EXPECT_TRUE(VDTCORClock::clockSnapshotInTheFuture(900000)->isAfter(*VDTCORClock::snapshot()));
}

TEST_F(VDTCOREventTest, FutureAndOrderingArithmeticSaturates) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  auto now = VDTCORClock::snapshot();
  for (uint64_t millis : {uint64_t{INT64_MAX}, uint64_t{UINT64_MAX}, uint64_t{1} << 63}) {
    auto far = VDTCORClock::clockSnapshotInTheFuture(millis);
    EXPECT_EQ(far->timeMillis(), kMax) << millis;
    EXPECT_TRUE(far->isAfter(*now)) << millis;
    EXPECT_FALSE(now->isAfter(*far)) << millis;
  }
  // Offsets at the ends of the range: compared without wrapping.
  VDTCORClock top(kMax, 3600, 5, 0), bottom(kMin, -3600, 5, 0), zero(0, 0, 5, 0);
  EXPECT_TRUE(top.isAfter(zero));
  EXPECT_FALSE(bottom.isAfter(zero));
  EXPECT_TRUE(zero.isAfter(bottom));
  EXPECT_FALSE(zero.isAfter(top));

  // A wall clock far outside the range of milliseconds gives the nearest bound, not garbage.
  clock().setNow(1e300);
  EXPECT_EQ(VDTCORClock::snapshot()->timeMillis(), kMax);
  clock().setNow(-1e300);
  EXPECT_EQ(VDTCORClock::snapshot()->timeMillis(), kMin);
}

TEST_F(VDTCOREventTest, SnapshotFollowsThePlatformClock) {
  clock().setTimeZoneOffset(3600);
  auto snap = VDTCORClock::snapshot();
  EXPECT_EQ(snap->timeMillis(), static_cast<int64_t>(clock().now() * 1000));
  EXPECT_EQ(snap->timezoneOffsetSeconds(), 3600);
  EXPECT_EQ(snap->uptimeMilliseconds(), static_cast<int64_t>(clock().uptime() * 1000));
  EXPECT_EQ(snap->kernelBootTime(), static_cast<int64_t>(clock().bootTime() * 1e6) * 1000);
}

TEST_F(VDTCOREventTest, ConsoleThresholdAndMessageCodes) {
  platform::SystemLogCapture capture;
  VDTCORLogToConsole(0, 1, "hidden %@", "x");
  EXPECT_TRUE(capture.lines().empty());
  VDTCORLogToConsole(1000, 4, "shown %@ %ld", "x", 7L);
  ASSERT_EQ(capture.lines().size(), 1u);
  EXPECT_EQ(capture.lines()[0].message, "[VeltroEventTransport][I-VDTCOR001000] shown x 7");
  capture.clear();
  VDTCORLogAssertionFailure(true, "file.cpp", 12, "broken %d", 3);
  EXPECT_EQ(capture.lines()[0].message,
            "[VeltroEventTransport][I-VDTCOR001007] (file.cpp:12) : broken 3");
}

TEST_F(VDTCOREventTest, AHostAssertHelperReplacesAssertionLines) {
  int calls = 0;
  platform::runtime::registerClass("VDTCORAssertHelper", "NSObject", 0,
                                   [&](platform::runtime::Class& cls) {
                                     cls.addClassMethod("assertionBlock", [&](platform::Object&) {
                                       return std::function<void()>([&] { ++calls; });
                                     });
                                   });
  platform::SystemLogCapture capture;
  EXPECT_EQ(VDTCOREvent::initWithMappingID("", 1), nullptr);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(capture.lines().empty());
}

}  // namespace
