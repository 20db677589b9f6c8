#include "clt_uploader/VDTCLTUploader.h"

#include <gtest/gtest.h>

#include <atomic>

#include "VDTCORLibrary/VDTCORFlatFileStorage.h"
#include "VDTCORLibrary/VDTCORReachability.h"
#include "VDTCORLibrary/VDTCORRegistrar.h"
#include "clt_uploader/VDTCLTCompressionHelper.h"
#include "clt_uploader/VDTCLTNanopbHelpers.h"
#include "clt_uploader/tests/BatchWireReader.h"
#include "platform/base/Files.h"
#include "platform/dispatch/SystemLog.h"
#include "platform/network/tests/LoopbackServer.h"
#include "platform/network/tests/ScriptedProxy.h"
#include "platform/testing/PlatformTest.h"

namespace fs = std::filesystem;

namespace {

class Payload : public VDTCOREventDataObject {
 public:
  std::optional<platform::Bytes> transportBytes() override {
    return platform::Bytes(200, 'p');  // compresses well: the body goes gzip-compressed
  }
};

// Answers every batch with the status, headers and body the test sets.
struct Answer {
  int status = 200;
  std::string body;
  std::map<std::string, std::string> headers;
};

class VDTCLTUploaderTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    VDTCOREnsureLoaded();
    storage = VDTCORFlatFileStorage::sharedInstance();
    uploader = VDTCLTUploader::sharedInstance();
    server.server().Post("/batch", [this](const httplib::Request&, httplib::Response& reply) {
      std::lock_guard lock(mutex);
      reply.status = answer.status;
      for (const auto& [name, value] : answer.headers) reply.set_header(name, value);
      if (!answer.body.empty()) reply.set_content(answer.body, "application/x-protobuf");
    });
    server.server().Post("/moved", [this](const httplib::Request&, httplib::Response& reply) {
      reply.status = 301;
      reply.set_header("Location", server.url("/batch"));
    });
    server.start();
    VDTCLTUploader::setTestServerURL(server.url("/batch"));
    // The coordinator's own uploads (forced by tier-4 events) see no network, so only the
    // uploads a test asks for reach the server.
    VDTCORReachability::sharedInstance().setFlagsForTesting(6);
  }
  void TearDown() override {
    server.stop();
    PlatformTest::TearDown();
  }

  void setAnswer(Answer a) {
    std::lock_guard lock(mutex);
    answer = std::move(a);
  }

  VDTCOREventPtr storeEvent(long tier, long target = 1001) {
    auto event = VDTCOREvent::initWithMappingID("137", target);
    event->setDataObject(std::make_shared<Payload>());
    event->setQosTier(tier);
    event->setClockSnapshot(VDTCORClock::snapshot());
    bool stored = false;
    storage->storeEvent(event, [&](bool ok, platform::ErrorPtr) { stored = ok; });
    storage->storageQueue()->sync([] {});
    EXPECT_TRUE(stored);
    return event;
  }

  void upload(long target, long conditions) {
    uploader->uploadTarget(target, conditions);
    ASSERT_TRUE(pumpUntil([&] { return uploader->operationCount() == 0; }, 20));
    storage->storageQueue()->sync([] {});
  }

  size_t storedEvents(long target = 1001) {
    auto entries = platform::files::contentsOfDirectory(
        VDTCORFlatFileStorage::eventDataStoragePath() / std::to_string(target));
    return entries ? entries->size() : 0;
  }

  // The events of every mapping request of the posted body.
  size_t postedEvents(const platform::testing::ReceivedRequest& request) {
    auto batch = clt_testing::parseBatch(request.body);
    EXPECT_TRUE(batch);
    size_t count = 0;
    for (const auto& mapping : batch.value_or(std::vector<clt_testing::WireMappingRequest>{})) {
      count += mapping.events.size();
    }
    return count;
  }

  int64_t nowMillis() { return static_cast<int64_t>(clock().now() * 1000); }

  // The next upload to target 1001 waits the 15-minute fallback (an answer that carried no wait)
  // or, when no answer came, is not held at all.
  void expectFallbackPacing(bool paced) {
    auto next = uploader->nextUploadTimeForTarget(1001);
    if (paced) {
      ASSERT_TRUE(next);
      EXPECT_EQ(next->timeMillis(), nowMillis() + 900000);
    } else {
      EXPECT_EQ(next, nullptr);
    }
  }

  platform::testing::LoopbackServer server;
  std::mutex mutex;
  Answer answer;
  std::shared_ptr<VDTCORFlatFileStorage> storage;
  std::shared_ptr<VDTCLTUploader> uploader;
};

TEST_F(VDTCLTUploaderTest, RegistersItselfForItsTargets) {
  auto uploaders = VDTCORRegistrar::sharedInstance()->targetToUploader();
  for (long target : {1000, 1001, 1002, 1003}) EXPECT_EQ(uploaders[target], uploader) << target;
  EXPECT_EQ(uploaders.count(999), 0u);
}

TEST_F(VDTCLTUploaderTest, DeliveredBatchIsDeletedAndTheServerPacesTheNextUpload) {
  for (int i = 0; i < 3; ++i) storeEvent(3);
  setAnswer({200, std::string("\x08\x88\x27", 3), {}});
  upload(1001, 4);
  auto received = server.received();
  ASSERT_EQ(received.size(), 1u);
  const auto& request = received[0];
  EXPECT_EQ(request.header("X-Veltro-Api-Key").size(), 39u);
  EXPECT_EQ(request.header("X-Veltro-Api-Key"), VDTCLTUploader::LMLAndCRLAndINTAPIKey());
  EXPECT_EQ(request.header("Content-Type"), "application/x-protobuf");
  EXPECT_EQ(request.header("Content-Encoding"), "gzip");
  EXPECT_EQ(request.header("User-Agent"), "eventtransport/0.0.1 lmlsupport/0.0.1 apple/");
  EXPECT_EQ(postedEvents(request), 3u);
  EXPECT_EQ(storedEvents(), 0u);
  auto next = uploader->nextUploadTimeForTarget(1001);
  ASSERT_TRUE(next);
  EXPECT_EQ(next->timeMillis(), nowMillis() + 5000);

  // The server asked to wait: nothing goes out before, and goes again after.
  storeEvent(3);
  upload(1001, 4);
  EXPECT_EQ(server.received().size(), 1u);
  clock().advance(6);
  upload(1001, 4);
  EXPECT_EQ(server.received().size(), 2u);
}

TEST_F(VDTCLTUploaderTest, ALargePayloadGoesOutWholeBeforeItsEventIsDeleted) {
  class Large : public VDTCOREventDataObject {
   public:
    std::optional<platform::Bytes> transportBytes() override {
      platform::Bytes bytes(70000);
      for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i % 251);
      return bytes;
    }
  };
  auto event = VDTCOREvent::initWithMappingID("137", 1001);
  event->setDataObject(std::make_shared<Large>());
  event->setClockSnapshot(VDTCORClock::snapshot());
  storage->storeEvent(event, nullptr);
  storage->storageQueue()->sync([] {});
  setAnswer({200, "", {}});
  upload(1001, 4);
  auto received = server.received();
  ASSERT_EQ(received.size(), 1u);
  auto batch = clt_testing::parseBatch(received[0].body);
  ASSERT_TRUE(batch);
  ASSERT_EQ(batch->size(), 1u);
  ASSERT_EQ((*batch)[0].events.size(), 1u);
  const auto& bytes = *event->serializedDataObjectBytes();
  const auto& posted = (*batch)[0].events[0].payload;
  ASSERT_TRUE(posted);
  EXPECT_EQ(posted->size(), bytes.size());
  EXPECT_TRUE(*posted == std::string(bytes.begin(), bytes.end()));
  EXPECT_EQ(storedEvents(), 0u);
}

TEST_F(VDTCLTUploaderTest, ServerTroubleKeepsTheEventsAndHonoursRetryAfter) {
  for (int i = 0; i < 2; ++i) storeEvent(3);
  setAnswer({503, "", {{"Retry-After", "120"}}});
  upload(1001, 4);
  EXPECT_EQ(server.received().size(), 1u);
  EXPECT_EQ(storedEvents(), 2u);
  EXPECT_EQ(uploader->nextUploadTimeForTarget(1001)->timeMillis(), nowMillis() + 120000);
  EXPECT_TRUE(
      platform::files::contentsOfDirectory(VDTCORFlatFileStorage::batchDataStoragePath())->empty());
}

TEST_F(VDTCLTUploaderTest, ServerWaitsAreClampedAndRetryAfterIsWholeSeconds) {
  constexpr int64_t kWeek = 7LL * 24 * 3600 * 1000;
  constexpr int64_t kFallback = 900000;
  // A body holding wait_millis, as a varint of the two's complement value.
  auto waitBody = [](int64_t millis) {
    std::string body("\x08");
    auto value = static_cast<uint64_t>(millis);
    do {
      body += static_cast<char>((value & 0x7F) | (value > 0x7F ? 0x80 : 0));
      value >>= 7;
    } while (value);
    return body;
  };
  struct Case {
    int status;
    std::string body;
    std::string retryAfter;
    int64_t expectedWait;
  };
  const std::vector<Case> cases = {
      {200, waitBody(INT64_MAX), "", kWeek},
      {200, waitBody(kWeek + 1), "", kWeek},
      {200, waitBody(-5000), "", 0},
      {200, waitBody(5000), "", 5000},
      {503, "", "9223372036854774", kWeek},
      {503, "", "18446744073709552", kWeek},
      {503, "", "99999999999999999999999999", kWeek},
      {429, "", "604801", kWeek},
      {503, "", "120", 120000},
      {503, "", "0", 0},
      {503, "", "inf", kFallback},
      {503, "", "1e300", kFallback},
      {503, "", "-5", kFallback},
      {503, "", "120.5", kFallback},
      {503, "", "12abc", kFallback},
      {503, "", "+7", kFallback},
      {503, "", "nan", kFallback},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.retryAfter.empty() ? "body" : c.retryAfter);
    uploader->setNextUploadTime(nullptr, 1001);
    storeEvent(3);
    std::map<std::string, std::string> headers;
    if (!c.retryAfter.empty()) headers["Retry-After"] = c.retryAfter;
    setAnswer({c.status, c.body, headers});
    size_t before = server.received().size();
    upload(1001, 16 | 4);
    ASSERT_EQ(server.received().size(), before + 1);
    auto next = uploader->nextUploadTimeForTarget(1001);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->timeMillis(), nowMillis() + c.expectedWait);
  }
}

TEST_F(VDTCLTUploaderTest, RejectedBatchIsDeletedAndUndecodableAnswersWaitFifteenMinutes) {
  storeEvent(3);
  setAnswer({400, "\x08", {}});
  platform::SystemLogCapture capture;
  upload(1001, 4);
  EXPECT_EQ(server.received().size(), 1u);
  EXPECT_EQ(storedEvents(), 0u);
  EXPECT_EQ(uploader->nextUploadTimeForTarget(1001)->timeMillis(), nowMillis() + 900000);
}

TEST_F(VDTCLTUploaderTest, ConditionsChooseTiers) {
  struct Case {
    long conditions;
    size_t posted;
  };
  // Tiers 0 to 5, one event each: cellular takes 3 and 4; Wi-Fi 0, 1, 3, 4, 5; both the union;
  // none of the bits every tier; a forced upload every tier.
  for (const Case& c : {Case{2, 2}, Case{4, 5}, Case{6, 5}, Case{0, 6}, Case{16 | 2, 6}}) {
    for (long tier : {0, 1, 2, 3, 4, 5}) storeEvent(tier, 1002);
    size_t before = server.received().size();
    upload(1002, c.conditions);
    auto received = server.received();
    ASSERT_EQ(received.size(), before + 1) << c.conditions;
    EXPECT_EQ(postedEvents(received.back()), c.posted) << c.conditions;
    // Empty the target for the next case and forget the pacing.
    upload(1002, 16);
    EXPECT_EQ(storedEvents(1002), 0u);
    uploader->setNextUploadTime(nullptr, 1002);
  }
}

TEST_F(VDTCLTUploaderTest, NoNetworkSendsNothingAndForcedUploadsIgnorePacing) {
  storeEvent(2);
  upload(1001, 1);
  EXPECT_TRUE(server.received().empty());
  EXPECT_EQ(storedEvents(), 1u);

  uploader->setNextUploadTime(VDTCORClock::clockSnapshotInTheFuture(3600000), 1001);
  upload(1001, 4);
  EXPECT_TRUE(server.received().empty());
  upload(1001, 16 | 4);
  ASSERT_EQ(server.received().size(), 1u);
  EXPECT_EQ(postedEvents(server.received()[0]), 1u);
}

// The machine reports its boot instant as the wall clock minus the uptime, and the uptime stands
// still while it sleeps. A wait the server asked for still holds after a suspend, and still ends
// after the wall clock was set back.
TEST_F(VDTCLTUploaderTest, ServerWaitsHoldAcrossASuspendAndEndAfterTheClockStepsBack) {
  clock().setBootTimeReading(platform::FakeClock::BootTimeReading::NowMinusUptime);
  storeEvent(3);
  uploader->setNextUploadTime(VDTCORClock::clockSnapshotInTheFuture(3600000), 1001);
  clock().suspend(600);
  upload(1001, 4);
  EXPECT_TRUE(server.received().empty());
  clock().advance(60);
  upload(1001, 4);
  EXPECT_TRUE(server.received().empty());
  clock().suspend(3000);
  upload(1001, 4);
  ASSERT_EQ(server.received().size(), 1u);

  storeEvent(3);
  uploader->setNextUploadTime(VDTCORClock::clockSnapshotInTheFuture(5000), 1001);
  upload(1001, 4);
  EXPECT_EQ(server.received().size(), 1u);
  clock().setNow(clock().now() - 2);
  clock().advance(2 * 3600);
  upload(1001, 4);
  EXPECT_EQ(server.received().size(), 2u);
  EXPECT_EQ(storedEvents(), 0u);
}

TEST_F(VDTCLTUploaderTest, TargetThousandHasNoKeyAndFollowsRedirectsAsItself) {
  storeEvent(3, 1000);
  VDTCLTUploader::setTestServerURL(server.url("/moved"));
  upload(1000, 4);
  auto received = server.received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].path, "/moved");
  EXPECT_EQ(received[1].path, "/batch");
  for (const auto& request : received) {
    EXPECT_FALSE(request.hasHeader("X-Veltro-Api-Key"));
    EXPECT_EQ(request.header("User-Agent"), "eventtransport/0.0.1 cltsupport/0.0.1 apple/");
  }
  EXPECT_EQ(postedEvents(received[1]), 1u);
  EXPECT_EQ(storedEvents(1000), 0u);
}

TEST_F(VDTCLTUploaderTest, RedirectedRequestsKeepTheirOwnTarget) {
  // The endpoint refuses a keyless request for a keyed target, as the real one does.
  server.server().Post("/keyed", [](const httplib::Request& request, httplib::Response& reply) {
    reply.status = request.has_header("X-Veltro-Api-Key") ? 200 : 400;
  });
  server.server().Post("/moved-keyed", [this](const httplib::Request&, httplib::Response& reply) {
    reply.status = 302;
    reply.set_header("Location", server.url("/keyed"));
  });
  for (int i = 0; i < 2; ++i) storeEvent(3, 1002);
  VDTCLTUploader::setTestServerURL(server.url("/moved-keyed"));
  upload(1002, 4);
  auto received = server.received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[1].path, "/keyed");
  EXPECT_EQ(received[1].header("X-Veltro-Api-Key"), VDTCLTUploader::LMLAndCRLAndINTAPIKey());
  EXPECT_EQ(received[1].header("User-Agent"), "eventtransport/0.0.1 crlsupport/0.0.1 apple/");
  EXPECT_EQ(postedEvents(received[1]), 2u);
  EXPECT_EQ(storedEvents(1002), 0u);
}

// The key belongs to the upload endpoint's origin: a redirect elsewhere (another port is another
// origin) never carries it. 301 and 302 are rebuilt as target 1000's request there, and within
// the origin as the target's own; a 307 goes on as the session proposes it.
TEST_F(VDTCLTUploaderTest, RedirectsToAnotherOriginNeverCarryTheKey) {
  platform::testing::LoopbackServer other;
  other.server().Post(
      "/batch", [](const httplib::Request&, httplib::Response& reply) { reply.status = 200; });
  other.start();
  for (int status : {301, 302, 307}) {
    for (bool away : {false, true}) {
      server.server().Post(
          "/moved-" + std::to_string(status) + (away ? "-away" : ""),
          [this, status, away, &other](const httplib::Request&, httplib::Response& reply) {
            reply.status = status;
            reply.set_header("Location", away ? other.url("/batch") : server.url("/batch"));
          });
    }
  }
  struct Case {
    int status;
    bool away;
    std::string agent;  // of the request that lands
  };
  const std::vector<Case> cases = {
      {301, false, "lml"}, {302, false, "lml"}, {307, false, "lml"},
      {301, true, "clt"},  {302, true, "clt"},  {307, true, "lml"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.status) + (c.away ? " to another origin" : " same origin"));
    storeEvent(3);
    VDTCLTUploader::setTestServerURL(
        server.url("/moved-" + std::to_string(c.status) + (c.away ? "-away" : "")));
    auto& landing = c.away ? other : server;
    auto batches = [&landing] {
      std::vector<platform::testing::ReceivedRequest> posted;
      for (auto& request : landing.received()) {
        if (request.path == "/batch") posted.push_back(std::move(request));
      }
      return posted;
    };
    size_t before = batches().size();
    upload(1001, 16 | 4);
    auto received = batches();
    ASSERT_EQ(received.size(), before + 1);
    const auto& landed = received.back();
    EXPECT_EQ(postedEvents(landed), 1u);
    EXPECT_EQ(landed.header("User-Agent"),
              "eventtransport/0.0.1 " + c.agent + "support/0.0.1 apple/");
    if (c.away) {
      EXPECT_FALSE(landed.hasHeader("X-Veltro-Api-Key")) << landed.header("X-Veltro-Api-Key");
    } else {
      EXPECT_EQ(landed.header("X-Veltro-Api-Key"), VDTCLTUploader::LMLAndCRLAndINTAPIKey());
    }
    EXPECT_EQ(storedEvents(), 0u);
  }
  for (const auto& request : other.received()) EXPECT_FALSE(request.hasHeader("X-Veltro-Api-Key"));
}

// An answer with a 2xx status accepted the batch, whatever became of its body: one too large to
// keep (a compressed bomb, or plain bytes past the ceiling) deletes the events as an
// undecodable one does, and nothing is posted again.
TEST_F(VDTCLTUploaderTest, AnAcceptedBatchIsDeletedWhenItsAnswerIsTooLargeToRead) {
  constexpr size_t kPastTheCeiling = 70u << 20;
  const platform::Bytes zeros(kPastTheCeiling, 0);
  auto bomb = VDTCLTCompressionHelper::gzippedData(zeros);
  ASSERT_TRUE(bomb);
  ASSERT_LT(bomb->size(), 1u << 20);
  server.server().Post("/bomb", [&bomb](const httplib::Request&, httplib::Response& reply) {
    reply.set_header("Content-Encoding", "gzip");
    reply.set_content(std::string(bomb->begin(), bomb->end()), "application/x-protobuf");
  });
  server.server().Post("/huge", [](const httplib::Request&, httplib::Response& reply) {
    reply.status = 201;
    reply.set_content(std::string(kPastTheCeiling, '\x08'), "application/x-protobuf");
  });
  for (const char* path : {"/bomb", "/huge"}) {
    SCOPED_TRACE(path);
    uploader->setNextUploadTime(nullptr, 1001);
    for (int i = 0; i < 2; ++i) storeEvent(3);
    VDTCLTUploader::setTestServerURL(server.url(path));
    size_t before = server.received().size();
    upload(1001, 4);
    EXPECT_EQ(server.received().size(), before + 1);
    EXPECT_EQ(storedEvents(), 0u);
    EXPECT_TRUE(platform::files::contentsOfDirectory(VDTCORFlatFileStorage::batchDataStoragePath())
                    ->empty());
    auto next = uploader->nextUploadTimeForTarget(1001);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->timeMillis(), nowMillis() + 900000);
    upload(1001, 16 | 4);
    EXPECT_EQ(server.received().size(), before + 1);
  }
}

// A redirect is no verdict on the batch, whatever became of its body. One whose body is cut short
// or over the ceiling is followed from its header fields, and the batch's fate is decided where
// it lands; one that points nowhere is a failed request, which keeps the events and leaves the
// pacing alone. A final status whose body is cut decides as a readable one does.
TEST_F(VDTCLTUploaderTest, ARedirectWhoseBodyCannotBeReadDecidesNothing) {
  auto cut = [this](int status, bool withLocation) {
    return [this, status, withLocation](const httplib::Request&, httplib::Response& reply) {
      reply.status = status;
      if (withLocation) reply.set_header("Location", server.url("/batch"));
      reply.set_content_provider(1000, "text/plain",
                                 [](size_t offset, size_t, httplib::DataSink& sink) {
                                   if (offset > 0) return false;  // drops the connection
                                   sink.write("moved", 5);
                                   return true;
                                 });
    };
  };
  for (int status : {301, 302, 307, 308}) {
    server.server().Post("/cut-moved/" + std::to_string(status), cut(status, true));
  }
  for (int status : {300, 301, 400, 503}) {
    server.server().Post("/cut-here/" + std::to_string(status), cut(status, false));
  }
  const platform::Bytes zeros(70u << 20, 0);
  auto bomb = VDTCLTCompressionHelper::gzippedData(zeros);
  ASSERT_TRUE(bomb);
  server.server().Post(
      "/bomb-moved/308", [this, &bomb](const httplib::Request&, httplib::Response& reply) {
        reply.status = 308;
        reply.set_header("Location", server.url("/batch"));
        reply.set_header("Content-Encoding", "gzip");
        reply.set_content(std::string(bomb->begin(), bomb->end()), "application/x-protobuf");
      });
  // Each row: whether the batch reached /batch, whether its events stay stored, and whether the
  // next upload waits (always the 15-minute fallback here: no answer carries a wait).
  struct Case {
    std::string path;
    bool deliveredWhereItLanded;
    bool kept;
    bool paced;
  };
  const std::vector<Case> cases = {
      {"/cut-moved/301", true, false, true},
      {"/cut-moved/302", true, false, true},
      {"/cut-moved/307", true, false, true},
      {"/cut-moved/308", true, false, true},
      {"/bomb-moved/308", true, false, true},
      {"/cut-here/300", false, true, false},  // a failed request
      {"/cut-here/301", false, true, false},
      {"/cut-here/400", false, false, true},  // rejected by the cut answer itself
      {"/cut-here/503", false, true, true},   // server trouble in the cut answer itself
  };
  auto posted = [this] {
    std::vector<platform::testing::ReceivedRequest> batches;
    for (auto& request : server.received()) {
      if (request.path == "/batch") batches.push_back(std::move(request));
    }
    return batches;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    uploader->setNextUploadTime(nullptr, 1001);
    storeEvent(3);
    VDTCLTUploader::setTestServerURL(server.url(c.path));
    const size_t before = posted().size();
    upload(1001, 4);
    auto batches = posted();
    ASSERT_EQ(batches.size(), before + (c.deliveredWhereItLanded ? 1 : 0));
    if (c.deliveredWhereItLanded) {
      EXPECT_EQ(postedEvents(batches.back()), 1u);
    }
    EXPECT_EQ(storedEvents(), c.kept ? 1u : 0u);
    expectFallbackPacing(c.paced);
    if (storedEvents() > 0) {
      // What was kept goes out at the next chance.
      uploader->setNextUploadTime(nullptr, 1001);
      VDTCLTUploader::setTestServerURL(server.url("/batch"));
      upload(1001, 4);
      EXPECT_EQ(posted().size(), batches.size() + 1);
      EXPECT_EQ(storedEvents(), 0u);
    }
    EXPECT_TRUE(platform::files::contentsOfDirectory(VDTCORFlatFileStorage::batchDataStoragePath())
                    ->empty());
  }
}

TEST_F(VDTCLTUploaderTest, AfterAnAttemptedUploadQueuedOperationsAreCancelled) {
  storeEvent(3);
  uploader->uploadTarget(1001, 4);
  uploader->uploadTarget(1001, 4);
  ASSERT_TRUE(pumpUntil([&] { return uploader->operationCount() == 0; }, 20));
  EXPECT_EQ(server.received().size(), 1u);
}

TEST_F(VDTCLTUploaderTest, NetworkFailureKeepsEventsAndPacing) {
  storeEvent(3);
  VDTCLTUploader::setTestServerURL("http://127.0.0.1:1/batch");
  upload(1001, 4);
  EXPECT_EQ(storedEvents(), 1u);
  EXPECT_EQ(uploader->nextUploadTimeForTarget(1001), nullptr);
}

// Behind a proxy, only the upload server's answer decides the batch. A proxy that gives no
// working tunnel to it (asks for credentials, refuses, points elsewhere, closes the tunnel) is a
// failed request, as any transport error is: the events stay for a later upload, the pacing is
// left alone and the batch goes nowhere else. Through a working tunnel the server decides as
// always.
TEST_F(VDTCLTUploaderTest, BehindAProxyOnlyTheUploadServersAnswerDecidesTheBatch) {
  fs::create_directories(home() / "origin");
  platform::testing::LoopbackServer origin(home() / "origin", "DNS:upload.test,IP:127.0.0.1");
  std::atomic<int> originStatus{200};
  origin.server().Post("/batch", [&](const httplib::Request&, httplib::Response& reply) {
    reply.status = originStatus;
  });
  origin.start();
  platform::testing::LoopbackServer elsewhere(
      platform::testing::LoopbackServer::SameCertificateAs{origin});
  elsewhere.server().Post(
      ".*", [](const httplib::Request&, httplib::Response& reply) { reply.status = 200; });
  elsewhere.start();
  platform::URLSession::setDefaultTrustedCAFile(origin.certificateFile());
  VDTCLTUploader::setTestServerURL("https://upload.test:" + std::to_string(origin.port()) +
                                   "/batch");
  const std::string tunnel = "HTTP/1.1 200 Connection established\r\n\r\n";
  struct Case {
    const char* name;
    platform::testing::ProxyReply reply;
    int originStatus;  // what the server answers, when the batch reaches it
    bool kept;
    bool paced;
  };
  const std::vector<Case> cases = {
      {"asks for credentials",
       {"HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic "
        "realm=\"proxy\"\r\nContent-Length: 0\r\n\r\n"},
       0,
       true,
       false},
      {"refuses", {"HTTP/1.1 403 Forbidden\r\nContent-Length: 7\r\n\r\nblocked"}, 0, true, false},
      {"answers 200 and closes the tunnel", {tunnel}, 0, true, false},
      {"points elsewhere with 302",
       {"HTTP/1.1 302 Found\r\nLocation: " + elsewhere.url("/batch") +
        "\r\nContent-Length: 0\r\n\r\n"},
       0,
       true,
       false},
      {"points elsewhere with 307",
       {"HTTP/1.1 307 Temporary Redirect\r\nLocation: " + elsewhere.url("/batch") +
        "\r\nContent-Length: 0\r\n\r\n"},
       0,
       true,
       false},
      {"tunnels to a busy server", {tunnel, origin.port()}, 503, true, true},
      {"tunnels to a server that takes the batch", {tunnel, origin.port()}, 200, false, true},
  };
  platform::testing::ScriptedProxy proxy;
  {
    platform::testing::ProxyEnvironment environment(proxy.url());
    for (const auto& c : cases) {
      SCOPED_TRACE(c.name);
      proxy.answerWith(c.reply);
      originStatus = c.originStatus;
      uploader->setNextUploadTime(nullptr, 1001);
      storeEvent(3);
      storeEvent(3);
      const size_t stored = storedEvents();
      const size_t before = origin.received().size();
      const size_t connects = proxy.requests().size();
      upload(1001, 4);
      EXPECT_EQ(proxy.requests().size(), connects + 1);
      EXPECT_EQ(origin.received().size(), before + (c.originStatus != 0 ? 1 : 0));
      EXPECT_EQ(storedEvents(), c.kept ? stored : 0u);
      EXPECT_TRUE(
          platform::files::contentsOfDirectory(VDTCORFlatFileStorage::batchDataStoragePath())
              ->empty());
      expectFallbackPacing(c.paced);
    }
  }
  EXPECT_TRUE(elsewhere.arrived().empty());
  EXPECT_EQ(server.received().size(), 0u);
  platform::URLSession::setDefaultTrustedCAFile({});
}

TEST_F(VDTCLTUploaderTest, WaitingForAnEmptyQueue) {
  EXPECT_TRUE(uploader->waitForUploadFinishedWithTimeout(1));
  EXPECT_FALSE(uploader->waitForUploadFinishedWithTimeout(0));
  VDTCLTUploader::setTestServerURL(std::nullopt);
  EXPECT_EQ(VDTCLTUploader::serverURLForTarget(1001), *VDTCOREndpoints::uploadURLForTarget(1001));
  EXPECT_FALSE(VDTCOREndpoints::uploadURLForTarget(999));
}

}  // namespace

namespace {

// The real endpoints are HTTPS: the same upload over TLS to a loopback server whose self-signed
// certificate is the trusted anchor.
class VDTCLTUploaderTlsTest : public platform::testing::PlatformTest {};

TEST_F(VDTCLTUploaderTlsTest, UploadsOverTls) {
  VDTCOREnsureLoaded();
  VDTCORReachability::sharedInstance().setFlagsForTesting(6);
  platform::testing::LoopbackServer server(home());
  server.server().Post("/batch", [](const httplib::Request&, httplib::Response& reply) {
    reply.set_content(std::string("\x08\x10", 2), "application/x-protobuf");
  });
  server.start();
  platform::URLSession::setDefaultTrustedCAFile(server.certificateFile());
  VDTCLTUploader::setTestServerURL(server.url("/batch", "localhost"));

  auto storage = VDTCORFlatFileStorage::sharedInstance();
  auto event = VDTCOREvent::initWithMappingID("137", 1003);
  event->setDataObject(std::make_shared<Payload>());
  event->setClockSnapshot(VDTCORClock::snapshot());
  storage->storeEvent(event, nullptr);
  storage->storageQueue()->sync([] {});

  auto uploader = VDTCLTUploader::sharedInstance();
  uploader->uploadTarget(1003, 4);
  ASSERT_TRUE(pumpUntil([&] { return uploader->operationCount() == 0; }, 20));
  storage->storageQueue()->sync([] {});
  auto received = server.received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].header("User-Agent"), "eventtransport/0.0.1 intsupport/0.0.1 apple/");
  EXPECT_EQ(uploader->nextUploadTimeForTarget(1003)->timeMillis(),
            static_cast<int64_t>(clock().now() * 1000) + 16);
  platform::URLSession::setDefaultTrustedCAFile({});
  server.stop();
}

// The endpoints are HTTPS, and a batch never goes over http: a redirect there is refused, the
// events stay for a later upload and the pacing is left alone, whichever redirect it is.
TEST_F(VDTCLTUploaderTlsTest, ARedirectToHttpIsRefusedAndKeepsTheEvents) {
  VDTCOREnsureLoaded();
  VDTCORReachability::sharedInstance().setFlagsForTesting(6);
  platform::testing::LoopbackServer plain;
  plain.server().Post(
      "/batch", [](const httplib::Request&, httplib::Response& reply) { reply.status = 200; });
  plain.start();
  platform::testing::LoopbackServer server(home());
  for (int status : {301, 302, 307, 308}) {
    server.server().Post("/moved/" + std::to_string(status),
                         [status, &plain](const httplib::Request&, httplib::Response& reply) {
                           reply.status = status;
                           reply.set_header("Location", plain.url("/batch"));
                         });
  }
  server.start();
  platform::URLSession::setDefaultTrustedCAFile(server.certificateFile());

  auto storage = VDTCORFlatFileStorage::sharedInstance();
  auto uploader = VDTCLTUploader::sharedInstance();
  uploader->setNextUploadTime(nullptr, 1001);
  auto event = VDTCOREvent::initWithMappingID("137", 1001);
  event->setDataObject(std::make_shared<Payload>());
  event->setClockSnapshot(VDTCORClock::snapshot());
  storage->storeEvent(event, nullptr);
  storage->storageQueue()->sync([] {});
  for (int status : {301, 302, 307, 308}) {
    SCOPED_TRACE(status);
    VDTCLTUploader::setTestServerURL(server.url("/moved/" + std::to_string(status)));
    const size_t before = server.received().size();
    uploader->uploadTarget(1001, 16 | 4);
    ASSERT_TRUE(pumpUntil([&] { return uploader->operationCount() == 0; }, 20));
    storage->storageQueue()->sync([] {});
    EXPECT_EQ(server.received().size(), before + 1);
    auto stored = platform::files::contentsOfDirectory(
        VDTCORFlatFileStorage::eventDataStoragePath() / "1001");
    EXPECT_EQ(stored ? stored->size() : 0u, 1u);
    EXPECT_EQ(uploader->nextUploadTimeForTarget(1001), nullptr);
  }
  EXPECT_TRUE(plain.arrived().empty());
  platform::URLSession::setDefaultTrustedCAFile({});
  server.stop();
  plain.stop();
}

}  // namespace
