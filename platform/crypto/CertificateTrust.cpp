#include "platform/crypto/CertificateTrust.hpp"

#include <arpa/inet.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <climits>
#include <memory>

#include "platform/crypto/CryptoLibrary.hpp"

namespace pindle::platform {

namespace {

struct X509Deleter {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct StoreDeleter {
    void operator()(X509_STORE* store) const { X509_STORE_free(store); }
};
struct StoreContextDeleter {
    void operator()(X509_STORE_CTX* context) const { X509_STORE_CTX_free(context); }
};
struct StackDeleter {
    void operator()(STACK_OF(X509) * stack) const { sk_X509_pop_free(stack, X509_free); }
};
using Certificate = std::unique_ptr<X509, X509Deleter>;

Certificate parseCertificate(const Data& der) {
    if (der.empty() || der.size() > static_cast<std::size_t>(LONG_MAX))
        return nullptr;
    const unsigned char* cursor = der.data();
    Certificate certificate(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
    // Trailing bytes mean the DER is not exactly one certificate.
    if (certificate && cursor != der.data() + der.size())
        return nullptr;
    return certificate;
}

bool isIPAddress(const std::string& text) {
    unsigned char buffer[16];
    return inet_pton(AF_INET, text.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

}  // namespace

bool CertificateTrust::chainReachesAnchor(const std::vector<Data>& presented,
                                          const std::vector<Data>& anchors,
                                          const std::string& peerName) {
    if (presented.empty() || anchors.empty() || peerName.empty())
        return false;
    CryptoLibrary::prepare();
    Certificate leaf = parseCertificate(presented.front());
    std::unique_ptr<X509_STORE, StoreDeleter> store(X509_STORE_new());
    std::unique_ptr<STACK_OF(X509), StackDeleter> untrusted(sk_X509_new_null());
    std::unique_ptr<X509_STORE_CTX, StoreContextDeleter> context(X509_STORE_CTX_new());
    if (!leaf || !store || !untrusted || !context)
        return false;
    for (const auto& der : anchors) {
        if (Certificate anchor = parseCertificate(der))
            X509_STORE_add_cert(store.get(), anchor.get());  // takes its own reference
    }
    for (std::size_t i = 1; i < presented.size(); ++i) {
        Certificate certificate = parseCertificate(presented[i]);
        if (!certificate || sk_X509_push(untrusted.get(), certificate.get()) <= 0)
            return false;
        certificate.release();  // the stack owns it now
    }
    if (X509_STORE_CTX_init(context.get(), store.get(), leaf.get(), untrusted.get()) != 1)
        return false;
    X509_VERIFY_PARAM* parameters = X509_STORE_CTX_get0_param(context.get());
    X509_VERIFY_PARAM_set_flags(parameters, X509_V_FLAG_PARTIAL_CHAIN);
    int named = isIPAddress(peerName)
                    ? X509_VERIFY_PARAM_set1_ip_asc(parameters, peerName.c_str())
                    : X509_VERIFY_PARAM_set1_host(parameters, peerName.c_str(), peerName.size());
    if (named != 1)
        return false;
    return X509_verify_cert(context.get()) == 1;
}

}  // namespace pindle::platform
