#include "platform/crypto/SecureRandom.hpp"

#include <openssl/rand.h>

#include "platform/crypto/CryptoLibrary.hpp"

#include <atomic>
#include <climits>
#include <cstring>

namespace pindle::platform {

namespace {

std::atomic<bool>& simulatesFailure() {
    static std::atomic<bool> fails{false};
    return fails;
}

}  // namespace

void SecureRandom::setSimulatesFailure(bool fails) {
    simulatesFailure() = fails;
}

bool SecureRandom::fill(std::uint8_t* bytes, std::size_t length) {
    if (length == 0)
        return true;
    CryptoLibrary::prepare();
    if (simulatesFailure() || length > static_cast<std::size_t>(INT_MAX) ||
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
