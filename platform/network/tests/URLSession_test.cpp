#include "platform/network/URLSession.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/base/Files.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/network/tests/LoopbackServer.h"
#include "platform/network/tests/ScriptedProxy.h"
#include "platform/testing/PlatformTest.h"

namespace platform {
namespace {

using testing::LoopbackServer;

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }
std::string textOf(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Records every call it gets and answers redirects and challenges as told.
class RecordingDelegate : public URLSessionDelegate {
 public:
  std::vector<std::string> events;
  Bytes data;
  std::string downloadedContent;
  std::filesystem::path downloadLocation;
  ErrorPtr completionError;
  bool completed = false;
  bool finishedBackgroundEvents = false;
  bool invalidated = false;
  std::vector<long> redirectStatuses;
  std::vector<URLRequest> proposedRedirects;
  std::vector<URLAuthenticationChallenge> challenges;
  bool followRedirects = true;
  // When set, a followed redirect goes here instead of where the server pointed.
  std::string redirectTo;
  std::optional<URLSessionAuthChallengeDisposition> trustAnswer;
  // When set, the answer to a challenge is kept in heldTrustAnswer instead of being given.
  bool holdTrustAnswer = false;
  std::function<void()> heldTrustAnswer;

  void didReceiveData(URLSession&, URLSessionTask&, const Bytes& bytes) override {
    events.push_back("data");
    data.insert(data.end(), bytes.begin(), bytes.end());
  }
  void didFinishDownloadingToURL(URLSession&, URLSessionTask&,
                                 const std::filesystem::path& location) override {
    events.push_back("download");
    downloadLocation = location;
    auto content = files::readFile(location);
    if (content) downloadedContent = textOf(*content);
  }
  void didCompleteWithError(URLSession&, URLSessionTask&, ErrorPtr error) override {
    events.push_back("complete");
    completionError = error;
    completed = true;
  }
  void willPerformHTTPRedirection(URLSession&, URLSessionTask&, const HTTPURLResponse& response,
                                  URLRequest newRequest, RedirectCompletion completion) override {
    events.push_back("redirect");
    redirectStatuses.push_back(response.statusCode());
    proposedRedirects.push_back(newRequest);
    if (!redirectTo.empty()) newRequest.URL = redirectTo;
    completion(followRedirects ? std::optional<URLRequest>(newRequest) : std::nullopt);
  }
  void didReceiveChallenge(URLSession&, URLSessionTask&,
                           const URLAuthenticationChallenge& challenge,
                           ChallengeCompletion completion) override {
    events.push_back("challenge");
    challenges.push_back(challenge);
    auto answer = [answer = trustAnswer, trust = challenge.serverTrust, completion] {
      if (!answer) {
        completion(URLSessionAuthChallengeDisposition::PerformDefaultHandling, nullptr);
      } else if (*answer == URLSessionAuthChallengeDisposition::UseCredential) {
        completion(*answer, URLCredential::credentialForTrust(trust));
      } else {
        completion(*answer, nullptr);
      }
    };
    if (holdTrustAnswer) {
      heldTrustAnswer = answer;
    } else {
      answer();
    }
  }
  void didFinishEventsForBackgroundURLSession(URLSession&) override {
    events.push_back("background-finished");
    finishedBackgroundEvents = true;
  }
  void didBecomeInvalidWithError(URLSession&, ErrorPtr) override {
    events.push_back("invalid");
    invalidated = true;
  }
};

struct Outcome {
  bool done = false;
  Bytes data;
  std::shared_ptr<const HTTPURLResponse> response;
  ErrorPtr error;
};

URLSession::DataTaskCompletion recordInto(Outcome& outcome) {
  return [&outcome](const Bytes& data, std::shared_ptr<const HTTPURLResponse> response,
                    ErrorPtr error) {
    outcome.data = data;
    outcome.response = std::move(response);
    outcome.error = std::move(error);
    outcome.done = true;
  };
}

// A gzip stream of `size` zero bytes: a few tens of kilobytes on the wire.
std::string gzippedZeros(std::size_t size) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out;
  const std::vector<unsigned char> zeros(1 << 20, 0);
  std::vector<unsigned char> chunk(1 << 16);
  std::size_t left = size;
  int flush = Z_NO_FLUSH;
  do {
    const std::size_t part = std::min(left, zeros.size());
    left -= part;
    flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
    stream.next_in = const_cast<unsigned char*>(zeros.data());
    stream.avail_in = static_cast<uInt>(part);
    do {
      stream.next_out = chunk.data();
      stream.avail_out = static_cast<uInt>(chunk.size());
      deflate(&stream, flush);
      out.append(reinterpret_cast<const char*>(chunk.data()), chunk.size() - stream.avail_out);
    } while (stream.avail_out == 0);
  } while (flush != Z_FINISH);
  deflateEnd(&stream);
  return out;
}

class URLSessionTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    server_.server().Post("/echo", [](const httplib::Request& request, httplib::Response& reply) {
      reply.set_header("X-Reply", "yes");
      reply.set_content("echo:" + request.body, "text/plain");
    });
    server_.server().Get("/hello", [](const httplib::Request&, httplib::Response& reply) {
      reply.set_content("hello world", "text/plain");
    });
    server_.server().Get("/missing", [](const httplib::Request&, httplib::Response& reply) {
      reply.status = 404;
      reply.set_content("nope", "text/plain");
    });
    for (int status : {300, 301, 302, 303, 307, 308}) {
      auto handler = [status](const httplib::Request&, httplib::Response& reply) {
        reply.status = status;
        reply.set_header("Location", "/landing");
        reply.set_content("moved", "text/plain");
      };
      server_.server().Get("/redirect/" + std::to_string(status), handler);
      server_.server().Post("/redirect/" + std::to_string(status), handler);
    }
    auto landing = [](const httplib::Request& request, httplib::Response& reply) {
      reply.set_content("landed:" + request.method + ":" + request.body, "text/plain");
    };
    server_.server().Get("/landing", landing);
    server_.server().Post("/landing", landing);
    server_.server().Get("/loop", [](const httplib::Request&, httplib::Response& reply) {
      reply.status = 302;
      reply.set_header("Location", "/loop");
    });
    server_.server().Get("/slow", [this](const httplib::Request&, httplib::Response& reply) {
      std::unique_lock lock(slowMutex_);
      slowRelease_.wait_for(lock, std::chrono::seconds(10), [this] { return released_; });
      reply.set_content("late", "text/plain");
    });
    auto slowWithBody = [this](const httplib::Request& request, httplib::Response& reply) {
      if (request.method == "POST") postedToSlow_ = request.body.size();
      std::unique_lock lock(slowMutex_);
      slowRelease_.wait_for(lock, std::chrono::seconds(10), [this] { return released_; });
      reply.set_content("late", "text/plain");
    };
    server_.server().Post("/slow", slowWithBody);
    // Compressed answers of 64 MiB ("full") and one byte more.
    server_.server().Get("/bomb", [](const httplib::Request& request, httplib::Response& reply) {
      reply.set_header("Content-Encoding", "gzip");
      reply.set_content(gzippedZeros(request.has_param("full") ? 64u << 20 : (64u << 20) + 1),
                        "application/octet-stream");
    });
    server_.server().Put("/slow", slowWithBody);
    server_.start();
  }
  void TearDown() override {
    release();
    server_.stop();
    PlatformTest::TearDown();
  }

  void release() {
    std::lock_guard lock(slowMutex_);
    released_ = true;
    slowRelease_.notify_all();
  }

  LoopbackServer server_;
  std::mutex slowMutex_;
  std::condition_variable slowRelease_;
  bool released_ = false;
  std::atomic<std::size_t> postedToSlow_{0};
};

TEST_F(URLSessionTest, DataTaskSendsMethodHeadersAndBodyAndReportsTheResponse) {
  auto config = URLSessionConfiguration::defaultSessionConfiguration();
  config.HTTPAdditionalHeaders = {{"X-Session", "session"}, {"X-Both", "from-session"}};
  auto session = URLSession::sessionWithConfiguration(config, nullptr, DispatchQueue::main());

  URLRequest request(server_.url("/echo"));
  request.HTTPMethod = "POST";
  request.HTTPBody = bytesOf("payload");
  request.setValueForHTTPHeaderField("application/octet-stream", "Content-Type");
  request.setValueForHTTPHeaderField("from-request", "x-both");
  Outcome first, second;
  auto task = session->dataTaskWithRequest(request, recordInto(first));
  auto other =
      session->dataTaskWithRequest(URLRequest(server_.url("/missing")), recordInto(second));
  ASSERT_TRUE(task && other);
  EXPECT_EQ(task->taskIdentifier(), 1u);
  EXPECT_EQ(other->taskIdentifier(), 2u);
  EXPECT_EQ(task->state(), URLSessionTaskState::Suspended);
  task->resume();
  other->resume();
  ASSERT_TRUE(pumpUntil([&] { return first.done && second.done; }));

  ASSERT_FALSE(first.error);
  ASSERT_TRUE(first.response);
  EXPECT_EQ(first.response->statusCode(), 200);
  EXPECT_EQ(first.response->valueForHTTPHeaderField("x-reply"), "yes");
  EXPECT_EQ(textOf(first.data), "echo:payload");
  EXPECT_EQ(task->state(), URLSessionTaskState::Completed);
  // An HTTP error status is a response, not a transport error.
  ASSERT_FALSE(second.error);
  EXPECT_EQ(second.response->statusCode(), 404);
  EXPECT_EQ(textOf(second.data), "nope");

  auto received = server_.received();
  auto echo = std::find_if(received.begin(), received.end(),
                           [](const auto& r) { return r.path == "/echo"; });
  ASSERT_NE(echo, received.end());
  EXPECT_EQ(echo->method, "POST");
  EXPECT_EQ(echo->body, "payload");
  EXPECT_EQ(echo->header("Content-Type"), "application/octet-stream");
  EXPECT_EQ(echo->header("X-Session"), "session");
  EXPECT_EQ(echo->header("X-Both"), "from-request");
  EXPECT_EQ(echo->headers.count("X-Both"), 1u);
  EXPECT_FALSE(echo->hasHeader("Expect"));
}

TEST_F(URLSessionTest, DelegateHearsDataThenCompletion) {
  auto delegate = std::make_shared<RecordingDelegate>();
  auto session = URLSession::sessionWithConfiguration(
      URLSessionConfiguration::defaultSessionConfiguration(), delegate, DispatchQueue::main());
  URLRequest request(server_.url("/echo"));
  request.HTTPMethod = "POST";
  auto task = session->uploadTaskWithRequestFromData(request, bytesOf("from memory"));
  ASSERT_TRUE(task);
  task->resume();
  ASSERT_TRUE(pumpUntil([&] { return delegate->completed; }));
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"data", "complete"}));
  EXPECT_EQ(textOf(delegate->data), "echo:from memory");
  EXPECT_FALSE(delegate->completionError);
  EXPECT_EQ(task->response()->statusCode(), 200);

  session->finishTasksAndInvalidate();
  ASSERT_TRUE(pumpUntil([&] { return delegate->invalidated; }));
  EXPECT_FALSE(session->dataTaskWithRequest(request));
}

TEST_F(URLSessionTest, UploadFromFileStreamsTheFileAndAMissingFileFails) {
  auto file = home() / "upload.bin";
  ASSERT_TRUE(files::writeAtomically(file, std::string("file body")));
  auto session = URLSession::sessionWithConfiguration(
      URLSessionConfiguration::defaultSessionConfiguration(), nullptr, DispatchQueue::main());
  URLRequest request(server_.url("/echo"));
  request.HTTPMethod = "POST";
  Outcome sent, missing;
  session->uploadTaskWithRequestFromFile(request, file, recordInto(sent))->resume();
  session->uploadTaskWithRequestFromFile(request, home() / "nothing-here", recordInto(missing))
      ->resume();
  ASSERT_TRUE(pumpUntil([&] { return sent.done && missing.done; }));
  ASSERT_FALSE(sent.error);
  EXPECT_EQ(textOf(sent.data), "echo:file body");
  ASSERT_TRUE(missing.error);
  EXPECT_EQ(missing.error->domain(), kURLErrorDomain);
  EXPECT_EQ(missing.error->code(), kURLErrorFileDoesNotExist);
  EXPECT_FALSE(missing.response);
}

TEST_F(URLSessionTest, DownloadTaskHandsOverAFileThatIsRemovedAfterwards) {
  auto delegate = std::make_shared<RecordingDelegate>();
  auto session = URLSession::sessionWithConfiguration(
      URLSessionConfiguration::defaultSessionConfiguration(), delegate, DispatchQueue::main());
  session->downloadTaskWithRequest(URLRequest(server_.url("/hello")))->resume();
  ASSERT_TRUE(pumpUntil([&] { return delegate->completed; }));
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"download", "complete"}));
  EXPECT_EQ(delegate->downloadedContent, "hello world");
  EXPECT_FALSE(files::exists(delegate->downloadLocation));
}

TEST_F(URLSessionTest, RedirectsFollowOrStopAsTheDelegateSays) {
  struct Case {
    int status;
    std::string method;
    bool follow;
    long expectedStatus;
    std::string expectedBody;
  };
  const std::vector<Case> cases = {
      {301, "GET", false, 301, "moved"},
      {302, "POST", false, 302, "moved"},
      {307, "GET", false, 307, "moved"},
      {300, "GET", false, 300, "moved"},
      {303, "POST", true, 200, "landed:GET:"},
      {302, "POST", true, 200, "landed:GET:"},
      {307, "POST", true, 200, "landed:POST:body"},
      {308, "POST", true, 200, "landed:POST:body"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.status) + " " + c.method);
    auto delegate = std::make_shared<RecordingDelegate>();
    delegate->followRedirects = c.follow;
    auto session = URLSession::sessionWithConfiguration(
        URLSessionConfiguration::defaultSessionConfiguration(), delegate, DispatchQueue::main());
    URLRequest request(server_.url("/redirect/" + std::to_string(c.status)));
    request.HTTPMethod = c.method;
    if (c.method == "POST") request.HTTPBody = bytesOf("body");
    Outcome outcome;
    auto task = session->dataTaskWithRequest(request, recordInto(outcome));
    task->resume();
    ASSERT_TRUE(pumpUntil([&] { return outcome.done; }));
    ASSERT_FALSE(outcome.error);
    EXPECT_EQ(outcome.response->statusCode(), c.expectedStatus);
    EXPECT_EQ(textOf(outcome.data), c.expectedBody);
    EXPECT_EQ(delegate->redirectStatuses, std::vector<long>{c.status});
    ASSERT_EQ(delegate->proposedRedirects.size(), 1u);
    EXPECT_EQ(delegate->proposedRedirects[0].URL, server_.url("/landing"));
    if (c.follow) {
      EXPECT_EQ(task->currentRequest().URL, server_.url("/landing"));
    }
    session->finishTasksAndInvalidate();
  }
}

TEST_F(URLSessionTest, EndlessRedirectsFailAndWithoutDelegateRedirectsAreFollowed) {
  auto session = URLSession::sessionWithConfiguration(
      URLSessionConfiguration::defaultSessionConfiguration(), nullptr, DispatchQueue::main());
  Outcome loop, followed;
  session->dataTaskWithRequest(URLRequest(server_.url("/loop")), recordInto(loop))->resume();
  session->dataTaskWithRequest(URLRequest(server_.url("/redirect/301")), recordInto(followed))
      ->resume();
  ASSERT_TRUE(pumpUntil([&] { return loop.done && followed.done; }));
  ASSERT_TRUE(loop.error);
  EXPECT_EQ(loop.error->code(), kURLErrorHTTPTooManyRedirects);
  ASSERT_FALSE(followed.error);
  EXPECT_EQ(textOf(followed.data), "landed:GET:");
}

TEST_F(URLSessionTest, TransportFailuresCarryURLErrors) {
  auto session = URLSession::sessionWithConfiguration(
      URLSessionConfiguration::defaultSessionConfiguration(), nullptr, DispatchQueue::main());
  // A port nobody listens on: bind one, then let it go.
  int closedPort = 0;
  {
    LoopbackServer gone;
    gone.start();
    closedPort = gone.port();
  }
  // A 303 with a body of its own, pointing where nobody listens.
  server_.server().Post(
      "/see-nobody", [closedPort](const httplib::Request&, httplib::Response& reply) {
        reply.status = 303;
        reply.set_header("Location", "http://127.0.0.1:" + std::to_string(closedPort) + "/");
        reply.set_content("see other", "text/plain");
      });
  Outcome refused, badScheme, timedOut, redirectedNowhere;
  session
      ->dataTaskWithRequest(URLRequest("http://127.0.0.1:" + std::to_string(closedPort) + "/"),
                            recordInto(refused))
      ->resume();
  session->dataTaskWithRequest(URLRequest("ftp://127.0.0.1/file"), recordInto(badScheme))->resume();
  URLRequest slow(server_.url("/slow"));
  slow.timeoutInterval = 1;
  session->dataTaskWithRequest(slow, recordInto(timedOut))->resume();
  URLRequest seeNobody(server_.url("/see-nobody"));
  seeNobody.HTTPMethod = "POST";
  seeNobody.HTTPBody = bytesOf("body");
  session->dataTaskWithRequest(seeNobody, recordInto(redirectedNowhere))->resume();
  // The same through a delegate, which hears of data only as it would of a body that counts.
  auto delegate = std::make_shared<RecordingDelegate>();
  auto delegated = URLSession::sessionWithConfiguration(
      URLSessionConfiguration::defaultSessionConfiguration(), delegate, DispatchQueue::main());
  delegated->dataTaskWithRequest(seeNobody)->resume();
  ASSERT_TRUE(pumpUntil(
      [&] {
        return refused.done && badScheme.done && timedOut.done && redirectedNowhere.done &&
               delegate->completed;
      },
      20));
  ASSERT_TRUE(refused.error && badScheme.error && timedOut.error);
  EXPECT_EQ(refused.error->code(), kURLErrorCannotConnectToHost);
  EXPECT_EQ(badScheme.error->code(), kURLErrorUnsupportedURL);
  EXPECT_EQ(timedOut.error->code(), kURLErrorTimedOut);
  EXPECT_EQ(*timedOut.error->userInfo().at(kURLErrorFailingURLStringKey).string(),
            server_.url("/slow"));
  // A failed task hands on no body, not even one an earlier hop of it received.
  ASSERT_TRUE(redirectedNowhere.error);
  EXPECT_EQ(redirectedNowhere.error->code(), kURLErrorCannotConnectToHost);
  EXPECT_FALSE(redirectedNowhere.response);
  EXPECT_EQ(textOf(redirectedNowhere.data), "");
  ASSERT_TRUE(delegate->completionError);
  EXPECT_EQ(delegate->completionError->code(), kURLErrorCannotConnectToHost);
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"redirect", "complete"}));
  EXPECT_EQ(textOf(delegate->data), "");
  delegated->finishTasksAndInvalidate();
}

// The resource timeout is the longest the whole transfer may take, redirects included: each hop
// gets only the time left, and past it the task fails as timed out, whether or not a delegate
// decides the redirects. Either hop here answers well within the limit; the two together do not.
TEST_F(URLSessionTest, TheResourceTimeoutBoundsTheWholeRedirectChain) {
  constexpr auto kHop = std::chrono::milliseconds(700);
  server_.server().Post("/hop/1", [kHop](const httplib::Request&, httplib::Response& reply) {
    std::this_thread::sleep_for(kHop);
    reply.status = 303;
    reply.set_header("Location", "/hop/2");
    reply.set_content("see other", "text/plain");
  });
  server_.server().Get("/hop/2", [kHop](const httplib::Request&, httplib::Response& reply) {
    std::this_thread::sleep_for(kHop);
    reply.set_content("arrived", "text/plain");
  });
  struct Case {
    double resourceTimeout;
    bool withDelegate;
    long errorCode;  // 0: the chain completes
  };
  const Case cases[] = {{1, false, kURLErrorTimedOut}, {1, true, kURLErrorTimedOut}, {60, true, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.resourceTimeout) + (c.withDelegate ? " delegate" : ""));
    auto config = URLSessionConfiguration::defaultSessionConfiguration();
    config.timeoutIntervalForResource = c.resourceTimeout;
    auto delegate = c.withDelegate ? std::make_shared<RecordingDelegate>() : nullptr;
    auto session = URLSession::sessionWithConfiguration(config, delegate, DispatchQueue::main());
    URLRequest request(server_.url("/hop/1"));
    request.HTTPMethod = "POST";
    request.HTTPBody = bytesOf("body");
    Outcome outcome;
    session->dataTaskWithRequest(request, recordInto(outcome))->resume();
    ASSERT_TRUE(pumpUntil([&] { return outcome.done; }, 20));
    if (c.errorCode == 0) {
      ASSERT_FALSE(outcome.error) << outcome.error->localizedDescription();
      EXPECT_EQ(textOf(outcome.data), "arrived");
    } else {
      ASSERT_TRUE(outcome.error) << textOf(outcome.data);
      EXPECT_EQ(outcome.error->code(), c.errorCode);
      EXPECT_FALSE(outcome.response);
      EXPECT_TRUE(outcome.data.empty());
    }
    session->finishTasksAndInvalidate();
  }
}

// Behind a proxy (taken from the environment, as a device takes its network's; never for
// loopback), an https request goes through a tunnel the proxy opens on CONNECT. Only the server
// at the tunnel's far end answers the request: nothing of the proxy's reply to CONNECT (status,
// Location, any other field, its body) is taken as that answer, and a proxy that does not give a
// working tunnel (refusing, asking for credentials, pointing elsewhere, closing it, leading to
// something that speaks no TLS) is a transport error with no response.
TEST_F(URLSessionTest, AProxysAnswerToConnectIsNeverTheServers) {
  std::filesystem::create_directories(home() / "origin");
  LoopbackServer origin(home() / "origin", "DNS:upload.test,IP:127.0.0.1");
  origin.server().Post("/batch", [](const httplib::Request& request, httplib::Response& reply) {
    reply.status = 201;
    reply.set_header("X-From", "origin");
    reply.set_content("taken:" + request.body, "text/plain");
  });
  origin.start();
  // Reached directly (loopback never goes through the proxy) and trusted as the origin is.
  LoopbackServer elsewhere(LoopbackServer::SameCertificateAs{origin});
  elsewhere.server().Post(".*", [](const httplib::Request&, httplib::Response& reply) {
    reply.set_content("elsewhere", "text/plain");
  });
  elsewhere.start();

  const std::string tunnel = "HTTP/1.1 200 Connection established\r\n";
  struct Case {
    const char* name;
    testing::ProxyReply reply;
    long status;     // the server's answer, or 0
    long errorCode;  // the transport error, or 0
  };
  const std::vector<Case> cases = {
      {"asks for credentials",
       {"HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic "
        "realm=\"proxy\"\r\nContent-Length: 6\r\n\r\ndenied"},
       0,
       kURLErrorCannotConnectToHost},
      {"refuses",
       {"HTTP/1.1 403 Forbidden\r\nContent-Length: 7\r\n\r\nblocked"},
       0,
       kURLErrorCannotConnectToHost},
      {"cannot reach the server",
       {"HTTP/1.1 502 Bad Gateway\r\nRetry-After: 120\r\nContent-Length: 0\r\n\r\n"},
       0,
       kURLErrorCannotConnectToHost},
      {"points elsewhere with 302",
       {"HTTP/1.1 302 Found\r\nLocation: " + elsewhere.url("/landing") +
        "\r\nContent-Length: 0\r\n\r\n"},
       0,
       kURLErrorCannotConnectToHost},
      {"points elsewhere with 307",
       {"HTTP/1.1 307 Temporary Redirect\r\nLocation: " + elsewhere.url("/landing") +
        "\r\nContent-Length: 0\r\n\r\n"},
       0,
       kURLErrorCannotConnectToHost},
      {"opens the tunnel and closes it", {tunnel + "\r\n"}, 0, kURLErrorSecureConnectionFailed},
      {"tunnels to something that speaks no TLS",
       {tunnel + "\r\n", server_.port()},
       0,
       kURLErrorSecureConnectionFailed},
      {"tunnels to the server",
       {tunnel + "X-From: proxy\r\nLocation: " + elsewhere.url("/landing") + "\r\n\r\n",
        origin.port()},
       201,
       0},
  };
  testing::ScriptedProxy proxy;
  testing::ProxyEnvironment environment(proxy.url());
  const std::string url = "https://upload.test:" + std::to_string(origin.port()) + "/batch";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    proxy.answerWith(c.reply);
    auto config = URLSessionConfiguration::defaultSessionConfiguration();
    config.trustedCAFile = origin.certificateFile();
    auto delegate = std::make_shared<RecordingDelegate>();
    auto session = URLSession::sessionWithConfiguration(config, delegate, DispatchQueue::main());
    URLRequest request(url);
    request.HTTPMethod = "POST";
    request.HTTPBody = bytesOf("body");
    Outcome outcome;
    auto task = session->dataTaskWithRequest(request, recordInto(outcome));
    const size_t before = proxy.requests().size();
    task->resume();
    ASSERT_TRUE(pumpUntil([&] { return outcome.done; }, 20));
    auto requests = proxy.requests();
    ASSERT_EQ(requests.size(), before + 1);
    EXPECT_EQ(requests.back(),
              "CONNECT upload.test:" + std::to_string(origin.port()) + " HTTP/1.1");
    EXPECT_TRUE(delegate->redirectStatuses.empty());
    if (c.status != 0) {
      ASSERT_FALSE(outcome.error) << outcome.error->localizedDescription();
      ASSERT_TRUE(outcome.response);
      EXPECT_EQ(outcome.response->statusCode(), c.status);
      EXPECT_EQ(outcome.response->valueForHTTPHeaderField("X-From"), "origin");
      EXPECT_FALSE(outcome.response->valueForHTTPHeaderField("Location"));
      EXPECT_EQ(textOf(outcome.data), "taken:body");
      ASSERT_EQ(delegate->challenges.size(), 1u);
      EXPECT_EQ(delegate->challenges[0].host, "upload.test");
    } else {
      ASSERT_TRUE(outcome.error) << (outcome.response ? outcome.response->statusCode() : 0);
      EXPECT_EQ(outcome.error->domain(), kURLErrorDomain);
      EXPECT_EQ(outcome.error->code(), c.errorCode);
      EXPECT_FALSE(outcome.response);
      EXPECT_FALSE(task->response());
      EXPECT_TRUE(outcome.data.empty()) << textOf(outcome.data);
      EXPECT_EQ(outcome.error->userInfo().count(kURLErrorFailingResponseKey), 0u);
    }
    session->finishTasksAndInvalidate();
  }
  EXPECT_TRUE(elsewhere.arrived().empty());
  EXPECT_EQ(origin.received().size(), 1u);
}

// The request timeout is a timeout for silence, and waiting for the answer after the body has
// gone out is silence too: a server that takes the whole body and then says nothing is given
// up on, however quickly the body itself went (and whatever the method).
TEST_F(URLSessionTest, ASilentServerTimesOutAfterTheBodyWasSent) {
  auto config = URLSessionConfiguration::defaultSessionConfiguration();
  auto session = URLSession::sessionWithConfiguration(config, nullptr, DispatchQueue::main());
  struct Case {
    const char* method;
    std::size_t bodySize;
  };
  const Case cases[] = {{"POST", 64 * 1024}, {"PUT", 10}, {"GET", 0}};
  std::vector<Outcome> outcomes(std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    URLRequest request(server_.url("/slow"));
    request.HTTPMethod = cases[i].method;
    request.HTTPBody = Bytes(cases[i].bodySize, 'x');
    request.setValueForHTTPHeaderField("application/octet-stream", "Content-Type");
    request.timeoutInterval = 0.5;
    session->dataTaskWithRequest(request, recordInto(outcomes[i]))->resume();
  }
  // The server answers after four seconds of silence, long past the timeout, unless every
  // caller has heard back before: the answer must not be what the caller gets.
  std::thread releaser([this] {
    {
      std::unique_lock lock(slowMutex_);
      slowRelease_.wait_for(lock, std::chrono::seconds(4), [this] { return released_; });
    }
    release();
  });
  const bool done = pumpUntil(
      [&] {
        for (const auto& outcome : outcomes) {
          if (!outcome.done) return false;
        }
        return true;
      },
      20);
  release();
  releaser.join();
  ASSERT_TRUE(done);
  EXPECT_EQ(postedToSlow_.load(), 64u * 1024u);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    ASSERT_TRUE(outcomes[i].error)
        << cases[i].method << " got "
        << (outcomes[i].response ? outcomes[i].response->statusCode() : 0) << " "
        << textOf(outcomes[i].data);
    EXPECT_EQ(outcomes[i].error->code(), kURLErrorTimedOut) << cases[i].method;
    EXPECT_FALSE(outcomes[i].response) << cases[i].method;
  }
}

// Credentials go only where the request was meant to go: a redirect to another origin (scheme,
// host or port) leaves Authorization, Cookie and the API-key and auth-token fields behind,
// whether the request or the configuration carries them; a redirect within the origin keeps them.
TEST_F(URLSessionTest, RedirectsToAnotherOriginLeaveTheCredentialsBehind) {
  LoopbackServer other;
  other.server().Get("/landing", [](const httplib::Request&, httplib::Response& reply) {
    reply.set_content("elsewhere", "text/plain");
  });
  other.server().Post("/landing", [](const httplib::Request& request, httplib::Response& reply) {
    reply.set_content("elsewhere:" + request.body, "text/plain");
  });
  other.start();
  for (int status : {301, 302, 303, 307, 308}) {
    server_.server().Post("/away/" + std::to_string(status),
                          [status, &other](const httplib::Request&, httplib::Response& reply) {
                            reply.status = status;
                            reply.set_header("Location", other.url("/landing"));
                          });
  }
  const HTTPHeaderFields credentials = {{"Authorization", "LIS_v2 refresh-secret"},
                                        {"Cookie", "session=secret"},
                                        {"X-Veltro-Api-Key", "key-secret"},
                                        {"x-veltro-lis-ios-iid-migration-auth", "legacy-secret"}};
  struct Case {
    std::string path;
    bool crossOrigin;
    std::string expectedBody;
  };
  const std::vector<Case> cases = {
      {"/away/301", true, "elsewhere"},        {"/away/302", true, "elsewhere"},
      {"/away/303", true, "elsewhere"},        {"/away/307", true, "elsewhere:body"},
      {"/away/308", true, "elsewhere:body"},   {"/redirect/307", false, "landed:POST:body"},
      {"/redirect/303", false, "landed:GET:"},
  };
  for (bool fromConfiguration : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.path + (fromConfiguration ? " configuration" : " request"));
      auto config = URLSessionConfiguration::defaultSessionConfiguration();
      URLRequest request(server_.url(c.path));
      request.HTTPMethod = "POST";
      request.HTTPBody = bytesOf("body");
      for (const auto& [name, value] : credentials) {
        if (fromConfiguration) {
          config.HTTPAdditionalHeaders[name] = value;
        } else {
          request.setValueForHTTPHeaderField(value, name);
        }
      }
      request.setValueForHTTPHeaderField("kept", "X-Plain");
      auto session = URLSession::sessionWithConfiguration(config, nullptr, DispatchQueue::main());
      Outcome outcome;
      session->dataTaskWithRequest(request, recordInto(outcome))->resume();
      ASSERT_TRUE(pumpUntil([&] { return outcome.done; }));
      ASSERT_FALSE(outcome.error) << outcome.error->localizedDescription();
      EXPECT_EQ(textOf(outcome.data), c.expectedBody);
      auto& landing = c.crossOrigin ? other : server_;
      auto received = landing.received();
      ASSERT_FALSE(received.empty());
      const auto& last = received.back();
      EXPECT_EQ(last.path, "/landing");
      EXPECT_EQ(last.header("X-Plain"), "kept");
      for (const auto& [name, value] : credentials) {
        SCOPED_TRACE(name);
        if (c.crossOrigin) {
          EXPECT_FALSE(last.hasHeader(name)) << last.header(name);
        } else {
          EXPECT_EQ(last.header(name), value);
        }
      }
      session->finishTasksAndInvalidate();
    }
  }
  // A request that was never redirected keeps its fields, however its URL is written.
  {
    URLRequest request(server_.url("/echo").substr(std::string("http://").size()));
    request.HTTPMethod = "POST";
    request.setValueForHTTPHeaderField("key-secret", "X-Veltro-Api-Key");
    auto session = URLSession::sessionWithConfiguration(
        URLSessionConfiguration::defaultSessionConfiguration(), nullptr, DispatchQueue::main());
    Outcome outcome;
    session->dataTaskWithRequest(request, recordInto(outcome))->resume();
    ASSERT_TRUE(pumpUntil([&] { return outcome.done; }));
    ASSERT_FALSE(outcome.error) << outcome.error->localizedDescription();
    EXPECT_EQ(server_.received().back().header("X-Veltro-Api-Key"), "key-secret");
    session->finishTasksAndInvalidate();
  }
  EXPECT_TRUE(isSameOrigin("http://127.0.0.1:80/a", "HTTP://127.0.0.1/b?c"));
  EXPECT_TRUE(isSameOrigin("https://Example.com/a", "https://example.com:443/"));
  EXPECT_FALSE(isSameOrigin("https://example.com/", "http://example.com/"));
  EXPECT_FALSE(isSameOrigin("http://127.0.0.1:8080/", "http://127.0.0.1:8081/"));
  EXPECT_FALSE(isSameOrigin("http://127.0.0.1/", "http://localhost/"));
  EXPECT_FALSE(isSameOrigin("not a url", "not a url"));
}

// A response body the transfer inflates is held to a ceiling of 64 MiB: a small compressed
// answer cannot make the task take all memory. Up to the ceiling it arrives whole.
TEST_F(URLSessionTest, AnInflatedResponseBodyStopsAtItsCeiling) {
  constexpr std::size_t kCeiling = 64u << 20;
  ASSERT_LT(gzippedZeros(kCeiling + 1).size(), 100u * 1024u);
  auto session = URLSession::sessionWithConfiguration(
      URLSessionConfiguration::defaultSessionConfiguration(), nullptr, DispatchQueue::main());
  Outcome full, bomb;
  session->dataTaskWithRequest(URLRequest(server_.url("/bomb?full=1")), recordInto(full))->resume();
  ASSERT_TRUE(pumpUntil([&] { return full.done; }, 60));
  ASSERT_FALSE(full.error) << full.error->localizedDescription();
  EXPECT_EQ(full.data.size(), kCeiling);
  full.data = Bytes();
  session->dataTaskWithRequest(URLRequest(server_.url("/bomb")), recordInto(bomb))->resume();
  ASSERT_TRUE(pumpUntil([&] { return bomb.done; }, 60));
  ASSERT_TRUE(bomb.error) << "got " << bomb.data.size() << " bytes";
  EXPECT_EQ(bomb.error->code(), kURLErrorDataLengthExceedsMaximum);
  EXPECT_TRUE(bomb.data.empty());
  EXPECT_FALSE(bomb.response);
  // The server did answer: the error carries its status and header fields.
  auto answered = bomb.error->userInfo().find(kURLErrorFailingResponseKey);
  ASSERT_NE(answered, bomb.error->userInfo().end());
  auto response = answered->second.objectAs<HTTPURLResponse>();
  ASSERT_TRUE(response);
  EXPECT_EQ(response->statusCode(), 200);
  EXPECT_EQ(response->valueForHTTPHeaderField("Content-Encoding"), "gzip");
}

// A body cut short after the status arrived fails the task, with the status handed on; a server
// that never answered leaves no status to hand on.
TEST_F(URLSessionTest, ABodyCutShortCarriesTheStatusThatArrived) {
  server_.server().Get("/cut", [](const httplib::Request&, httplib::Response& reply) {
    reply.status = 202;
    reply.set_content_provider(1000, "text/plain",
                               [](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                 if (offset > 0) return false;  // drops the connection
                                 sink.write("only the start", 14);
                                 return true;
                               });
  });
  auto session = URLSession::sessionWithConfiguration(
      URLSessionConfiguration::defaultSessionConfiguration(), nullptr, DispatchQueue::main());
  Outcome cut, refused;
  session->dataTaskWithRequest(URLRequest(server_.url("/cut")), recordInto(cut))->resume();
  session->dataTaskWithRequest(URLRequest("http://127.0.0.1:1/nobody"), recordInto(refused))
      ->resume();
  ASSERT_TRUE(pumpUntil([&] { return cut.done && refused.done; }));
  ASSERT_TRUE(cut.error);
  EXPECT_FALSE(cut.response);
  auto answered = cut.error->userInfo().find(kURLErrorFailingResponseKey);
  ASSERT_NE(answered, cut.error->userInfo().end());
  ASSERT_TRUE(answered->second.objectAs<HTTPURLResponse>());
  EXPECT_EQ(answered->second.objectAs<HTTPURLResponse>()->statusCode(), 202);
  ASSERT_TRUE(refused.error);
  EXPECT_EQ(refused.error->userInfo().count(kURLErrorFailingResponseKey), 0u);
}

// A redirect is decided on its status and header fields: one whose body is cut short or over the
// ceiling is followed as any redirect is. Not followed (declined, or with nowhere to go), it
// was no answer the caller can take: the task fails, and the error carries no status that a
// caller could read as the server's verdict.
TEST_F(URLSessionTest, ARedirectWhoseBodyCannotBeReadIsFollowedOrFailsWithoutItsStatus) {
  auto cutRedirect = [](int status, bool withLocation) {
    return [status, withLocation](const httplib::Request&, httplib::Response& reply) {
      reply.status = status;
      if (withLocation) reply.set_header("Location", "/landing");
      reply.set_content_provider(1000, "text/plain",
                                 [](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                   if (offset > 0) return false;  // drops the connection
                                   sink.write("moved, bu", 9);
                                   return true;
                                 });
    };
  };
  for (int status : {301, 303, 307, 308}) {
    server_.server().Get("/cut-redirect/" + std::to_string(status), cutRedirect(status, true));
    server_.server().Post("/cut-redirect/" + std::to_string(status), cutRedirect(status, true));
  }
  server_.server().Post("/cut-redirect/300-nowhere", cutRedirect(300, false));
  server_.server().Get("/bomb-redirect", [](const httplib::Request&, httplib::Response& reply) {
    reply.status = 307;
    reply.set_header("Location", "/landing");
    reply.set_header("Content-Encoding", "gzip");
    reply.set_content(gzippedZeros((64u << 20) + 1), "application/octet-stream");
  });
  enum class Delegate { None, Follows, Declines };
  struct Case {
    const char* name;
    std::string path;
    std::string method;
    Delegate delegate;
    std::string landed;  // empty: the task fails
    long errorCode;
  };
  const std::vector<Case> cases = {
      {"307 cut, no delegate", "/cut-redirect/307", "POST", Delegate::None, "landed:POST:body", 0},
      {"303 cut, no delegate", "/cut-redirect/303", "POST", Delegate::None, "landed:GET:", 0},
      {"301 cut, followed", "/cut-redirect/301", "GET", Delegate::Follows, "landed:GET:", 0},
      {"308 cut, followed", "/cut-redirect/308", "POST", Delegate::Follows, "landed:POST:body", 0},
      {"307 over the ceiling, no delegate", "/bomb-redirect", "GET", Delegate::None,
       "landed:GET:", 0},
      {"301 cut, declined", "/cut-redirect/301", "POST", Delegate::Declines, "",
       kURLErrorNetworkConnectionLost},
      {"307 over the ceiling, declined", "/bomb-redirect", "GET", Delegate::Declines, "",
       kURLErrorDataLengthExceedsMaximum},
      {"300 cut with nowhere to go", "/cut-redirect/300-nowhere", "POST", Delegate::None, "",
       kURLErrorNetworkConnectionLost},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto delegate = c.delegate == Delegate::None ? nullptr : std::make_shared<RecordingDelegate>();
    if (delegate) delegate->followRedirects = c.delegate == Delegate::Follows;
    auto session = URLSession::sessionWithConfiguration(
        URLSessionConfiguration::defaultSessionConfiguration(), delegate, DispatchQueue::main());
    URLRequest request(server_.url(c.path));
    request.HTTPMethod = c.method;
    if (c.method == "POST") request.HTTPBody = bytesOf("body");
    Outcome outcome;
    session->dataTaskWithRequest(request, recordInto(outcome))->resume();
    ASSERT_TRUE(pumpUntil([&] { return outcome.done; }, 60));
    if (delegate) {
      EXPECT_EQ(delegate->redirectStatuses.size(), 1u);
    }
    if (!c.landed.empty()) {
      ASSERT_FALSE(outcome.error) << outcome.error->localizedDescription();
      ASSERT_TRUE(outcome.response);
      EXPECT_EQ(outcome.response->statusCode(), 200);
      EXPECT_EQ(textOf(outcome.data), c.landed);
    } else {
      ASSERT_TRUE(outcome.error) << (outcome.response ? outcome.response->statusCode() : 0);
      EXPECT_EQ(outcome.error->code(), c.errorCode);
      EXPECT_FALSE(outcome.response);
      EXPECT_TRUE(outcome.data.empty());
      EXPECT_EQ(outcome.error->userInfo().count(kURLErrorFailingResponseKey), 0u);
    }
    session->finishTasksAndInvalidate();
  }
}

// Timeouts too large for the transfer library's integers wait as long as the largest it takes,
// rather than wrapping round to a tiny one: the answer that comes after over a second of silence
// still arrives.
TEST_F(URLSessionTest, HugeTimeoutsDoNotWrapIntoShortOnes) {
  auto session = URLSession::sessionWithConfiguration(
      URLSessionConfiguration::defaultSessionConfiguration(), nullptr, DispatchQueue::main());
  const double timeouts[] = {std::numeric_limits<double>::infinity(), 1e300, 9.3e15};
  std::vector<Outcome> outcomes(std::size(timeouts));
  for (std::size_t i = 0; i < std::size(timeouts); ++i) {
    URLRequest request(server_.url("/slow"));
    request.timeoutInterval = timeouts[i];
    session->dataTaskWithRequest(request, recordInto(outcomes[i]))->resume();
  }
  std::thread releaser([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    release();
  });
  const bool done = pumpUntil(
      [&] {
        for (const auto& outcome : outcomes) {
          if (!outcome.done) return false;
        }
        return true;
      },
      20);
  releaser.join();
  ASSERT_TRUE(done);
  for (std::size_t i = 0; i < std::size(timeouts); ++i) {
    EXPECT_FALSE(outcomes[i].error)
        << timeouts[i] << ": " << outcomes[i].error->localizedDescription();
    EXPECT_EQ(textOf(outcomes[i].data), "late") << timeouts[i];
  }
}

TEST_F(URLSessionTest, CancellingARunningOrSuspendedTaskCompletesItAsCancelled) {
  auto session = URLSession::sessionWithConfiguration(
      URLSessionConfiguration::defaultSessionConfiguration(), nullptr, DispatchQueue::main());
  Outcome running, suspended;
  auto task = session->dataTaskWithRequest(URLRequest(server_.url("/slow")), recordInto(running));
  task->resume();
  ASSERT_TRUE(pumpUntil([&] {
    auto paths = server_.arrived();
    return std::find(paths.begin(), paths.end(), "/slow") != paths.end();
  }));
  task->cancel();
  auto never =
      session->dataTaskWithRequest(URLRequest(server_.url("/hello")), recordInto(suspended));
  never->cancel();
  ASSERT_TRUE(pumpUntil([&] { return running.done && suspended.done; }, 10));
  ASSERT_TRUE(running.error && suspended.error);
  EXPECT_EQ(running.error->code(), kURLErrorCancelled);
  EXPECT_EQ(suspended.error->code(), kURLErrorCancelled);
  never->resume();  // too late: nothing more happens
  EXPECT_EQ(never->state(), URLSessionTaskState::Completed);
}

TEST_F(URLSessionTest, BackgroundSessionsTakeOnlyFileBodiesAndReportTheirEventsDone) {
  auto delegate = std::make_shared<RecordingDelegate>();
  auto config = URLSessionConfiguration::backgroundSessionConfiguration("com.tests.background");
  EXPECT_TRUE(config.isBackground());
  EXPECT_EQ(config.identifier(), "com.tests.background");
  auto session = URLSession::sessionWithConfiguration(config, delegate, DispatchQueue::main());
  URLRequest request(server_.url("/echo"));
  request.HTTPMethod = "POST";
  EXPECT_FALSE(session->uploadTaskWithRequestFromData(request, bytesOf("memory")));

  auto file = home() / "background.bin";
  ASSERT_TRUE(files::writeAtomically(file, std::string("from disk")));
  auto task = session->uploadTaskWithRequestFromFile(request, file);
  ASSERT_TRUE(task);
  std::weak_ptr<URLSession> weakSession = session;
  session.reset();  // a running session keeps itself
  task->resume();
  ASSERT_TRUE(pumpUntil([&] { return delegate->finishedBackgroundEvents; }));
  EXPECT_EQ(delegate->events,
            (std::vector<std::string>{"data", "complete", "background-finished"}));
  EXPECT_EQ(textOf(delegate->data), "echo:from disk");
  EXPECT_TRUE(pumpUntil([&] { return weakSession.expired(); }));
}

class URLSessionTrustTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    server_ = std::make_unique<LoopbackServer>(home());
    server_->server().Get("/secure", [](const httplib::Request&, httplib::Response& reply) {
      reply.set_content("secret", "text/plain");
    });
    server_->start();
  }
  void TearDown() override {
    server_.reset();
    PlatformTest::TearDown();
  }

  // `meanwhile` runs once the task is running; a resource timeout of 0 keeps the default.
  Outcome fetch(const std::shared_ptr<RecordingDelegate>& delegate,
                const std::filesystem::path& anchors, const std::string& host = "127.0.0.1",
                double resourceTimeout = 0,
                const std::function<void(URLSessionTask&)>& meanwhile = {}) {
    auto config = URLSessionConfiguration::defaultSessionConfiguration();
    config.trustedCAFile = anchors;
    if (resourceTimeout > 0) config.timeoutIntervalForResource = resourceTimeout;
    auto session = URLSession::sessionWithConfiguration(config, delegate, DispatchQueue::main());
    Outcome outcome;
    auto task = session->dataTaskWithRequest(URLRequest(server_->url("/secure", host)),
                                             recordInto(outcome));
    task->resume();
    if (meanwhile) meanwhile(*task);
    EXPECT_TRUE(pumpUntil([&] { return outcome.done; }, 30));
    session->finishTasksAndInvalidate();
    return outcome;
  }

  std::unique_ptr<LoopbackServer> server_;
};

// The wait for the delegate's decision is bounded by the task's resource timeout like any other
// part of the transfer: a decision that has not come by then times the task out, whatever it
// turns out to be; only a cancel of the task itself is reported as cancelled.
TEST_F(URLSessionTrustTest, TheDelegateDecidesOnTheServerTrust) {
  using D = URLSessionAuthChallengeDisposition;
  enum class Timing { AtOnce, AfterTheTaskEnded, Never, AfterTheTaskIsCancelled };
  struct Case {
    std::string name;
    std::optional<D> answer;
    bool trustAnchor;
    long expectedError;  // 0: success
    Timing timing = Timing::AtOnce;
  };
  const std::vector<Case> cases = {
      {"default handling with the anchor", std::nullopt, true, 0},
      {"default handling without it", std::nullopt, false, kURLErrorServerCertificateUntrusted},
      {"credential for an unknown server", D::UseCredential, false, 0},
      {"cancel although trusted", D::CancelAuthenticationChallenge, true, kURLErrorCancelled},
      {"rejected space falls back to default", D::RejectProtectionSpace, true, 0},
      {"credential after the resource timeout", D::UseCredential, true, kURLErrorTimedOut,
       Timing::AfterTheTaskEnded},
      {"cancel after the resource timeout", D::CancelAuthenticationChallenge, true,
       kURLErrorTimedOut, Timing::AfterTheTaskEnded},
      {"no answer ever", std::nullopt, true, kURLErrorTimedOut, Timing::Never},
      {"task cancelled while the delegate decides", D::UseCredential, true, kURLErrorCancelled,
       Timing::AfterTheTaskIsCancelled},
  };
  auto emptyAnchors = home() / "no-anchors.pem";
  std::ofstream(emptyAnchors).close();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto delegate = std::make_shared<RecordingDelegate>();
    delegate->trustAnswer = c.answer;
    delegate->holdTrustAnswer = c.timing != Timing::AtOnce;
    const auto requestsBefore = server_->arrived().size();
    // Only the timed rows are bounded by the resource timeout; a cancelled one has the default,
    // so that nothing but the cancel can end it.
    const bool timed = c.timing == Timing::AfterTheTaskEnded || c.timing == Timing::Never;
    std::function<void(URLSessionTask&)> meanwhile;
    if (c.timing == Timing::AfterTheTaskIsCancelled) {
      meanwhile = [&](URLSessionTask& task) {
        ASSERT_TRUE(pumpUntil([&] { return delegate->heldTrustAnswer != nullptr; }));
        task.cancel();
      };
    }
    auto outcome = fetch(delegate, c.trustAnchor ? server_->certificateFile() : emptyAnchors,
                         "127.0.0.1", timed ? 2 : 0, meanwhile);
    if (c.timing == Timing::AfterTheTaskEnded || c.timing == Timing::AfterTheTaskIsCancelled) {
      ASSERT_TRUE(delegate->heldTrustAnswer);
      delegate->heldTrustAnswer();  // too late: changes nothing
    }
    ASSERT_EQ(delegate->challenges.size(), 1u);
    const auto& challenge = delegate->challenges[0];
    EXPECT_EQ(challenge.authenticationMethod, kAuthenticationMethodServerTrust);
    EXPECT_EQ(challenge.host, "127.0.0.1");
    ASSERT_TRUE(challenge.serverTrust);
    EXPECT_EQ(challenge.serverTrust->certificates().size(), 1u);
    if (c.expectedError == 0) {
      ASSERT_FALSE(outcome.error) << outcome.error->localizedDescription();
      EXPECT_EQ(textOf(outcome.data), "secret");
    } else {
      ASSERT_TRUE(outcome.error);
      EXPECT_EQ(outcome.error->code(), c.expectedError) << outcome.error->localizedDescription();
      EXPECT_FALSE(outcome.response);
      EXPECT_EQ(server_->arrived().size(), requestsBefore);
    }
  }
}

TEST_F(URLSessionTrustTest, EvaluationChecksTheAnchorAndTheHostName) {
  auto delegate = std::make_shared<RecordingDelegate>();
  delegate->trustAnswer = URLSessionAuthChallengeDisposition::UseCredential;
  ASSERT_FALSE(fetch(delegate, {}).error);
  ServerTrustPtr presented = delegate->challenges.at(0).serverTrust;
  const auto& chain = presented->certificates();

  struct Case {
    std::string host;
    std::filesystem::path anchors;
    int status;
    ServerTrustResult result;
  };
  const std::vector<Case> cases = {
      {"127.0.0.1", server_->certificateFile(), kServerTrustStatusSuccess,
       ServerTrustResult::Unspecified},
      {"localhost", server_->certificateFile(), kServerTrustStatusSuccess,
       ServerTrustResult::Unspecified},
      {"example.invalid", server_->certificateFile(), kServerTrustStatusSuccess,
       ServerTrustResult::RecoverableTrustFailure},
      {"127.0.0.2", server_->certificateFile(), kServerTrustStatusSuccess,
       ServerTrustResult::RecoverableTrustFailure},
      {"127.0.0.1", home() / "absent.pem", kServerTrustStatusAnchors, ServerTrustResult::Invalid},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host + " " + c.anchors.string());
    auto trust = std::make_shared<ServerTrust>(c.host, chain, c.anchors);
    ServerTrustResult result = ServerTrustResult::Invalid;
    EXPECT_EQ(evaluateServerTrust(trust, &result), c.status);
    EXPECT_EQ(result, c.result);
  }
  ServerTrustResult result = ServerTrustResult::Invalid;
  EXPECT_EQ(evaluateServerTrust(nullptr, &result), kServerTrustStatusParam);
  auto garbage = std::make_shared<ServerTrust>("127.0.0.1", std::vector<Bytes>{bytesOf("junk")},
                                               server_->certificateFile());
  EXPECT_EQ(evaluateServerTrust(garbage, &result), kServerTrustStatusDecode);
  EXPECT_FALSE(URLCredential::credentialForTrust(nullptr));
}

TEST_F(URLSessionTrustTest, TheProcessWideAnchorServesConfigurationsWithoutOne) {
  URLSession::setDefaultTrustedCAFile(server_->certificateFile());
  EXPECT_EQ(URLSession::defaultTrustedCAFile(), server_->certificateFile());
  auto outcome = fetch(std::make_shared<RecordingDelegate>(), {}, "localhost");
  ASSERT_FALSE(outcome.error) << outcome.error->localizedDescription();
  EXPECT_EQ(textOf(outcome.data), "secret");
}

// A secure request never continues in clear text: a redirect from https to http that would be
// followed fails the task, and nothing reaches the http server. The refusal comes only where the
// redirect would be followed: a delegate that declines it gets the redirect answer itself, as it
// would for any redirect; one that turns a secure redirect towards http is refused as well.
TEST_F(URLSessionTrustTest, ARedirectFromHttpsToHttpIsRefused) {
  LoopbackServer plain;
  plain.server().Post("/landing", [](const httplib::Request&, httplib::Response& reply) {
    reply.set_content("in the clear", "text/plain");
  });
  plain.start();
  for (int status : {301, 302, 303, 307, 308}) {
    server_->server().Post("/downgrade/" + std::to_string(status),
                           [status, &plain](const httplib::Request&, httplib::Response& reply) {
                             reply.status = status;
                             reply.set_header("Location", plain.url("/landing"));
                           });
    server_->server().Post("/within/" + std::to_string(status),
                           [status, this](const httplib::Request&, httplib::Response& reply) {
                             reply.status = status;
                             reply.set_header("Location", server_->url("/secure"));
                           });
  }
  enum class Delegate { None, Follows, Declines, TurnsToHttp };
  struct Case {
    const char* name;
    Delegate delegate;
    const char* path;  // followed by the status
  };
  const std::vector<Case> cases = {
      {"no delegate", Delegate::None, "/downgrade/"},
      {"delegate follows", Delegate::Follows, "/downgrade/"},
      {"delegate declines", Delegate::Declines, "/downgrade/"},
      {"delegate turns a secure redirect to http", Delegate::TurnsToHttp, "/within/"},
  };
  for (const auto& c : cases) {
    for (int status : {301, 302, 303, 307, 308}) {
      SCOPED_TRACE(std::string(c.name) + " " + std::to_string(status));
      auto config = URLSessionConfiguration::defaultSessionConfiguration();
      config.trustedCAFile = server_->certificateFile();
      auto delegate =
          c.delegate == Delegate::None ? nullptr : std::make_shared<RecordingDelegate>();
      if (delegate) delegate->followRedirects = c.delegate != Delegate::Declines;
      if (c.delegate == Delegate::TurnsToHttp) delegate->redirectTo = plain.url("/landing");
      auto session = URLSession::sessionWithConfiguration(config, delegate, DispatchQueue::main());
      URLRequest request(server_->url(c.path + std::to_string(status)));
      request.HTTPMethod = "POST";
      request.HTTPBody = bytesOf("body");
      request.setValueForHTTPHeaderField("key-secret", "X-Veltro-Api-Key");
      Outcome outcome;
      session->dataTaskWithRequest(request, recordInto(outcome))->resume();
      ASSERT_TRUE(pumpUntil([&] { return outcome.done; }));
      if (delegate) {
        EXPECT_EQ(delegate->redirectStatuses, std::vector<long>{status});
      }
      if (c.delegate == Delegate::Declines) {
        ASSERT_FALSE(outcome.error) << outcome.error->localizedDescription();
        ASSERT_TRUE(outcome.response);
        EXPECT_EQ(outcome.response->statusCode(), status);
      } else {
        ASSERT_TRUE(outcome.error);
        EXPECT_EQ(outcome.error->code(), kURLErrorInsecureRedirect);
        EXPECT_FALSE(outcome.response);
      }
      session->finishTasksAndInvalidate();
    }
  }
  EXPECT_TRUE(plain.arrived().empty());
}

TEST(URLRequestTest, HeaderFieldsIgnoreCase) {
  URLRequest request("http://127.0.0.1/");
  request.setValueForHTTPHeaderField("a", "Content-Type");
  request.setValueForHTTPHeaderField("b", "content-type");
  EXPECT_EQ(request.allHTTPHeaderFields.size(), 1u);
  EXPECT_EQ(request.valueForHTTPHeaderField("CONTENT-TYPE"), "b");
  request.setValueForHTTPHeaderField("", "Content-Type");
  EXPECT_FALSE(request.valueForHTTPHeaderField("Content-Type"));

  HTTPURLResponse response("http://x/", 200, {{"Content-Length", "12"}});
  EXPECT_EQ(response.expectedContentLength(), 12);
  EXPECT_EQ(HTTPURLResponse("http://x/", 200, {{"Content-Length", "x1"}}).expectedContentLength(),
            -1);
}

}  // namespace
}  // namespace platform
