#include "utilities/network/VTUNetworkURLSession.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "platform/base/Files.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/network/BackupExclusion.h"
#include "platform/network/tests/LoopbackServer.h"
#include "platform/testing/PlatformTest.h"
#include "utilities/logger/VTULogger.h"
#include "utilities/network/VTUNetwork.h"
#include "utilities/network/VTUNetworkConstants.h"

namespace {

using platform::Bytes;
using platform::ErrorPtr;
using platform::Value;
using platform::testing::LoopbackServer;

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }
std::string textOf(const std::optional<Bytes>& bytes) {
  return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<none>");
}

class RecordingLogger : public platform::Object, public VTUNetworkLoggerDelegate {
 public:
  struct Call {
    long level;
    long code;
    std::string message;
    Value::Array contexts;
  };
  void VTUNetwork_logWithLevel(long level, long code, const std::optional<std::string>& message,
                               const Value::Array& contexts) override {
    std::lock_guard lock(mutex_);
    calls_.push_back({level, code, message.value_or("<nil>"), contexts});
  }
  void VTUNetwork_logWithLevelMessageCodeMessageContext(long level, long code,
                                                        const std::optional<std::string>& message,
                                                        const Value& context) override {
    VTUNetwork_logWithLevel(level, code, message,
                            context.isNil() ? Value::Array{} : Value::Array{context});
  }
  void VTUNetwork_logWithLevel(long level, long code,
                               const std::optional<std::string>& message) override {
    VTUNetwork_logWithLevel(level, code, message, Value::Array{});
  }
  std::vector<Call> calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  std::vector<long> codes() const {
    std::vector<long> out;
    for (const auto& c : calls()) out.push_back(c.code);
    return out;
  }
  bool has(long code) const {
    auto all = codes();
    return std::find(all.begin(), all.end(), code) != all.end();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Call> calls_;
};

struct Completion {
  bool done = false;
  std::shared_ptr<const platform::HTTPURLResponse> response;
  std::optional<Bytes> data;
  std::string sessionID;
  ErrorPtr error;
};

class VTUNetworkURLSessionTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    server_.server().Post("/upload", [](const httplib::Request& request, httplib::Response& reply) {
      reply.set_content("got " + std::to_string(request.body.size()), "text/plain");
    });
    server_.server().Get("/download", [](const httplib::Request&, httplib::Response& reply) {
      reply.set_content("downloaded bytes", "text/plain");
    });
    server_.server().Post("/held", [this](const httplib::Request&, httplib::Response& reply) {
      std::unique_lock lock(holdMutex_);
      holdRelease_.wait_for(lock, std::chrono::seconds(10), [this] { return released_; });
      reply.set_content("late", "text/plain");
    });
    server_.start();
    logger_ = std::make_shared<RecordingLogger>();
  }
  void TearDown() override {
    release();
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

  VTUNetworkURLSession::CompletionHandler recordInto(Completion& completion) {
    return [&completion](auto response, auto data, const std::string& sessionID, ErrorPtr error) {
      completion.response = response;
      completion.data = data;
      completion.sessionID = sessionID;
      completion.error = error;
      completion.done = true;
    };
  }

  platform::URLRequest postRequest(const std::string& path, const std::string& body) {
    platform::URLRequest request(server_.url(path));
    request.HTTPMethod = "POST";
    request.HTTPBody = bytesOf(body);
    return request;
  }

  LoopbackServer server_;
  std::shared_ptr<RecordingLogger> logger_;
  std::mutex holdMutex_;
  std::condition_variable holdRelease_;
  bool released_ = false;
};

TEST_F(VTUNetworkURLSessionTest, NewObjectsCarryAPrefixedIdentifierAndTheTemporaryFolder) {
  auto a = VTUNetworkURLSession::initWithNetworkLoggerDelegate(logger_);
  auto b = VTUNetworkURLSession::initWithNetworkLoggerDelegate(nullptr);
  const std::string prefix = std::string(kVTUNetworkBackgroundSessionPrefix) + "-";
  EXPECT_EQ(a->sessionID().rfind(prefix, 0), 0u);
  EXPECT_EQ(a->sessionID().size(), prefix.size() + 36);  // a UUID
  EXPECT_NE(a->sessionID(), b->sessionID());
  EXPECT_EQ(a->networkDirectoryURL(), platform::SandboxHome::applicationSupport() / "VTU" /
                                          "Network" / "VTUNetworkTemporaryDirectory");
  EXPECT_FALSE(a->isBackgroundNetworkEnabled());
}

TEST_F(VTUNetworkURLSessionTest,
       BackgroundPostUploadsFromAnExcludedTemporaryFileRemovedAfterwards) {
  auto fetcher = VTUNetworkURLSession::initWithNetworkLoggerDelegate(logger_);
  fetcher->setBackgroundNetworkEnabled(true);
  Completion completion;
  auto id = fetcher->sessionIDFromAsyncPOSTRequest(postRequest("/held", "background body"),
                                                   recordInto(completion));
  ASSERT_TRUE(id);
  EXPECT_EQ(*id, fetcher->sessionID());
  auto file = fetcher->networkDirectoryURL() / ("VTUUpload_temp_" + *id);
  EXPECT_EQ(fetcher->uploadingFileURL(), file);
  ASSERT_TRUE(pumpUntil([&] { return arrived("/held"); }));
  EXPECT_EQ(platform::files::readTextFile(file), "background body");
  auto probe = home() / "probe";
  ASSERT_TRUE(platform::files::writeAtomically(probe, std::string("p")));
  bool xattrs = platform::setExcludedFromBackup(probe, true);
  if (xattrs) {
    EXPECT_TRUE(platform::isExcludedFromBackup(file));
    EXPECT_TRUE(platform::isExcludedFromBackup(fetcher->networkDirectoryURL()));
  }
  ASSERT_TRUE(fetcher->URLSession());
  EXPECT_TRUE(fetcher->URLSession()->configuration().isBackground());
  EXPECT_EQ(fetcher->URLSession()->configuration().identifier(), *id);
  EXPECT_EQ(VTUNetworkURLSession::sessionFromFetcherMapForSessionID(*id), fetcher);

  release();
  ASSERT_TRUE(pumpUntil([&] { return completion.done; }));
  ASSERT_FALSE(completion.error);
  EXPECT_EQ(completion.sessionID, *id);
  EXPECT_EQ(textOf(completion.data), "late");
  EXPECT_FALSE(platform::files::exists(file));
  EXPECT_FALSE(VTUNetworkURLSession::sessionFromFetcherMapForSessionID(*id));
}

TEST_F(VTUNetworkURLSessionTest, ForegroundPostAndGetDeliverTheirIdentifierResponseAndBody) {
  auto poster = VTUNetworkURLSession::initWithNetworkLoggerDelegate(logger_);
  auto getter = VTUNetworkURLSession::initWithNetworkLoggerDelegate(logger_);
  Completion posted, got;
  platform::URLRequest get(server_.url("/download"));
  get.timeoutInterval = 12;
  get.setValueForHTTPHeaderField("yes", "X-Fetch");
  auto postID =
      poster->sessionIDFromAsyncPOSTRequest(postRequest("/upload", "12345"), recordInto(posted));
  auto getID = getter->sessionIDFromAsyncGETRequest(get, recordInto(got));
  ASSERT_TRUE(postID && getID);
  // The session is configured from the request.
  auto configuration = getter->URLSession()->configuration();
  EXPECT_FALSE(configuration.isBackground());
  EXPECT_EQ(configuration.timeoutIntervalForRequest, 12);
  EXPECT_EQ(configuration.timeoutIntervalForResource, 12);
  EXPECT_EQ(configuration.HTTPAdditionalHeaders.at("X-Fetch"), "yes");
  EXPECT_FALSE(configuration.URLCacheEnabled);

  ASSERT_TRUE(pumpUntil([&] { return posted.done && got.done; }));
  EXPECT_EQ(posted.sessionID, *postID);
  EXPECT_EQ(got.sessionID, *getID);
  EXPECT_EQ(textOf(posted.data), "got 5");
  EXPECT_EQ(textOf(got.data), "downloaded bytes");
  EXPECT_EQ(got.response->statusCode(), 200);
  // No upload file for a foreground request.
  EXPECT_FALSE(platform::files::exists(poster->uploadingFileURL()));
}

TEST_F(VTUNetworkURLSessionTest, ExpiredTemporaryFilesGoAtTheNextRequestYoungOnesStay) {
  auto fetcher = VTUNetworkURLSession::initWithNetworkLoggerDelegate(logger_);
  ASSERT_TRUE(fetcher->ensureTemporaryDirectoryExists());
  auto file = fetcher->networkDirectoryURL() / "VTUUpload_temp_old";
  struct Case {
    std::string name;
    double offset;  // of the clock from the file's creation
    bool removed;
  };
  const std::vector<Case> cases = {
      {"an hour and a second old", 3601, true},
      {"a hundred seconds old", 100, false},
      {"just under an hour old", 3599, false},
      {"created an hour and a second ahead", -3601, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(platform::files::writeAtomically(file, std::string("stale")));
    auto attributes = platform::files::attributes(file);
    ASSERT_TRUE(attributes);
    clock().setNow(attributes->creationDate + c.offset);
    Completion completion;
    ASSERT_TRUE(
        VTUNetworkURLSession::initWithNetworkLoggerDelegate(logger_)->sessionIDFromAsyncPOSTRequest(
            postRequest("/upload", "x"), recordInto(completion)));
    EXPECT_EQ(platform::files::exists(file), !c.removed);
    ASSERT_TRUE(pumpUntil([&] { return completion.done; }));
    platform::files::removeItem(file);
  }
  // Nothing to clean is no failure.
  fetcher->maybeRemoveTempFilesAtURL(home() / "no-such-folder", 3600);
  fetcher->removeTempItemAtURL(home() / "no-such-file");
  fetcher->maybeRemoveTempFilesAtURL({}, 3600);
  EXPECT_FALSE(logger_->has(901012));
  EXPECT_FALSE(logger_->has(901013));
}

TEST_F(VTUNetworkURLSessionTest, AFolderThatCannotBeMadeSendsTheUploadInTheForeground) {
  // A file where the folder's parent should be.
  auto parent = platform::SandboxHome::applicationSupport() / "VTU";
  platform::files::removeItem(parent);
  ASSERT_TRUE(platform::files::createDirectory(parent.parent_path(), true));
  ASSERT_TRUE(platform::files::writeAtomically(parent, std::string("in the way")));
  auto fetcher = VTUNetworkURLSession::initWithNetworkLoggerDelegate(logger_);
  fetcher->setBackgroundNetworkEnabled(true);
  Completion completion;
  ASSERT_TRUE(fetcher->sessionIDFromAsyncPOSTRequest(postRequest("/upload", "abc"),
                                                     recordInto(completion)));
  EXPECT_FALSE(fetcher->URLSession()->configuration().isBackground());
  ASSERT_TRUE(pumpUntil([&] { return completion.done; }));
  EXPECT_EQ(textOf(completion.data), "got 3");
  EXPECT_TRUE(logger_->has(901015));
}

TEST_F(VTUNetworkURLSessionTest, AnUploadFileThatCannotBeWrittenSendsTheBodyFromMemory) {
  useSystemClock();  // the folder in the way must not look expired
  auto fetcher = VTUNetworkURLSession::initWithNetworkLoggerDelegate(logger_);
  fetcher->setBackgroundNetworkEnabled(true);
  ASSERT_TRUE(platform::files::createDirectory(
      fetcher->networkDirectoryURL() / ("VTUUpload_temp_" + fetcher->sessionID()), true));
  Completion completion;
  ASSERT_TRUE(fetcher->sessionIDFromAsyncPOSTRequest(postRequest("/upload", "from memory"),
                                                     recordInto(completion)));
  EXPECT_FALSE(fetcher->URLSession()->configuration().isBackground());
  ASSERT_TRUE(pumpUntil([&] { return completion.done; }));
  EXPECT_EQ(textOf(completion.data), "got 11");
  auto calls = logger_->calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls[0].code, 901000);
  EXPECT_EQ(calls[0].level, 3);
  EXPECT_EQ(calls[0].message, "Failed to write request data to file");
}

// A plain HTTP/1.1 server on 127.0.0.1 that, like most servers, takes a request's
// Content-Length at its word and waits for that many body bytes before it answers. "/upload"
// answers 303 to "/landing", which answers 200 "landed". One connection per request.
class ContentLengthHonouringServer {
 public:
  struct Request {
    std::string method;
    std::string path;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
  };

  ContentLengthHonouringServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("cannot listen on loopback");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~ContentLengthHonouringServer() {
    ::shutdown(listener_, SHUT_RDWR);
    ::close(listener_);
    thread_.join();
  }
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  std::vector<Request> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  void serve() {
    for (;;) {
      const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) return;
      handle(connection);
      ::close(connection);
    }
  }
  void handle(int connection) {
    std::string data;
    char buffer[4096];
    std::size_t headerEnd;
    while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos) {
      const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
      if (n <= 0) return;
      data.append(buffer, static_cast<std::size_t>(n));
    }
    Request request;
    std::istringstream head(data.substr(0, headerEnd));
    std::string line;
    std::getline(head, line);
    std::istringstream(line) >> request.method >> request.path;
    while (std::getline(head, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const std::size_t colon = line.find(':');
      if (colon == std::string::npos) continue;
      std::string name = line.substr(0, colon);
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      std::string value = line.substr(colon + 1);
      value.erase(0, value.find_first_not_of(' '));
      request.headers[name] = value;
    }
    request.body = data.substr(headerEnd + 4);
    if (auto it = request.headers.find("content-length"); it != request.headers.end()) {
      const std::size_t expected = std::stoul(it->second);
      while (request.body.size() < expected) {
        const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
        if (n <= 0) break;  // the client gave up waiting
        request.body.append(buffer, static_cast<std::size_t>(n));
      }
      if (request.body.size() < expected) {
        record(std::move(request));
        return;
      }
    }
    std::string answer;
    if (request.path == "/upload") {
      answer =
          "HTTP/1.1 303 See Other\r\nLocation: /landing\r\nContent-Length: 0\r\n"
          "Connection: close\r\n\r\n";
    } else {
      answer =
          "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 6\r\n"
          "Connection: close\r\n\r\nlanded";
    }
    record(std::move(request));
    ::send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
  }
  void record(Request request) {
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(request));
  }

  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<Request> requests_;
};

TEST_F(VTUNetworkURLSessionTest, APostAnswered303IsFollowedAsAGetWithoutBodyHeaders) {
  ContentLengthHonouringServer server;
  for (bool background : {false, true}) {
    SCOPED_TRACE(background);
    auto fetcher = VTUNetworkURLSession::initWithNetworkLoggerDelegate(logger_);
    fetcher->setBackgroundNetworkEnabled(background);
    // As the network facade sends its compressed bodies.
    platform::URLRequest request(server.url("/upload"));
    request.HTTPMethod = "POST";
    request.HTTPBody = bytesOf("compressed body");
    request.timeoutInterval = 5;  // bounds a wait for body bytes that never come
    request.setValueForHTTPHeaderField("15", "Content-Length");
    request.setValueForHTTPHeaderField("gzip", "Content-Encoding");
    request.setValueForHTTPHeaderField("application/x-www-form-urlencoded", "Content-Type");
    request.setValueForHTTPHeaderField("kept", "X-Other");
    Completion completion;
    ASSERT_TRUE(fetcher->sessionIDFromAsyncPOSTRequest(request, recordInto(completion)));
    ASSERT_TRUE(pumpUntil([&] { return completion.done; }, 30));
    ASSERT_FALSE(completion.error) << completion.error->description();
    EXPECT_EQ(completion.response->statusCode(), 200);
    EXPECT_EQ(textOf(completion.data), "landed");
  }
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 4u);
  for (size_t i = 0; i < requests.size(); i += 2) {
    EXPECT_EQ(requests[i].method, "POST");
    EXPECT_EQ(requests[i].body, "compressed body");
    EXPECT_EQ(requests[i].headers.at("content-encoding"), "gzip");
    const auto& followed = requests[i + 1];
    EXPECT_EQ(followed.method, "GET");
    EXPECT_EQ(followed.path, "/landing");
    EXPECT_TRUE(followed.body.empty());
    EXPECT_FALSE(followed.headers.count("content-length"));
    EXPECT_FALSE(followed.headers.count("content-encoding"));
    EXPECT_FALSE(followed.headers.count("content-type"));
    EXPECT_EQ(followed.headers.at("x-other"), "kept");  // only the body's own fields go
  }
}

TEST_F(VTUNetworkURLSessionTest, BackgroundIdentifiersThatWouldLeaveTheTemporaryFolderAreRefused) {
  vtu::testing::startCapturingLines();
  const std::string prefix = kVTUNetworkBackgroundSessionPrefix;
  const std::vector<std::string> refused = {
      prefix + "/../../escape", prefix + "-a/b", prefix + "-..",
      prefix + "-x..y",         prefix + "-/",   prefix + std::string("-nul\0byte", 9)};
  auto fetcher = VTUNetworkURLSession::initWithNetworkLoggerDelegate(logger_);
  const std::string own = fetcher->sessionID();
  int handlerCalls = 0;
  for (const auto& identifier : refused) {
    SCOPED_TRACE(identifier);
    EXPECT_FALSE(VTUNetworkURLSession::fetcherWithSessionIdentifier(identifier));
    EXPECT_FALSE(VTUNetworkURLSession::sessionFromFetcherMapForSessionID(identifier));
    VTUNetworkURLSession::handleEventsForBackgroundURLSessionID(identifier,
                                                                [&] { ++handlerCalls; });
    fetcher->callSystemCompletionHandler(identifier);
    EXPECT_FALSE(fetcher->setSessionID(identifier));
    EXPECT_EQ(fetcher->sessionID(), own);
  }
  platform::RunLoop::main().runUntil([] { return false; }, 0.1);
  EXPECT_EQ(handlerCalls, 0);
  vtu::testing::flushLoggingQueue();
  size_t lostLines = 0;
  for (const auto& line : vtu::testing::capturedLines()) {
    lostLines += line.line.find("[I-NET900003] Failed to retrieve background session with ID") !=
                 std::string::npos;
  }
  EXPECT_EQ(lostLines, refused.size());

  // Dots and dashes inside a name are fine; the upload file stays in the temporary folder.
  const std::string dotted = prefix + "-v1.2_x";
  EXPECT_TRUE(fetcher->setSessionID(dotted));
  fetcher->setBackgroundNetworkEnabled(true);
  Completion completion;
  ASSERT_TRUE(fetcher->sessionIDFromAsyncPOSTRequest(postRequest("/upload", "abc"),
                                                     recordInto(completion)));
  EXPECT_EQ(fetcher->uploadingFileURL(),
            fetcher->networkDirectoryURL() / ("VTUUpload_temp_" + dotted));
  ASSERT_TRUE(pumpUntil([&] { return completion.done; }));
  EXPECT_FALSE(completion.error);
}

TEST_F(VTUNetworkURLSessionTest, WakeUpsStoreOneHandlerPerPrefixedIdentifier) {
  int firstCalls = 0, secondCalls = 0, foreignCalls = 0;
  const std::string id = std::string(kVTUNetworkBackgroundSessionPrefix) + "-wake";
  auto fetcher = VTUNetworkURLSession::initWithNetworkLoggerDelegate(logger_);
  fetcher->setSessionID(id);
  VTUNetworkURLSession::setSessionInFetcherMap(fetcher, id);

  VTUNetworkURLSession::handleEventsForBackgroundURLSessionID("com.other.session",
                                                              [&] { ++foreignCalls; });
  EXPECT_FALSE(VTUNetworkURLSession::sessionFromFetcherMapForSessionID("com.other.session"));
  VTUNetwork::handleEventsForBackgroundURLSessionID(id, [&] { ++firstCalls; });
  EXPECT_FALSE(logger_->has(901011));
  VTUNetwork::handleEventsForBackgroundURLSessionID(id, [&] { ++secondCalls; });
  EXPECT_TRUE(logger_->has(901011));

  fetcher->callSystemCompletionHandler("com.other.session");
  fetcher->callSystemCompletionHandler(id);
  fetcher->callSystemCompletionHandler(id);  // already taken
  platform::RunLoop::main().runUntil([] { return false; }, 0.1);
  EXPECT_EQ(firstCalls, 0);
  EXPECT_EQ(secondCalls, 1);
  EXPECT_EQ(foreignCalls, 0);

  fetcher->addSystemCompletionHandler(nullptr, id);
  fetcher->addSystemCompletionHandler([] {}, "");
  EXPECT_TRUE(logger_->has(901009));
  EXPECT_TRUE(logger_->has(901010));

  // An identifier of this layer that nobody holds gets a fresh object.
  const std::string lost = std::string(kVTUNetworkBackgroundSessionPrefix) + "-lost";
  auto fresh = VTUNetworkURLSession::fetcherWithSessionIdentifier(lost);
  ASSERT_TRUE(fresh);
  EXPECT_EQ(fresh->sessionID(), lost);
  EXPECT_FALSE(VTUNetworkURLSession::fetcherWithSessionIdentifier("com.other.session"));
}

TEST_F(VTUNetworkURLSessionTest, ABackgroundSessionsFinishedEventsCallItsStoredHandler) {
  auto network = VTUNetwork::initWithReachabilityHost("127.0.0.1");
  ASSERT_TRUE(network);
  network->setLoggerDelegate(logger_);
  bool handled = false, systemHandlerCalled = false;
  auto id = network->postURL(server_.url("/held"), bytesOf("wake me"), nullptr, true,
                             [&](auto, auto, auto) { handled = true; });
  ASSERT_TRUE(id);
  ASSERT_TRUE(pumpUntil([&] { return arrived("/held"); }));
  VTUNetwork::handleEventsForBackgroundURLSessionID(*id, [&] { systemHandlerCalled = true; });
  release();
  ASSERT_TRUE(pumpUntil([&] { return handled && systemHandlerCalled; }));
  auto calls = logger_->calls();
  auto finished =
      std::find_if(calls.begin(), calls.end(), [](auto& c) { return c.code == 901003; });
  ASSERT_NE(finished, calls.end());
  EXPECT_EQ(finished->level, 7);
  EXPECT_EQ(finished->contexts, (Value::Array{Value(*id)}));
}

TEST_F(VTUNetworkURLSessionTest, ReplacingARegisteredObjectDiscardsItsSession) {
  const std::string id = std::string(kVTUNetworkBackgroundSessionPrefix) + "-shared";
  auto first = VTUNetworkURLSession::initWithNetworkLoggerDelegate(logger_);
  Completion completion;
  ASSERT_TRUE(
      first->sessionIDFromAsyncPOSTRequest(postRequest("/held", "x"), recordInto(completion)));
  ASSERT_TRUE(pumpUntil([&] { return arrived("/held"); }));
  auto session = first->URLSession();
  ASSERT_TRUE(session);
  VTUNetworkURLSession::setSessionInFetcherMap(first, id);
  EXPECT_FALSE(logger_->has(901019));  // registering the first one discards nothing

  auto second = VTUNetworkURLSession::initWithNetworkLoggerDelegate(nullptr);
  VTUNetworkURLSession::setSessionInFetcherMap(second, id);
  auto calls = logger_->calls();
  auto discard = std::find_if(calls.begin(), calls.end(), [](auto& c) { return c.code == 901019; });
  ASSERT_NE(discard, calls.end());
  EXPECT_EQ(discard->level, 6);
  EXPECT_EQ(discard->message, "Discarding session: " + first->description());
  EXPECT_TRUE(session->isInvalidated());
  EXPECT_EQ(VTUNetworkURLSession::sessionFromFetcherMapForSessionID(id), second);
  VTUNetworkURLSession::setSessionInFetcherMap(nullptr, id);
  EXPECT_FALSE(VTUNetworkURLSession::sessionFromFetcherMapForSessionID(id));
  release();
  ASSERT_TRUE(pumpUntil([&] { return completion.done; }));
}

class VTUNetworkURLSessionTrustTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    server_ = std::make_unique<LoopbackServer>(home());
    server_->server().Get("/secure", [](const httplib::Request&, httplib::Response& reply) {
      reply.set_content("secret", "text/plain");
    });
    server_->start();
    logger_ = std::make_shared<RecordingLogger>();
  }
  void TearDown() override {
    server_.reset();
    PlatformTest::TearDown();
  }
  std::unique_ptr<LoopbackServer> server_;
  std::shared_ptr<RecordingLogger> logger_;
};

TEST_F(VTUNetworkURLSessionTrustTest, TheServerIsAcceptedOnlyWhenItsChainEvaluates) {
  auto otherDirectory = home() / "other";
  ASSERT_TRUE(platform::files::createDirectory(otherDirectory, true));
  platform::testing::writeSelfSignedCertificate(otherDirectory / "cert.pem",
                                                otherDirectory / "key.pem");
  std::ofstream(home() / "empty.pem").close();
  struct Case {
    std::string name;
    std::filesystem::path anchors;
    std::vector<long> codes;
  };
  const std::vector<Case> cases = {
      {"trusted anchor", server_->certificateFile(), {901006}},
      {"another anchor", otherDirectory / "cert.pem", {901006, 901007, 901017}},
      {"unreadable anchors", home() / "empty.pem", {901006, 901008, 901007, 901017}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto logger = std::make_shared<RecordingLogger>();
    platform::URLSession::setDefaultTrustedCAFile(c.anchors);
    auto fetcher = VTUNetworkURLSession::initWithNetworkLoggerDelegate(logger);
    Completion completion;
    ASSERT_TRUE(fetcher->sessionIDFromAsyncGETRequest(
        platform::URLRequest(server_->url("/secure")),
        [&completion](auto response, auto data, const std::string& id, ErrorPtr error) {
          completion.response = response;
          completion.data = data;
          completion.sessionID = id;
          completion.error = error;
          completion.done = true;
        }));
    ASSERT_TRUE(pumpUntil([&] { return completion.done; }));
    EXPECT_EQ(logger->codes(), c.codes);
    auto calls = logger->calls();
    EXPECT_EQ(calls.at(0).contexts, (Value::Array{Value(server_->url("/secure"))}));
    if (c.codes.size() == 1) {
      ASSERT_FALSE(completion.error);
      EXPECT_EQ(textOf(completion.data), "secret");
    } else {
      ASSERT_TRUE(completion.error);
      EXPECT_EQ(completion.error->code(), platform::kURLErrorCancelled);
      EXPECT_EQ(calls.back().level, 3);
      EXPECT_EQ(calls.back().contexts.at(0), Value(platform::kURLErrorCancelled));
      EXPECT_EQ(calls[calls.size() - 2].level, 7);
      if (c.codes[1] == 901008) {
        EXPECT_EQ(calls[1].contexts, (Value::Array{Value(platform::kServerTrustStatusAnchors),
                                                   Value(server_->url("/secure"))}));
      }
    }
  }
}

}  // namespace
