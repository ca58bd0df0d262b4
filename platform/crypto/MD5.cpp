#include "platform/crypto/MD5.hpp"

#include <openssl/evp.h>

namespace pindle::platform {

MD5::Digest MD5::digest(const void* bytes, std::size_t length) {
    Digest result{};
    unsigned int written = 0;
    EVP_Digest(bytes, length, result.data(), &written, EVP_md5(), nullptr);
    return result;
}

std::string MD5::hexDigest(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(digestLength * 2);
    for (const std::uint8_t byte : digest(text)) {
        hex.push_back(kHex[byte >> 4]);
        hex.push_back(kHex[byte & 0x0F]);
    }
    return hex;
}

}  // namespace pindle::platform
