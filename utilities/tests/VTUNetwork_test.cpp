#include "utilities/network/VTUNetwork.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>

#include "platform/dispatch/RunLoop.h"
#include "platform/network/BackupExclusion.h"
#include "platform/network/tests/LoopbackServer.h"
#include "platform/network/tests/ScriptedProxy.h"
#include "platform/testing/PlatformTest.h"
#include "utilities/VTUGzip.h"
#include "utilities/logger/VTULogger.h"
#include "utilities/network/VTUNetworkConstants.h"
#include "utilities/network/VTUNetworkURLSession.h"

namespace {

using platform::Bytes;
using platform::ErrorPtr;
using platform::Value;
using platform::testing::LoopbackServer;

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }
std::string textOf(const std::optional<Bytes>& bytes) {
  return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<none>");
}

struct LogCall {
  long level;
  long code;
  std::optional<std::string> message;
  Value::Array contexts;
  std::string form;
};

// Records the log calls handed to it.
class RecordingLogger : public platform::Object, public VTUNetworkLoggerDelegate {
 public:
  std::vector<LogCall> calls;
  std::mutex mutex;
  void VTUNetwork_logWithLevel(long level, long code, const std::optional<std::string>& message,
                               const Value::Array& contexts) override {
    std::lock_guard lock(mutex);
    calls.push_back({level, code, message, contexts, "contexts"});
  }
  void VTUNetwork_logWithLevelMessageCodeMessageContext(long level, long code,
                                                        const std::optional<std::string>& message,
                                                        const Value& context) override {
    std::lock_guard lock(mutex);
    calls.push_back({level, code, message, {context}, "context"});
  }
  void VTUNetwork_logWithLevel(long level, long code,
                               const std::optional<std::string>& message) override {
    std::lock_guard lock(mutex);
    calls.push_back({level, code, message, {}, "none"});
  }
  std::vector<long> codes() {
    std::lock_guard lock(mutex);
    std::vector<long> out;
    for (const auto& c : calls) out.push_back(c.code);
    return out;
  }
};

class CountingReachabilityDelegate : public VTUNetworkReachabilityDelegate {
 public:
  int changes = 0;
  void reachabilityDidChange() override { ++changes; }
};

struct Result {
  bool done = false;
  bool onMainThread = false;
  bool onGivenQueue = false;
  bool uploadInProgressAtCall = true;
  std::shared_ptr<const platform::HTTPURLResponse> response;
  std::optional<Bytes> data;
  ErrorPtr error;
};

class VTUNetworkTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    vtu::testing::startCapturingLines();
    VTULoggerSetMaximumLevel(7);
    auto& http = server_.server();
    http.Post("/upload", [](const httplib::Request&, httplib::Response& reply) {
      reply.set_content("stored", "text/plain");
    });
    http.Get("/config", [](const httplib::Request& request, httplib::Response& reply) {
      reply.set_content("config for " + request.get_header_value("X-Client"), "text/plain");
    });
    http.Get("/broken", [](const httplib::Request&, httplib::Response& reply) {
      reply.status = 500;
      reply.set_content("oops", "text/plain");
    });
    http.Get("/moved/301", [](const httplib::Request&, httplib::Response& reply) {
      reply.status = 301;
      reply.set_header("Location", "/config");
    });
    http.Get("/moved/303", [](const httplib::Request&, httplib::Response& reply) {
      reply.status = 303;
      reply.set_header("Location", "/config");
    });
    http.Post("/held", [this](const httplib::Request&, httplib::Response& reply) {
      std::unique_lock lock(holdMutex_);
      holdRelease_.wait_for(lock, std::chrono::seconds(10), [this] { return released_; });
      reply.set_content("late", "text/plain");
    });
    server_.start();
    network_ = VTUNetwork::initWithReachabilityHost("127.0.0.1");
    ASSERT_TRUE(network_);
  }
  void TearDown() override {
    release();
    network_.reset();
    server_.stop();
    PlatformTest::TearDown();
  }
  void release() {
    std::lock_guard lock(holdMutex_);
    released_ = true;
    holdRelease_.notify_all();
  }
  bool arrived(const std::string& path) {
    auto paths = server_.arrived();
    return std::find(paths.begin(), paths.end(), path) != paths.end();
  }

  VTUNetwork::CompletionHandler recordInto(Result& result,
                                           platform::DispatchQueuePtr queue = nullptr) {
    return [&result, queue, this](std::shared_ptr<const platform::HTTPURLResponse> response,
                                  std::optional<Bytes> data, ErrorPtr error) {
      result.onMainThread = platform::isMainThread();
      result.onGivenQueue = queue && queue->isCurrent();
      result.uploadInProgressAtCall = network_ && network_->hasUploadInProgress();
      result.response = std::move(response);
      result.data = std::move(data);
      result.error = std::move(error);
      result.done = true;
    };
  }

  bool logged(const std::string& text) {
    vtu::testing::flushLoggingQueue();
    for (const auto& l : vtu::testing::capturedLines()) {
      if (l.line.find(text) != std::string::npos) return true;
    }
    return false;
  }

  LoopbackServer server_;
  std::shared_ptr<VTUNetwork> network_;
  std::mutex holdMutex_;
  std::condition_variable holdRelease_;
  bool released_ = false;
};

TEST_F(VTUNetworkTest, PostSendsTheGzipBodyWithItsHeadersAndAnswersOnTheGivenQueue) {
  auto queue = platform::DispatchQueue::create("com.tests.network.caller");
  std::atomic<bool> done{false};
  Result result;
  auto record = recordInto(result, queue);
  const Bytes payload = bytesOf("measurement batch: events, events, events, events");
  auto sessionID = network_->postURL(server_.url("/upload"), payload, queue, false,
                                     [&](auto response, auto data, auto error) {
                                       record(response, data, error);
                                       done = true;
                                     });
  ASSERT_TRUE(sessionID);
  EXPECT_EQ(sessionID->rfind(std::string(kVTUNetworkBackgroundSessionPrefix) + "-", 0), 0u);
  EXPECT_TRUE(network_->hasUploadInProgress());
  ASSERT_TRUE(pumpUntil([&] { return done.load(); }));

  EXPECT_TRUE(result.onGivenQueue);
  EXPECT_FALSE(result.uploadInProgressAtCall);
  ASSERT_FALSE(result.error);
  EXPECT_EQ(result.response->statusCode(), 200);
  EXPECT_EQ(textOf(result.data), "stored");

  auto received = server_.received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].method, "POST");
  EXPECT_EQ(received[0].header("Content-Encoding"), "gzip");
  EXPECT_EQ(received[0].header("Content-Type"), "application/x-www-form-urlencoded");
  platform::ErrorPtr error;
  auto compressed = vtu_dataByGzippingData(payload, &error);
  ASSERT_TRUE(compressed);
  EXPECT_EQ(received[0].header("Content-Length"), std::to_string(compressed->size()));
  EXPECT_EQ(received[0].headers.count("Content-Length"), 1u);
  // The server inflates a gzip body; what it read back is the payload.
  EXPECT_EQ(received[0].body, std::string(payload.begin(), payload.end()));
}

TEST_F(VTUNetworkTest, EmptyPayloadGoesOutAsAnEmptyBodyWithTheSameHeaders) {
  Result result;
  ASSERT_TRUE(network_->postURL(server_.url("/upload"), {}, nullptr, false, recordInto(result)));
  ASSERT_TRUE(pumpUntil([&] { return result.done; }));
  EXPECT_TRUE(result.onMainThread);
  ASSERT_FALSE(result.error);
  auto received = server_.received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].header("Content-Length"), "0");
  EXPECT_EQ(received[0].header("Content-Encoding"), "gzip");
  EXPECT_EQ(received[0].header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_TRUE(received[0].body.empty());
}

TEST_F(VTUNetworkTest, GetSendsTheHeadersAndEveryStatusIsAResponse) {
  struct Case {
    std::string path;
    long status;
    std::string body;
  };
  const std::vector<Case> cases = {
      {"/config", 200, "config for tests"},
      {"/broken", 500, "oops"},
      {"/moved/301", 301, ""},                  // not followed: the redirect is the answer
      {"/moved/303", 200, "config for tests"},  // followed
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    Result result;
    auto id = network_->getURL(server_.url(c.path),
                               std::map<std::string, std::string>{{"X-Client", "tests"}}, nullptr,
                               false, recordInto(result));
    ASSERT_TRUE(id);
    ASSERT_TRUE(pumpUntil([&] { return result.done; }));
    EXPECT_TRUE(result.onMainThread);
    ASSERT_FALSE(result.error);
    EXPECT_EQ(result.response->statusCode(), c.status);
    EXPECT_EQ(textOf(result.data), c.body);
  }
  for (const auto& request : server_.received()) {
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.header("X-Client"), "tests");
  }
}

// The request layer follows 303 and 308 and hands back 301, 302, 307 and 300 as answers. A
// redirect whose body is cut short is decided on its header fields all the same: followed, it
// leads to the real answer; handed back, it was no answer that could be read, and the caller
// gets the transport error with no response.
TEST_F(VTUNetworkTest, ARedirectWhoseBodyIsCutIsFollowedOrATransportError) {
  for (int status : {301, 303, 307, 308}) {
    auto cut = [status](const httplib::Request& request, httplib::Response& reply) {
      reply.status = status;
      reply.set_header("Location", request.method == "GET" ? "/config" : "/upload");
      reply.set_content_provider(1000, "text/plain",
                                 [](size_t offset, size_t, httplib::DataSink& sink) {
                                   if (offset > 0) return false;  // drops the connection
                                   sink.write("moved", 5);
                                   return true;
                                 });
    };
    server_.server().Get("/cut/" + std::to_string(status), cut);
    server_.server().Post("/cut/" + std::to_string(status), cut);
  }
  struct Case {
    bool post;
    int status;
    std::string body;  // empty: a transport error
  };
  const std::vector<Case> cases = {
      {false, 303, "config for tests"},
      {true, 308, "stored"},
      {false, 301, ""},
      {true, 307, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE((c.post ? "POST " : "GET ") + std::to_string(c.status));
    Result result;
    const std::string url = server_.url("/cut/" + std::to_string(c.status));
    auto id = c.post
                  ? network_->postURL(url, bytesOf("payload"), nullptr, false, recordInto(result))
                  : network_->getURL(url, std::map<std::string, std::string>{{"X-Client", "tests"}},
                                     nullptr, false, recordInto(result));
    ASSERT_TRUE(id);
    ASSERT_TRUE(pumpUntil([&] { return result.done; }));
    if (!c.body.empty()) {
      ASSERT_FALSE(result.error) << result.error->localizedDescription();
      ASSERT_TRUE(result.response);
      EXPECT_EQ(result.response->statusCode(), 200);
      EXPECT_EQ(textOf(result.data), c.body);
    } else {
      ASSERT_TRUE(result.error);
      EXPECT_EQ(result.error->domain(), platform::kURLErrorDomain);
      EXPECT_EQ(result.error->code(), platform::kURLErrorNetworkConnectionLost);
      EXPECT_FALSE(result.response);
    }
  }
}

// Nothing goes over http from an https request. A redirect there that the request layer follows
// (303, 308) is refused with the insecure-redirect error; one it hands back (301, 302, 307) is
// the answer, as any redirect it hands back is.
TEST_F(VTUNetworkTest, ARedirectFromHttpsToHttpIsAnAnswerOrRefused) {
  LoopbackServer secure(home());
  for (int status : {301, 302, 303, 307, 308}) {
    auto moved = [status, this](const httplib::Request&, httplib::Response& reply) {
      reply.status = status;
      reply.set_header("Location", server_.url("/config"));
    };
    secure.server().Get("/moved/" + std::to_string(status), moved);
    secure.server().Post("/moved/" + std::to_string(status), moved);
  }
  secure.start();
  platform::URLSession::setDefaultTrustedCAFile(secure.certificateFile());
  for (bool post : {false, true}) {
    for (int status : {301, 302, 303, 307, 308}) {
      SCOPED_TRACE((post ? "POST " : "GET ") + std::to_string(status));
      Result result;
      const std::string url = secure.url("/moved/" + std::to_string(status));
      auto id = post
                    ? network_->postURL(url, bytesOf("payload"), nullptr, false, recordInto(result))
                    : network_->getURL(url, std::nullopt, nullptr, false, recordInto(result));
      ASSERT_TRUE(id);
      ASSERT_TRUE(pumpUntil([&] { return result.done; }));
      if (status == 303 || status == 308) {
        ASSERT_TRUE(result.error);
        EXPECT_EQ(result.error->domain(), platform::kURLErrorDomain);
        EXPECT_EQ(result.error->code(), platform::kURLErrorInsecureRedirect);
        EXPECT_FALSE(result.response);
      } else {
        ASSERT_FALSE(result.error) << result.error->localizedDescription();
        ASSERT_TRUE(result.response);
        EXPECT_EQ(result.response->statusCode(), status);
      }
    }
  }
  EXPECT_TRUE(server_.arrived().empty());
  platform::URLSession::setDefaultTrustedCAFile({});
  secure.stop();
}

TEST_F(VTUNetworkTest, AnEmptyURLIsRefusedWithCodeOneLaterOnTheGivenQueue) {
  auto queue = platform::DispatchQueue::create("com.tests.network.refused");
  for (bool post : {true, false}) {
    SCOPED_TRACE(post ? "POST" : "GET");
    std::atomic<bool> done{false};
    Result result;
    auto record = recordInto(result, queue);
    auto handler = [&](auto response, auto data, auto error) {
      record(response, data, error);
      done = true;
    };
    auto id = post ? network_->postURL("", bytesOf("x"), queue, false, handler)
                   : network_->getURL("", std::nullopt, queue, false, handler);
    EXPECT_FALSE(id);
    ASSERT_TRUE(pumpUntil([&] { return done.load(); }));
    EXPECT_TRUE(result.onGivenQueue);
    ASSERT_TRUE(result.error);
    EXPECT_EQ(result.error->domain(), kVTUNetworkErrorDomain);
    EXPECT_EQ(result.error->code(), kVTUNetworkErrorCodeInvalidURL);
    EXPECT_EQ(*result.error->userInfo().at("Context").string(), "Failed to create network request");
    EXPECT_FALSE(result.response);
    EXPECT_FALSE(result.data);
  }
  EXPECT_FALSE(network_->hasUploadInProgress());
}

// A failed request hands on its transport error and nothing else: no response, and no data, not
// even the body of a redirect it followed on the way. The timeout bounds the whole request,
// redirects included.
TEST_F(VTUNetworkTest, TransportFailuresPassThroughUnchanged) {
  int closedPort = 0;
  {
    LoopbackServer gone;
    gone.start();
    closedPort = gone.port();
  }
  const std::string nobody = "http://127.0.0.1:" + std::to_string(closedPort) + "/";
  auto seeNobody = [nobody](const httplib::Request&, httplib::Response& reply) {
    reply.status = 303;
    reply.set_header("Location", nobody);
    reply.set_content("see other", "text/plain");
  };
  server_.server().Get("/see-nobody", seeNobody);
  server_.server().Post("/see-nobody", seeNobody);
  // Two hops that each answer within the timeout, but not both.
  for (int hop : {1, 2}) {
    server_.server().Get("/hop/" + std::to_string(hop),
                         [hop](const httplib::Request&, httplib::Response& reply) {
                           std::this_thread::sleep_for(std::chrono::milliseconds(700));
                           if (hop == 1) {
                             reply.status = 303;
                             reply.set_header("Location", "/hop/2");
                           }
                           reply.set_content("hop", "text/plain");
                         });
  }
  struct Case {
    bool post;
    std::string url;
    double timeout;
    long code;
  };
  const std::vector<Case> cases = {
      {false, nobody, 60, platform::kURLErrorCannotConnectToHost},
      {false, server_.url("/see-nobody"), 60, platform::kURLErrorCannotConnectToHost},
      {true, server_.url("/see-nobody"), 60, platform::kURLErrorCannotConnectToHost},
      {false, server_.url("/hop/1"), 1, platform::kURLErrorTimedOut},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE((c.post ? "POST " : "GET ") + c.url);
    network_->setTimeoutInterval(c.timeout);
    Result result;
    ASSERT_TRUE(
        c.post ? network_->postURL(c.url, bytesOf("payload"), nullptr, false, recordInto(result))
               : network_->getURL(c.url, std::nullopt, nullptr, false, recordInto(result)));
    ASSERT_TRUE(pumpUntil([&] { return result.done; }, 20));
    ASSERT_TRUE(result.error);
    EXPECT_EQ(result.error->domain(), platform::kURLErrorDomain);
    EXPECT_EQ(result.error->code(), c.code);
    EXPECT_FALSE(result.response);
    EXPECT_FALSE(result.data) << textOf(result.data);
  }
}

// Behind a proxy, only the server at the end of the proxy's tunnel answers. A proxy that asks for
// credentials or points elsewhere on CONNECT gives a transport error and no response, and the
// request goes nowhere else; what the proxy added to a tunnel it opened is not the server's.
TEST_F(VTUNetworkTest, BehindAProxyOnlyTheServerAnswers) {
  std::filesystem::create_directories(home() / "origin");
  LoopbackServer origin(home() / "origin", "DNS:config.test,IP:127.0.0.1");
  origin.server().Get("/config", [](const httplib::Request&, httplib::Response& reply) {
    reply.set_content("from the server", "text/plain");
  });
  origin.server().Post("/upload", [](const httplib::Request&, httplib::Response& reply) {
    reply.set_content("stored by the server", "text/plain");
  });
  origin.start();
  LoopbackServer elsewhere(LoopbackServer::SameCertificateAs{origin});
  elsewhere.start();
  platform::URLSession::setDefaultTrustedCAFile(origin.certificateFile());
  struct Case {
    const char* name;
    platform::testing::ProxyReply reply;
    bool answered;
  };
  const std::vector<Case> cases = {
      {"asks for credentials",
       {"HTTP/1.1 407 Proxy Authentication Required\r\nContent-Length: 0\r\n\r\n"},
       false},
      {"points elsewhere with 303",
       {"HTTP/1.1 303 See Other\r\nLocation: " + elsewhere.url("/config") +
        "\r\nContent-Length: 0\r\n\r\n"},
       false},
      {"tunnels to the server",
       {"HTTP/1.1 200 Connection established\r\nX-Proxy: yes\r\n\r\n", origin.port()},
       true},
  };
  platform::testing::ScriptedProxy proxy;
  platform::testing::ProxyEnvironment environment(proxy.url());
  const std::string base = "https://config.test:" + std::to_string(origin.port());
  for (const auto& c : cases) {
    proxy.answerWith(c.reply);
    for (bool post : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (post ? " POST" : " GET"));
      Result result;
      auto id = post ? network_->postURL(base + "/upload", bytesOf("payload"), nullptr, false,
                                         recordInto(result))
                     : network_->getURL(base + "/config", std::nullopt, nullptr, false,
                                        recordInto(result));
      ASSERT_TRUE(id);
      ASSERT_TRUE(pumpUntil([&] { return result.done; }, 20));
      if (c.answered) {
        ASSERT_FALSE(result.error) << result.error->localizedDescription();
        ASSERT_TRUE(result.response);
        EXPECT_EQ(result.response->statusCode(), 200);
        EXPECT_FALSE(result.response->valueForHTTPHeaderField("X-Proxy"));
        EXPECT_EQ(textOf(result.data), post ? "stored by the server" : "from the server");
      } else {
        ASSERT_TRUE(result.error) << (result.response ? result.response->statusCode() : 0);
        EXPECT_EQ(result.error->domain(), platform::kURLErrorDomain);
        EXPECT_EQ(result.error->code(), platform::kURLErrorCannotConnectToHost);
        EXPECT_FALSE(result.response);
        EXPECT_FALSE(result.data) << textOf(result.data);
      }
    }
  }
  EXPECT_EQ(proxy.requests().size(), cases.size() * 2);
  EXPECT_TRUE(elsewhere.arrived().empty());
  EXPECT_EQ(origin.received().size(), 2u);
  platform::URLSession::setDefaultTrustedCAFile({});
}

TEST_F(VTUNetworkTest, AReleasedFacadeCallsNoHandler) {
  bool called = false;
  auto id = network_->postURL(server_.url("/held"), bytesOf("x"), nullptr, false,
                              [&](auto, auto, auto) { called = true; });
  ASSERT_TRUE(id);
  ASSERT_TRUE(pumpUntil([&] { return arrived("/held"); }));
  network_.reset();
  release();
  // The request object leaves the registry when its task completes.
  ASSERT_TRUE(
      pumpUntil([&] { return !VTUNetworkURLSession::sessionFromFetcherMapForSessionID(*id); }));
  platform::RunLoop::main().runUntil([] { return false; }, 0.2);
  EXPECT_FALSE(called);
}

TEST_F(VTUNetworkTest, LogLinesFollowLevelDebugModeAndTheirFormat) {
  auto error = platform::Error::make(kVTUNetworkErrorDomain, 4,
                                     {{"Context", Value("Failed to create network request")}});
  struct Case {
    std::string name;
    bool debug;
    long level;
    std::optional<std::string> message;
    Value::Array contexts;
    std::string expected;  // empty: no line
  };
  const std::vector<Case> cases = {
      {"warning with contexts",
       false,
       4,
       "Failed to create network request. Code, error",
       {Value(4L), Value(error)},
       "<Veltro/Utilities/Network/WARNING> Failed to create network request. Code, error: 4, " +
           error->description()},
      {"error", false, 3, "bad", {}, "<Veltro/Utilities/Network/ERROR> bad"},
      {"info", false, 6, "fyi", {}, "<Veltro/Utilities/Network/INFO> fyi"},
      {"debug dropped", false, 7, "Uploading data. Host", {Value("http://x")}, ""},
      {"notice dropped", false, 5, "note", {}, ""},
      {"debug in debug mode",
       true,
       7,
       "Uploading data. Host",
       {Value("http://x")},
       "<Veltro/Utilities/Network/DEBUG> Uploading data. Host: http://x"},
      {"notice has no name", true, 5, "note", {}, "<Veltro/Utilities/Network/(null)> note"},
      {"nil message",
       false,
       3,
       std::nullopt,
       {},
       "<Veltro/Utilities/Network/ERROR> (Message was nil)"},
      {"empty message", false, 3, "", {}, "<Veltro/Utilities/Network/ERROR> (Message was empty)"},
      {"null context",
       false,
       3,
       "m",
       {Value::null(), Value("b")},
       "<Veltro/Utilities/Network/ERROR> m: (nil), b"},
      {"percent stays literal",
       false,
       3,
       "100% %@ %d",
       {},
       "<Veltro/Utilities/Network/ERROR> 100% %@ %d"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    network_->setIsDebugModeEnabled(c.debug);
    vtu::testing::startCapturingLines();
    ::testing::internal::CaptureStderr();
    network_->VTUNetwork_logWithLevel(c.level, 900002, c.message, c.contexts);
    std::string console = ::testing::internal::GetCapturedStderr();
    vtu::testing::flushLoggingQueue();
    auto lines = vtu::testing::capturedLines();
    if (c.expected.empty()) {
      EXPECT_EQ(console.find("Veltro/Utilities/Network"), std::string::npos);
      EXPECT_TRUE(lines.empty());
      continue;
    }
    EXPECT_NE(console.find(c.expected + "\n"), std::string::npos) << console;
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, c.level);
    EXPECT_NE(lines[0].line.find("[VTUNetwork][I-NET900002] " + c.expected), std::string::npos)
        << lines[0].line;
  }
}

TEST_F(VTUNetworkTest, OneAndNoContextFormsShareTheFormat) {
  network_->setIsDebugModeEnabled(true);
  ::testing::internal::CaptureStderr();
  network_->VTUNetwork_logWithLevelMessageCodeMessageContext(7, 900001, "Downloading data. Host",
                                                             Value("http://h/"));
  network_->VTUNetwork_logWithLevelMessageCodeMessageContext(7, 900001, "no context", Value());
  network_->VTUNetwork_logWithLevel(6, 900001, std::optional<std::string>("bare"));
  std::string console = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(console.find("<Veltro/Utilities/Network/DEBUG> Downloading data. Host: http://h/\n"),
            std::string::npos);
  EXPECT_NE(console.find("<Veltro/Utilities/Network/DEBUG> no context\n"), std::string::npos);
  EXPECT_NE(console.find("<Veltro/Utilities/Network/INFO> bare\n"), std::string::npos);
}

TEST_F(VTUNetworkTest, ALoggerDelegateTakesEveryCallAndAnUnfitOneIsRefused) {
  auto logger = std::make_shared<RecordingLogger>();
  network_->setLoggerDelegate(logger);
  EXPECT_EQ(network_->loggerDelegate().get(), logger.get());

  // Neither an object without the interface nor null replaces it.
  network_->setLoggerDelegate(std::make_shared<platform::Object>());
  network_->setLoggerDelegate(nullptr);
  EXPECT_EQ(network_->loggerDelegate().get(), logger.get());
  EXPECT_TRUE(
      logged("[VTUNetwork][I-NET900002] Cannot set the network logger delegate: delegate "
             "does not conform to the network logger protocol."));

  ::testing::internal::CaptureStderr();
  network_->VTUNetwork_logWithLevel(7, 1, std::optional<std::string>("a"), Value::Array{});
  network_->VTUNetwork_logWithLevelMessageCodeMessageContext(5, 2, "b", Value("c"));
  network_->VTUNetwork_logWithLevel(3, 3, std::optional<std::string>("d"));
  EXPECT_EQ(::testing::internal::GetCapturedStderr().find("Veltro"), std::string::npos);
  ASSERT_EQ(logger->calls.size(), 3u);
  EXPECT_EQ(logger->calls[0].form, "contexts");
  EXPECT_EQ(logger->calls[1].form, "context");
  EXPECT_EQ(logger->calls[2].form, "none");
  EXPECT_EQ(logger->codes(), (std::vector<long>{1, 2, 3}));

  // A request logs its start through the delegate, with the URL.
  Result result;
  network_->getURL(server_.url("/config"), std::nullopt, nullptr, false, recordInto(result));
  ASSERT_TRUE(pumpUntil([&] { return result.done; }));
  auto& start = logger->calls.at(3);
  EXPECT_EQ(start.level, 7);
  EXPECT_EQ(start.code, 900001);
  EXPECT_EQ(start.message, "Downloading data. Host");
  EXPECT_EQ(start.contexts, (Value::Array{Value(server_.url("/config"))}));
}

TEST_F(VTUNetworkTest, ReachabilityStatusSetsConnectedAndTellsTheDelegate) {
  auto delegate = std::make_shared<CountingReachabilityDelegate>();
  network_->setReachabilityDelegate(delegate);
  const std::vector<std::pair<VTUReachabilityStatus, bool>> table = {
      {VTUReachabilityStatus::WiFi, true},
      {VTUReachabilityStatus::Disconnected, false},
      {VTUReachabilityStatus::Cellular, true},
      {VTUReachabilityStatus::Unknown, false},
  };
  int expectedChanges = 0;
  for (const auto& [status, connected] : table) {
    network_->reachabilityStatusChanged(network_->reachability(), status);
    EXPECT_EQ(network_->isNetworkConnected(), connected);
    EXPECT_EQ(delegate->changes, ++expectedChanges);
  }
  delegate.reset();
  network_->reachabilityStatusChanged(network_->reachability(), VTUReachabilityStatus::WiFi);
  EXPECT_TRUE(network_->isNetworkConnected());
}

TEST_F(VTUNetworkTest, ATimeoutOfZeroMeansSixtySecondsForRequestAndResource) {
  for (auto [set, expected] : {std::pair{0.0, 60.0}, std::pair{5.0, 5.0}}) {
    SCOPED_TRACE(set);
    network_->setTimeoutInterval(set);
    Result result;
    auto id =
        network_->getURL(server_.url("/config"), std::nullopt, nullptr, false, recordInto(result));
    ASSERT_TRUE(id);
    // Still registered: its completion waits for the main queue.
    auto fetcher = VTUNetworkURLSession::sessionFromFetcherMapForSessionID(*id);
    ASSERT_TRUE(fetcher && fetcher->URLSession());
    const auto& configuration = fetcher->URLSession()->configuration();
    EXPECT_EQ(configuration.timeoutIntervalForRequest, expected);
    EXPECT_EQ(configuration.timeoutIntervalForResource, expected);
    ASSERT_TRUE(pumpUntil([&] { return result.done; }));
  }
}

TEST_F(VTUNetworkTest, InitialStateAndAFacadeWithoutHost) {
  EXPECT_FALSE(network_->isNetworkConnected());
  EXPECT_FALSE(network_->isDebugModeEnabled());
  EXPECT_FALSE(network_->hasUploadInProgress());
  EXPECT_EQ(network_->timeoutInterval(), 60);
  EXPECT_TRUE(network_->reachability()->isActive());
  EXPECT_FALSE(VTUNetwork::initWithReachabilityHost(""));
  auto byDefault = VTUNetwork::init();
  ASSERT_TRUE(byDefault);
}

}  // namespace
