// A web proxy on 127.0.0.1 for the network tests, answering as the test scripts it: for each
// connection it reads the request head (for an https URL, "CONNECT host:port HTTP/1.1" and its
// fields), notes its first line, writes the reply the test set last and then either closes the
// connection or, for a reply that opens a tunnel, relays bytes between the client and a loopback
// port. Beside it,
// ProxyEnvironment points the proxy variables at it for one test and puts back what was there.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace platform::testing {

struct ProxyReply {
  // Written as it stands, status line and fields included.
  std::string text;
  // When not 0, the bytes that follow go both ways between the client and this loopback port.
  int tunnelToPort = 0;
};

class ScriptedProxy {
 public:
  ScriptedProxy() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("cannot listen on a loopback port");
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
  }
  ~ScriptedProxy() {
    ::shutdown(listener_, SHUT_RDWR);
    acceptor_.join();
    ::close(listener_);
    std::vector<std::thread> connections;
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
      for (int fd : open_) ::shutdown(fd, SHUT_RDWR);
      connections = std::move(connections_);
    }
    for (auto& thread : connections) thread.join();
  }
  ScriptedProxy(const ScriptedProxy&) = delete;
  ScriptedProxy& operator=(const ScriptedProxy&) = delete;

  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  // The reply to every request from now on.
  void answerWith(ProxyReply reply) {
    std::lock_guard lock(mutex_);
    reply_ = std::move(reply);
  }
  // The first line of every request head that arrived, in order.
  std::vector<std::string> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  static sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
  }

  static bool writeAll(int fd, const char* bytes, size_t size) {
    while (size > 0) {
      ssize_t n = ::send(fd, bytes, size, MSG_NOSIGNAL);
      if (n <= 0) return false;
      bytes += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }

  void acceptLoop() {
    while (true) {
      int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) return;
      std::lock_guard lock(mutex_);
      if (stopping_) {
        ::close(connection);
        return;
      }
      open_.push_back(connection);
      connections_.emplace_back([this, connection] { serve(connection); });
    }
  }

  void serve(int client) {
    std::string seen;
    char buffer[16384];
    size_t end = std::string::npos;
    while ((end = seen.find("\r\n\r\n")) == std::string::npos) {
      ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      seen.append(buffer, static_cast<size_t>(n));
    }
    if (end != std::string::npos) {
      ProxyReply reply;
      {
        std::lock_guard lock(mutex_);
        requests_.push_back(seen.substr(0, seen.find("\r\n")));
        reply = reply_;
      }
      if (writeAll(client, reply.text.data(), reply.text.size()) && reply.tunnelToPort != 0) {
        relay(client, reply.tunnelToPort, seen.substr(end + 4));
      }
    }
    forget(client);
  }

  void relay(int client, int port, const std::string& early) {
    int origin = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(port);
    if (origin < 0 ||
        ::connect(origin, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        !writeAll(origin, early.data(), early.size())) {
      if (origin >= 0) ::close(origin);
      return;
    }
    {
      std::lock_guard lock(mutex_);
      open_.push_back(origin);
      // Stopping already shut the others; this one must not keep the relay waiting.
      if (stopping_) ::shutdown(origin, SHUT_RDWR);
    }
    pollfd fds[2] = {{client, POLLIN, 0}, {origin, POLLIN, 0}};
    char buffer[16384];
    bool open = true;
    while (open && ::poll(fds, 2, -1) > 0) {
      for (int i = 0; i < 2 && open; ++i) {
        if (fds[i].revents == 0) continue;
        ssize_t n = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
        open = n > 0 && writeAll(fds[1 - i].fd, buffer, static_cast<size_t>(n));
      }
    }
    forget(origin);
  }

  void forget(int fd) {
    std::lock_guard lock(mutex_);
    std::erase(open_, fd);
    ::close(fd);
  }

  int listener_ = -1;
  int port_ = 0;
  std::thread acceptor_;
  mutable std::mutex mutex_;
  bool stopping_ = false;
  std::vector<int> open_;
  std::vector<std::thread> connections_;
  std::vector<std::string> requests_;
  ProxyReply reply_;
};

// The variables the transfer library takes a proxy from, set to `proxyURL` while this lives.
class ProxyEnvironment {
 public:
  explicit ProxyEnvironment(const std::string& proxyURL) {
    for (const char* name : kNames) {
      const char* value = std::getenv(name);
      saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
      ::setenv(name, proxyURL.c_str(), 1);
    }
  }
  ~ProxyEnvironment() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name, value->c_str(), 1);
      } else {
        ::unsetenv(name);
      }
    }
  }
  ProxyEnvironment(const ProxyEnvironment&) = delete;
  ProxyEnvironment& operator=(const ProxyEnvironment&) = delete;

 private:
  static constexpr const char* kNames[] = {"https_proxy", "HTTPS_PROXY", "http_proxy", "all_proxy",
                                           "ALL_PROXY"};
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

}  // namespace platform::testing
