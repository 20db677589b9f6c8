// The uploader against a loopback server that misbehaves: a 500, a 429 with Retry-After, a reset
// connection, a response cut off after its headers and a server slower than the request timeout.
// Each time the events stay stored, and once the server answers 200 they are delivered, exactly
// once.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <thread>

#include "VDTCORLibrary/VDTCORFlatFileStorage.h"
#include "VDTCORLibrary/VDTCORReachability.h"
#include "VDTCORLibrary/VDTCORRegistrar.h"
#include "clt_uploader/VDTCLTConstants.h"
#include "clt_uploader/VDTCLTUploader.h"
#include "clt_uploader/tests/BatchWireReader.h"
#include "platform/base/Files.h"
#include "platform/network/tests/LoopbackServer.h"
#include "platform/testing/OpenGate.h"
#include "platform/testing/PlatformTest.h"

namespace {

class Payload : public VDTCOREventDataObject {
 public:
  explicit Payload(std::string text) : text_(std::move(text)) {}
  std::optional<platform::Bytes> transportBytes() override {
    return platform::Bytes(text_.begin(), text_.end());
  }

 private:
  std::string text_;
};

// Accepts connections on 127.0.0.1, reads the request's headers and resets the connection.
class ResettingServer {
 public:
  ResettingServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 8);
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] {
      while (true) {
        int connection = ::accept(listener_, nullptr, nullptr);
        if (connection < 0) return;
        std::string seen;
        char buffer[4096];
        while (seen.find("\r\n\r\n") == std::string::npos) {
          ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
          if (n <= 0) break;
          seen.append(buffer, static_cast<size_t>(n));
        }
        ++resets;
        linger hard{1, 0};  // close with RST instead of FIN
        ::setsockopt(connection, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        ::close(connection);
      }
    });
  }
  ~ResettingServer() {
    ::shutdown(listener_, SHUT_RDWR);
    ::close(listener_);
    thread_.join();
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/batch"; }
  std::atomic<int> resets{0};

 private:
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
};

enum class Fault { None, ServerError, TooManyRequests, Reset, CutAfterHeaders, Slow };

class VDTCLTUploaderFaultsTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    VDTCOREnsureLoaded();
    storage = VDTCORFlatFileStorage::sharedInstance();
    uploader = VDTCLTUploader::sharedInstance();
    // Fractions of a second, not a minute: the slow server is given up on soon.
    VDTCLTUploadOperation::setRequestTimeoutInterval(0.2);
    server.server().Post(
        "/batch", [this](const httplib::Request& request, httplib::Response& reply) {
          Fault now = fault.load();
          auto accept = [this, &request] {
            auto batch = clt_testing::parseBatch(request.body);
            std::lock_guard lock(mutex);
            for (const auto& mapping :
                 batch.value_or(std::vector<clt_testing::WireMappingRequest>{})) {
              for (const auto& event : mapping.events) ++delivered[event.payload.value_or("")];
            }
          };
          switch (now) {
            case Fault::None: {
              accept();
              reply.status = 200;
              return;
            }
            case Fault::ServerError:
              reply.status = 500;
              return;
            case Fault::TooManyRequests:
              reply.status = 429;
              reply.set_header("Retry-After", "30");
              return;
            case Fault::CutAfterHeaders:
              // The batch is taken (a 200), then the headers promise 100 bytes and the
              // connection ends before any of them.
              accept();
              reply.set_content_provider(100, "application/x-protobuf",
                                         [](size_t, size_t, httplib::DataSink&) { return false; });
              return;
            case Fault::Slow: {
              // Answers only after the client has given up (or the test ends).
              std::unique_lock lock(mutex);
              slowRelease.wait_for(lock, std::chrono::seconds(10), [this] { return releaseSlow; });
              reply.status = 200;
              return;
            }
            case Fault::Reset:
              return;
          }
        });
    server.start();
    VDTCLTUploader::setTestServerURL(server.url("/batch"));
    // The coordinator's own timer uploads see no network; only the test's uploads go out.
    VDTCORReachability::sharedInstance().setFlagsForTesting(6);
  }
  void TearDown() override {
    {
      std::lock_guard lock(mutex);
      releaseSlow = true;
    }
    slowRelease.notify_all();
    server.stop();
    PlatformTest::TearDown();
  }

  void storeEvent(const std::string& payload) {
    auto event = VDTCOREvent::initWithMappingID("137", 1001);
    event->setDataObject(std::make_shared<Payload>(payload));
    event->setClockSnapshot(VDTCORClock::snapshot());
    bool stored = false;
    storage->storeEvent(event, [&](bool ok, platform::ErrorPtr) { stored = ok; });
    storage->storageQueue()->sync([] {});
    ASSERT_TRUE(stored);
  }

  void upload(long conditions) {
    uploader->uploadTarget(1001, conditions);
    ASSERT_TRUE(pumpUntil([&] { return uploader->operationCount() == 0; }, 20));
    storage->storageQueue()->sync([] {});
  }

  // The ID the store hands out next (the counter's four bytes, 0 before the first batch).
  long nextBatchID() {
    auto bytes = platform::files::readFile(VDTCORFlatFileStorage::libraryDataStoragePath() /
                                           "VDTCORFlatFileStorageBatchIDCounter");
    std::uint32_t counter = 0;
    if (bytes && bytes->size() >= 4) std::memcpy(&counter, bytes->data(), 4);
    return counter;
  }

  size_t storedEvents() {
    auto entries = platform::files::contentsOfDirectory(
        VDTCORFlatFileStorage::eventDataStoragePath() / "1001");
    return entries ? entries->size() : 0;
  }
  size_t batches() {
    auto entries =
        platform::files::contentsOfDirectory(VDTCORFlatFileStorage::batchDataStoragePath());
    return entries ? entries->size() : 0;
  }
  std::map<std::string, int> deliveries() {
    std::lock_guard lock(mutex);
    return delivered;
  }

  platform::testing::LoopbackServer server;
  std::atomic<Fault> fault{Fault::None};
  std::mutex mutex;
  std::condition_variable slowRelease;
  bool releaseSlow = false;
  std::map<std::string, int> delivered;
  std::shared_ptr<VDTCORFlatFileStorage> storage;
  std::shared_ptr<VDTCLTUploader> uploader;
};

TEST_F(VDTCLTUploaderFaultsTest, EventsSurviveEveryFaultAndGoOutOnceOnTheFirst200) {
  ResettingServer resetting;
  struct Case {
    const char* name;
    Fault fault;
  };
  std::vector<std::string> all;
  for (const Case& c : {Case{"500", Fault::ServerError}, Case{"429", Fault::TooManyRequests},
                        Case{"reset", Fault::Reset}, Case{"cut", Fault::CutAfterHeaders},
                        Case{"slow", Fault::Slow}}) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> payloads;
    for (int i = 0; i < 3; ++i) {
      payloads.push_back(std::string(c.name) + "-" + std::to_string(i));
      storeEvent(payloads.back());
    }
    all.insert(all.end(), payloads.begin(), payloads.end());

    fault = c.fault;
    if (c.fault == Fault::Reset) VDTCLTUploader::setTestServerURL(resetting.url());
    upload(16 | 4);  // forced, so earlier pacing does not hold it back
    if (c.fault == Fault::Reset) {
      EXPECT_EQ(resetting.resets.load(), 1);
      VDTCLTUploader::setTestServerURL(server.url("/batch"));
    }
    if (c.fault == Fault::CutAfterHeaders) {
      // The server's 200 took the batch; only its answer was lost. Nothing goes out again.
      EXPECT_EQ(storedEvents(), 0u);
      EXPECT_EQ(batches(), 0u);
      fault = Fault::None;
      upload(16 | 4);
      continue;
    }
    EXPECT_EQ(storedEvents(), 3u);
    EXPECT_EQ(batches(), 0u);
    for (const auto& payload : payloads) EXPECT_EQ(deliveries().count(payload), 0u) << payload;

    if (c.fault == Fault::TooManyRequests) {
      // The server asked for 30 seconds: an ordinary round waits, one after it goes.
      fault = Fault::None;
      upload(4);
      EXPECT_EQ(storedEvents(), 3u);
      clock().advance(31);
    }
    fault = Fault::None;
    upload(c.fault == Fault::TooManyRequests ? 4 : 16 | 4);
    EXPECT_EQ(storedEvents(), 0u);
    EXPECT_EQ(batches(), 0u);
    // Nothing is left to send again.
    upload(16 | 4);
  }
  auto got = deliveries();
  EXPECT_EQ(got.size(), all.size());
  for (const auto& payload : all) EXPECT_EQ(got[payload], 1) << payload;
}

// An event the store could not move into its batch's folder is not in that batch: the server's
// 200 for the batch does not leave it behind to be posted again on every later round; it goes
// out once, with a later batch.
TEST_F(VDTCLTUploaderFaultsTest, AnEventThatMissedItsBatchFolderGoesOutOnceWithALaterBatch) {
  const std::filesystem::path pool = VDTCORFlatFileStorage::eventDataStoragePath() / "1001";
  enum class Obstacle { FileWhereTheBatchFolderGoes, FolderWhereAnEventGoes };
  struct Case {
    const char* name;
    Obstacle obstacle;
  };
  std::vector<std::string> all;
  for (const Case& c : {Case{"no-batch-folder", Obstacle::FileWhereTheBatchFolderGoes},
                        Case{"event-in-the-way", Obstacle::FolderWhereAnEventGoes}}) {
    SCOPED_TRACE(c.name);
    using platform::testing::OpenGate;
    if (c.obstacle == Obstacle::FolderWhereAnEventGoes && !OpenGate::usable()) {
      std::printf("skipped: %s\n", OpenGate::kNotUsable);
      continue;
    }
    const std::string missed = std::string(c.name) + "-missed",
                      taken = std::string(c.name) + "-taken";
    storeEvent(missed);
    const std::string missedFile = platform::files::contentsOfDirectory(pool)->at(0).name;
    storeEvent(taken);
    all.insert(all.end(), {missed, taken});
    const auto batchDir = VDTCORFlatFileStorage::batchPathForTarget(
        1001, nextBatchID(), clock().now() + kVDTCLTBatchLifetimeSeconds);
    std::optional<OpenGate> gate;
    if (c.obstacle == Obstacle::FileWhereTheBatchFolderGoes) {
      ASSERT_TRUE(platform::files::writeAtomically(batchDir, "in the way"));
    } else {
      // A batch folder there before the batch has its ID would be one in use, and its ID would
      // not be handed out: the obstacle comes while the store opens the first event to move it.
      gate.emplace(pool, [&] {
        ASSERT_TRUE(platform::files::createDirectory(batchDir / missedFile, true));
      });
    }

    upload(16 | 4);
    if (gate) {
      EXPECT_TRUE(gate->held());
    }
    gate.reset();
    EXPECT_EQ(deliveries().count(missed), 0u);
    EXPECT_EQ(deliveries().count(taken), c.obstacle == Obstacle::FolderWhereAnEventGoes ? 1u : 0u);
    EXPECT_TRUE(platform::files::exists(pool / missedFile));
    platform::files::removeItem(batchDir);

    for (int round = 0; round < 2; ++round) upload(16 | 4);
    EXPECT_EQ(storedEvents(), 0u);
    EXPECT_EQ(batches(), 0u);
  }
  auto got = deliveries();
  EXPECT_EQ(got.size(), all.size());
  for (const auto& payload : all) EXPECT_EQ(got[payload], 1) << payload;
}

}  // namespace
