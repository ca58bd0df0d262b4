#include "platform/crypto/CryptoLibrary.hpp"

#include <openssl/crypto.h>
#include <openssl/ssl.h>

namespace pindle::platform {

namespace {

// Runs while the platform library is loaded, before any code of the process can have
// initialised the library with its exit handler.
const bool preparedAtLoad = [] {
    CryptoLibrary::prepare();
    return true;
}();

}  // namespace

void CryptoLibrary::prepare() {
    static const bool prepared = [] {
        OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
        OPENSSL_init_ssl(0, nullptr);
        return true;
    }();
    (void)prepared;
    (void)preparedAtLoad;
}

}  // namespace pindle::platform
