// An HTTP or HTTPS server on 127.0.0.1 for the network tests: it records every request it
// answers (method, path, header fields, body; a gzip body arrives inflated). For HTTPS it serves a
// self-signed certificate for "localhost" and 127.0.0.1, made at start with OpenSSL and written
// beside the key in the given directory; that certificate file is the anchor tests trust.
#pragma once

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace platform::testing {

struct ReceivedRequest {
  std::string method;
  std::string path;
  std::multimap<std::string, std::string, httplib::detail::ci> headers;
  std::string body;

  std::string header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
  }
  bool hasHeader(const std::string& name) const { return headers.count(name) > 0; }
};

// Writes a self-signed certificate and its key (PEM) for the given host names and addresses.
inline void writeSelfSignedCertificate(
    const std::filesystem::path& certFile, const std::filesystem::path& keyFile,
    const std::string& subjectAltNames = "DNS:localhost,IP:127.0.0.1") {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  if (!key) throw std::runtime_error("key generation failed");
  X509* cert = X509_new();
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), 4242);
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), 3600L * 24 * 30);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
  X509_set_issuer_name(cert, name);
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
  for (auto [nid, value] : {std::pair{NID_subject_alt_name, subjectAltNames.c_str()},
                            std::pair{NID_basic_constraints, "critical,CA:TRUE"}}) {
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    X509_add_ext(cert, extension, -1);
    X509_EXTENSION_free(extension);
  }
  X509_sign(cert, key, EVP_sha256());
  std::FILE* out = std::fopen(certFile.c_str(), "wb");
  PEM_write_X509(out, cert);
  std::fclose(out);
  out = std::fopen(keyFile.c_str(), "wb");
  PEM_write_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr);
  std::fclose(out);
  X509_free(cert);
  EVP_PKEY_free(key);
}

class LoopbackServer {
 public:
  // Plain HTTP.
  LoopbackServer() : server_(std::make_unique<httplib::Server>()) { setUp(); }
  // HTTPS with a fresh self-signed certificate written into `directory`.
  explicit LoopbackServer(const std::filesystem::path& directory,
                          const std::string& subjectAltNames = "DNS:localhost,IP:127.0.0.1") {
    certFile_ = directory / "loopback-cert.pem";
    auto keyFile = directory / "loopback-key.pem";
    writeSelfSignedCertificate(certFile_, keyFile, subjectAltNames);
    server_ = std::make_unique<httplib::SSLServer>(certFile_.c_str(), keyFile.c_str());
    tls_ = true;
    setUp();
  }
  // HTTPS with the certificate and key of another HTTPS server: a second origin that the same
  // anchor file trusts.
  struct SameCertificateAs {
    const LoopbackServer& server;
  };
  explicit LoopbackServer(SameCertificateAs sibling) {
    certFile_ = sibling.server.certFile_;
    auto keyFile = certFile_.parent_path() / "loopback-key.pem";
    server_ = std::make_unique<httplib::SSLServer>(certFile_.c_str(), keyFile.c_str());
    tls_ = true;
    setUp();
  }
  ~LoopbackServer() { stop(); }
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  httplib::Server& server() { return *server_; }
  // Starts listening; add routes before.
  void start() {
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("cannot bind a loopback port");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    while (!server_->is_running()) std::this_thread::yield();
  }
  void stop() {
    if (thread_.joinable()) {
      server_->stop();
      thread_.join();
    }
  }

  int port() const { return port_; }
  std::string url(const std::string& path, const std::string& host = "127.0.0.1") const {
    return std::string(tls_ ? "https://" : "http://") + host + ":" + std::to_string(port_) + path;
  }
  const std::filesystem::path& certificateFile() const { return certFile_; }

  // Paths of the requests that reached the server, answered or not.
  std::vector<std::string> arrived() const {
    std::lock_guard lock(mutex_);
    return arrived_;
  }
  // The requests answered so far.
  std::vector<ReceivedRequest> received() const {
    std::lock_guard lock(mutex_);
    return received_;
  }

 private:
  void setUp() {
    // Arrival is noted before the route runs (a route may hold its answer back); the full
    // request once the route has read the body, before the answer is written.
    server_->set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
      std::lock_guard lock(mutex_);
      arrived_.push_back(request.path);
      return httplib::Server::HandlerResponse::Unhandled;
    });
    server_->set_post_routing_handler([this](const httplib::Request& request, httplib::Response&) {
      ReceivedRequest copy;
      copy.method = request.method;
      copy.path = request.path;
      for (const auto& [name, value] : request.headers) copy.headers.emplace(name, value);
      copy.body = request.body;
      std::lock_guard lock(mutex_);
      received_.push_back(std::move(copy));
    });
  }

  std::unique_ptr<httplib::Server> server_;
  bool tls_ = false;
  std::filesystem::path certFile_;
  int port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<std::string> arrived_;
  std::vector<ReceivedRequest> received_;
};

}  // namespace platform::testing
