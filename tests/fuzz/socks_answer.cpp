// A SOCKS proxy's answers to the client's handshake, fed in pieces as they may arrive. The
// first byte chooses the handshake (SOCKS 4 or 5, with or without a user name, a target by
// name, IPv4 or IPv6 address) and the size of the pieces.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "PindleCore/websocket/WSSocksHandshake.hpp"

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using Kind = pindle::WSSocksHandshake::Step::Kind;
    if (size < 1)
        return 0;
    const std::uint8_t choice = data[0];
    const int version = (choice & 1) ? 4 : 5;
    const bool withUser = choice & 2;
    const char* const hosts[] = {"videos.example.test", "192.0.2.7", "2001:db8::1"};
    const std::string host = hosts[((choice >> 2) & 3) % 3];
    const std::size_t piece = 1 + (choice >> 4) * 3;
    data += 1;
    size -= 1;

    pindle::WSSocksHandshake handshake(
        version, host, 8080, withUser ? std::optional<std::string>("user") : std::nullopt,
        withUser ? std::optional<std::string>("secret") : std::nullopt);
    if (handshake.refusal())
        return 0;
    check(!handshake.greeting().empty());

    const std::string all(reinterpret_cast<const char*>(data), size);
    std::string buffer;
    for (std::size_t at = 0; at < size; at += piece) {
        const std::string slice = all.substr(at, piece);
        buffer += slice;
        for (;;) {
            const std::size_t before = buffer.size();
            auto step = handshake.consume(buffer);
            check(buffer.size() <= before);
            if (step.kind == Kind::pending)
                break;
            if (step.kind == Kind::send) {
                check(!step.bytes.empty() && step.bytes.size() <= 3 + 2 * 256);
                continue;
            }
            if (step.kind == Kind::failed) {
                check(!step.failure.empty());
                std::string more = "x";
                check(handshake.consume(more).kind == Kind::failed && more == "x");
                return 0;
            }
            // Done: what follows the answer is handed back whole, and nothing is read after.
            const std::string fed = all.substr(0, at + slice.size());
            check(step.bytes.size() <= fed.size());
            check(fed.compare(fed.size() - step.bytes.size(), step.bytes.size(), step.bytes) == 0);
            check(buffer.empty());
            std::string more = "x";
            check(handshake.consume(more).kind == Kind::done && more == "x");
            return 0;
        }
    }
    return 0;
}
