#include <gtest/gtest.h>

#include "platform/dispatch/RunLoop.h"
#include "platform/network/tests/LoopbackServer.h"
#include "platform/network/tests/ScriptedProxy.h"
#include "platform/testing/PlatformTest.h"
#include "utilities/network/VTUURLSessionPromises.h"

namespace {

using platform::Bytes;
using platform::testing::LoopbackServer;

class VTUNetworkDataTaskPromiseTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    server_.server().Post("/batch", [](const httplib::Request& request, httplib::Response& reply) {
      reply.set_header("X-Next-Upload", "900");
      reply.set_content("ack " + request.body, "application/octet-stream");
    });
    server_.server().Post(
        "/reject", [](const httplib::Request&, httplib::Response& reply) { reply.status = 400; });
    server_.start();
    session_ = platform::URLSession::sessionWithConfiguration(
        platform::URLSessionConfiguration::defaultSessionConfiguration());
  }
  void TearDown() override {
    session_->finishTasksAndInvalidate();
    server_.stop();
    PlatformTest::TearDown();
  }
  platform::URLRequest post(const std::string& url, const std::string& body) {
    platform::URLRequest request(url);
    request.HTTPMethod = "POST";
    request.HTTPBody = Bytes(body.begin(), body.end());
    return request;
  }

  LoopbackServer server_;
  std::shared_ptr<platform::URLSession> session_;
};

TEST_F(VTUNetworkDataTaskPromiseTest, EveryHTTPStatusFulfilsWithResponseAndBody) {
  struct Case {
    std::string path;
    long status;
    std::string body;
  };
  const std::vector<Case> cases = {{"/batch", 200, "ack events"}, {"/reject", 400, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    auto promise = vtu_dataTaskPromiseWithRequest(session_, post(server_.url(c.path), "events"));
    ASSERT_TRUE(pumpUntil([&] { return !promise->isPending(); }));
    ASSERT_TRUE(promise->isFulfilled()) << promise->error()->localizedDescription();
    auto response = std::dynamic_pointer_cast<VTUURLSessionDataResponse>(promise->value().object());
    ASSERT_TRUE(response);
    ASSERT_TRUE(response->HTTPResponse());
    EXPECT_EQ(response->HTTPResponse()->statusCode(), c.status);
    ASSERT_TRUE(response->HTTPBody());
    EXPECT_EQ(std::string(response->HTTPBody()->begin(), response->HTTPBody()->end()), c.body);
  }
  auto received = server_.received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].body, "events");
  EXPECT_EQ(received[0].method, "POST");
}

TEST_F(VTUNetworkDataTaskPromiseTest, ATransportFailureOrAClosedSessionRejects) {
  int closedPort = 0;
  {
    LoopbackServer gone;
    gone.start();
    closedPort = gone.port();
  }
  auto refused = vtu_dataTaskPromiseWithRequest(
      session_, post("http://127.0.0.1:" + std::to_string(closedPort) + "/batch", "x"));
  ASSERT_TRUE(pumpUntil([&] { return !refused->isPending(); }));
  ASSERT_TRUE(refused->isRejected());
  EXPECT_EQ(refused->error()->domain(), platform::kURLErrorDomain);
  EXPECT_EQ(refused->error()->code(), platform::kURLErrorCannotConnectToHost);

  // Behind a proxy that asks for credentials no server was reached: a transport error that
  // carries nothing of the proxy's reply.
  {
    platform::testing::ScriptedProxy proxy;
    proxy.answerWith({"HTTP/1.1 407 Proxy Authentication Required\r\nContent-Length: 0\r\n\r\n"});
    platform::testing::ProxyEnvironment environment(proxy.url());
    auto proxied = vtu_dataTaskPromiseWithRequest(session_, post("https://upload.test/batch", "x"));
    ASSERT_TRUE(pumpUntil([&] { return !proxied->isPending(); }));
    ASSERT_TRUE(proxied->isRejected());
    EXPECT_EQ(proxied->error()->domain(), platform::kURLErrorDomain);
    EXPECT_EQ(proxied->error()->code(), platform::kURLErrorCannotConnectToHost);
    EXPECT_EQ(proxied->error()->userInfo().count(platform::kURLErrorFailingResponseKey), 0u);
    EXPECT_EQ(proxy.requests(), std::vector<std::string>{"CONNECT upload.test:443 HTTP/1.1"});
  }

  auto closed = platform::URLSession::sessionWithConfiguration(
      platform::URLSessionConfiguration::defaultSessionConfiguration());
  closed->finishTasksAndInvalidate();
  auto none = vtu_dataTaskPromiseWithRequest(closed, post(server_.url("/batch"), "x"));
  ASSERT_TRUE(pumpUntil([&] { return !none->isPending(); }));
  ASSERT_TRUE(none->isRejected());
  EXPECT_EQ(none->error()->code(), platform::kURLErrorUnknown);
  EXPECT_TRUE(server_.received().empty());
}

}  // namespace
