// The transport starts with the program: nothing in these tests makes a transport or asks for the
// start-up work, yet storage and uploader are registered and the upload timer runs.
#include <gtest/gtest.h>

#include "VDTCORLibrary/VDTCORFlatFileStorage.h"
#include "VDTCORLibrary/VDTCORPlatform.h"
#include "VDTCORLibrary/VDTCORReachability.h"
#include "VDTCORLibrary/VDTCORRegistrar.h"
#include "clt_uploader/VDTCLTUploader.h"
#include "clt_uploader/tests/BatchWireReader.h"
#include "platform/base/Files.h"
#include "platform/network/tests/LoopbackServer.h"
#include "platform/testing/PlatformTest.h"

namespace {

class Payload : public VDTCOREventDataObject {
 public:
  std::optional<platform::Bytes> transportBytes() override { return platform::Bytes{4, 2}; }
};

class VDTCLTStartUpTest : public platform::testing::PlatformTest {};

TEST_F(VDTCLTStartUpTest, EventsOfAnEarlierRunGoOutWithoutANewSend) {
  // What an earlier run left in the store.
  auto event = VDTCOREvent::initWithMappingID("137", 1001);
  event->setDataObject(std::make_shared<Payload>());
  event->setClockSnapshot(VDTCORClock::snapshot());
  auto path = VDTCORFlatFileStorage::pathForTarget(1001, event->eventID(), event->qosTier(),
                                                   *event->expirationDate(), event->mappingID());
  ASSERT_TRUE(VDTCORArchiveObject(platform::Value(event), path, nullptr));

  platform::testing::LoopbackServer server;
  server.server().Post(
      "/batch", [](const httplib::Request&, httplib::Response& reply) { reply.status = 200; });
  server.start();
  VDTCLTUploader::setTestServerURL(server.url("/batch"));
  VDTCORReachability::sharedInstance().setFlagsForTesting(platform::kReachabilityFlagsReachable);

  // The main loop turns and time passes; the timer's first firing uploads the old event.
  ASSERT_TRUE(pumpUntil(
      [&] {
        clock().advance(0.1);
        return !server.received().empty();
      },
      20));
  auto batch = clt_testing::parseBatch(server.received()[0].body);
  ASSERT_TRUE(batch);
  ASSERT_EQ(batch->size(), 1u);
  ASSERT_EQ((*batch)[0].events.size(), 1u);
  EXPECT_EQ((*batch)[0].events[0].payload, std::string("\x04\x02", 2));
  EXPECT_TRUE(pumpUntil([&] { return !platform::files::exists(path); }, 20));

  auto storages = VDTCORRegistrar::sharedInstance()->targetToStorage();
  auto uploaders = VDTCORRegistrar::sharedInstance()->targetToUploader();
  EXPECT_EQ(storages.size(), 5u);
  EXPECT_EQ(uploaders.size(), 4u);
  server.stop();
}

}  // namespace
