#include "platform/crypto/SHA1.hpp"

#include <openssl/sha.h>

namespace pindle::platform {

SHA1::Digest SHA1::digest(const void* bytes, std::size_t length) {
    Digest result{};
    ::SHA1(static_cast<const unsigned char*>(bytes), length, result.data());
    return result;
}

}  // namespace pindle::platform
