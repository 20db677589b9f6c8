#include "platform/network/ServerTrust.h"

#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <memory>

namespace platform {

ServerTrust::ServerTrust(std::string host, std::vector<Bytes> certificatesDER,
                         std::filesystem::path anchorsFile)
    : host_(std::move(host)),
      certificates_(std::move(certificatesDER)),
      anchorsFile_(std::move(anchorsFile)) {}

namespace {

struct X509Free {
  void operator()(X509* x) const { X509_free(x); }
};
struct StoreFree {
  void operator()(X509_STORE* s) const { X509_STORE_free(s); }
};
struct StoreCtxFree {
  void operator()(X509_STORE_CTX* c) const { X509_STORE_CTX_free(c); }
};
struct StackFree {
  void operator()(STACK_OF(X509) * s) const { sk_X509_pop_free(s, X509_free); }
};

bool isIPAddress(const std::string& host) {
  ASN1_OCTET_STRING* ip = a2i_IPADDRESS(host.c_str());
  if (!ip) return false;
  ASN1_OCTET_STRING_free(ip);
  return true;
}

}  // namespace

int evaluateServerTrust(const ServerTrustPtr& trust, ServerTrustResult* result) {
  if (!trust || !result) return kServerTrustStatusParam;
  if (trust->certificates().empty()) {
    *result = ServerTrustResult::RecoverableTrustFailure;
    return kServerTrustStatusSuccess;
  }
  std::vector<std::unique_ptr<X509, X509Free>> certificates;
  for (const Bytes& der : trust->certificates()) {
    const unsigned char* p = der.data();
    X509* cert = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    if (!cert) {
      ERR_clear_error();
      return kServerTrustStatusDecode;
    }
    certificates.emplace_back(cert);
  }

  std::unique_ptr<X509_STORE, StoreFree> store(X509_STORE_new());
  if (!store) return kServerTrustStatusParam;
  int loaded = trust->anchorsFile().empty()
                   ? X509_STORE_set_default_paths(store.get())
                   : X509_STORE_load_file(store.get(), trust->anchorsFile().c_str());
  if (loaded != 1) {
    ERR_clear_error();
    return kServerTrustStatusAnchors;
  }

  std::unique_ptr<STACK_OF(X509), StackFree> chain(sk_X509_new_null());
  for (std::size_t i = 1; i < certificates.size(); ++i) {
    X509_up_ref(certificates[i].get());
    sk_X509_push(chain.get(), certificates[i].get());
  }
  std::unique_ptr<X509_STORE_CTX, StoreCtxFree> context(X509_STORE_CTX_new());
  if (!context ||
      X509_STORE_CTX_init(context.get(), store.get(), certificates[0].get(), chain.get()) != 1) {
    ERR_clear_error();
    return kServerTrustStatusParam;
  }
  X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(context.get());
  X509_VERIFY_PARAM_set_purpose(param, X509_PURPOSE_SSL_SERVER);
  if (!trust->host().empty()) {
    if (isIPAddress(trust->host())) {
      X509_VERIFY_PARAM_set1_ip_asc(param, trust->host().c_str());
    } else {
      X509_VERIFY_PARAM_set1_host(param, trust->host().c_str(), trust->host().size());
    }
  }
  bool verified = X509_verify_cert(context.get()) == 1;
  ERR_clear_error();
  *result = verified ? ServerTrustResult::Unspecified : ServerTrustResult::RecoverableTrustFailure;
  return kServerTrustStatusSuccess;
}

std::shared_ptr<URLCredential> URLCredential::credentialForTrust(ServerTrustPtr trust) {
  if (!trust) return nullptr;
  return std::make_shared<URLCredential>(std::move(trust));
}

}  // namespace platform
