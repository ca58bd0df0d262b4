#include "platform/crypto/SecureRandom.hpp"

#include <openssl/rand.h>

#include "platform/crypto/CryptoLibrary.hpp"

#include <climits>
#include <cstring>

namespace pindle::platform {

bool SecureRandom::fill(std::uint8_t* bytes, std::size_t length) {
    if (length == 0)
        return true;
    CryptoLibrary::prepare();
    if (length > static_cast<std::size_t>(INT_MAX) ||
        RAND_bytes(bytes, static_cast<int>(length)) != 1) {
        std::memset(bytes, 0, length);
        return false;
    }
    return true;
}

std::optional<Data> SecureRandom::bytes(std::size_t length) {
    Data data(length);
    if (!fill(data.data(), length))
        return std::nullopt;
    return data;
}

}  // namespace pindle::platform
